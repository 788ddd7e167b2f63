// The calibration file's text parse: matrix rows, the two eyes, their order
// and what a failed load leaves behind.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/driver_log.h"
#include "driver/device_provider.h"
#include "ipd/lighthouse_config.h"
#include "tests/support/calibration_file.h"
#include "tests/support/fake_runtime.h"
#include "tests/support/sim_run.h"

namespace zelvan {
namespace {

TEST(ParseMatrixRows, ReadsThreeNumbersPerRowWhateverTheLayout)
{
	struct Case {
		const char *name;
		std::string text;
		bool ok;
		float m00, m02, m22;
	};
	const Case cases[] = {
		{"one line", "[[1, 0, 0.5, 9], [0, 1, 0, 0], [0, 0, 2, 0]]", true, 1, 0.5f, 2},
		{"rows over several lines with tabs and CR", "[\r\n\t[ 1,\r\n\t0 ,\t0.5 ],\r\n\t[0,1,0],\n[0,\n0,\n2]\r\n]", true, 1, 0.5f, 2},
		{"trailing commas", "[ [1, 0, 0.5,], [0, 1, 0,], [0, 0, 2,], ]", true, 1, 0.5f, 2},
		{"exponents either case and signs", "[[1E0, -0, 5e-1], [0, 1, 0], [0, 0, +2.0e+0]]", true, 1, 0.5f, 2},
		{"17 significant digits", "[[0.99619469809174555, 0, 0.087155742747658166], [0,1,0], [-0.087155742747658166, 0, 0.99619469809174555]]", true, 0.99619469809174555f, 0.087155742747658166f, 0.99619469809174555f},
		{"row with two numbers", "[[1, 0], [0, 1, 0], [0, 0, 1]]", false, 0, 0, 0},
		{"only two rows", "[[1, 0, 0], [0, 1, 0]]", false, 0, 0, 0},
		{"no bracket", "1, 0, 0", false, 0, 0, 0},
		{"words instead of numbers", "[[a, b, c], [0, 1, 0], [0, 0, 1]]", false, 0, 0, 0},
		{"nan", "[[nan, 0, 0], [0, 1, 0], [0, 0, 1]]", false, 0, 0, 0},
		{"infinity", "[[1, 0, 0], [0, 1, 0], [0, 0, -inf]]", false, 0, 0, 0},
		{"beyond a float", "[[1, 0, 1e39], [0, 1, 0], [0, 0, 1]]", false, 0, 0, 0},
		{"beyond a double", "[[1, 0, 0], [0, 1e309, 0], [0, 0, 1]]", false, 0, 0, 0},
		{"400 digits", "[[1, 0, 0], [0, 1, 0], [0, 0, " + std::string(400, '7') + "]]", false, 0, 0, 0},
		{"below a float's least", "[[1, 0, 1e-50], [0, 1, 0], [0, 0, 1]]", false, 0, 0, 0},
		{"start past the end", "", false, 0, 0, 0},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		float out[9] = {};
		EXPECT_EQ(ParseMatrixRows(c.text, 0, out), c.ok);
		if (c.ok) {
			EXPECT_FLOAT_EQ(out[0], c.m00);
			EXPECT_FLOAT_EQ(out[2], c.m02);
			EXPECT_FLOAT_EQ(out[8], c.m22);
		}
	}
}

TEST(ParseEyeToHeadText, NeedsTheAnchorAndTwoMatricesAfterIt)
{
	const std::string good = "tracking_to_eye_transform eye_to_head [[1,0,0],[0,1,0],[0,0,1]] eye_to_head [[0,0,-1],[0,1,0],[1,0,0]]";
	struct Case {
		const char *name;
		std::string text;
		const char *failure;
	};
	const Case cases[] = {
		{"both", good, nullptr},
		{"no anchor", "eye_to_head [[1,0,0],[0,1,0],[0,0,1]] eye_to_head [[1,0,0],[0,1,0],[0,0,1]]", "IPD: No tracking_to_eye_transform in config file\n"},
		{"matrices before the anchor do not count", "eye_to_head [[1,0,0],[0,1,0],[0,0,1]] tracking_to_eye_transform eye_to_head [[1,0,0],[0,1,0],[0,0,1]]", "IPD: No eye_to_head[1] in config file\n"},
		{"no first", "tracking_to_eye_transform", "IPD: No eye_to_head[0] in config file\n"},
		{"bad first", "tracking_to_eye_transform eye_to_head [[1,0],[0,1,0],[0,0,1]]", "IPD: Failed to parse eye_to_head[0] matrix\n"},
		{"bad second", "tracking_to_eye_transform eye_to_head [[1,0,0],[0,1,0],[0,0,1]] eye_to_head [[x]]", "IPD: Failed to parse eye_to_head[1] matrix\n"},
		{"shorter than the anchor", "tracking", "IPD: No tracking_to_eye_transform in config file\n"},
		// Numbers that parse but are no rotation.
		{"scaled first", "tracking_to_eye_transform eye_to_head [[2,0,0],[0,2,0],[0,0,2]] eye_to_head [[1,0,0],[0,1,0],[0,0,1]]", "IPD: Failed to parse eye_to_head[0] matrix\n"},
		{"all zero first", "tracking_to_eye_transform eye_to_head [[0,0,0],[0,0,0],[0,0,0]] eye_to_head [[1,0,0],[0,1,0],[0,0,1]]", "IPD: Failed to parse eye_to_head[0] matrix\n"},
		{"sheared second", "tracking_to_eye_transform eye_to_head [[1,0,0],[0,1,0],[0,0,1]] eye_to_head [[1,0.1,0],[0,1,0],[0,0,1]]", "IPD: Failed to parse eye_to_head[1] matrix\n"},
		{"stretched first, determinant 1", "tracking_to_eye_transform eye_to_head [[2,0,0],[0,0.5,0],[0,0,1]] eye_to_head [[1,0,0],[0,1,0],[0,0,1]]", "IPD: Failed to parse eye_to_head[0] matrix\n"},
		{"mirrored second", "tracking_to_eye_transform eye_to_head [[1,0,0],[0,1,0],[0,0,1]] eye_to_head [[-1,0,0],[0,1,0],[0,0,1]]", "IPD: Failed to parse eye_to_head[1] matrix\n"},
		{"rounded to four places", "tracking_to_eye_transform eye_to_head [[0.9962,0,0.0872],[0,1,0],[-0.0872,0,0.9962]] eye_to_head [[1,0,0],[0,1,0],[0,0,1]]", nullptr},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		const EyeToHeadText parsed = ParseEyeToHeadText(c.text);
		EXPECT_EQ(parsed.ok, c.failure == nullptr);
		if (c.failure != nullptr)
			EXPECT_STREQ(parsed.failure, c.failure);
	}
	const EyeToHeadText parsed = ParseEyeToHeadText(good);
	EXPECT_EQ(parsed.first[0], 1.0f);
	EXPECT_EQ(parsed.second[2], -1.0f);
}

class CalibrationFile : public ::testing::Test {
protected:
	void SetUp() override { AttachDriverLog(&log); }
	void TearDown() override { DetachDriverLog(); }

