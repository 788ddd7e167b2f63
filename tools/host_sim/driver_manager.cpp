// The runtime's driver manager, knowing only the simulated driver.
#include "tools/host_sim/driver_manager.h"

#include <cstring>
#include <string>

#include "tools/host_sim/property_store.h"

namespace zelvan::host_sim {
namespace {

constexpr const char* kInterface = "IVRDriverManager_001";

}  // namespace

DriverManager::DriverManager(CallTrace& trace) : trace_(trace) {}

uint32_t DriverManager::GetDriverCount() const {
  trace_.Record(kInterface, "GetDriverCount", {{"result", 1}});
  return 1;
}

uint32_t DriverManager::GetDriverName(vr::DriverId_t nDriver, char* pchValue, uint32_t unBufferSize) {
  const std::string name = nDriver == 0 ? kDriverName : "";
  const auto needed = name.empty() ? 0u : static_cast<uint32_t>(name.size() + 1);
  if (pchValue && unBufferSize > 0) {
    if (needed > 0 && needed <= unBufferSize) {
      std::memcpy(pchValue, name.c_str(), needed);
    } else {
      pchValue[0] = '\0';
    }
  }
  trace_.Record(kInterface, "GetDriverName",
                {{"driver", nDriver}, {"buffer_size", unBufferSize}, {"value", name}, {"result", needed}});
  return needed;
}

vr::DriverHandle_t DriverManager::GetDriverHandle(const char* pchDriverName) {
  const bool ours = pchDriverName && std::strcmp(pchDriverName, kDriverName) == 0;
  const vr::DriverHandle_t handle = ours ? kDriverContainer : vr::k_ulInvalidPropertyContainer;
  trace_.Record(kInterface, "GetDriverHandle",
                {{"name", TraceText(pchDriverName)}, {"result", handle}});
  return handle;
}

bool DriverManager::IsEnabled(vr::DriverId_t nDriver) const {
  const bool enabled = nDriver == 0;
  trace_.Record(kInterface, "IsEnabled", {{"driver", nDriver}, {"result", enabled}});
  return enabled;
}

}  // namespace zelvan::host_sim
