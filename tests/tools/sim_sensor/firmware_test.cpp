// The simulated firmware's flash image, command replies, faults and
// configuration parsing.
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim_sensor_fixture.h"

namespace zelvan::sim::test {
namespace {

// Keeps block requests from racing the sample stream.
constexpr const char *kQuiet = "silent 0 600000\n";

TEST(RecordCrc8, MatchesTheCheckValues)
{
	const struct {
		Bytes data;
		uint8_t crc;
	} cases[] = {
		{Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xFB},
		{Bytes{'a', 'b', 'c'}, 0x74},
		{Bytes{0x0B, 0x02, 0xDC, 0x05}, 0xD0},
		{Bytes{0x0E, 0x02, 0x38, 0xFF}, 0x61},
		{Bytes{}, 0xFF},
	};
	for (const auto &c : cases)
		EXPECT_EQ(zelvan_sim_sensor_crc8(c.data.data(), c.data.size()), c.crc) << ::testing::PrintToString(c.data);
}

Bytes WithCrc(Bytes record)
{
	record.push_back(zelvan_sim_sensor_crc8(record.data(), record.size()));
	return record;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
	Bytes out;
	for (const Bytes &p : parts)
		out.insert(out.end(), p.begin(), p.end());
	return out;
}

using SignatureImage = SimSensorTest;

TEST_F(SignatureImage, EncodesRecordsInLineOrderThenEndsAndFills)
{
	const struct {
		const char *config;
		Bytes head;
		uint8_t fill;
	} cases[] = {
		{"", {0xFF}, 0xFF},
		{"thresh 1500", {0x0B, 0x02, 0xDC, 0x05, 0xD0, 0xFF}, 0xFF},
		{"trim -200", {0x0E, 0x02, 0x38, 0xFF, 0x61, 0xFF}, 0xFF},
		{"record_bad_crc 11 DC 05", {0x0B, 0x02, 0xDC, 0x05, 0x2F, 0xFF}, 0xFF},
		{"cal 1234\nhyst 100", Cat({WithCrc({6, 2, 0xD2, 0x04}), WithCrc({12, 2, 100, 0}), {0xFF}}), 0xFF},
		{"hmd_serial ZV2-00012345  # comment", Cat({WithCrc({8, 12, 'Z', 'V', '2', '-', '0', '0', '0', '1', '2', '3', '4', '5'}), {0xFF}}), 0xFF},
		{"tracking_serial \" A#1\"", Cat({WithCrc({9, 4, ' ', 'A', '#', '1'}), {0xFF}}), 0xFF},
		{"record 0x22 01 0203", Cat({WithCrc({0x22, 3, 1, 2, 3}), {0xFF}}), 0xFF},
		{"raw 0B 09 DC", {0x0B, 0x09, 0xDC, 0xFF}, 0xFF},
		{"thresh 1500\nend_marker no\nimage_fill 0", {0x0B, 0x02, 0xDC, 0x05, 0xD0, 0x00}, 0x00},
		{"image_hex 0B02DC05\nimage_hex D0\nimage_fill 0x00", {0x0B, 0x02, 0xDC, 0x05, 0xD0, 0x00}, 0x00},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.config);
		Configure(c.config);
		const Bytes image = Image();
		ASSERT_EQ(image.size(), 512u);
		EXPECT_EQ(Bytes(image.begin(), image.begin() + static_cast<long>(c.head.size())), c.head);
		EXPECT_TRUE(std::all_of(image.begin() + static_cast<long>(c.head.size()), image.end(), [&](uint8_t b) { return b == c.fill; }));
	}
}

TEST_F(SignatureImage, RecordsMayFillTheImageExactly)
{
	// 9 records of 56 bytes and one of 8: 512 bytes, no room for the end tag.
	std::string config;
	for (int i = 0; i < 9; ++i)
		config += "record 0x30 " + std::string(106, 'A') + "\n";
	config += "record 0x31 0102030405\n";
	Configure(config);
	const Bytes image = Image();
	EXPECT_EQ(image[504], 0x31);
	EXPECT_EQ(image[511], zelvan_sim_sensor_crc8(&image[504], 7));
}

struct BlockCase {
	const char *config;
	int block;
	uint8_t code;
	int n;       // bytes the read returns
	int length;  // L byte of a 'U' reply
	const char *event;
};

void PrintTo(const BlockCase &c, std::ostream *out)
{
	*out << "block " << c.block << " with \"" << c.config << "\"";
}

class BlockReplies : public SimSensorTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockReplies, AnswerAsConfigured)
{
	const BlockCase &c = GetParam();
	Configure(std::string(kQuiet) + "cal 1234\ntracking_serial LHR-1A2B3C4D\n" + c.config);
	const Bytes image = Image();
	hid_device *dev = Open();
	ASSERT_NE(dev, nullptr);
	ASSERT_EQ(SendCommand(dev, 'U', static_cast<uint8_t>(c.block)), 65);
	const Report r = Read(dev, c.code == 0 ? 100 : 1000);
	EXPECT_EQ(r.n, c.n);
	EXPECT_EQ(r.code(), c.code);
	if (c.code == 'U') {
		EXPECT_EQ(r.data[1], c.length);
		const size_t payload = std::min<size_t>(static_cast<size_t>(r.n - 2), static_cast<size_t>(c.length));
		const auto from = image.begin() + 32 * c.block;
		EXPECT_EQ(Bytes(r.data.begin() + 2, r.data.begin() + 2 + static_cast<long>(payload)), Bytes(from, from + static_cast<long>(payload)));
	}
	char expected[64];
	std::snprintf(expected, sizeof(expected), "open\nfeature 00 55 %02X 00\n%s\n", c.block, c.event);
	EXPECT_EQ(Events(), expected);
}

