// The simulator's command line and help text.
#include "tools/host_sim/command_line.h"

#include <algorithm>
#include <functional>
#include <string_view>

#include "tools/host_sim/enum_names.h"
#include "tools/host_sim/property_values.h"
#include "tools/host_sim/scenario.h"
#include "tools/host_sim/value_parsing.h"

namespace zelvan::host_sim {
namespace {

using Handler = std::function<bool(CommandLine&, std::string_view value, std::string* error)>;

struct Option {
  std::string_view name;
  bool takes_value;
  Handler handle;
};

bool Fail(std::string* error, std::string message) {
  *error = std::move(message);
  return false;
}

Handler NonNegative(double SimulatorOptions::*field) {
  return [field](CommandLine& line, std::string_view value, std::string* error) {
    auto number = ParseNumber(value);
    if (!number || *number < 0) return Fail(error, "expects a number >= 0, got '" + std::string(value) + "'");
    line.options.*field = *number;
    return true;
  };
}

Handler Text(std::string SimulatorOptions::*field) {
  return [field](CommandLine& line, std::string_view value, std::string*) {
    line.options.*field = std::string(value);
    return true;
  };
}

Handler Append(std::vector<std::string> SimulatorOptions::*field) {
  return [field](CommandLine& line, std::string_view value, std::string*) {
    (line.options.*field).emplace_back(value);
    return true;
  };
}

Handler Flag(bool SimulatorOptions::*field) {
  return [field](CommandLine& line, std::string_view, std::string*) {
    line.options.*field = true;
    return true;
  };
}

bool OnSetting(CommandLine& line, std::string_view text, std::string* error) {
  std::string_view name, value;
  const auto dot = text.find('.');
  if (!SplitAssignment(text, &name, &value) || dot == std::string_view::npos || dot == 0 || dot + 1 >= name.size()) {
    return Fail(error, "expects SECTION.KEY=VALUE, got '" + std::string(text) + "'");
  }
  line.options.setting_overrides.push_back(
      {std::string(name.substr(0, dot)), std::string(name.substr(dot + 1)), ParseSettingValue(value)});
  return true;
}

bool OnHmdProp(CommandLine& line, std::string_view text, std::string* error) {
  auto value = ParsePropertyAssignment(text, error);
  if (!value) return false;
  line.options.hmd_properties.push_back(std::move(*value));
  return true;
}

bool OnPropError(CommandLine& line, std::string_view text, std::string* error) {
  std::string_view name, code;
  if (!SplitAssignment(text, &name, &code)) return Fail(error, "expects PROP=ERROR, got '" + std::string(text) + "'");
  auto prop = ParsePropertyId(name);
  if (!prop) return Fail(error, "unknown property '" + std::string(name) + "'");
  auto failure = ParsePropError(code);
  if (!failure) return Fail(error, "unknown property error '" + std::string(code) + "'");
  line.options.failing_properties.emplace_back(*prop, *failure);
  return true;
}

bool OnRefuseComponent(CommandLine& line, std::string_view text, std::string* error) {
  std::string_view path, code;
  if (!SplitAssignment(text, &path, &code)) return Fail(error, "expects PATH=ERROR, got '" + std::string(text) + "'");
  auto refusal = ParseInputError(code);
  if (!refusal) return Fail(error, "unknown input error '" + std::string(code) + "'");
  line.options.refused_components.emplace_back(std::string(path), *refusal);
  return true;
}

bool OnEnv(CommandLine& line, std::string_view text, std::string* error) {
  std::string_view name, value;
  if (!SplitAssignment(text, &name, &value)) return Fail(error, "expects NAME=VALUE, got '" + std::string(text) + "'");
  line.options.environment.emplace_back(std::string(name), std::string(value));
  return true;
}

const std::vector<Option>& Options() {
  static const std::vector<Option> options = {
      {"--rate", true, NonNegative(&SimulatorOptions::rate_hz)},
      {"--frames", true,
       [](CommandLine& line, std::string_view value, std::string* error) {
         auto number = ParseInteger(value);
         if (!number || *number < 0) return Fail(error, "expects a whole number, got '" + std::string(value) + "'");
         line.options.frames = static_cast<std::uint64_t>(*number);
         return true;
       }},
      {"--seconds", true,
       [](CommandLine& line, std::string_view value, std::string* error) {
         auto number = ParseNumber(value);
         if (!number || *number <= 0) return Fail(error, "expects a number > 0, got '" + std::string(value) + "'");
         line.options.seconds = *number;
         return true;
       }},
      {"--scenario", true, Text(&SimulatorOptions::scenario_path)},
      {"--stop-file", true, Text(&SimulatorOptions::stop_file)},
      {"--command-wait", true, NonNegative(&SimulatorOptions::command_wait_seconds)},
      {"--hmd-frame", true,
       [](CommandLine& line, std::string_view value, std::string* error) {
         auto number = ParseInteger(value);
         if (!number || *number < 0) return Fail(error, "expects a frame number, got '" + std::string(value) + "'");
         line.options.hmd_frame = static_cast<std::uint64_t>(*number);
         return true;
       }},
      {"--no-hmd", false,
       [](CommandLine& line, std::string_view, std::string*) {
         line.options.hmd_frame.reset();
         return true;
       }},
      {"--hmd-prop", true, OnHmdProp},
      {"--prop-error", true, OnPropError},
      {"--settings", true, Text(&SimulatorOptions::settings_path)},
      {"--defaults", true, Append(&SimulatorOptions::defaults_paths)},
      {"--setting", true, OnSetting},
      {"--withhold", true, Append(&SimulatorOptions::withheld_interfaces)},
      {"--refuse-component", true, OnRefuseComponent},
      {"--lax-host", false, Flag(&SimulatorOptions::lax_host)},
      {"--trace", true, Text(&SimulatorOptions::trace_path)},
      {"--trace-quiet-polls", false, Flag(&SimulatorOptions::trace_quiet_polls)},
      {"--frame-times", true, Text(&SimulatorOptions::frame_times_path)},
      {"--log", true, Text(&SimulatorOptions::log_path)},
      {"--quiet", false, Flag(&SimulatorOptions::quiet)},
      {"--locale", true, Text(&SimulatorOptions::locale)},
      {"--sim-sensor", true, Text(&SimulatorOptions::sim_sensor)},
      {"--env", true, OnEnv},
      {"--help", false,
       [](CommandLine& line, std::string_view, std::string*) {
         line.help = true;
         return true;
       }},
      {"--version", false,
       [](CommandLine& line, std::string_view, std::string*) {
         line.version = true;
         return true;
       }},
  };
  return options;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error) {
  *out = CommandLine{};
  bool options_done = false;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (options_done || !arg.starts_with("-") || arg == "-") {
      positional.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "-h") {
      out->help = true;
      continue;
    }
    const auto eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const auto& table = Options();
    const auto option = std::find_if(table.begin(), table.end(), [&](const Option& o) { return o.name == name; });
    if (option == table.end()) return Fail(error, "unknown option " + std::string(name) + " (see --help)");
    std::string_view value;
    if (option->takes_value) {
      if (eq != std::string_view::npos) {
        value = arg.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return Fail(error, std::string(name) + " needs a value");
      }
    } else if (eq != std::string_view::npos) {
      return Fail(error, std::string(name) + " takes no value");
    }
    std::string why;
    if (!option->handle(*out, value, &why)) return Fail(error, std::string(name) + " " + why);
  }
  if (out->help || out->version) return true;
  if (positional.size() != 1) {
    return Fail(error, positional.empty() ? "no driver library given (see --help)"
                                          : "one driver library expected, got " + std::to_string(positional.size()));
  }
  out->options.driver_path = positional.front();
  return true;
}

std::string HelpText() {
  std::string text = R"(Usage: zelvan-host-sim [OPTIONS] DRIVER_LIBRARY

Stands in for the SteamVR server process: loads a server driver library
(driver_ZelvanProximity.so or .dll), asks its HmdDriverFactory for
IServerTrackedDeviceProvider_004, calls Init, RunFrame at a steady rate and
Cleanup, then unloads it. The runtime interfaces the driver asks for
(settings, properties, server driver host, driver log, driver manager,
resources, driver input) are simulated, and every call into them can be
written to a JSON trace.

Running:
  --rate HZ                 RunFrame rate (default 90; 0 = as fast as possible)
  --frames N                stop after N frames
  --seconds S               stop after S seconds of frames
  --scenario FILE           timed actions, see below; its 'end' also stops
  --stop-file FILE          stop once FILE exists (for scripts driving a run)
                            With none of these, the run lasts until Ctrl-C;
                            Ctrl-C always ends the current frame, runs Cleanup
                            and writes the outputs (twice: stop at once).
  --command-wait S          how long to wait for scenario commands before
                            Cleanup (default 10)

The HMD (device 0, added by another driver in a real runtime):
  --hmd-frame N             add it just before frame N (default 1: present from
                            the first RunFrame; 0: present during Init)
  --no-hmd                  never add it
  --hmd-prop NAME=VALUE     give it a property (repeatable). NAME is one of
                            Prop_SerialNumber_String, Prop_ModelNumber_String,
                            Prop_ManufacturerName_String,
                            Prop_TrackingSystemName_String,
                            Prop_ContainsProximitySensor_Bool,
                            Prop_UserIpdMeters_Float,
                            Prop_IpdUIRangeMinMeters_Float,
                            Prop_IpdUIRangeMaxMeters_Float,
                            Prop_DriverDisplaysIPDChanges_Bool,
                            or ID:TYPE with TYPE string, float, bool, int32,
                            uint64 or double (e.g. 2003:float=0.063)
  --prop-error PROP=ERROR   writes of PROP fail with ERROR, a number or a name
                            like TrackedProp_PermissionDenied (repeatable)

Runtime interfaces:
  --withhold VERSION        GetGenericInterface refuses VERSION, e.g.
                            IVRDriverManager_001 (repeatable)
  --refuse-component PATH=ERROR
                            creating input component PATH fails with ERROR, a
                            number or a name like VRInputError_InvalidDevice
                            (repeatable)
  --lax-host                behave as a host that writes no out-parameter it
                            need not (as some OpenVR hosts other than SteamVR
                            do): settings reads return 0 or "" and leave the
                            error untouched, settings writes store without
                            writing it, property reads write nothing into the
                            batch, property writes store without writing the
                            entry's error, and every input component is
                            "created" with success and the invalid handle

Settings (steamvr.vrsettings shape: {"section": {"key": value}}):
  --settings FILE           the user settings; read at start (a missing file
                            is fine), written back at exit once Init has been
                            called, with what the driver, --setting and the
                            scenario changed
  --defaults FILE           a driver's default.vrsettings, asked for keys the
                            user settings lack; never written (repeatable)
  --setting SECTION.KEY=VALUE
                            set a user setting at start (repeatable); VALUE
                            true/false is a bool, 12 an integer, 1.5 a float,
                            "12" (quoted) or anything else a string

Output:
  --trace FILE              JSON trace of the run and of every runtime call
  --trace-quiet-polls       leave out of it empty event polls and queries that
                            repeat their last answer (for long runs)
  --frame-times FILE        each frame's RunFrame duration in microseconds,
                            one line per frame
  --log FILE                driver log lines with wall-clock time stamps
  --quiet                   do not print driver log lines on stdout

Process:
  --sim-sensor FILE         run the driver against the simulated proximity
                            sensor described by FILE (see
                            tools/sim_sensor/README.md) instead of hidapi: on
                            Linux the simulator restarts itself with
                            libzelvan_sim_hidapi.so preloaded; on Windows the
                            hidapi.dll beside the driver must be the simulated
                            one, as in the build folder
  --locale NAME             setlocale(LC_ALL, NAME) before loading the driver
  --env NAME=VALUE          set an environment variable before loading the
                            driver (repeatable)
  --help, --version

Scenario file: one action per line, '#' starts a comment line. The first word
is the frame before whose RunFrame the action happens (0: before Init):
)";
  text += ScenarioGrammar();
  text += R"(VALUE and COMMAND are the rest of the line. Commands run through the shell
(cmd.exe on Windows) with the simulator's stdout; before Cleanup the simulator
waits for them, at most --command-wait seconds. For example:
      # the wearer changes the IPD in the runtime's UI, then the run ends
      0   setting driver_ZelvanProximity log_verbosity 1
      30  ipd_event 0.0655
      60  prop Prop_UserIpdMeters_Float 0.0655
      90  run echo frame 90 reached
      120 end

Trace: a JSON object with "driver", "factory", "interface_versions",
"init_result", "frames", "frame_time_us" {max, p50, p99, p999}, "exit_status",
"hmd_added_frame", "calls", "log", "actions", "commands", "hmd_properties",
"components", "pending_events" and "dropped_calls". Each call has "seq",
"phase" (init, frame, cleanup), "frame" (0 in Init, frames + 1 in Cleanup),
"thread" (main, other), "interface", "call", then its arguments and results.

Property containers and handles: the HMD's container is 0x100000001 (0, the
invalid container, until the HMD is added); the driver's own container, also
GetDriverHandle's answer, is 0x200000001. Input component handles start at
1000.

Exit status: 0 run finished; 2 bad usage, settings or scenario file, or an
output that could not be written; 3 driver library not loaded, without
HmdDriverFactory, or the factory returned null; 4 Init failed (Cleanup is then
not called, as in the runtime).

Examples:
  zelvan-host-sim --frames 900 build/linux/bin/driver_ZelvanProximity.so
  zelvan-host-sim --seconds 10 --settings /tmp/steamvr.vrsettings \
      --hmd-prop Prop_SerialNumber_String=ZV2-000123 \
      --hmd-prop Prop_UserIpdMeters_Float=0.063 \
      --trace /tmp/trace.json driver_ZelvanProximity.so
  zelvan-host-sim --rate 0 --frames 3 --withhold IVRDriverManager_001 \
      --trace /tmp/init-fails.json driver_ZelvanProximity.so   # exits 4
  scripts/wine-run.sh zelvan-host-sim.exe --frames 90 driver_ZelvanProximity.dll
      (under Wine, absolute Unix paths are read as Z:\ paths)
)";
  return text;
}

}  // namespace zelvan::host_sim
