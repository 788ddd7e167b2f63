// Whole runs of the simulator, in process, on the throwaway test driver.
#include "tools/host_sim/simulator.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tools/host_sim/driver_input.h"
#include "tools/host_sim/platform.h"
#include "tools/host_sim/property_store.h"
#include "tools/host_sim/settings_store.h"

namespace zelvan::host_sim {
namespace {

class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest() {
    options.driver_path = HOST_SIM_FAKE_DRIVER;
    options.rate_hz = 0;
    options.frames = 3;
    options.quiet = true;
  }

  ~SimulatorTest() override {
    for (const std::string& path : temp_files) std::remove(path.c_str());
  }

  std::string TempFile(const char* suffix, const std::string& content = {}) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string path =
        (std::filesystem::temp_directory_path() / (std::string("host_sim_") + info->name() + suffix)).string();
    if (!content.empty()) std::ofstream(path) << content;
    temp_files.push_back(path);
    return path;
  }

  int Run() {
    simulator = std::make_unique<Simulator>(options);
    const std::atomic<bool> no_stop{false};
    return simulator->Run(no_stop);
  }

  TraceJson CallsNamed(const std::string& name) {
    TraceJson found = TraceJson::array();
    const TraceJson trace = simulator->Trace();
    for (const TraceJson& call : trace["calls"]) {
      if (call["call"] == name) found.push_back(call);
    }
    return found;
  }

  SimulatorOptions options;
  std::unique_ptr<Simulator> simulator;
  std::vector<std::string> temp_files;
};

TEST_F(SimulatorTest, RunsInitFramesAndCleanupInOrder) {
  ASSERT_EQ(Run(), kExitOk);
  const TraceJson trace = simulator->Trace();
  EXPECT_EQ(trace["init_result"], 0);
  EXPECT_EQ(trace["frames"], 3);
  EXPECT_EQ(trace["factory"]["returned"], true);
  EXPECT_TRUE(trace["factory"]["return_code"].is_null());
  EXPECT_EQ(trace["interface_versions"][0], "IVRSettings_003");

  std::vector<std::string> main_thread_logs;
  bool other_thread_logged = false;
  int seq = 0;
  for (const TraceJson& call : trace["calls"]) {
    EXPECT_EQ(call["seq"], ++seq);
    if (call["call"] != "Log") continue;
    if (call["thread"] == "other") {
      other_thread_logged = true;
    } else {
      main_thread_logs.push_back(call["phase"].get<std::string>() + " " + std::to_string(call["frame"].get<int>()) +
                                 " " + call["text"].get<std::string>());
    }
  }
  EXPECT_TRUE(other_thread_logged);
  const std::vector<std::string> expected = {
      "init 0 Fake: Init\n",           "init 0 Fake: report_rate_ms=0 error=5\n",
      "frame 1 Fake: RunFrame 1\n",    "frame 2 Fake: RunFrame 2\n",
      "frame 3 Fake: RunFrame 3\n",    "cleanup 4 Fake: Cleanup\n"};
  EXPECT_EQ(main_thread_logs, expected);
  EXPECT_EQ(trace["log"].size(), expected.size() + 1);
}

TEST_F(SimulatorTest, HmdAppearsAtTheChosenFrame) {
  const struct {
    std::optional<std::uint64_t> hmd_frame;
    TraceJson first_write_frame;
  } cases[] = {{0, 1}, {1, 1}, {2, 2}, {std::nullopt, nullptr}, {9, nullptr}};
  for (const auto& c : cases) {
    options.hmd_frame = c.hmd_frame;
    ASSERT_EQ(Run(), kExitOk);
    const TraceJson writes = CallsNamed("WritePropertyBatch");
    EXPECT_EQ(writes.empty() ? TraceJson(nullptr) : writes[0]["frame"], c.first_write_frame);
    if (writes.empty()) continue;
    EXPECT_EQ(writes[0]["container"], kHmdContainer);
    const TraceJson entry = writes[0]["entries"][0];
    EXPECT_EQ(entry["prop"], vr::Prop_ContainsProximitySensor_Bool);
    EXPECT_EQ(entry["tag"], vr::k_unBoolPropertyTag);
    EXPECT_EQ(entry["value"], true);
    EXPECT_EQ(CallsNamed("CreateBooleanComponent")[0]["handle"], kFirstComponentHandle);
  }
}

