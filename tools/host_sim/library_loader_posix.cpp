// Loading the driver library with dlopen.
#include "tools/host_sim/library_loader.h"

#include <dlfcn.h>

namespace zelvan::host_sim {

bool DriverLibrary::Open(const std::string& path, std::string* error) {
  Close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* reason = dlerror();
    *error = reason ? reason : "dlopen failed";
    return false;
  }
  return true;
}

void* DriverLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

void DriverLibrary::Close() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

}  // namespace zelvan::host_sim
