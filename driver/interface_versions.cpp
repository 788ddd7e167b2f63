// The interface version list handed to the runtime.
#include "driver/interface_versions.h"

namespace zelvan {

const char *const kInterfaceVersions[13] = {
	"IVRSettings_003",
	"ITrackedDeviceServerDriver_005",
	"IVRDisplayComponent_003",
	"IVRDriverDirectModeComponent_009",
	"IVRCameraComponent_003",
	"IServerTrackedDeviceProvider_004",
	"IVRWatchdogProvider_001",
	"IVRVirtualDisplay_002",
	"IVRDriverManager_001",
	"IVRResources_001",
	"IVRCompositorPluginProvider_001",
	"IVRIPCResourceManagerClient_001",
	nullptr,
};

} // namespace zelvan
