// Loading the driver DLL with LoadLibraryExW, its UTF-8 path as UTF-16.
#include "tools/host_sim/library_loader.h"

#include <windows.h>

#include <algorithm>

#include "core/wide_text.h"

namespace zelvan::host_sim {
namespace {

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = text ? text : "";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}

}  // namespace

bool DriverLibrary::Open(const std::string& path, std::string* error) {
  Close();
  std::string native = path;
  std::replace(native.begin(), native.end(), '/', '\\');
  // With an absolute path, the altered search order finds the DLLs the driver
  // imports (hidapi.dll) in the driver's own folder, as in a runtime install.
  HMODULE module = LoadLibraryExW(Utf8ToWide(native).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) {
    *error = LastErrorText();
    return false;
  }
  handle_ = module;
  return true;
}

void* DriverLibrary::Symbol(const char* name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DriverLibrary::Close() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

}  // namespace zelvan::host_sim
