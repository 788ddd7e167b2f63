// POSIX process services: signals, setenv, wait status.
#include "tools/host_sim/platform.h"

#include <signal.h>
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

}  // namespace zelvan::host_sim
