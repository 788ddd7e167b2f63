// The simulated sensor's sample stream over time, and its unplugging.
#include <future>
#include <thread>

#include "sim_sensor_fixture.h"

namespace zelvan::sim::test {
namespace {

// The raw readings of the next `count` sample reports.
std::vector<unsigned> Samples(hid_device *dev, int count)
{
	std::vector<unsigned> raws;
	for (int i = 0; i < count; ++i) {
		const Report r = Read(dev, 2000);
		if (r.code() != '#' || r.n < 6)
			break;
		raws.push_back(r.raw());
	}
	return raws;
}

using SampleStream = SimSensorTest;

TEST_F(SampleStream, ComesAtTheDefaultPeriodThenAtTheCommandedOne)
{
	Configure("level 0 1234");
	const auto opened = SteadyClock::now();
	hid_device *dev = Open();
	ASSERT_NE(dev, nullptr);
	Report first = Read(dev, 2000);
	EXPECT_GT(SteadyClock::now() - opened, Ms(150));
	ASSERT_EQ(first.n, 64);
	EXPECT_EQ(first.code(), '#');
	EXPECT_EQ(first.raw(), 1234u);

	ASSERT_EQ(SendRate(dev, 50), 65);
	EXPECT_EQ(Read(dev, 0).code(), '$');
	const auto start = SteadyClock::now();
	EXPECT_EQ(Samples(dev, 10).size(), 10u);
	const auto elapsed = SteadyClock::now() - start;
	EXPECT_GT(elapsed, Ms(400));
	EXPECT_LT(elapsed, Ms(2000));
}

TEST_F(SampleStream, RateCommandRestartsTheTimer)
{
	Configure("");
	hid_device *dev = Open();
	ASSERT_EQ(Read(dev, 2000).code(), '#'); // about 200 ms after the open
	const auto sent = SteadyClock::now();
	ASSERT_EQ(SendRate(dev, 1000), 65);
	EXPECT_EQ(Read(dev, 0).code(), '$');
	EXPECT_EQ(Read(dev, 3000).code(), '#');
	const auto elapsed = SteadyClock::now() - sent;
	EXPECT_GT(elapsed, Ms(900));
	EXPECT_LT(elapsed, Ms(1600));
}

TEST_F(SampleStream, ReadTimesOutWhenNothingIsDue)
{
	Configure("silent 0 600000");
	hid_device *dev = Open();
	const auto start = SteadyClock::now();
	EXPECT_EQ(Read(dev, 300).n, 0);
	const auto elapsed = SteadyClock::now() - start;
	EXPECT_GE(elapsed, Ms(290));
	EXPECT_LT(elapsed, Ms(1500));
	EXPECT_EQ(Read(dev, 0).n, 0);
}

TEST_F(SampleStream, ResumesAfterASilence)
{
	Configure("silent 0 400");
	hid_device *dev = Open();
	const auto start = SteadyClock::now();
	EXPECT_EQ(Read(dev, 2000).code(), '#');
	EXPECT_GT(SteadyClock::now() - start, Ms(350));
}

TEST_F(SampleStream, CopiesAtMostTheCallersBuffer)
{
	const struct {
		const char *config;
		size_t capacity;
		int n;
	} cases[] = {
		{"", 65, 64},
		{"", 6, 6},
		{"", 3, 3},
		{"short_samples yes", 65, 5},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(c.config) + " " + std::to_string(c.capacity));
		Configure(c.config);
		hid_device *dev = Open();
		ASSERT_EQ(SendRate(dev, 50), 65);
		ASSERT_EQ(Read(dev, 0).code(), '$');
		const Report r = Read(dev, 2000, c.capacity);
		EXPECT_EQ(r.n, c.n);
		EXPECT_EQ(r.code(), '#');
		EXPECT_EQ(r.data[static_cast<size_t>(c.n)], 0xEE) << "wrote past the count it returned";
		Close(dev);
	}
}

TEST_F(SampleStream, FollowsTheLevelProgram)
{
	const struct {
		const char *config;
		unsigned first;
		unsigned last;
	} cases[] = {
		{"", 300, 300},
		{"level 0 500\nlevel 300 900", 500, 900},
		{"wearer 300 on", 300, 2400},
		{"wearer_levels 3000 100\nwearer 0 on\nwearer 300 off", 3000, 100},
		{"level 0 300\nramp 100 500 300 2400", 300, 2400},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.config);
		Configure(c.config);
		hid_device *dev = Open();
		ASSERT_EQ(SendRate(dev, 50), 65);
		ASSERT_EQ(Read(dev, 0).code(), '$');
		const std::vector<unsigned> raws = Samples(dev, 14); // about 700 ms
		ASSERT_EQ(raws.size(), 14u);
		EXPECT_EQ(raws.front(), c.first);
		EXPECT_EQ(raws.back(), c.last);
		if (c.first < c.last) {
			EXPECT_TRUE(std::is_sorted(raws.begin(), raws.end())) << ::testing::PrintToString(raws);
		}
		Close(dev);
	}
}

