// Loading the driver library and finding its exports, as the runtime does on each platform.
#pragma once

#include <string>

namespace zelvan::host_sim {

class DriverLibrary {
 public:
  DriverLibrary() = default;
  ~DriverLibrary() { Close(); }
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  // path should be absolute: dependencies are then looked for beside the
  // library too (on Windows), and no search path is consulted.
  bool Open(const std::string& path, std::string* error);
  void* Symbol(const char* name) const;
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
};

}  // namespace zelvan::host_sim
