// The runtime's driver manager, knowing one driver: the one being simulated.
#pragma once

#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"

namespace zelvan::host_sim {

inline constexpr const char* kDriverName = "ZelvanProximity";

class DriverManager final : public vr::IVRDriverManager {
 public:
  explicit DriverManager(CallTrace& trace);

  uint32_t GetDriverCount() const override;
  // Returns the bytes the name needs, NUL included; copies it when it fits.
  uint32_t GetDriverName(vr::DriverId_t nDriver, char* pchValue, uint32_t unBufferSize) override;
  vr::DriverHandle_t GetDriverHandle(const char* pchDriverName) override;
  bool IsEnabled(vr::DriverId_t nDriver) const override;

 private:
  CallTrace& trace_;
};

}  // namespace zelvan::host_sim
