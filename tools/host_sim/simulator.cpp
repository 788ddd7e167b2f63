// The simulated SteamVR server's run: prepare the runtime, load the driver, Init, frames, Cleanup, write the results.
#include "tools/host_sim/simulator.h"

#include <chrono>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/host_sim/command_runner.h"
#include "tools/host_sim/driver_context.h"
#include "tools/host_sim/driver_input.h"
#include "tools/host_sim/driver_log.h"
#include "tools/host_sim/driver_manager.h"
#include "tools/host_sim/frame_timing.h"
#include "tools/host_sim/library_loader.h"
#include "tools/host_sim/platform.h"
#include "tools/host_sim/property_store.h"
#include "tools/host_sim/resources.h"
#include "tools/host_sim/run_state.h"
#include "tools/host_sim/scenario.h"
#include "tools/host_sim/server_driver_host.h"
#include "tools/host_sim/settings_store.h"

#ifndef ZELVAN_VERSION
#define ZELVAN_VERSION "dev"
#endif

namespace zelvan::host_sim {
namespace {

using HmdDriverFactoryFn = void* (*)(const char* interface_name, int* return_code);

// The factory is said not to write the code on success; this tells whether it did.
constexpr int kUnwrittenReturnCode = -0x5a5a5a5a;
// A driver whose version list has no terminator is cut here.
constexpr int kMaxInterfaceVersions = 64;

template <typename... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

void PrintError(const std::string& message) { std::fprintf(stderr, "zelvan-host-sim: %s\n", message.c_str()); }

}  // namespace

// The runtime objects, in the order they are built; the library is last so it
// is unloaded before anything the driver could still point at goes away.
struct Simulator::Host {
  explicit Host(const SimulatorOptions& options)
      : trace(run, options.trace_quiet_polls),
        settings(trace),
        properties(trace),
        server_host(trace, run, properties),
        log(trace, run, !options.quiet),
        input(trace, properties),
        manager(trace),
        resources(trace),
        context(trace) {
    context.Offer(vr::IVRSettings_Version, static_cast<vr::IVRSettings*>(&settings));
    context.Offer(vr::IVRProperties_Version, static_cast<vr::IVRProperties*>(&properties));
    context.Offer(vr::IVRServerDriverHost_Version, static_cast<vr::IVRServerDriverHost*>(&server_host));
    context.Offer(vr::IVRDriverLog_Version, static_cast<vr::IVRDriverLog*>(&log));
    context.Offer(vr::IVRDriverManager_Version, static_cast<vr::IVRDriverManager*>(&manager));
    context.Offer(vr::IVRResources_Version, static_cast<vr::IVRResources*>(&resources));
    context.Offer(vr::IVRDriverInput_Version, static_cast<vr::IVRDriverInput*>(&input));
  }

  RunState run;
  CallTrace trace;
  SettingsStore settings;
  PropertyStore properties;
  ServerDriverHost server_host;
  DriverLog log;
  DriverInput input;
  DriverManager manager;
  Resources resources;
  DriverContext context;
  CommandRunner commands;
  Scenario scenario;
  std::size_t next_step = 0;
  // Settings go back to their file only after the driver has run: a run that
  // stopped at its input files or at loading leaves the user's file alone.
  bool driver_initialised = false;
  bool end_requested = false;

  TraceJson factory = nullptr;
  TraceJson interface_versions = nullptr;
  TraceJson init_result = nullptr;
  TraceJson hmd_added_frame = nullptr;
  TraceJson actions = TraceJson::array();
  std::uint64_t frames_run = 0;
  std::vector<std::uint64_t> frame_times_us;
  int exit_status = kExitOk;

