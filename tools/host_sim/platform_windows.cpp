// Windows process services: console control events, _putenv_s, Wine path mapping.
#include "tools/host_sim/platform.h"

#include <stdlib.h>
#include <windows.h>

#include <algorithm>

namespace zelvan::host_sim {
namespace {

std::atomic<bool>* g_stop_flag = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (!g_stop_flag) return FALSE;
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    if (g_stop_flag->exchange(true)) return FALSE;  // second request: default handling ends the process
    return TRUE;
  }
  // Close, logoff, shutdown: the process ends when this returns, so give the
  // frame loop a moment to run Cleanup and write its files.
  g_stop_flag->store(true);
  Sleep(4000);
  return TRUE;
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

void InstallStopHandler(std::atomic<bool>* flag) {
  g_stop_flag = flag;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool SetEnvironment(const std::string& name, const std::string& value, std::string* error) {
  // _putenv_s keeps the C runtime's copy (getenv) and the process's (GetEnvironmentVariableA) in step.
  if (_putenv_s(name.c_str(), value.c_str()) != 0) {
    *error = "cannot set " + name;
    return false;
  }
  return true;
}

int CommandExitStatus(int system_result) { return system_result; }

std::string NativePath(const std::string& path) {
  static const bool under_wine = RunningUnderWine();
  if (!under_wine || path.size() < 2 || path[0] != '/' || path[1] == '/') return path;
  std::string mapped = "Z:" + path;
  std::replace(mapped.begin(), mapped.end(), '/', '\\');
  return mapped;
}

bool UseSimulatedSensor(const std::string& config, char** /*argv*/, std::string* error) {
  // The driver imports hidapi.dll from its own folder; in the build folder
  // that is the simulated sensor.
  return SetEnvironment("ZELVAN_SIM_SENSOR", NativePath(config), error);
}

}  // namespace zelvan::host_sim
