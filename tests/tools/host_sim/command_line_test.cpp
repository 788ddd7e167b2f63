// Tests of the simulator's command line.
#include "tools/host_sim/command_line.h"

#include <gtest/gtest.h>

namespace zelvan::host_sim {
namespace {

TEST(CommandLineTest, ReadsValuesInBothForms) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--frames", "3", "--rate=0", "--setting", "driver_x.ipd_mm=63.5", "--hmd-frame=0",
                                "--prop-error", "Prop_ContainsProximitySensor_Bool=TrackedProp_PermissionDenied",
                                "--refuse-component", "/proximity=3", "--env", "A=b=c", "drv.so"},
                               &line, &error))
      << error;
  const SimulatorOptions& o = line.options;
  EXPECT_EQ(o.driver_path, "drv.so");
  EXPECT_EQ(o.frames, 3u);
  EXPECT_EQ(o.rate_hz, 0.0);
  EXPECT_EQ(o.hmd_frame, 0u);
  ASSERT_EQ(o.setting_overrides.size(), 1u);
  EXPECT_EQ(o.setting_overrides[0].section, "driver_x");
  EXPECT_EQ(o.setting_overrides[0].key, "ipd_mm");
  EXPECT_EQ(o.setting_overrides[0].value, 63.5);
  ASSERT_EQ(o.failing_properties.size(), 1u);
  EXPECT_EQ(o.failing_properties[0].second, vr::TrackedProp_PermissionDenied);
  ASSERT_EQ(o.refused_components.size(), 1u);
  EXPECT_EQ(o.refused_components[0].second, vr::VRInputError_InvalidHandle);
  ASSERT_EQ(o.environment.size(), 1u);
  EXPECT_EQ(o.environment[0].second, "b=c");
}

TEST(CommandLineTest, NoHmdAndHelpNeedNoDriver) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--no-hmd", "x.so"}, &line, &error));
  EXPECT_FALSE(line.options.hmd_frame);
  ASSERT_TRUE(ParseCommandLine({"--help"}, &line, &error));
  EXPECT_TRUE(line.help);
}

TEST(CommandLineTest, RejectsWhatItCannotUse) {
  const struct {
    std::vector<std::string> args;
    const char* mentions;
  } cases[] = {
      {{}, "no driver library"},
      {{"a.so", "b.so"}, "one driver library"},
      {{"--fly", "a.so"}, "unknown option --fly"},
      {{"a.so", "--frames"}, "--frames needs a value"},
      {{"--frames", "-1", "a.so"}, "--frames"},
      {{"--frames", "2.5", "a.so"}, "--frames"},
      {{"--seconds", "0", "a.so"}, "--seconds"},
      {{"--quiet=yes", "a.so"}, "takes no value"},
      {{"--setting", "nodot=1", "a.so"}, "SECTION.KEY=VALUE"},
      {{"--setting", "sec.=1", "a.so"}, "SECTION.KEY=VALUE"},
      {{"--hmd-prop", "Prop_UserIpdMeters_Float=wide", "a.so"}, "bad value"},
      {{"--prop-error", "Prop_UserIpdMeters_Float=Bogus", "a.so"}, "Bogus"},
      {{"--refuse-component", "/proximity", "a.so"}, "PATH=ERROR"},
  };
  for (const auto& c : cases) {
    CommandLine line;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(c.args, &line, &error)) << c.mentions;
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace zelvan::host_sim
