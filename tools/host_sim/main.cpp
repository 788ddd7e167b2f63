// zelvan-host-sim: runs a SteamVR server driver without SteamVR or a headset.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/host_sim/command_line.h"
#include "tools/host_sim/platform.h"
#include "tools/host_sim/simulator.h"

#ifndef ZELVAN_VERSION
#define ZELVAN_VERSION "dev"
#endif

int main(int argc, char** argv) {
  using namespace zelvan::host_sim;
  std::vector<std::string> args = ProgramArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  CommandLine command_line;
  std::string error;
  if (!ParseCommandLine(args, &command_line, &error)) {
    std::fprintf(stderr, "zelvan-host-sim: %s\n", error.c_str());
    return kExitUsage;
  }
  if (command_line.help) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (command_line.version) {
    std::puts("zelvan-host-sim " ZELVAN_VERSION);
    return kExitOk;
  }
  if (!command_line.options.sim_sensor.empty() &&
      !UseSimulatedSensor(command_line.options.sim_sensor, argv, &error)) {
    std::fprintf(stderr, "zelvan-host-sim: %s\n", error.c_str());
    return kExitUsage;
  }
  static std::atomic<bool> stop_requested{false};
  InstallStopHandler(&stop_requested);
  Simulator simulator(std::move(command_line.options));
  return simulator.Run(stop_requested);
}