TEST_F(SampleStream, RampPassesThroughItsMiddle)
{
	Configure("ramp 0 2000 1000 3000");
	hid_device *dev = Open();
	ASSERT_EQ(SendRate(dev, 50), 65);
	ASSERT_EQ(Read(dev, 0).code(), '$');
	const std::vector<unsigned> raws = Samples(dev, 8);
	ASSERT_EQ(raws.size(), 8u);
	EXPECT_GT(raws.back(), 1000u);
	EXPECT_LT(raws.back(), 3000u);
	EXPECT_EQ(std::set<unsigned>(raws.begin(), raws.end()).size(), raws.size()) << "a ramp changes every sample";
}

TEST_F(SampleStream, NoiseIsBoundedAndRepeatsWithTheSeed)
{
	const auto run = [&](const char *config) {
		Configure(config);
		hid_device *dev = Open();
		SendRate(dev, 50);
		Read(dev, 0);
		std::vector<unsigned> raws = Samples(dev, 8);
		Close(dev);
		return raws;
	};
	const std::vector<unsigned> a = run("level 0 1000\nnoise 40\nseed 7");
	const std::vector<unsigned> b = run("level 0 1000\nnoise 40\nseed 7");
	const std::vector<unsigned> c = run("level 0 1000\nnoise 40\nseed 8");
	ASSERT_EQ(a.size(), 8u);
	EXPECT_EQ(a, b);
	EXPECT_NE(a, c);
	EXPECT_GT(std::set<unsigned>(a.begin(), a.end()).size(), 3u);
	for (unsigned raw : a) {
		EXPECT_GE(raw, 960u);
		EXPECT_LE(raw, 1040u);
	}
	const std::vector<unsigned> low = run("level 0 10\nnoise 40");
	EXPECT_TRUE(std::all_of(low.begin(), low.end(), [](unsigned r) { return r <= 50; })) << "clamped at 0, not wrapped";
}

TEST_F(SampleStream, SetLevelOverridesUntilHandedBack)
{
	Configure("level 0 400");
	hid_device *dev = Open();
	ASSERT_EQ(SendRate(dev, 50), 65);
	ASSERT_EQ(Read(dev, 0).code(), '$');
	zelvan_sim_sensor_set_level(2222);
	EXPECT_EQ(Samples(dev, 1), std::vector<unsigned>{2222});
	zelvan_sim_sensor_set_level(70000);
	EXPECT_EQ(Samples(dev, 1), std::vector<unsigned>{400});
}

using Unplugging = SimSensorTest;

