// The runtime's driver context: hands the driver the host interfaces by version string.
#pragma once

#include <map>
#include <set>
#include <string>

#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"

namespace zelvan::host_sim {

class DriverContext final : public vr::IVRDriverContext {
 public:
  explicit DriverContext(CallTrace& trace);

  // iface must already point at the SDK interface class (static_cast to it).
  void Offer(const std::string& version, void* iface);
  // The version is refused as if the runtime did not have it.
  void Withhold(const std::string& version);

  void* GetGenericInterface(const char* pchInterfaceVersion, vr::EVRInitError* peError) override;
  vr::DriverHandle_t GetDriverHandle() override;

 private:
  CallTrace& trace_;
  std::map<std::string, void*> offered_;
  std::set<std::string> withheld_;
};

}  // namespace zelvan::host_sim