INSTANTIATE_TEST_SUITE_P(Faults, BlockReplies, ::testing::Values(
	BlockCase{"", 0, 'U', 64, 32, "reply U 0"},
	BlockCase{"", 15, 'U', 64, 32, "reply U 15"},
	BlockCase{"block_reply 3 error", 3, 'E', 64, 0, "reply E U 3"},
	BlockCase{"block_reply 3 error", 4, 'U', 64, 32, "reply U 4"},
	BlockCase{"block_reply 3 none", 3, 0, 0, 0, "noreply U 3"},
	BlockCase{"block_reply 0 length=40", 0, 'U', 64, 40, "reply U 0 L=40"},
	BlockCase{"block_reply 0 short=10", 0, 'U', 12, 32, "reply U 0 bytes=12"},
	BlockCase{"block_reply all error", 9, 'E', 64, 0, "reply E U 9"},
	BlockCase{"block_reply all error\nblock_reply 5 ok", 5, 'U', 64, 32, "reply U 5"},
	BlockCase{"", 16, 'E', 64, 0, "reply E U 16"}));

TEST_F(SimSensorTest, DelayedReplyComesAfterItsDelay)
{
	Configure(std::string(kQuiet) + "block_reply 2 delay=300");
	hid_device *dev = Open();
	ASSERT_EQ(SendCommand(dev, 'U', 2), 65);
	EXPECT_EQ(Read(dev, 50).n, 0);
	const auto start = SteadyClock::now();
	EXPECT_EQ(Read(dev, 2000).code(), 'U');
	EXPECT_GT(SteadyClock::now() - start, Ms(150));
}

TEST_F(SimSensorTest, InterleavedSamplesPrecedeTheChosenReplies)
{
	const struct {
		const char *config;
		char command;
		std::string codes;
	} cases[] = {
		{"interleave_samples 2", 'U', "##U"},
		{"interleave_samples 2", 'R', "$"},
		{"interleave_samples 1 rate", 'R', "#$"},
		{"interleave_samples 1 rate", 'U', "U"},
		{"interleave_samples 3 all", 'U', "###U"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(c.config) + " " + c.command);
		Configure(std::string(kQuiet) + c.config);
		hid_device *dev = Open();
		ASSERT_EQ(SendCommand(dev, c.command, 0, 100), 65);
		std::string codes;
		for (Report r = Read(dev, 0); r.n > 0; r = Read(dev, 0))
			codes += static_cast<char>(r.code());
		EXPECT_EQ(codes, c.codes);
		Close(dev);
	}
}

TEST_F(SimSensorTest, RepliesGoBeforeDueSamplesWhichDoNotPileUp)
{
	Configure("");
	hid_device *dev = Open();
	ASSERT_EQ(hid_set_nonblocking(dev, 1), 0);
	uint8_t buf[65];
	EXPECT_EQ(hid_read(dev, buf, sizeof(buf)), 0);
	std::this_thread::sleep_for(Ms(700)); // three samples come due
	ASSERT_EQ(SendCommand(dev, 'U', 0), 65);
	std::string codes;
	for (Report r = Read(dev, 0); r.n > 0; r = Read(dev, 0))
		codes += static_cast<char>(r.code());
	EXPECT_EQ(codes, "U#");
}