	bool Parse(const std::string &text)
	{
		scratch.Write("config.json", text);
		return provider.ipd.ParseLighthouseConfig(scratch.File("config.json"));
	}

	test::FakeDriverLog log;
	test::ScratchDir scratch;
	DeviceProvider provider;
};

TEST_F(CalibrationFile, FiveDegreeEyesAreCachedLeftFirstWhicheverOrderTheFileHas)
{
	const test::Matrix34 left = test::YawTransform(5.0, -0.03);
	const test::Matrix34 right = test::YawTransform(-5.0, 0.03);
	struct Case {
		const char *name;
		std::string text;
		bool warned;
	};
	const Case cases[] = {
		{"left first", test::CalibrationJson(left, right), false},
		{"right first", test::CalibrationJson(right, left, {.tabs = true, .crlf = true, .upper_exponent = true}), true},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		DeviceProvider p;
		scratch.Write("config.json", c.text);
		ASSERT_TRUE(p.ipd.ParseLighthouseConfig(scratch.File("config.json")));
		EXPECT_TRUE(p.ipd.lh_config_loaded);
		EXPECT_NEAR(p.ipd.eye_rotations.left[2], std::sin(5.0 * 3.14159265358979 / 180), 1e-6);
		EXPECT_NEAR(p.ipd.eye_rotations.right[2], -std::sin(5.0 * 3.14159265358979 / 180), 1e-6);
		const auto lines = log.Lines();
		EXPECT_EQ(lines.back(), // atan2 of a negated exact zero is -0, which prints with its sign.
		          "IPD: Cached rotations L pitch=-0.00 yaw=5.00 roll=-0.00  R pitch=-0.00 yaw=-5.00 roll=-0.00\n");
		const bool warned = std::find(lines.begin(), lines.end(), "IPD: WARNING eye order swapped in config, correcting\n") != lines.end();
		EXPECT_EQ(warned, c.warned);
		EXPECT_EQ(lines[lines.size() - 2 - (warned ? 1 : 0)].rfind("IPD: Read config file (", 0), 0u);
	}
}

TEST_F(CalibrationFile, AFirstMatrixWithZeroYawCountsAsSwapped)
{
	ASSERT_TRUE(Parse(test::CalibrationJson(test::YawTransform(0, -0.03), test::YawTransform(3, 0.03))));
	EXPECT_NEAR(provider.ipd.eye_rotations.left[2], std::sin(3.0 * 3.14159265358979 / 180), 1e-6);
	const auto lines = log.Lines();
	EXPECT_NE(std::find(lines.begin(), lines.end(), "IPD: WARNING eye order swapped in config, correcting\n"), lines.end());
}

TEST_F(CalibrationFile, AFailedReloadKeepsTheEarlierRotations)
{
	ASSERT_TRUE(Parse(test::CalibrationJson(test::YawTransform(5, -0.03), test::YawTransform(-5, 0.03))));
	const EyeRotations before = provider.ipd.eye_rotations;
	EXPECT_FALSE(Parse("{ \"tracking_to_eye_transform\" : [ { \"eye_to_head\" : [ [ 1, 0 ] ] } ] }"));
	EXPECT_FALSE(provider.ipd.ParseLighthouseConfig(scratch.File("missing.json")));
	EXPECT_TRUE(provider.ipd.lh_config_loaded);
	EXPECT_EQ(std::memcmp(&before, &provider.ipd.eye_rotations, sizeof(before)), 0);
	EXPECT_EQ(log.Lines().back(), "IPD: Failed to open config file: " + scratch.File("missing.json") + "\n");
}

} // namespace
} // namespace zelvan
