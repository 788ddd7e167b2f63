// The detector's averaging and switching, as sequences of readings.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/driver_log.h"
#include "sensor/proximity_algorithm.h"
#include "tests/support/fake_runtime.h"

namespace zelvan {
namespace {

UserSignature Calibration(uint16_t thresh, uint16_t hyst, int16_t trim = 0, uint16_t cal = 0)
{
	UserSignature sig;
	sig.programmed_cal = cal;
	sig.proximity_threshold = thresh;
	sig.proximity_hysteresis = hyst;
	sig.user_trim = trim;
	return sig;
}

struct Step {
	uint16_t raw;
	uint32_t avg;
	bool detected;
};

struct Sequence {
	const char *name;
	int32_t window;
	UserSignature calibration;
	std::vector<Step> steps;
};

TEST(ProximityAlgorithm, AveragesOverTheWholeWindowAndSwitchesAtTheBandEdges)
{
	const UserSignature def = Calibration(1500, 100);
	const Sequence sequences[] = {
		{"N=1 follows the last reading", 1, def, {{1700, 1700, true}, {1450, 1450, true}, {1400, 1400, false}, {5, 5, false}}},
		{"N=8 climbs to 2000, on at the seventh reading", 8, def,
		 {{2000, 250, false}, {2000, 500, false}, {2000, 750, false}, {2000, 1000, false}, {2000, 1250, false},
		  {2000, 1500, false}, {2000, 1750, true}, {2000, 2000, true}}},
		{"average truncates", 2, def, {{1, 0, false}, {2, 1, false}}},
		{"equal to T+H turns on, to T-H turns off", 1, def,
		 {{1599, 1599, false}, {1600, 1600, true}, {1401, 1401, true}, {1400, 1400, false}}},
		{"between the edges the state holds", 1, def, {{1500, 1500, false}, {1700, 1700, true}, {1500, 1500, true}}},
		{"negative trim lowers the threshold", 1, Calibration(1500, 100, -200), {{1400, 1400, true}, {1200, 1200, false}}},
		{"T below H never turns off", 1, Calibration(50, 100), {{149, 149, false}, {150, 150, true}, {0, 0, true}}},
		{"trim below zero gives threshold 0", 1, Calibration(100, 10, -300), {{10, 10, true}, {0, 0, true}}},
	};
	for (const Sequence &seq : sequences) {
		SCOPED_TRACE(seq.name);
		test::FakeDriverLog sink;
		AttachDriverLog(&sink);
		ProximityAlgorithm detector(seq.window);
		detector.Reset(seq.calibration);
		for (size_t i = 0; i < seq.steps.size(); ++i) {
			const Step &step = seq.steps[i];
			detector.AddSample(step.raw);
			const ProximitySnapshot snap = detector.GetSnapshot();
			EXPECT_EQ(snap.averaged_prox, step.avg) << "reading " << i + 1;
			EXPECT_EQ(snap.person_detected, step.detected) << "reading " << i + 1;
			EXPECT_EQ(detector.IsPersonDetected(), step.detected);
			EXPECT_EQ(snap.samples, i + 1);
		}
		DetachDriverLog();
	}
}

TEST(ProximityAlgorithm, LogsResetAndEachChangeWithTheThresholdItself)
{
	test::FakeDriverLog sink;
	AttachDriverLog(&sink);
	ProximityAlgorithm detector(8);
	detector.Reset(Calibration(1500, 100, -200, 77));
	for (int i = 0; i < 8; ++i)
		detector.AddSample(2000);
	for (int i = 0; i < 8; ++i)
		detector.AddSample(0);
	DetachDriverLog();
	EXPECT_EQ(sink.Lines(), (std::vector<std::string>{
		"Proximity: Algorithm reset (cal=77, thresh=1500, hyst=100, trim=-200, eff_thresh=1300)\n",
		"Proximity: person_detected changed to true (avg=1500, thresh=1300)\n",
		"Proximity: person_detected changed to false (avg=1000, thresh=1300)\n",
	}));
}

TEST(ProximityAlgorithm, ResetClearsTheFlagSilentlyAndStartsFromAnEmptyRing)
{
	test::FakeDriverLog sink;
	AttachDriverLog(&sink);
	ProximityAlgorithm detector(4);
	detector.Reset(Calibration(1500, 100));
	for (int i = 0; i < 4; ++i)
		detector.AddSample(3000);
	ASSERT_TRUE(detector.IsPersonDetected());
	detector.Reset(Calibration(1500, 100));
	EXPECT_FALSE(detector.IsPersonDetected());
	const ProximitySnapshot snap = detector.GetSnapshot();
	EXPECT_EQ(snap.samples, 0u);
	EXPECT_EQ(snap.averaged_prox, 0u);
	detector.AddSample(3000);
	EXPECT_EQ(detector.GetSnapshot().averaged_prox, 750u);
	DetachDriverLog();
	const auto lines = sink.Lines();
	EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.find("changed to false") != std::string::npos; }), 0);
}

