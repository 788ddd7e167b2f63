// Windows process services: console control events, _wputenv_s, Wine path
// mapping, and names that cross into Windows as UTF-16.
#include "tools/host_sim/platform.h"

#include <stdlib.h>
#include <windows.h>

#include <algorithm>

#include "core/wide_text.h"

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
  // _wputenv_s keeps the C runtime's copy and the process's (what the
  // driver's GetEnvironmentVariableW reads) in step.
  const std::wstring wide_value = Utf8ToWide(value);
  if ((wide_value.empty() && !value.empty()) ||
      _wputenv_s(Utf8ToWide(name).c_str(), wide_value.c_str()) != 0) {
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

std::vector<std::string> ProgramArguments(int argc, char** argv) { return CommandLineUtf8(argc, argv); }

std::filesystem::path FilePath(const std::string& path) {
  const std::string native = NativePath(path);
  return std::filesystem::path(std::u8string(native.begin(), native.end()));
}

std::FILE* OpenUtf8File(const std::string& path, const char* mode) {
  return zelvan::OpenUtf8File(NativePath(path), mode);
}

bool UseSimulatedSensor(const std::string& config, char** /*argv*/, std::string* error) {
  // The driver imports hidapi.dll from its own folder; in the build folder
  // that is the simulated sensor.
  return SetEnvironment("ZELVAN_SIM_SENSOR", NativePath(config), error);
}

}  // namespace zelvan::host_sim