TEST_F(SimSensorTest, RateCommandSetsThePeriodUnlessRefused)
{
	const struct {
		const char *config;
		unsigned period;
		uint8_t code;
		unsigned period_after;
		const char *events;
	} cases[] = {
		{"", 200, '$', 200, "open\nfeature 00 52 00 C8\nreply $\n"},
		{"", 5000, '$', 5000, "open\nfeature 00 52 13 88\nreply $\n"},
		{"", 0, 'E', 200, "open\nfeature 00 52 00 00\nreply E R\n"},
		{"rate_reply error", 100, 'E', 200, "open\nfeature 00 52 00 64\nreply E R\n"},
		{"rate_reply none", 100, 0, 100, "open\nfeature 00 52 00 64\nnoreply R\n"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(c.config) + " " + std::to_string(c.period));
		Configure(std::string(kQuiet) + c.config);
		hid_device *dev = Open();
		ASSERT_EQ(SendRate(dev, c.period), 65);
		EXPECT_EQ(Read(dev, c.code == 0 ? 100 : 1000).code(), c.code);
		EXPECT_EQ(zelvan_sim_sensor_period_ms(), c.period_after);
		EXPECT_EQ(Events(), c.events);
		Close(dev);
	}
}

TEST_F(SimSensorTest, RefusesWhatTheSensorDoesNotHave)
{
	Configure(kQuiet);
	hid_device *dev = Open();
	uint8_t buf[65] = {};
	EXPECT_EQ(hid_write(dev, buf, sizeof(buf)), -1);
	EXPECT_EQ(hid_get_feature_report(dev, buf, sizeof(buf)), -1);
	buf[0] = 1; // numbered report
	EXPECT_EQ(hid_send_feature_report(dev, buf, sizeof(buf)), -1);
	buf[0] = 0;
	buf[1] = 'Q';
	EXPECT_EQ(hid_send_feature_report(dev, buf, sizeof(buf)), 65);
	EXPECT_EQ(Read(dev, 1000).code(), 'E');
}

TEST_F(SimSensorTest, EnumeratesAndOpensOnlyTheConfiguredIds)
{
	Configure("usb_id 1234:ABCD");
	hid_device_info *list = hid_enumerate(0, 0);
	ASSERT_NE(list, nullptr);
	EXPECT_EQ(list->vendor_id, 0x1234);
	EXPECT_EQ(list->product_id, 0xABCD);
	EXPECT_EQ(list->next, nullptr);
	hid_free_enumeration(list);
	EXPECT_EQ(hid_enumerate(kVid, kPid), nullptr);
	EXPECT_EQ(Open(), nullptr);
	hid_device *dev = hid_open(0x1234, 0xABCD, nullptr);
	EXPECT_NE(dev, nullptr);
	hid_close(dev);
}

TEST_F(SimSensorTest, WithoutConfigurationThereIsNoDevice)
{
	EXPECT_EQ(hid_init(), 0);
	EXPECT_EQ(Open(), nullptr);
	EXPECT_EQ(hid_enumerate(0, 0), nullptr);
	EXPECT_EQ(hid_read_timeout(nullptr, nullptr, 0, 0), -1);
	EXPECT_NE(hid_error(nullptr), nullptr);
	hid_close(nullptr);
	EXPECT_EQ(hid_exit(), 0);
}

TEST_F(SimSensorTest, InitFailsOnRequest)
{
	zelvan_sim_sensor_fail_init(1);
	EXPECT_EQ(hid_init(), -1);
	EXPECT_EQ(zelvan_sim_sensor_fail_init(0), 1);
	EXPECT_EQ(hid_init(), 0);
}

using ConfigErrors = SimSensorTest;

