// The sensor's wire formats and the flash record walk.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/driver_log.h"
#include "sensor/sensor_protocol.h"
#include "tests/support/fake_runtime.h"

namespace zelvan {
namespace {

using Bytes = std::vector<uint8_t>;

uint8_t Crc(const std::string &text)
{
	return SignatureCrc8(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

// One record with its checksum computed, as the firmware writes it.
Bytes Record(uint8_t tag, const Bytes &value)
{
	Bytes r = {tag, static_cast<uint8_t>(value.size())};
	for (uint8_t b : value)
		r.push_back(b);
	r.push_back(SignatureCrc8(r.data(), r.size()));
	return r;
}

Bytes Text(const std::string &s)
{
	return Bytes(s.begin(), s.end());
}

Bytes Image(std::initializer_list<Bytes> records, size_t size = kSignatureSize)
{
	Bytes image;
	for (const Bytes &r : records)
		image.insert(image.end(), r.begin(), r.end());
	image.resize(std::max(size, image.size()), 0xFF);
	image.resize(size);
	return image;
}

struct LogCapture {
	test::FakeDriverLog sink;
	LogCapture() { AttachDriverLog(&sink); }
	~LogCapture() { DetachDriverLog(); }
};

TEST(SignatureCrc8, MatchesTheFirmwaresCheckValues)
{
	EXPECT_EQ(Crc("123456789"), 0xFB);
	EXPECT_EQ(Crc("abc"), 0x74);
	const uint8_t thresh[] = {0x0B, 0x02, 0xDC, 0x05};
	EXPECT_EQ(SignatureCrc8(thresh, 4), 0xD0);
	const uint8_t trim[] = {0x0E, 0x02, 0x38, 0xFF};
	EXPECT_EQ(SignatureCrc8(trim, 4), 0x61);
}

TEST(ParseUserSignature, ReadsEachFieldFromItsRecord)
{
	struct Case {
		const char *name;
		Bytes image;
		uint16_t cal, thresh, hyst;
		int16_t trim;
		const char *tracking, *hmd;
	};
	const std::string s31(31, 'S'), s32(32, 'T');
	const Case cases[] = {
		{"empty image", Image({}), 0, 1500, 100, 0, "", ""},
		{"threshold example record", Image({{0x0B, 0x02, 0xDC, 0x05, 0xD0}}), 0, 1500, 100, 0, "", ""},
		{"trim example record", Image({{0x0E, 0x02, 0x38, 0xFF, 0x61}}), 0, 1500, 100, -200, "", ""},
		{"all fields",
		 Image({Record(6, {0xD2, 0x04}), Record(11, {0x20, 0x03}), Record(12, {0x32, 0x00}), Record(14, {0x9C, 0xFF}),
		        Record(9, Text("LHR-1A2B3C4D")), Record(8, Text("QK1-0042"))}),
		 1234, 800, 50, -100, "LHR-1A2B3C4D", "QK1-0042"},
		{"bad checksum skipped, later records applied",
		 Image({{0x0B, 0x02, 0x20, 0x03, 0x00}, Record(12, {0x32, 0x00})}), 0, 1500, 50, 0, "", ""},
		{"numeric tag of other length ignored", Image({Record(11, {0x20, 0x03, 0x00}), Record(6, {1, 0})}), 1, 1500, 100, 0, "", ""},
		{"unknown tag ignored", Image({Record(0x22, {1, 2, 3}), Record(6, {2, 0})}), 2, 1500, 100, 0, "", ""},
		{"duplicate tag takes the last valid record", Image({Record(11, {1, 0}), Record(11, {2, 0}), {11, 2, 3, 0, 0}}), 0, 2, 100, 0, "", ""},
		{"text of 31 bytes taken", Image({Record(9, Text(s31))}), 0, 1500, 100, 0, s31.c_str(), ""},
		{"text of 32 bytes ignored", Image({Record(8, Text(s32))}), 0, 1500, 100, 0, "", ""},
		{"zero-length text clears nothing but is valid", Image({Record(8, {})}), 0, 1500, 100, 0, "", ""},
		{"end tag stops the walk", Image({Record(6, {5, 0}), {0xFF}, Record(11, {1, 0})}), 5, 1500, 100, 0, "", ""},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		LogCapture log;
		const UserSignature sig = ParseUserSignature(c.image.data(), c.image.size());
		EXPECT_EQ(sig.programmed_cal, c.cal);
		EXPECT_EQ(sig.proximity_threshold, c.thresh);
		EXPECT_EQ(sig.proximity_hysteresis, c.hyst);
		EXPECT_EQ(sig.user_trim, c.trim);
		EXPECT_STREQ(sig.tracking_serial, c.tracking);
		EXPECT_STREQ(sig.hmd_serial, c.hmd);
	}
}

TEST(ParseUserSignature, LogsAMismatchWithTheStoredAndComputedBytes)
{
	LogCapture log;
	const Bytes image = Image({{0x0B, 0x02, 0xDC, 0x05, 0x11}});
	ParseUserSignature(image.data(), image.size());
	EXPECT_EQ(log.sink.Lines(), std::vector<std::string>{"HID: Sig tag 0x0B CRC mismatch (got 0x11, expected 0xD0)\n"});
}

TEST(ParseUserSignature, WalksThatRunPastTheImageEndEarlyKeepingWhatWasFound)
{
	struct Case {
		const char *name;
		Bytes image;
		uint16_t thresh;
	};
	// Records that end exactly at offset 508, then one whose checksum would
	// sit at offset 512.
	Bytes edge = Record(11, {7, 0});
	for (const Bytes &filler : {Record(0x30, Bytes(252, 0)), Record(0x31, Bytes(245, 0))})
		edge.insert(edge.end(), filler.begin(), filler.end());
	ASSERT_EQ(edge.size(), 508u);
	edge.insert(edge.end(), {12, 2, 0x10, 0x00});
	Bytes last_byte_tag = Record(11, {9, 0});
	last_byte_tag.push_back(0x0C);
	Bytes length_past_end = Record(11, {7, 0});
	length_past_end.insert(length_past_end.end(), {0x0C, 0x05});
	const Case cases[] = {
		{"value runs past the end", length_past_end, 7},
		{"checksum byte would sit at offset 512", edge, 7},
		{"tag in the last byte", last_byte_tag, 9},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		LogCapture log;
		const UserSignature sig = ParseUserSignature(c.image.data(), c.image.size());
		EXPECT_EQ(sig.proximity_threshold, c.thresh);
		EXPECT_EQ(sig.proximity_hysteresis, 100);
		EXPECT_TRUE(log.sink.Lines().empty());
	}
	EXPECT_EQ(ParseUserSignature(nullptr, 0).proximity_threshold, 1500);
}

TEST(SensorReports, CommandsCarryBigEndianValues)
{
	struct Case {
		uint16_t period;
		uint8_t high, low;
	};
	for (const Case &c : {Case{200, 0x00, 0xC8}, Case{5000, 0x13, 0x88}, Case{50, 0x00, 0x32}}) {
		uint8_t report[kFeatureReportSize];
		std::memset(report, 0xAA, sizeof(report));
		BuildRateCommand(c.period, report);
		EXPECT_EQ(report[0], 0x00);
		EXPECT_EQ(report[1], 'R');
		EXPECT_EQ(report[2], c.high);
		EXPECT_EQ(report[3], c.low);
		for (size_t i = 4; i < kFeatureReportSize; ++i)
			ASSERT_EQ(report[i], 0) << i;
	}
	uint8_t request[kFeatureReportSize];
	BuildSignatureBlockRequest(15, request);
	EXPECT_EQ(request[1], 'U');
	EXPECT_EQ(request[2], 15);
	EXPECT_EQ(request[3], 0);
}

TEST(SensorReports, SamplesNeedSixBytesAndTheSampleCode)
{
	struct Case {
		Bytes report;
		int length;
		std::optional<uint16_t> raw;
	};
	const Case cases[] = {
		{{'#', 0, 0, 0, 0x05, 0xDC}, 6, 1500},
		{{'#', 9, 9, 9, 0xFF, 0xFF, 1, 2}, 8, 65535},
		{{'#', 0, 0, 0, 0x05, 0xDC}, 5, std::nullopt},
		{{'$', 0, 0, 0, 0x05, 0xDC}, 6, std::nullopt},
		{{'#', 0, 0, 0, 0x05, 0xDC}, 0, std::nullopt},
		{{'#', 0, 0, 0, 0x05, 0xDC}, -1, std::nullopt},
	};
	for (const Case &c : cases)
		EXPECT_EQ(DecodeSample(c.report.data(), c.length), c.raw);
}

TEST(SensorReports, SignatureBlockCopyNeverExceedsTheSlotOrTheBytesReceived)
{
	struct Case {
		const char *name;
		uint8_t claimed;
		int received; // bytes the read returned, header included
		size_t copied;
	};
	const Case cases[] = {
		{"full block", 32, 34, 32},
		{"short payload", 10, 12, 10},
		{"length above 32", 200, 64, 32},
		{"length above what arrived", 32, 20, 18},
		{"header only", 32, 2, 0},
		{"zero length", 0, 34, 0},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		uint8_t reply[64];
		for (int i = 0; i < 64; ++i)
			reply[i] = static_cast<uint8_t>(i);
		reply[0] = 'U';
		reply[1] = c.claimed;
		uint8_t slot[kSignatureBlockSize + 8];
		std::memset(slot, 0xEE, sizeof(slot));
		EXPECT_EQ(CopySignatureBlock(reply, c.received, slot), c.copied);
		for (size_t i = 0; i < sizeof(slot); ++i)
			ASSERT_EQ(slot[i], i < c.copied ? reply[i + 2] : 0xEE) << "byte " << i;
	}
}

} // namespace
} // namespace zelvan
