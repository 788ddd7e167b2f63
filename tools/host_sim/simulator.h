// The simulated SteamVR server: loads a driver, runs Init, RunFrame at a rate and Cleanup, and records what it did.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"
#include "tools/host_sim/property_values.h"

namespace zelvan::host_sim {

// Exit statuses of a run.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;        // bad options, settings or scenario file
inline constexpr int kExitNoDriver = 3;     // library not loaded, no factory, or the factory said no
inline constexpr int kExitInitFailed = 4;   // Init returned non-zero

struct SettingOverride {
  std::string section;
  std::string key;
  nlohmann::json value;
};

struct SimulatorOptions {
  std::string driver_path;
  double rate_hz = 90.0;  // 0: as fast as possible
  std::optional<std::uint64_t> frames;
  std::optional<double> seconds;
  std::string stop_file;  // the run ends once this file exists
  std::optional<std::uint64_t> hmd_frame = 1;  // nullopt: never added
  std::vector<PropertyValue> hmd_properties;
  std::vector<std::pair<vr::ETrackedDeviceProperty, vr::ETrackedPropertyError>> failing_properties;
  std::vector<std::pair<std::string, vr::EVRInputError>> refused_components;
  std::vector<std::string> withheld_interfaces;
  bool lax_host = false;  // fill only what a minimal host fills, see --lax-host
  std::string settings_path;
  std::vector<std::string> defaults_paths;
  std::vector<SettingOverride> setting_overrides;
  std::string scenario_path;
  double command_wait_seconds = 10.0;
  std::string trace_path;
  bool trace_quiet_polls = false;
  std::string frame_times_path;
  std::string log_path;
  bool quiet = false;
  std::string locale;
  std::string sim_sensor;  // configuration file of the simulated sensor
  std::vector<std::pair<std::string, std::string>> environment;
};

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The whole run; returns the exit status. Setting *stop_requested (from a
  // signal handler) ends the run after the current frame, with Cleanup.
  int Run(const std::atomic<bool>& stop_requested);

  // What --trace writes, also available without a file (tests).
  TraceJson Trace() const;

 private:
  struct Host;

  // The steps of Run, in order; failures are described in *error.
  bool PrepareRuntime(std::string* error);
  bool LoadDriver(std::string* error);
  int InitDriver();
  void RunFrames(const std::atomic<bool>& stop_requested);
  void CleanupDriver();
  bool WriteOutputs();

  // What happens before RunFrame number frame (0: before Init).
  void ApplyStepsOf(std::uint64_t frame);
  void AddHmd(std::uint64_t frame);

  SimulatorOptions options_;
  std::unique_ptr<Host> host_;
};

}  // namespace zelvan::host_sim