TEST(ProximityAlgorithm, EffectiveThresholdSaturatesAtBothEnds)
{
	struct Case {
		uint16_t thresh;
		int16_t trim;
		int32_t offset;
		uint16_t eff;
	};
	const Case cases[] = {{1500, -200, 0, 1300}, {100, -200, 0, 0}, {65535, 1, 0, 65535}, {40000, 32767, 0, 65535},
	                      {65000, 535, 0, 65535}, {65000, 534, 0, 65534}, {0, 0, 0, 0},
	                      {1500, -200, -300, 1000}, {1500, 0, -65535, 0}, {1500, 0, 65535, 65535},
	                      {65535, 32767, INT32_MAX, 65535}, {0, -32768, INT32_MIN, 0}, {0, 0, 65535, 65535}};
	for (const Case &c : cases)
		EXPECT_EQ(ProximityAlgorithm::EffectiveThreshold(Calibration(c.thresh, 100, c.trim), c.offset), c.eff)
			<< c.thresh << " + " << c.trim << " + " << c.offset;
}

// A live change: the next reset takes the new window and offset, and only an
// offset in use shows in the reset line.
TEST(ProximityAlgorithm, AResetWithNewSettingsTakesTheWindowAndTheOffset)
{
	struct Case {
		int32_t window, offset;
		int readings_to_switch; // at a steady 1300 after the reset
		const char *reset_line;
	};
	const Case cases[] = {
		{8, 0, -1, "Proximity: Algorithm reset (cal=5, thresh=1500, hyst=100, trim=0, eff_thresh=1500)\n"},
		{2, -300, 2, "Proximity: Algorithm reset (cal=5, thresh=1500, hyst=100, trim=0, offset=-300, eff_thresh=1200)\n"},
		{64, -300, 64, "Proximity: Algorithm reset (cal=5, thresh=1500, hyst=100, trim=0, offset=-300, eff_thresh=1200)\n"},
		{0, -1400, 1, "Proximity: Algorithm reset (cal=5, thresh=1500, hyst=100, trim=0, offset=-1400, eff_thresh=100)\n"},
	};
	for (const Case &c : cases) {
		test::FakeDriverLog sink;
		AttachDriverLog(&sink);
		ProximityAlgorithm detector(16);
		UserSignature calibration = Calibration(1500, 100);
		calibration.programmed_cal = 5;
		detector.Reset(calibration, c.window, c.offset);
		int switched_at = -1;
		for (int n = 1; n <= 64 && switched_at < 0; ++n) {
			detector.AddSample(1300);
			if (detector.IsPersonDetected())
				switched_at = n;
		}
		DetachDriverLog();
		EXPECT_EQ(switched_at, c.readings_to_switch) << c.window << " " << c.offset;
		ASSERT_FALSE(sink.Lines().empty());
		EXPECT_EQ(sink.Lines().front(), c.reset_line);
	}
}

TEST(ProximityAlgorithm, StartsAllZeroBeforeTheFirstReset)
{
	ProximityAlgorithm detector(8);
	const ProximitySnapshot snap = detector.GetSnapshot();
	EXPECT_EQ(snap.averaged_prox, 0u);
	EXPECT_FALSE(snap.person_detected);
	EXPECT_EQ(snap.eff_thresh, 0);
	EXPECT_EQ(snap.samples, 0u);
}

} // namespace
} // namespace zelvan
