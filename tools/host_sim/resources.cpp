// The runtime's shared resources, of which the simulator has none.
#include "tools/host_sim/resources.h"

namespace zelvan::host_sim {
namespace {

constexpr const char* kInterface = "IVRResources_001";

}  // namespace

Resources::Resources(CallTrace& trace) : trace_(trace) {}

uint32_t Resources::LoadSharedResource(const char* pchResourceName, char* pchBuffer, uint32_t unBufferLen) {
  if (pchBuffer && unBufferLen > 0) pchBuffer[0] = '\0';
  trace_.Record(kInterface, "LoadSharedResource",
                {{"name", TraceText(pchResourceName)}, {"buffer_size", unBufferLen}, {"result", 0}});
  return 0;
}

uint32_t Resources::GetResourceFullPath(const char* pchResourceName, const char* pchResourceTypeDirectory,
                                        char* pchPathBuffer, uint32_t unBufferLen) {
  if (pchPathBuffer && unBufferLen > 0) pchPathBuffer[0] = '\0';
  trace_.Record(kInterface, "GetResourceFullPath",
                {{"name", TraceText(pchResourceName)},
                 {"directory", TraceText(pchResourceTypeDirectory)},
                 {"buffer_size", unBufferLen},
                 {"result", 0}});
  return 0;
}

}  // namespace zelvan::host_sim
