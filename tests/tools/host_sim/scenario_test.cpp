// Tests of scenario parsing: each verb's arguments, frame order, and errors located by line.
#include "tools/host_sim/scenario.h"

#include <string>

#include <gtest/gtest.h>

namespace zelvan::host_sim {
namespace {

Scenario MustParse(std::string_view text) {
  std::string error;
  auto scenario = ParseScenario(text, "s.txt", &error);
  EXPECT_TRUE(scenario) << error;
  return scenario.value_or(Scenario{});
}

TEST(ScenarioTest, ParsesEveryVerb) {
  const Scenario steps = MustParse(
      "0 add_hmd\n"
      "1 prop Prop_ModelNumber_String Zelvan Two\n"
      "2 ipd_event 0.0655\n"
      "3 event 700\n"
      "3 event VREvent_PropertyChanged\n"
      "4 setting driver_ZelvanProximity ipd_mm 63.5\n"
      "4 setting driver_ZelvanProximity name \"63\"\n"
      "5 remove_setting driver_ZelvanProximity ipd_mm\n"
      "6 run echo  two  spaces # kept\n"
      "7 end\n");
  ASSERT_EQ(steps.size(), 10u);

  EXPECT_TRUE(std::holds_alternative<action::AddHmd>(steps[0].action));
  const auto& prop = std::get<action::SetProperty>(steps[1].action).value;
  EXPECT_EQ(prop.prop, vr::Prop_ModelNumber_String);
  EXPECT_EQ(std::string(prop.bytes.begin(), prop.bytes.end()), std::string("Zelvan Two\0", 11));
  EXPECT_FLOAT_EQ(std::get<action::IpdEvent>(steps[2].action).meters, 0.0655f);
  EXPECT_EQ(std::get<action::Event>(steps[3].action).type, 700);
  EXPECT_EQ(std::get<action::Event>(steps[4].action).type, vr::VREvent_PropertyChanged);
  const auto& setting = std::get<action::Setting>(steps[5].action);
  EXPECT_EQ(setting.section, "driver_ZelvanProximity");
  EXPECT_EQ(setting.key, "ipd_mm");
  EXPECT_TRUE(setting.value.is_number_float());
  EXPECT_EQ(std::get<action::Setting>(steps[6].action).value, "63");
  EXPECT_EQ(std::get<action::RemoveSetting>(steps[7].action).key, "ipd_mm");
  EXPECT_EQ(std::get<action::Run>(steps[8].action).command, "echo  two  spaces # kept");
  EXPECT_TRUE(std::holds_alternative<action::End>(steps[9].action));
  EXPECT_EQ(steps[9].frame, 7u);
  EXPECT_EQ(steps[9].line, 10);
}

TEST(ScenarioTest, OrdersByFrameKeepingFileOrderWithinAFrame) {
  const Scenario steps = MustParse(
      "# a comment\n"
      "\n"
      "  20 end\n"
      "5 ipd_event 0.060\r\n"
      "5 ipd_event 0.061\n"
      "   # an indented comment\n"
      "1 add_hmd");
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0].frame, 1u);
  EXPECT_EQ(steps[0].line, 7);
  EXPECT_FLOAT_EQ(std::get<action::IpdEvent>(steps[1].action).meters, 0.060f);
  EXPECT_FLOAT_EQ(std::get<action::IpdEvent>(steps[2].action).meters, 0.061f);
  EXPECT_EQ(steps[3].frame, 20u);
  EXPECT_EQ(steps[3].text, "end");
}

TEST(ScenarioTest, ErrorsNameFileAndLine) {
  const struct {
    const char* line;
    const char* mentions;
  } cases[] = {
      {"x add_hmd", "frame number"},
      {"-1 end", "frame number"},
      {"5", "action must follow"},
      {"5 fly", "unknown action 'fly'"},
      {"5 end now", "end takes no arguments"},
      {"5 add_hmd 1", "add_hmd takes no arguments"},
      {"5 ipd_event", "ipd_event"},
      {"5 ipd_event 63mm", "ipd_event"},
      {"5 event VREvent_Nope", "VREvent_Nope"},
      {"5 prop", "prop needs"},
      {"5 prop Prop_UserIpdMeters_Float", "bad value"},
      {"5 prop Prop_Nope_Float 1", "unknown property"},
      {"5 setting sec key", "section, a key and a value"},
      {"5 remove_setting sec", "section and a key"},
      {"5 remove_setting sec key extra", "section and a key"},
      {"5 run", "needs a command"},
  };
  for (const auto& c : cases) {
    const std::string text = "# header\n1 add_hmd\n" + std::string(c.line) + "\n9 end\n";
    std::string error;
    EXPECT_FALSE(ParseScenario(text, "s.txt", &error)) << c.line;
    EXPECT_EQ(error.rfind("s.txt:3: ", 0), 0u) << c.line << " -> " << error;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << c.line << " -> " << error;
  }
}

}  // namespace
}  // namespace zelvan::host_sim