TEST_F(SimulatorTest, WithheldInterfaceFailsInitWithoutCleanup) {
  options.withheld_interfaces = {"IVRDriverLog_001"};
  options.trace_path = TempFile(".json");
  EXPECT_EQ(Run(), kExitInitFailed);
  std::ifstream file(options.trace_path);
  const TraceJson trace = TraceJson::parse(file);
  EXPECT_EQ(trace["init_result"], vr::VRInitError_Init_InterfaceNotFound);
  EXPECT_EQ(trace["frames"], 0);
  EXPECT_EQ(trace["exit_status"], kExitInitFailed);
  for (const TraceJson& call : trace["calls"]) EXPECT_EQ(call["phase"], "init") << call.dump();
}

TEST_F(SimulatorTest, DriverThatCannotBeUsedExitsWithThree) {
  const std::string not_a_library = TempFile(".so", "not a library");
  for (const std::string& path : {not_a_library, not_a_library + ".missing"}) {
    options.driver_path = path;
    EXPECT_EQ(Run(), kExitNoDriver) << path;
  }
}

TEST_F(SimulatorTest, BadScenarioExitsWithTwoBeforeLoading) {
  options.scenario_path = TempFile(".scenario", "1 add_hmd\n2 fly\n");
  EXPECT_EQ(Run(), kExitUsage);
  EXPECT_TRUE(simulator->Trace()["factory"].is_null());
}

TEST_F(SimulatorTest, ScenarioEventsReachTheDriverAndSettingsPersist) {
  options.settings_path = TempFile(".vrsettings", R"({"jsonid": "vrsettings", "driver_fake": {"keep": 1}})");
  options.scenario_path = TempFile(".scenario",
                                   "# the driver stores ipd_mm when told of a new IPD\n"
                                   "0 setting driver_fake report_rate_ms 50\n"
                                   "2 ipd_event 0.0645\n"
                                   "4 end\n");
  options.frames = 10;
  ASSERT_EQ(Run(), kExitOk);
  EXPECT_EQ(simulator->Trace()["frames"], 4);
  const TraceJson polls = CallsNamed("PollNextEvent");
  bool ipd_seen = false;
  for (const TraceJson& poll : polls) {
    if (poll["result"] == true) {
      EXPECT_EQ(poll["frame"], 2);
      EXPECT_EQ(poll["event_type"], vr::VREvent_IpdChanged);
      ipd_seen = true;
    }
  }
  EXPECT_TRUE(ipd_seen);
  EXPECT_EQ(CallsNamed("GetInt32")[0]["value"], 50);

  std::string error;
  const auto written = ReadSettingsFile(options.settings_path, false, &error);
  ASSERT_TRUE(written) << error;
  EXPECT_EQ((*written)["driver_fake"]["ipd_mm"], 64.5);
  EXPECT_EQ((*written)["driver_fake"]["keep"], 1);
  EXPECT_EQ((*written)["jsonid"], "vrsettings");
}

// A driver, settings, log and trace in folders named as people name them:
// on Windows every one crosses into the system as UTF-16.
TEST_F(SimulatorTest, FilesInFoldersNamedInAnyScript) {
  namespace fs = std::filesystem;
  const auto utf8 = [](const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  };
  for (const std::string name : {"Jos\xC3\xA9", "\xE7\x8E\x8B\xE4\xBC\x9F", "\xF0\x9F\x8E\xAE"}) {
    const fs::path folder = fs::temp_directory_path() / FilePath("host_sim_" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path driver = folder / FilePath(name + fs::path(HOST_SIM_FAKE_DRIVER).extension().string());
    fs::copy_file(FilePath(HOST_SIM_FAKE_DRIVER), driver);
    std::ofstream(folder / "steamvr.vrsettings") << R"({"driver_fake": {"keep": 1}})";
    options.driver_path = utf8(driver);
    options.settings_path = utf8(folder / "steamvr.vrsettings");
    options.log_path = utf8(folder / FilePath(name + ".txt"));
    options.trace_path = utf8(folder / FilePath(name + ".json"));
    EXPECT_EQ(Run(), 0) << name;
    EXPECT_TRUE(fs::exists(folder / FilePath(name + ".txt"))) << name;
    EXPECT_TRUE(TraceJson::parse(std::ifstream(folder / FilePath(name + ".json")), nullptr, false).is_object()) << name;
    simulator.reset();
    fs::remove_all(folder);
  }
}

TEST_F(SimulatorTest, QuietPollsDropEmptyPollsAndRepeatedQueries) {
  options.frames = 20;
  options.trace_quiet_polls = true;
  ASSERT_EQ(Run(), kExitOk);
  EXPECT_TRUE(CallsNamed("PollNextEvent").empty());
  EXPECT_EQ(CallsNamed("TrackedDeviceToPropertyContainer").size(), 1u);
  EXPECT_GT(simulator->Trace()["dropped_calls"], 0);
}

}  // namespace
}  // namespace zelvan::host_sim
