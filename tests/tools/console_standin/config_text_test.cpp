// The stored configuration's default text and the damage the fault modes do
// to it: the driver must meet exactly the text it would get from a headset.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tools/console_standin/config_text.h"

namespace zelvan::console_standin {
namespace {

// Cases are named after their `name` field.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case> &param_info)
{
	return param_info.param.name;
}

struct TextCase {
	const char *name;
	std::string in;
	std::string out;
	friend void PrintTo(const TextCase &c, std::ostream *os) { *os << c.name; }
};

class WithoutDefaultMmTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(WithoutDefaultMmTest, RemovesTheMemberAndKeepsTheRest)
{
	EXPECT_EQ(WithoutDefaultMm(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WithoutDefaultMmTest, ::testing::Values(
	TextCase{"FirstOnItsLine", "{\n   \"ipd\" : {\n      \"default_mm\" : 63.5,\n      \"max_mm\" : 72.0\n   }\n}\n",
	         "{\n   \"ipd\" : {\n      \"max_mm\" : 72.0\n   }\n}\n"},
	TextCase{"LastTakesThePrecedingComma", "{\n   \"max_mm\" : 72.0,\n   \"default_mm\" : 63.5\n}\n",
	         "{\n   \"max_mm\" : 72.0\n}\n"},
	TextCase{"OnlyMember", "{\n   \"default_mm\" : 63.5\n}", "{\n}"},
	TextCase{"InlineMiddle", "{ \"a\" : 1, \"default_mm\" : 63.5, \"b\" : 2 }", "{ \"a\" : 1, \"b\" : 2 }"},
	TextCase{"CrLf", "{\r\n   \"default_mm\" : 63.5,\r\n   \"b\" : 2\r\n}\r\n", "{\r\n   \"b\" : 2\r\n}\r\n"},
	TextCase{"StringValueWithComma", "{ \"default_mm\" : \"6,3}\", \"b\" : 2 }", "{ \"b\" : 2 }"},
	TextCase{"ValueNotKeyStays", "[ \"default_mm\", 1 ]", "[ \"default_mm\", 1 ]"},
	TextCase{"EveryOccurrence", "{ \"a\" : { \"default_mm\" : 1 }, \"b\" : { \"default_mm\" : 2, \"c\" : 3 } }",
	         "{ \"a\" : {  }, \"b\" : { \"c\" : 3 } }"}),
	CaseName<TextCase>);

class WithQuotedDefaultMmTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(WithQuotedDefaultMmTest, QuotesANumberOnly)
{
	EXPECT_EQ(WithQuotedDefaultMm(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Values, WithQuotedDefaultMmTest, ::testing::Values(
	TextCase{"Spaced", "{ \"default_mm\" : 63.5, \"x\" : 1 }", "{ \"default_mm\" : \"63.5\", \"x\" : 1 }"},
	TextCase{"Tight", "{\"default_mm\":64}", "{\"default_mm\":\"64\"}"},
	TextCase{"Exponent", "{ \"default_mm\" : 6.35e1 }", "{ \"default_mm\" : \"6.35e1\" }"},
	TextCase{"AlreadyAString", "{ \"default_mm\" : \"63.5\" }", "{ \"default_mm\" : \"63.5\" }"},
	TextCase{"TwoMembers", "[{\"default_mm\":1},{\"default_mm\":2}]", "[{\"default_mm\":\"1\"},{\"default_mm\":\"2\"}]"}),
	CaseName<TextCase>);

class DefaultConfigTest : public ::testing::TestWithParam<const char *> {};

// The driver edits the first "default_mm" and reads eye_to_head; the rest
// must look like what a headset holds.
TEST_P(DefaultConfigTest, IsTheHeadsetsConfigWithTheGivenIpd)
{
	const std::string mm = GetParam();
	const std::string text = DefaultConfigText("LHR-0FA1C2D3", mm);
	const nlohmann::json config = nlohmann::json::parse(text);
	EXPECT_EQ(config["device_serial_number"], "LHR-0FA1C2D3");
	EXPECT_DOUBLE_EQ(config["ipd"]["default_mm"].get<double>(), std::stod(mm));
	EXPECT_NE(text.find("      \"default_mm\" : " + mm + ",\n"), std::string::npos);
	EXPECT_EQ(text.find("\"default_mm\""), text.rfind("\"default_mm\""));
	const auto &eyes = config["tracking_to_eye_transform"];
	ASSERT_EQ(eyes.size(), 2u);
	EXPECT_GT(eyes[0]["eye_to_head"][0][2].get<double>(), 0.0) << "the first eye is the left one";
	EXPECT_NEAR(eyes[0]["eye_to_head"][0][3].get<double>(), -std::stod(mm) / 2000, 1e-7);
	EXPECT_NEAR(eyes[1]["eye_to_head"][0][3].get<double>(), std::stod(mm) / 2000, 1e-7);
	EXPECT_EQ(text.find('\t'), std::string::npos);
	EXPECT_EQ(text.find('\r'), std::string::npos);
	EXPECT_EQ(text.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(Ipds, DefaultConfigTest, ::testing::Values("63.5", "64", "6.35e1", "58.0"));

} // namespace
} // namespace zelvan::console_standin