TEST_F(Unplugging, MakesHandlesStaleForGood)
{
	Configure("");
	hid_device *old = Open();
	ASSERT_NE(old, nullptr);
	zelvan_sim_sensor_plug(0);
	EXPECT_EQ(Read(old, 1000).n, -1);
	EXPECT_EQ(SendRate(old, 100), -1);
	EXPECT_EQ(std::wstring(hid_error(old)), L"ioctl (SFEATURE): No such device") << "hidapi's text for the kernel's ENODEV";
	EXPECT_EQ(Open(), nullptr);
	EXPECT_EQ(hid_enumerate(0, 0), nullptr);

	zelvan_sim_sensor_plug(1);
	hid_device *fresh = Open();
	ASSERT_NE(fresh, nullptr);
	EXPECT_EQ(Read(old, 0).n, -1);
	EXPECT_EQ(Read(fresh, 2000).code(), '#');
	Close(old);
	EXPECT_EQ(Events(), "open\nunplug\nopen failed\nplug\nopen\nclose\n");
	EXPECT_EQ(zelvan_sim_sensor_open_count(), 2);
}

TEST_F(Unplugging, ResetsTheFirmwaresPeriod)
{
	Configure("");
	hid_device *dev = Open();
	ASSERT_EQ(SendRate(dev, 1000), 65);
	EXPECT_EQ(zelvan_sim_sensor_period_ms(), 1000u);
	zelvan_sim_sensor_plug(0);
	zelvan_sim_sensor_plug(1);
	EXPECT_EQ(zelvan_sim_sensor_period_ms(), 200u);
}

TEST_F(Unplugging, WakesABlockedReader)
{
	Configure("silent 0 600000");
	hid_device *dev = Open();
	auto read = std::async(std::launch::async, [dev] { return Read(dev, -1).n; });
	std::this_thread::sleep_for(Ms(100));
	EXPECT_EQ(read.wait_for(Ms(0)), std::future_status::timeout);
	zelvan_sim_sensor_plug(0);
	ASSERT_EQ(read.wait_for(Ms(2000)), std::future_status::ready);
	EXPECT_EQ(read.get(), -1);
}

TEST_F(Unplugging, ReconfiguringReplacesTheDevice)
{
	Configure("");
	hid_device *dev = Open();
	Configure("");
	EXPECT_EQ(Read(dev, 0).n, -1);
	EXPECT_NE(Open(), nullptr);
}

TEST_F(Unplugging, FollowsTheSchedule)
{
	Configure("unplug 300 400\nsilent 0 600000");
	const auto opened = SteadyClock::now();
	hid_device *old = Open();
	ASSERT_NE(old, nullptr);
	EXPECT_EQ(Read(old, 5000).n, -1);
	const auto vanished = SteadyClock::now() - opened;
	EXPECT_GE(vanished, Ms(290));
	EXPECT_LT(vanished, Ms(1500));
	EXPECT_EQ(Open(), nullptr);
	std::this_thread::sleep_until(opened + Ms(800));
	EXPECT_NE(Open(), nullptr);
	EXPECT_EQ(Read(old, 0).n, -1);
	EXPECT_EQ(Events(), "open\nunplug\nopen failed\nplug\nopen\n");
}

TEST_F(Unplugging, AbsentAtStart)
{
	const struct {
		const char *config;
		int appears_after_ms; // -1: only when plugged by hand
	} cases[] = {
		{"absent_until 300", 300},
		{"present no", -1},
		{"unplug 0", -1},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.config);
		Configure(c.config);
		const auto start = SteadyClock::now();
		hid_device *first = Open(); // "unplug 0" opens, then vanishes at once
		if (first != nullptr) {
			EXPECT_EQ(Read(first, 0).n, -1);
		}
		EXPECT_EQ(Open(), nullptr);
		if (c.appears_after_ms >= 0) {
			std::this_thread::sleep_until(start + Ms(c.appears_after_ms + 50));
		} else {
			std::this_thread::sleep_for(Ms(100));
			EXPECT_EQ(Open(), nullptr);
			zelvan_sim_sensor_plug(1);
		}
		EXPECT_NE(Open(), nullptr);
	}
}

} // namespace
} // namespace zelvan::sim::test
