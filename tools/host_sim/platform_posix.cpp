// POSIX process services: signals, setenv, wait status.
#include "tools/host_sim/platform.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

namespace zelvan::host_sim {
namespace {

std::atomic<bool>* g_stop_flag = nullptr;

void OnStopSignal(int /*signal*/) {
  if (g_stop_flag) g_stop_flag->store(true);
}

}  // namespace

void InstallStopHandler(std::atomic<bool>* flag) {
  g_stop_flag = flag;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the second signal takes the default action
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool SetEnvironment(const std::string& name, const std::string& value, std::string* error) {
  if (setenv(name.c_str(), value.c_str(), 1) != 0) {
    *error = "cannot set " + name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

int CommandExitStatus(int system_result) {
  if (system_result == -1 || !WIFEXITED(system_result)) return -1;
  return WEXITSTATUS(system_result);
}

std::string NativePath(const std::string& path) { return path; }

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::filesystem::path FilePath(const std::string& path) { return path; }

std::FILE* OpenUtf8File(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool UseSimulatedSensor(const std::string& config, char** argv, std::string* error) {
  if (!SetEnvironment("ZELVAN_SIM_SENSOR", config, error)) return false;
  const char* preload = getenv("LD_PRELOAD");
  if (preload != nullptr && std::strstr(preload, "libzelvan_sim_hidapi.so") != nullptr) return true;
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) {
    *error = "cannot find this program's own path";
    return false;
  }
  self[n] = '\0';
  std::string library(self);
  library = library.substr(0, library.find_last_of('/')) + "/libzelvan_sim_hidapi.so";
  if (access(library.c_str(), R_OK) != 0) {
    *error = library + " is missing: build the zelvan_sim_hidapi target";
    return false;
  }
  // The driver links hidapi by name; only a preload puts the simulated
  // functions ahead of it.
  const std::string value = preload != nullptr && preload[0] != '\0' ? library + ":" + preload : library;
  if (!SetEnvironment("LD_PRELOAD", value, error)) return false;
  execv(self, argv);
  *error = std::string("cannot restart with the simulated sensor: ") + std::strerror(errno);
  return false;
}

}  // namespace zelvan::host_sim
