// The runtime's driver context.
#include "tools/host_sim/driver_context.h"

#include "tools/host_sim/property_store.h"

namespace zelvan::host_sim {
namespace {

constexpr const char* kInterface = "IVRDriverContext";

}  // namespace

DriverContext::DriverContext(CallTrace& trace) : trace_(trace) {}

void DriverContext::Offer(const std::string& version, void* iface) { offered_[version] = iface; }

void DriverContext::Withhold(const std::string& version) { withheld_.insert(version); }

void* DriverContext::GetGenericInterface(const char* pchInterfaceVersion, vr::EVRInitError* peError) {
  void* iface = nullptr;
  if (pchInterfaceVersion && !withheld_.contains(pchInterfaceVersion)) {
    if (auto it = offered_.find(pchInterfaceVersion); it != offered_.end()) iface = it->second;
  }
  const vr::EVRInitError error = iface ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
  if (peError) *peError = error;
  trace_.Record(kInterface, "GetGenericInterface",
                {{"version", TraceText(pchInterfaceVersion)}, {"found", iface != nullptr}, {"error", error}});
  return iface;
}

vr::DriverHandle_t DriverContext::GetDriverHandle() {
  trace_.Record(kInterface, "GetDriverHandle", {{"result", kDriverContainer}});
  return kDriverContainer;
}

}  // namespace zelvan::host_sim