TEST_F(ConfigErrors, NameTheLineAndLeaveTheDeviceAbsent)
{
	std::string overflow;
	for (int i = 0; i < 10; ++i)
		overflow += "record 1 " + std::string(100, '0') + "\n"; // 53 bytes each
	const struct {
		std::string config;
		const char *error;
	} cases[] = {
		{"cal 1234\nbogus 1", "config:2: unknown keyword 'bogus'"},
		{"\n# note\nthresh 70000", "config:3: thresh must be a number from 0 to 65535, not '70000'"},
		{"trim -40000", "config:1: trim must be a number from -32768 to 32767"},
		{"level 0", "config:1: level takes 2 value(s), got 1"},
		{"ramp 100 50 1 2", "config:1: a ramp must end after it starts"},
		{"block_reply 16 error", "config:1: the block must be a number from 0 to 15"},
		{"block_reply 3 error length=40", "config:1: length= and short= shape a reply"},
		{"block_reply 3 sometimes", "config:1: 'sometimes' is not a reply"},
		{"rate_reply short=3", "config:1: 'short=3' is not a reply"},
		{"record 0x22 0G", "config:1: '0G' is not a run of hex bytes"},
		{"short_samples maybe", "config:1: short_samples takes yes or no, not 'maybe'"},
		{"cal 1\nimage_hex 0B", "config:2: image_hex gives the whole image; it cannot be combined with the fields, record or raw (line 1)"},
		{overflow, "config:10: the signature image is full: 477 of 512 bytes used, this record needs 53"},
		{"replay /nonexistent/readings.txt", "config:1: cannot read replay file"},
		{"level 0 5\nreplay /nonexistent/r.txt", "config:2: cannot read replay file"},
		{"unplug 100 0", "config:1: the duration must be a number from 1"},
		{"usb_id 35BD-0101", "config:1: usb_id takes VVVV:PPPP in hex"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.config);
		::testing::internal::CaptureStderr();
		EXPECT_EQ(zelvan_sim_sensor_configure(c.config.c_str()), -1);
		const std::string stderr_text = ::testing::internal::GetCapturedStderr();
		EXPECT_NE(Errors().find(c.error), std::string::npos) << Errors();
		EXPECT_NE(stderr_text.find(std::string("sim_sensor: ") + c.error), std::string::npos) << stderr_text;
		EXPECT_EQ(Open(), nullptr);
	}
}

TEST_F(ConfigErrors, AllWrongLinesAreReported)
{
	::testing::internal::CaptureStderr();
	EXPECT_EQ(zelvan_sim_sensor_configure("cal x\ncal 1\nhyst y\n"), -1);
	::testing::internal::GetCapturedStderr();
	const std::string errors = Errors();
	EXPECT_NE(errors.find("config:1:"), std::string::npos);
	EXPECT_EQ(errors.find("config:2:"), std::string::npos);
	EXPECT_NE(errors.find("config:3:"), std::string::npos);
}

// A scratch folder for configuration files, removed afterwards.
class ConfigFile : public SimSensorTest {
protected:
	void SetUp() override
	{
		SimSensorTest::SetUp();
		dir_ = std::filesystem::temp_directory_path() /
		       ("sim_sensor_test_" + std::to_string(SteadyClock::now().time_since_epoch().count()));
		std::filesystem::create_directories(dir_);
	}
	void TearDown() override
	{
		SimSensorTest::TearDown();
		std::error_code ignored;
		std::filesystem::remove_all(dir_, ignored);
	}
	std::string Write(const std::string &name, const std::string &text)
	{
		const std::filesystem::path path = dir_ / name;
		std::ofstream(path, std::ios::binary) << text;
		return path.string();
	}
	std::filesystem::path dir_;
};

TEST_F(ConfigFile, IsReadAtInitAndAgainAtOpenWhenChanged)
{
	const std::string path = Write("sensor.conf", "thresh 1500\n");
	SetEnv(kEnv, path);
	ASSERT_EQ(hid_init(), 0);
	EXPECT_EQ(Image()[0], 0x0B);
	hid_device *dev = Open();
	ASSERT_NE(dev, nullptr);
	Close(dev);

	Write("sensor.conf", "present no\n");
	EXPECT_EQ(Open(), nullptr);

	::testing::internal::CaptureStderr();
	Write("sensor.conf", "cal 1\nnonsense\n");
	EXPECT_EQ(Open(), nullptr);
	EXPECT_NE(::testing::internal::GetCapturedStderr().find(path + ":2: unknown keyword 'nonsense'"), std::string::npos);

	// Without the variable the configuration in force stays.
	Write("sensor.conf", "cal 1\n");
	ASSERT_NE(Open(), nullptr);
	SetEnv(kEnv, "");
	ASSERT_EQ(hid_init(), 0);
	EXPECT_EQ(Image()[0], 0x06);
}

