// HostInterfaces: what Init asks the runtime for, and the lazy look-ups after.
#include "core/host_interfaces.h"

#include <cstring>

namespace zelvan {
namespace {

vr::IVRDriverContext *g_context = nullptr;
HostInterfaces g_host;

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
}

// The batch's own result counts too: a host may refuse the whole batch
// without touching its entries.
vr::ETrackedPropertyError ReadHmdProperty(vr::ETrackedDeviceProperty prop, void *buffer, uint32_t size,
                                          vr::PropertyTypeTag_t expected_tag)
{
	std::memset(buffer, 0, size);
	vr::IVRProperties *properties = HostProperties();
	if (properties == nullptr)
		return vr::TrackedProp_InvalidContainer;
	vr::PropertyRead_t entry{};
	entry.prop = prop;
	entry.pvBuffer = buffer;
	entry.unBufferSize = size;
	entry.unTag = vr::k_unInvalidPropertyTag;
	entry.eError = kPropertyNoAnswer;
	const vr::ETrackedPropertyError result = properties->ReadPropertyBatch(HmdPropertyContainer(), &entry, 1);
	vr::ETrackedPropertyError error = result != vr::TrackedProp_Success ? result : entry.eError;
	if (error == vr::TrackedProp_Success && entry.unTag != expected_tag)
		error = vr::TrackedProp_WrongDataType;
	if (error != vr::TrackedProp_Success)
		std::memset(buffer, 0, size);
	return error;
}

vr::ETrackedPropertyError WriteProperty(vr::PropertyContainerHandle_t container, vr::ETrackedDeviceProperty prop,
                                        void *value, uint32_t size, vr::PropertyTypeTag_t tag)
{
	vr::IVRProperties *properties = HostProperties();
	if (properties == nullptr)
		return vr::TrackedProp_InvalidContainer;
	vr::PropertyWrite_t entry{};
	entry.prop = prop;
	entry.writeType = vr::PropertyWrite_Set;
	entry.eSetError = vr::TrackedProp_Success;
	entry.pvBuffer = value;
	entry.unBufferSize = size;
	entry.unTag = tag;
	entry.eError = kPropertyNoAnswer;
	const vr::ETrackedPropertyError result = properties->WritePropertyBatch(container, &entry, 1);
	return result != vr::TrackedProp_Success ? result : entry.eError;
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

vr::IVRProperties *HostProperties()
{
	if (g_host.properties == nullptr)
		FetchProperties();
	return g_host.properties;
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
	return HostProperties() != nullptr;
}

vr::PropertyContainerHandle_t HmdPropertyContainer()
{
	vr::IVRProperties *properties = HostProperties();
	if (properties == nullptr)
		return vr::k_ulInvalidPropertyContainer;
	return properties->TrackedDeviceToPropertyContainer(vr::k_unTrackedDeviceIndex_Hmd);
}

vr::ETrackedPropertyError ReadHmdFloat(vr::ETrackedDeviceProperty prop, float &value)
{
	return ReadHmdProperty(prop, &value, sizeof(value), vr::k_unFloatPropertyTag);
}

vr::ETrackedPropertyError ReadHmdString(vr::ETrackedDeviceProperty prop, char *buffer, uint32_t size)
{
	const vr::ETrackedPropertyError error = ReadHmdProperty(prop, buffer, size, vr::k_unStringPropertyTag);
	if (size > 0)
		buffer[size - 1] = '\0';
	return error;
}

vr::ETrackedPropertyError WriteFloatProperty(vr::PropertyContainerHandle_t container, vr::ETrackedDeviceProperty prop,
                                             float value)
{
	return WriteProperty(container, prop, &value, sizeof(value), vr::k_unFloatPropertyTag);
}

vr::ETrackedPropertyError WriteBoolProperty(vr::PropertyContainerHandle_t container, vr::ETrackedDeviceProperty prop,
                                            bool value)
{
	return WriteProperty(container, prop, &value, sizeof(value), vr::k_unBoolPropertyTag);
}

const HostInterfaces &HostInterfaceCache()
{
	return g_host;
}

} // namespace zelvan
