// HostInterfaces: what Init asks the runtime for, and the lazy look-ups after.
#include "driver/host_interfaces.h"

namespace zelvan {
namespace {

vr::IVRDriverContext *g_context = nullptr;
HostInterfaces g_host;
// The SDK's typed property wrapper over g_host.properties, set with it.
vr::CVRPropertyHelpers g_property_helpers(nullptr);

void *Request(const char *version)
{
	// Before the first Init there is nobody to ask.
	if (g_context == nullptr)
		return nullptr;
	vr::EVRInitError ignored = vr::VRInitError_None;
	return g_context->GetGenericInterface(version, &ignored);
}

template <typename T> T *Fetch(T *&member, const char *version)
{
	if (member == nullptr)
		member = static_cast<T *>(Request(version));
	return member;
}

void FetchProperties()
{
	g_host.properties = static_cast<vr::IVRProperties *>(Request(vr::IVRProperties_Version));
	g_property_helpers = vr::CVRPropertyHelpers(g_host.properties);
}

} // namespace

int InitHostInterfaces(vr::IVRDriverContext *context)
{
	g_context = context;
	g_host = HostInterfaces{};

	if (Fetch(g_host.server_driver_host, vr::IVRServerDriverHost_Version) == nullptr)
		return vr::VRInitError_Init_InterfaceNotFound;
	if (Fetch(g_host.settings, vr::IVRSettings_Version) == nullptr)
		return vr::VRInitError_Init_InterfaceNotFound;
	// The runtime always offers properties; the driver can run without them.
	FetchProperties();
	if (Fetch(g_host.driver_log, vr::IVRDriverLog_Version) == nullptr)
		return vr::VRInitError_Init_InterfaceNotFound;
	if (Fetch(g_host.driver_manager, vr::IVRDriverManager_Version) == nullptr)
		return vr::VRInitError_Init_InterfaceNotFound;
	if (Fetch(g_host.resources, vr::IVRResources_Version) == nullptr)
		return vr::VRInitError_Init_InterfaceNotFound;
	return vr::VRInitError_None;
}

vr::IVRDriverContext *HostDriverContext()
{
	return g_context;
}

vr::IVRSettings *HostSettings()
{
	return Fetch(g_host.settings, vr::IVRSettings_Version);
}

vr::CVRPropertyHelpers *HostProperties()
{
	if (g_host.properties == nullptr)
		FetchProperties();
	return &g_property_helpers;
}

vr::IVRServerDriverHost *HostServerDriverHost()
{
	return Fetch(g_host.server_driver_host, vr::IVRServerDriverHost_Version);
}

vr::IVRDriverLog *HostDriverLog()
{
	return Fetch(g_host.driver_log, vr::IVRDriverLog_Version);
}

vr::IVRDriverInput *HostDriverInput()
{
	return Fetch(g_host.driver_input, vr::IVRDriverInput_Version);
}

bool HostHasProperties()
{
	HostProperties();
	return g_host.properties != nullptr;
}

vr::PropertyContainerHandle_t HmdPropertyContainer()
{
	if (!HostHasProperties())
		return vr::k_ulInvalidPropertyContainer;
	return g_property_helpers.TrackedDeviceToPropertyContainer(vr::k_unTrackedDeviceIndex_Hmd);
}

const HostInterfaces &HostInterfaceCache()
{
	return g_host;
}

} // namespace zelvan
