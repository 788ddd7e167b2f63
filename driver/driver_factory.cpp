// The library's one export: HmdDriverFactory, which hands the runtime the
// process-wide provider.
#include <cstring>

#include <openvr_driver.h>

#include "driver/device_provider.h"

#if defined(_WIN32)
#define ZELVAN_EXPORT extern "C" __declspec(dllexport)
#else
#define ZELVAN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// Constructed at library load, before the runtime can call the factory.
zelvan::DeviceProvider g_provider;

} // namespace

ZELVAN_EXPORT void *HmdDriverFactory(const char *interface_name, int *return_code)
{
	if (std::strcmp(interface_name, vr::IServerTrackedDeviceProvider_Version) == 0)
		return &g_provider;
	if (return_code != nullptr)
		*return_code = vr::VRInitError_Init_InterfaceNotFound;
	return nullptr;
}
