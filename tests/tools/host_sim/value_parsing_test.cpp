// Tests of command-line and scenario value typing, which must not depend on the process locale.
#include "tools/host_sim/value_parsing.h"

#include <clocale>
#include <string>

#include <gtest/gtest.h>

namespace zelvan::host_sim {
namespace {

struct SettingValueCase {
  const char* text;
  nlohmann::json expected;
};

TEST(ParseSettingValueTest, TypesValuesAsTheUserMeansThem) {
  const SettingValueCase cases[] = {
      {"true", true},
      {"false", false},
      {"12", 12},
      {"-3", -3},
      {" 7 ", 7},
      {"1.5", 1.5},
      {"-0.25", -0.25},
      {"1e3", 1000.0},
      {"\"12\"", "12"},
      {"\"true\"", "true"},
      {"abc", "abc"},
      {"TRUE", "TRUE"},
      {"nan", "nan"},
      {"inf", "inf"},
      {"1.2.3", "1.2.3"},
      {"63,5", "63,5"},
      {"C:\\path with spaces", "C:\\path with spaces"},
  };
  for (const SettingValueCase& c : cases) {
    const nlohmann::json value = ParseSettingValue(c.text);
    EXPECT_EQ(value, c.expected) << c.text;
    EXPECT_EQ(value.type(), c.expected.type()) << c.text;  // 1000.0 must stay a float, 12 an integer
  }
}

TEST(ParseNumberTest, IgnoresADecimalCommaLocale) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252"}) {
    if (std::setlocale(LC_ALL, name)) {
      switched = true;
      break;
    }
  }
  if (!switched) GTEST_SKIP() << "no decimal-comma locale installed";
  const auto number = ParseNumber("0.0635");
  const nlohmann::json typed = ParseSettingValue("63.5");
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_TRUE(number);
  EXPECT_DOUBLE_EQ(*number, 0.0635);
  EXPECT_EQ(typed, 63.5);
}

TEST(FloatForJsonTest, GivesTheShortestDecimalOfTheFloat) {
  EXPECT_EQ(FloatForJson(0.063f), 0.063);
  EXPECT_EQ(FloatForJson(63.1f), 63.1);
  EXPECT_EQ(FloatForJson(-1.0f), -1.0);
}

}  // namespace
}  // namespace zelvan::host_sim
