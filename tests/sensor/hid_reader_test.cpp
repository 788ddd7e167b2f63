// The reader thread against the simulated sensor: connection states, the
// exchanges after every open, reconnection, and Stop from each state.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "control/control_commands.h"
#include "core/driver_log.h"
#include "core/host_interfaces.h"
#include "driver/device_provider.h"
#include "sensor/hid_reader.h"
#include "sensor/sensor_protocol.h"
#include "tests/support/fake_runtime.h"
#include "tools/sim_sensor/sim_sensor.h"

namespace zelvan {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string SensorEvents()
{
	std::string text(zelvan_sim_sensor_events(nullptr, 0), '\0');
	zelvan_sim_sensor_events(text.data(), text.size() + 1);
	return text;
}

class HidReaderTest : public ::testing::Test {
protected:
	void SetUp() override { AttachDriverLog(&log); }
	void TearDown() override
	{
		reader.reset();
		DetachDriverLog();
		zelvan_sim_sensor_configure(nullptr);
	}

	void Configure(const char *text) { ASSERT_EQ(zelvan_sim_sensor_configure(text), 0) << text; }

	void Start(int32_t window = 8, bool raw_logging = false, uint16_t period = 50)
	{
		reader = std::make_unique<HidReader>(window, raw_logging);
		reader->Start(kSensorVendorId, kSensorProductId, period);
	}

	size_t Count(const std::string &line)
	{
		const auto lines = log.Lines();
		return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
	}

	// Waits until `line` has been logged `times` times; a hang guard.
	bool WaitFor(const std::string &line, size_t times = 1, std::chrono::milliseconds bound = 15s)
	{
		const auto deadline = Clock::now() + bound;
		while (Clock::now() < deadline) {
			if (Count(line) >= times)
				return true;
			std::this_thread::sleep_for(5ms);
		}
		return false;
	}

	template <typename F> bool WaitUntil(F condition, std::chrono::milliseconds bound = 15s)
	{
		const auto deadline = Clock::now() + bound;
		while (Clock::now() < deadline) {
			if (condition())
				return true;
			std::this_thread::sleep_for(5ms);
		}
		return false;
	}

	std::chrono::milliseconds TimeStop()
	{
		const auto start = Clock::now();
		reader->Stop();
		return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
	}