TEST_F(ConfigFile, ReplayAndLogPathsAreTakenFromTheFilesFolder)
{
	Write("readings.txt", "# recorded\n10\n20\n30\n");
	SetEnv(kEnv, Write("sensor.conf", "replay readings.txt\nlog events.log\n"));
	ASSERT_EQ(hid_init(), 0) << Errors();
	hid_device *dev = Open();
	ASSERT_NE(dev, nullptr);
	EXPECT_EQ(SendCommand(dev, 'U', 0), 65);
	Close(dev);
	std::ifstream log(dir_ / "events.log");
	const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
	for (const char *line : {" ms  init\n", " ms  open\n", " ms  feature 00 55 00 00\n", " ms  reply U 0\n", " ms  close\n"})
		EXPECT_NE(text.find(line), std::string::npos) << line << " in:\n" << text;
}

// The raw reading of the sample report after the next `count` ones.
unsigned LastOf(hid_device *dev, int count)
{
	unsigned raw = 0;
	for (int i = 0; i < count; ++i) {
		const Report r = Read(dev, 2000);
		if (r.code() == '#')
			raw = r.raw();
	}
	return raw;
}

TEST_F(ConfigFile, ReplayTakesPlainReadingsAndRecordingsWithTheirLabels)
{
	const struct {
		const char *file;
		unsigned first;
		unsigned last;
		const char *error;
	} cases[] = {
		{"# zelvan-ctl record 1\n# cal=1180 thresh=1500 hyst=100 trim=0\n"
		 "# moving_avg_length=8 report_rate_ms=50 threshold_offset=0 report_period_ms=50\n"
		 "0 1111\n40 1111 off\n200 2222 on\n",
		 1111, 2222, nullptr},
		{"0 1111\n200 2222\n", 1111, 2222, nullptr},
		{"\xef\xbb\xbf# zelvan-ctl record 1\r\n0 1111\r\n200 2222 on\r\n", 1111, 2222, nullptr},
		{"10\n20\n30\n", 10, 30, nullptr},
		{"0 5 on again\n", 0, 0, "expected a reading (0..65535), 'MS READING' or 'MS READING LABEL'"},
		{"0 5 on\n7\n", 0, 0, "mixes plain readings with timed ones"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.file);
		Write("readings.txt", c.file);
		::testing::internal::CaptureStderr();
		const int configured = zelvan_sim_sensor_configure(("replay " + (dir_ / "readings.txt").string()).c_str());
		const std::string stderr_text = ::testing::internal::GetCapturedStderr();
		if (c.error != nullptr) {
			EXPECT_EQ(configured, -1);
			EXPECT_NE(Errors().find(c.error), std::string::npos) << Errors();
			continue;
		}
		ASSERT_EQ(configured, 0) << stderr_text;
		hid_device *dev = Open();
		ASSERT_EQ(SendRate(dev, 50), 65);
		ASSERT_EQ(Read(dev, 0).code(), '$');
		EXPECT_EQ(LastOf(dev, 1), c.first);
		EXPECT_EQ(LastOf(dev, 8), c.last);
		Close(dev);
	}
}

TEST_F(ConfigFile, FollowSwitchesTheWearerWhenItsFileChanges)
{
	const std::string follow = (dir_ / "wearer.txt").string();
	Configure("wearer_levels 1800 200\nlevel 0 500\nfollow " + follow);
	hid_device *dev = Open();
	ASSERT_EQ(SendRate(dev, 50), 65);
	ASSERT_EQ(Read(dev, 0).code(), '$');
	const struct {
		const char *text; // nullptr: no file yet
		unsigned level;
		bool complaint;
	} steps[] = {
		{nullptr, 500, false}, // the level program until the file says something
		{"on\n", 1800, false},
		{"of", 1800, false},   // half of "off": nothing yet
		{"off\r\n", 200, false},
		{"maybe", 200, true},
		{"ON", 200, true},
		{"\x1b[2Jon", 200, true},
		{"on", 1800, false},
	};
	for (const auto &step : steps) {
		SCOPED_TRACE(step.text != nullptr ? step.text : "(no file)");
		if (step.text != nullptr)
			Write("wearer.txt", step.text);
		::testing::internal::CaptureStderr();
		EXPECT_EQ(LastOf(dev, 4), step.level);
		const std::string complaint = ::testing::internal::GetCapturedStderr();
		EXPECT_EQ(complaint.find("follow wants on or off") != std::string::npos, step.complaint) << complaint;
		EXPECT_EQ(complaint.find('\x1b'), std::string::npos);
	}
	EXPECT_NE(Events().find("follow on\nfollow off\nfollow on\n"), std::string::npos) << Events();
}

} // namespace
} // namespace zelvan::sim::test
