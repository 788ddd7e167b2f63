// The runtime's shared resources, of which the simulator has none.
#pragma once

#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"

namespace zelvan::host_sim {

class Resources final : public vr::IVRResources {
 public:
  explicit Resources(CallTrace& trace);

  // No resource is found: both return 0 and leave an empty string where there is room.
  uint32_t LoadSharedResource(const char* pchResourceName, char* pchBuffer, uint32_t unBufferLen) override;
  uint32_t GetResourceFullPath(const char* pchResourceName, const char* pchResourceTypeDirectory, char* pchPathBuffer,
                               uint32_t unBufferLen) override;

 private:
  CallTrace& trace_;
};

}  // namespace zelvan::host_sim