  DriverLibrary library;
  vr::IServerTrackedDeviceProvider* provider = nullptr;
};

namespace {

bool PrepareSettings(const SimulatorOptions& options, SettingsStore& settings, std::string* error) {
  if (!options.settings_path.empty()) {
    auto user = ReadSettingsFile(NativePath(options.settings_path), /*missing_ok=*/true, error);
    if (!user) return false;
    settings.LoadUser(std::move(*user));
  }
  for (const std::string& path : options.defaults_paths) {
    auto defaults = ReadSettingsFile(NativePath(path), /*missing_ok=*/false, error);
    if (!defaults) return false;
    settings.AddDefaults(*defaults);
  }
  for (const SettingOverride& override : options.setting_overrides) {
    settings.SetUserValue(override.section, override.key, override.value);
  }
  return true;
}

bool ReadScenario(const std::string& path, Scenario* scenario, std::string* error) {
  std::ifstream file(FilePath(path), std::ios::binary);
  if (!file) {
    *error = path + ": cannot be read";
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  auto parsed = ParseScenario(text.str(), path, error);
  if (!parsed) return false;
  *scenario = std::move(*parsed);
  return true;
}

bool SetUpProcess(const SimulatorOptions& options, std::string* error) {
  for (const auto& [name, value] : options.environment) {
    if (!SetEnvironment(name, value, error)) return false;
  }
  if (!options.locale.empty() && !std::setlocale(LC_ALL, options.locale.c_str())) {
    *error = "locale '" + options.locale + "' is not available on this system";
    return false;
  }
  return true;
}

}  // namespace

Simulator::Simulator(SimulatorOptions options)
    : options_(std::move(options)), host_(std::make_unique<Host>(options_)) {}

Simulator::~Simulator() = default;

int Simulator::Run(const std::atomic<bool>& stop_requested) {
  Host& h = *host_;
  const auto finish = [&](int status) {
    h.exit_status = status;
    h.library.Close();
    if (!WriteOutputs() && status == kExitOk) h.exit_status = kExitUsage;
    return h.exit_status;
  };

  std::string error;
  if (!PrepareRuntime(&error) || !SetUpProcess(options_, &error)) {
    PrintError(error);
    return finish(kExitUsage);
  }
  if (!LoadDriver(&error)) {
    PrintError(error);
    return finish(kExitNoDriver);
  }
  const int init = InitDriver();
  if (init != vr::VRInitError_None) {
    PrintError("Init failed with error " + std::to_string(init));
    h.commands.WaitAll(std::chrono::milliseconds(static_cast<long long>(options_.command_wait_seconds * 1000)));
    return finish(kExitInitFailed);
  }
  RunFrames(stop_requested);
  CleanupDriver();
  if (!options_.quiet) {
    const FrameTimeSummary summary = SummarizeFrameTimes(h.frame_times_us);
    std::fprintf(stderr, "zelvan-host-sim: %llu frames, longest %llu us, p99 %llu us\n",
                 static_cast<unsigned long long>(h.frames_run), static_cast<unsigned long long>(summary.max),
                 static_cast<unsigned long long>(summary.p99));
  }
  return finish(kExitOk);
}

bool Simulator::PrepareRuntime(std::string* error) {
  Host& h = *host_;
  if (!PrepareSettings(options_, h.settings, error)) return false;
  if (!options_.scenario_path.empty() && !ReadScenario(options_.scenario_path, &h.scenario, error)) return false;
  if (!options_.log_path.empty() && !h.log.OpenFile(NativePath(options_.log_path), error)) return false;
  for (const PropertyValue& value : options_.hmd_properties) h.properties.SetHmdProperty(value);
  for (const auto& [prop, failure] : options_.failing_properties) h.properties.FailWritesOf(prop, failure);
  for (const auto& [path, refusal] : options_.refused_components) h.input.Refuse(path, refusal);
  for (const std::string& version : options_.withheld_interfaces) h.context.Withhold(version);
  if (options_.lax_host) {
    h.settings.BeLax();
    h.properties.BeLax();
    h.input.BeLax();
  }
  return true;
}

bool Simulator::LoadDriver(std::string* error) {
  Host& h = *host_;
  const std::string& path = options_.driver_path;
  std::error_code ec;
  const std::filesystem::path native = FilePath(path);
  if (!std::filesystem::is_regular_file(native, ec)) {
    *error = path + ": no such driver library";
    return false;
  }
  // Absolute, so that dlopen does not search the library path for a bare name.
  const std::u8string absolute_u8 = std::filesystem::absolute(native, ec).u8string();
  const std::string absolute(absolute_u8.begin(), absolute_u8.end());
  std::string why;
  if (!h.library.Open(absolute, &why)) {
    *error = path + ": cannot be loaded: " + why;
    return false;
  }
  const auto factory = reinterpret_cast<HmdDriverFactoryFn>(h.library.Symbol("HmdDriverFactory"));
  if (!factory) {
    *error = path + ": has no HmdDriverFactory export";
    return false;
  }
  int return_code = kUnwrittenReturnCode;
  void* provider = factory(vr::IServerTrackedDeviceProvider_Version, &return_code);
  h.factory = {{"interface", vr::IServerTrackedDeviceProvider_Version},
               {"returned", provider != nullptr},
               {"return_code", return_code == kUnwrittenReturnCode ? TraceJson(nullptr) : TraceJson(return_code)}};
  if (!provider) {
    *error = path + ": HmdDriverFactory(\"" + vr::IServerTrackedDeviceProvider_Version + "\") returned null" +
             (return_code == kUnwrittenReturnCode ? "" : " with return code " + std::to_string(return_code));
    return false;
  }
  h.provider = static_cast<vr::IServerTrackedDeviceProvider*>(provider);
  // The runtime asks which interface versions the driver was built with before Init.
  h.interface_versions = TraceJson::array();
  if (const char* const* versions = h.provider->GetInterfaceVersions()) {
    for (int i = 0; i < kMaxInterfaceVersions && versions[i]; ++i) h.interface_versions.push_back(versions[i]);
  }
  return true;
}

void Simulator::AddHmd(std::uint64_t frame) {
  Host& h = *host_;
  if (h.properties.HmdAdded()) return;
  h.properties.AddHmd();
  h.hmd_added_frame = frame;
}

void Simulator::ApplyStepsOf(std::uint64_t frame) {
  Host& h = *host_;
  if (options_.hmd_frame == frame) AddHmd(frame);
  for (; h.next_step < h.scenario.size() && h.scenario[h.next_step].frame <= frame; ++h.next_step) {
    const ScenarioStep& step = h.scenario[h.next_step];
    h.actions.push_back({{"frame", frame}, {"line", step.line}, {"text", step.text}});
    h.log.Note(frame, "-- scenario line " + std::to_string(step.line) + ": " + step.text);
    std::visit(Overloaded{
                   [&](const action::AddHmd&) { AddHmd(frame); },
                   [&](const action::SetProperty& a) { h.properties.SetHmdProperty(a.value); },
                   [&](const action::IpdEvent& a) { h.server_host.PushIpdChanged(a.meters); },
                   [&](const action::Event& a) { h.server_host.PushEvent(a.type, vr::VREvent_Data_t{}); },
                   [&](const action::Setting& a) { h.settings.SetUserValue(a.section, a.key, a.value); },
                   [&](const action::RemoveSetting& a) { h.settings.RemoveUserValue(a.section, a.key); },
                   [&](const action::Run& a) { h.commands.Start(a.command, frame); },
                   [&](const action::End&) { h.end_requested = true; },
               },
               step.action);
  }
}

int Simulator::InitDriver() {
  Host& h = *host_;
  ApplyStepsOf(0);
  h.run.Enter(Phase::Init, 0);
  h.driver_initialised = true;
  const int result = h.provider->Init(&h.context);
  h.init_result = result;
  return result;
}

void Simulator::RunFrames(const std::atomic<bool>& stop_requested) {
  Host& h = *host_;
  using Clock = std::chrono::steady_clock;
  FramePacer pacer(options_.rate_hz);
  const Clock::time_point start = Clock::now();
  const auto out_of_time = [&] {
    return options_.seconds && std::chrono::duration<double>(Clock::now() - start).count() >= *options_.seconds;
  };
  const auto stop_file_there = [&] {
    std::error_code ignored;
    return !options_.stop_file.empty() && std::filesystem::exists(options_.stop_file, ignored);
  };
  for (std::uint64_t frame = 1;; ++frame) {
    if (h.end_requested || stop_requested.load() || (options_.frames && frame > *options_.frames) || out_of_time() ||
        stop_file_there()) {
      break;
    }
    pacer.WaitForNextFrame();
    ApplyStepsOf(frame);
    h.run.Enter(Phase::Frame, frame);
    const Clock::time_point frame_start = Clock::now();
    h.provider->RunFrame();
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - frame_start);
    h.frame_times_us.push_back(static_cast<std::uint64_t>(took.count()));
    h.frames_run = frame;
  }
  if (stop_requested.load()) {
    std::fprintf(stderr, "zelvan-host-sim: stop requested, cleaning up after frame %llu\n",
                 static_cast<unsigned long long>(h.frames_run));
  }
}

void Simulator::CleanupDriver() {
  Host& h = *host_;
  const auto bound = std::chrono::milliseconds(static_cast<long long>(options_.command_wait_seconds * 1000));
  if (const std::size_t running = h.commands.WaitAll(bound); running > 0) {
    PrintError(std::to_string(running) + " scenario command(s) still running; going on with Cleanup");
  }
  h.run.Enter(Phase::Cleanup, h.frames_run + 1);
  h.provider->Cleanup();
  h.library.Close();
  h.provider = nullptr;
}

bool Simulator::WriteOutputs() {
  Host& h = *host_;
  bool ok = true;
  std::string error;
  if (!options_.settings_path.empty() && h.driver_initialised &&
      !WriteSettingsFile(NativePath(options_.settings_path), h.settings.UserDocument(), &error)) {
    PrintError(error);
    ok = false;
  }
  if (!options_.frame_times_path.empty()) {
    std::ofstream file(FilePath(options_.frame_times_path), std::ios::binary | std::ios::trunc);
    for (std::uint64_t us : h.frame_times_us) file << us << '\n';
    if (!file) {
      PrintError(options_.frame_times_path + ": cannot be written");
      ok = false;
    }
  }
  if (!options_.trace_path.empty()) {
    std::ofstream file(FilePath(options_.trace_path), std::ios::binary | std::ios::trunc);
    // A driver may log bytes that are not UTF-8; they must not end the run.
    file << Trace().dump(1, ' ', false, TraceJson::error_handler_t::replace) << '\n';
    if (!file) {
      PrintError(options_.trace_path + ": cannot be written");
      ok = false;
    }
  }
  return ok;
}

TraceJson Simulator::Trace() const {
  const Host& h = *host_;
  const FrameTimeSummary summary = SummarizeFrameTimes(h.frame_times_us);
  return {
      {"simulator", "zelvan-host-sim " ZELVAN_VERSION},
      {"driver", options_.driver_path},
      {"factory", h.factory},
      {"interface_versions", h.interface_versions},
      {"init_result", h.init_result},
      {"frames", h.frames_run},
      {"frame_time_us", {{"max", summary.max}, {"p50", summary.p50}, {"p99", summary.p99}, {"p999", summary.p999}}},
      {"exit_status", h.exit_status},
      {"hmd_added_frame", h.hmd_added_frame},
      {"calls", h.trace.Calls()},
      {"log", h.trace.Log()},
      {"actions", h.actions},
      {"commands", h.commands.Results()},
      {"hmd_properties", h.properties.HmdPropertiesJson()},
      {"components", h.input.ComponentsJson()},
      {"pending_events", h.server_host.PendingEvents()},
      {"dropped_calls", h.trace.Dropped()},
  };
}

}  // namespace zelvan::host_sim