	test::FakeDriverLog log;
	std::unique_ptr<HidReader> reader;
};

TEST_F(HidReaderTest, AnAbsentSensorLeavesTheReaderReconnectingSilently)
{
	Configure("present no\n");
	Start();
	ASSERT_TRUE(WaitUntil([&] { return reader->GetConnectionState() == ConnectionState::Reconnecting; }));
	std::this_thread::sleep_for(300ms);
	EXPECT_FALSE(reader->IsPersonDetected());
	const ProximitySnapshot snap = reader->GetSnapshot();
	EXPECT_EQ(snap.samples, 0u);
	EXPECT_EQ(snap.averaged_prox, 0u);
	EXPECT_EQ(reader->GetTrackingSerial(), "");
	EXPECT_LT(TimeStop(), 2000ms);
	EXPECT_EQ(reader->GetConnectionState(), ConnectionState::NotConnected);
	EXPECT_TRUE(log.Lines().empty());
}

TEST_F(HidReaderTest, AfterOpeningReadsTheCalibrationResetsTheDetectorAndSetsTheRate)
{
	Configure("cal 1234\nthresh 1600\nhyst 80\ntrim -200\ntracking_serial LHR-1A2B\nhmd_serial QK1-0042\n"
	          "record_bad_crc 11 DC 05\nlevel 0 300\n");
	Start(8, false, 50);
	ASSERT_TRUE(WaitFor("HID: Report rate set to 50ms\n")) << SensorEvents();
	const auto lines = log.Lines();
	const std::vector<std::string> expected = {
		"HID: Device opened/reconnected\n",
		"HID: Sig tag 0x0B CRC mismatch (got 0x00, expected 0xD0)\n",
		"HID: Calibration: cal=1234 thresh=1600 hyst=80 trim=-200\n",
		"HID: programmed_cal=1234 (from flash)\n",
		"HID: proximity_threshold=1600 (from flash)\n",
		"HID: proximity_hysteresis=80 (from flash)\n",
		"HID: user_trim=-200 (from flash)\n",
		"HID: tracking_serial=LHR-1A2B (from flash)\n",
		"Proximity: Algorithm reset (cal=1234, thresh=1600, hyst=80, trim=-200, eff_thresh=1400)\n",
		"HID: Report rate set to 50ms\n",
	};
	std::vector<std::string> got = lines;
	got.erase(std::remove_if(got.begin(), got.end(), [](const std::string &l) { return l.rfind("HID: Sig", 0) == 0 && l.find("0x0B") == std::string::npos; }), got.end());
	// The checksum the firmware stored for the corrupt record is its own choice.
	ASSERT_GE(got.size(), expected.size());
	for (size_t i = 0, j = 0; i < expected.size(); ++i, ++j) {
		if (i == 1) {
			EXPECT_EQ(got[j].rfind("HID: Sig tag 0x0B CRC mismatch (got 0x", 0), 0u) << got[j];
			continue;
		}
		EXPECT_EQ(got[j], expected[i]);
	}
	EXPECT_EQ(reader->GetConnectionState(), ConnectionState::Open);
	EXPECT_EQ(reader->GetTrackingSerial(), "LHR-1A2B");
	EXPECT_STREQ(reader->GetUserSignature().hmd_serial, "QK1-0042");
	EXPECT_NE(SensorEvents().find("feature 00 52 00 32"), std::string::npos);
	ASSERT_TRUE(WaitUntil([&] { return reader->GetSnapshot().samples >= 3; }));
	EXPECT_EQ(reader->GetRawProximity(), 300);
}

TEST_F(HidReaderTest, FollowsTheWearerAndLogsRawSamplesOnlyWhenAskedTo)
{
	struct Case {
		const char *config;
		bool raw_logging;
	};
	const Case cases[] = {
		{"level 0 2400\n", true},
		{"level 0 2400\n", false},
		// Empty reads come back at once: the reader still takes every sample.
		{"level 0 2400\nreads_do_not_wait yes\n", false},
	};
	for (const Case &c : cases) {
		const bool raw_logging = c.raw_logging;
		SCOPED_TRACE(c.config);
		SCOPED_TRACE(raw_logging);
		log.Clear();
		Configure(c.config);
		Start(2, raw_logging, 50);
		ASSERT_TRUE(WaitUntil([&] { return reader->IsPersonDetected(); }));
		const uint32_t before = reader->GetSnapshot().samples;
		std::this_thread::sleep_for(1s);
		EXPECT_GE(reader->GetSnapshot().samples - before, 10u) << "20 samples a second come";
		zelvan_sim_sensor_set_level(200);
		ASSERT_TRUE(WaitUntil([&] { return !reader->IsPersonDetected(); }));
		reader->Stop();
		EXPECT_EQ(Count("Proximity: person_detected changed to true (avg=2400, thresh=1500)\n"), 1u);
		EXPECT_EQ(Count("HID: raw_prox=2400\n") > 0, raw_logging);
		EXPECT_EQ(Count("HID: Device closed\n"), 1u);
	}
}

TEST_F(HidReaderTest, ReconnectsAfterAnUnplugAndKeepsTheLastDecisionMeanwhile)
{
	Configure("thresh 1500\nlevel 0 2400\n");
	Start(1, false, 50);
	// Only a session that ends within its first second makes the reader pause.
	ASSERT_TRUE(WaitUntil([&] { return reader->GetSnapshot().samples >= 24; })) << "1.2 s of samples";
	ASSERT_TRUE(reader->IsPersonDetected());
	zelvan_sim_sensor_clear_events();
	zelvan_sim_sensor_plug(0);
	ASSERT_TRUE(WaitFor("HID: Device disconnected\n"));
	ASSERT_TRUE(WaitUntil([&] { return SensorEvents().find("open failed") != std::string::npos; }, 2s))
		<< "the first re-open attempt follows at once: " << SensorEvents();
	EXPECT_EQ(reader->GetConnectionState(), ConnectionState::Reconnecting);
	EXPECT_TRUE(reader->IsPersonDetected());
	zelvan_sim_sensor_plug(1);
	ASSERT_TRUE(WaitFor("HID: Device opened/reconnected\n", 2, 10s));
	ASSERT_TRUE(WaitFor("HID: Report rate set to 50ms\n", 2));
	EXPECT_EQ(Count("HID: Device disconnected\n"), 1u);
	EXPECT_EQ(Count("Proximity: Algorithm reset (cal=0, thresh=1500, hyst=100, trim=0, eff_thresh=1500)\n"), 2u);
	EXPECT_EQ(zelvan_sim_sensor_period_ms(), 50u) << "the rate is sent again after the reconnection";
}

TEST_F(HidReaderTest, ASensorThatFailsAtOnceIsReopenedAfterGrowingPauses)
{
	Configure("fail_reads yes\nfail_features yes\n");
	Start();
	// Pauses of 1 s, then 2 s: the third open is due 2 s after the second.
	ASSERT_TRUE(WaitFor("HID: Device opened/reconnected\n", 2));
	std::this_thread::sleep_for(1500ms);
	EXPECT_EQ(Count("HID: Device opened/reconnected\n"), 2u);
	EXPECT_EQ(Count("HID: Device disconnected\n"), 2u);
	EXPECT_EQ(reader->GetConnectionState(), ConnectionState::Reconnecting);
}

TEST_F(HidReaderTest, ASensorThatDoesNotOpenIsLoggedWithHidapisReasonOnce)
{
	Configure("refuse_open yes\n");
	Start();
	const std::string line = "HID: Cannot open the sensor: Failed to open a device with path 'sim:zelvan-proximity': Permission denied\n";
	ASSERT_TRUE(WaitFor(line)) << ::testing::PrintToString(log.Lines());
	// The retry 5 s later fails the same way and adds nothing.
	ASSERT_TRUE(WaitUntil([&] {
		const std::string events = SensorEvents();
		return events.find("open refused") != events.rfind("open refused");
	}, 10s));
	EXPECT_EQ(log.Lines(), std::vector<std::string>{line});
	EXPECT_EQ(reader->GetConnectionState(), ConnectionState::Reconnecting);
}

TEST_F(HidReaderTest, ASilentStreamGetsTheRateCommandAgainThenIsReopened)
{
	struct Case {
		const char *name;
		const char *config;
		bool replug;
		std::vector<std::string> lines; // in this order, after the first rate; the last one comes twice
		int opens;
		// Over the whole cycle (about 6 s): about 150 at the stream's pace, tens
		// of millions when the loop spins.
		unsigned long long max_reads;
	};
	const Case cases[] = {
		{"the rate command stalls once after a replug", "stall_after_plug yes\nlevel 0 2400\n", true,
		 {"HID: Device disconnected\n", "HID: Device opened/reconnected\n",
		  "HID: Failed to send feature report cmd=0x52: ioctl (SFEATURE): Broken pipe\n", "HID: Report rate set to 50ms\n"},
		 2, 1000},
		{"the sensor never sends a sample", "silent 0 600000\n", false,
		 {"HID: Report rate set to 50ms\n", "HID: No samples from the sensor, reopening it\n",
		  "HID: Device opened/reconnected\n"},
		 2, 1000},
		{"reads come back empty at once instead of waiting", "silent 0 600000\nreads_do_not_wait yes\n", false,
		 {"HID: Report rate set to 50ms\n", "HID: No samples from the sensor, reopening it\n",
		  "HID: Device opened/reconnected\n"},
		 2, 1000},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		log.Clear();
		Configure(c.config);
		Start(1, false, 50);
		ASSERT_TRUE(WaitFor("HID: Report rate set to 50ms\n"));
		if (c.replug) {
			ASSERT_TRUE(WaitUntil([&] { return reader->IsPersonDetected(); }));
			zelvan_sim_sensor_plug(0);
			ASSERT_TRUE(WaitFor("HID: Device disconnected\n"));
			zelvan_sim_sensor_plug(1);
		}
		ASSERT_TRUE(WaitFor(c.lines.back(), 2, 12s)) << ::testing::PrintToString(log.Lines());
		const auto lines = log.Lines();
		auto at = std::find(lines.begin(), lines.end(), "HID: Report rate set to 50ms\n");
		for (const std::string &line : c.lines) {
			at = std::find(at + 1, lines.end(), line);
			EXPECT_NE(at, lines.end()) << line << ::testing::PrintToString(lines);
			if (at == lines.end())
				break;
		}
		EXPECT_EQ(zelvan_sim_sensor_open_count(), c.opens);
		EXPECT_LT(zelvan_sim_sensor_read_count(), c.max_reads);
		if (c.replug) {
			const uint32_t before = reader->GetSnapshot().samples;
			EXPECT_TRUE(WaitUntil([&] { return reader->GetSnapshot().samples > before + 5; }, 2s)) << "samples flow again";
			EXPECT_TRUE(reader->IsPersonDetected());
		}
		reader->Stop();
	}
}

TEST_F(HidReaderTest, AFailedSignatureReadAfterAReconnectionKeepsTheEarlierCalibration)
{
	Configure("thresh 1700\nhyst 50\nlevel 0 300\n");
	Start(8, false, 50);
	ASSERT_TRUE(WaitFor("HID: Report rate set to 50ms\n"));
	// A new configuration is a new device: the open handle goes stale.
	Configure("thresh 900\nblock_reply 3 error\nlevel 0 300\n");
	ASSERT_TRUE(WaitFor("HID: ReadUserSignature block 3 error response from firmware\n"));
	ASSERT_TRUE(WaitFor("HID: Warning - failed to read user signature, using defaults\n"));
	ASSERT_TRUE(WaitFor("Proximity: Algorithm reset (cal=0, thresh=1700, hyst=50, trim=0, eff_thresh=1700)\n", 2));
	EXPECT_EQ(reader->GetUserSignature().proximity_threshold, 1700);
}

TEST_F(HidReaderTest, SignatureFaultsAreLoggedWithTheirBlock)
{
	struct Case {
		const char *config;
		const char *line;
	};
	const Case cases[] = {
		{"block_reply 5 none\n", "HID: ReadUserSignature block 5 timed out (20 attempts)\n"},
		{"rate_reply error\n", "HID: Rate command rejected by firmware\n"},
		{"rate_reply none\n", "HID: Rate command - unexpected response (byte0=0x00, len=0)\n"},
		{"rate_reply delay=300\ninterleave_samples 3 rate\n", "HID: Report rate set to 50ms\n"},
		{"rate_reply none\nsilent 0 5000\n", "HID: Rate command - unexpected response (byte0=0x00, len=0)\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.config);
		log.Clear();
		Configure(c.config);
		Start(8, false, 50);
		EXPECT_TRUE(WaitFor(c.line, 1, 20s)) << ::testing::PrintToString(log.Lines());
		reader->Stop();
	}
}

TEST_F(HidReaderTest, TheCalibrationIsReadWholeWhileTheReaderThreadRewritesIt)
{
	// Each configuration is a new device: the reader thread reopens it and
	// writes its calibration while another thread reads it, as the frame
	// path and the status command do. The sanitizer builds see any access
	// the lock does not order; a torn copy would mix two calibrations.
	const char *configs[] = {"thresh 1600\nhmd_serial ZV2-AAAA\ntracking_serial LHR-AAAA\nlevel 0 300\n",
	                         "thresh 1700\nhmd_serial ZV2-BBBB\ntracking_serial LHR-BBBB\nlevel 0 300\n"};
	std::atomic<bool> done{false};
	std::atomic<int> torn{0};
	Configure(configs[0]);
	Start(8, false, 50);
	std::thread reading([&] {
		for (; !done.load(); std::this_thread::sleep_for(1ms)) {
			const UserSignature sig = reader->GetUserSignature();
			const std::string serial = reader->GetTrackingSerial();
			const std::string hmd = sig.hmd_serial;
			const bool whole = (hmd.empty() && sig.proximity_threshold == 1500) ||
			                   (hmd == "ZV2-AAAA" && sig.proximity_threshold == 1600) ||
			                   (hmd == "ZV2-BBBB" && sig.proximity_threshold == 1700);
			const bool known_serial = serial.empty() || serial == "LHR-AAAA" || serial == "LHR-BBBB";
			torn += whole && known_serial ? 0 : 1;
		}
	});
	for (size_t i = 0; i < 4; ++i) {
		if (i > 0)
			Configure(configs[i % 2]);
		EXPECT_TRUE(WaitFor("HID: Report rate set to 50ms\n", i + 1));
		// A session shorter than a second would make the reader pause before reopening.
		std::this_thread::sleep_for(1100ms);
	}
	done = true;
	reading.join();
	EXPECT_EQ(torn.load(), 0);
	EXPECT_EQ(Count("HID: tracking_serial=LHR-BBBB (from flash)\n"), 2u);
	EXPECT_EQ(reader->GetTrackingSerial(), "LHR-BBBB");
}

TEST_F(HidReaderTest, OverlongBlockRepliesStayInsideTheImage)
{
	// The last block claims 40 bytes: copied as received it would run past
	// the 512-byte image (the sanitizer builds catch that).
	Configure("block_reply 15 length=40\nblock_reply 14 length=200\nthresh 1234\n");
	Start(8, false, 50);
	ASSERT_TRUE(WaitFor("HID: Report rate set to 50ms\n"));
	EXPECT_EQ(reader->GetUserSignature().proximity_threshold, 1234) << ::testing::PrintToString(log.Lines());
}

TEST_F(HidReaderTest, StopEndsTheThreadPromptlyFromEveryState)
{
	struct Case {
		const char *name;
		const char *config;
		const char *wait_for_event; // in the sensor's log
		bool device_open;
	};
	const Case cases[] = {
		{"waiting to reconnect", "present no\n", "open failed", false},
		{"pausing after a failed session", "fail_reads yes\nfail_features yes\n", "close", false},
		{"streaming", "level 0 300\n", "reply $", true},
		{"inside the signature read", "block_reply all none\n", "noreply U 0", true},
		{"sensor silent", "silent 0 100000\n", "reply $", true},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		log.Clear();
		Configure(c.config);
		Start(8, false, 50);
		ASSERT_TRUE(WaitUntil([&] { return SensorEvents().find(c.wait_for_event) != std::string::npos; })) << SensorEvents();
		// A hang guard: one read time-out is 500 ms.
		EXPECT_LT(TimeStop(), 2000ms);
		EXPECT_EQ(reader->GetConnectionState(), ConnectionState::NotConnected);
		const size_t closed = Count("HID: Device closed\n");
		EXPECT_EQ(closed, c.device_open ? 1u : 0u);
		reader->Stop();
		EXPECT_EQ(Count("HID: Device closed\n"), closed) << "a second Stop logs nothing";
	}
}


// A client polling "samples" while the reader thread feeds the ring at the
// fastest rate gets every reading once, in order; "set" reaches the detector
// and the sensor through the reader thread.
TEST_F(HidReaderTest, TheSamplesCommandFollowsTheStreamAndSetReachesTheReader)
{
	Configure("ramp 0 60000 300 60300\n");
	test::FakeRuntime runtime;
	ASSERT_EQ(InitHostInterfaces(&runtime), 0);
	DeviceProvider provider;
	provider.settings.report_rate_ms = 50;
	provider.reader = std::make_unique<HidReader>(8, false);
	provider.reader->Start(kSensorVendorId, kSensorProductId, 50);
	auto run = [&](const std::string &text) {
		char reply[kReplySize];
		ExecuteControlCommand(provider.Targets(), text.c_str(), reply);
		return std::string(reply);
	};
	unsigned next = 0;
	ASSERT_EQ(std::sscanf(run("samples").c_str(), "OK next=%u", &next), 1);
	// More readings than one reply holds: the first poll is cut, and its
	// next= names its last entry, so the following poll returns the rest.
	const auto newest = [&] { return provider.reader->CopySamplesAfter(0, nullptr, 0).newest; };
	ASSERT_TRUE(WaitUntil([&] { return newest() >= next + 60; }));
	unsigned last_ms = 0, got = 0;
	// A count of readings, not a time: a loaded machine only takes longer.
	for (const auto end = Clock::now() + 60s; got < 80 && Clock::now() < end;) {
		const std::string reply = run("samples " + std::to_string(next));
		ASSERT_EQ(reply.rfind("OK next=", 0), 0u) << reply;
		ASSERT_EQ(reply.find("lost="), std::string::npos) << reply;
		unsigned reply_next = 0;
		ASSERT_EQ(std::sscanf(reply.c_str(), "OK next=%u", &reply_next), 1) << reply;
		if (got == 0)
			EXPECT_LT(reply_next, newest()) << "cut: " << reply;
		size_t at = reply.find(' ', 3);
		for (; at != std::string::npos; at = reply.find(' ', at + 1)) {
			unsigned number = 0, raw = 0, ms = 0;
			ASSERT_EQ(std::sscanf(reply.c_str() + at + 1, "%u:%u:%u", &number, &raw, &ms), 3) << reply;
			ASSERT_EQ(number, next + 1) << reply;
			EXPECT_GE(ms, last_ms);
			EXPECT_GE(raw, 300u);
			next = number;
			last_ms = ms;
			++got;
		}
		EXPECT_EQ(reply_next, next) << reply;
		std::this_thread::sleep_for(20ms);
	}
	EXPECT_GE(got, 80u) << "the stream stopped";
	EXPECT_EQ(run("samples " + std::to_string(next + 1000)).rfind("ERR samples: ", 0), 0u);
	EXPECT_EQ(run("samples -1"), "ERR usage: samples [NUMBER]");

	log.Clear();
	EXPECT_EQ(run("set moving_avg_length 1"), "OK moving_avg_length=1");
	EXPECT_EQ(run("set threshold_offset -300"), "OK threshold_offset=-300");
	EXPECT_EQ(run("set report_rate_ms 100"), "OK report_rate_ms=100");
	ASSERT_TRUE(WaitUntil([&] { return zelvan_sim_sensor_period_ms() == 100; })) << SensorEvents();
	const std::string reset_tail = "offset=-300, eff_thresh=1200)\n";
	auto resets = [&] {
		size_t n = 0;
		for (const std::string &line : log.Lines())
			n += line.rfind("Proximity: Algorithm reset", 0) == 0 ? 1 : 0;
		return n;
	};
	EXPECT_TRUE(WaitUntil([&] {
		for (const std::string &line : log.Lines())
			if (line.size() >= reset_tail.size() && line.compare(line.size() - reset_tail.size(), reset_tail.size(), reset_tail) == 0)
				return true;
		return false;
	}));
	// The ramp is worn by now. A set of the values in force changes nothing:
	// no reset, and presence stays on.
	ASSERT_TRUE(WaitUntil([&] { return provider.reader->GetSnapshot().person_detected; }));
	const size_t resets_before = resets();
	for (const char *same : {"set moving_avg_length 1", "set threshold_offset -300", "set report_rate_ms 100"}) {
		SCOPED_TRACE(same);
		const uint32_t samples = provider.reader->GetSnapshot().samples;
		EXPECT_EQ(run(same).rfind("OK ", 0), 0u);
		// Two readings later the reader thread has looked at the change.
		ASSERT_TRUE(WaitUntil([&] { return provider.reader->GetSnapshot().samples >= samples + 2; }));
		EXPECT_TRUE(provider.reader->GetSnapshot().person_detected);
		EXPECT_EQ(resets(), resets_before);
	}
	provider.reader->Stop();
	const ProximitySnapshot stopped = provider.reader->GetSnapshot();
	EXPECT_EQ(stopped.eff_thresh, 1200);
	// The running detector averages one reading now, not the eight it began with.
	EXPECT_EQ(stopped.averaged_prox, provider.reader->GetRawProximity());
	provider.reader.reset();
}

} // namespace
} // namespace zelvan
