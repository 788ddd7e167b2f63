// The process-wide cache of the runtime's interface pointers, with lazy
// accessors, through which every subsystem reaches the runtime.
#pragma once

#include <openvr_driver.h>

namespace zelvan {

struct HostInterfaces {
	vr::IVRSettings *settings = nullptr;
	vr::IVRProperties *properties = nullptr;
	vr::IVRServerDriverHost *server_driver_host = nullptr;
	vr::IVRDriverLog *driver_log = nullptr;
	vr::IVRDriverManager *driver_manager = nullptr;
	vr::IVRResources *resources = nullptr;
	vr::IVRDriverInput *driver_input = nullptr;
	// Room for interfaces the driver never asks for.
	vr::IVRWatchdogHost *watchdog_host = nullptr;
	vr::IVRCompositorDriverHost *compositor_driver_host = nullptr;
	vr::IVRIOBuffer *io_buffer = nullptr;
	vr::IVRDriverSpatialAnchors *spatial_anchors = nullptr;
};

// First step of Init. Stores the context, clears the cache and asks for the
// interfaces the driver cannot run without. Returns VRInitError_None or
// VRInitError_Init_InterfaceNotFound.
int InitHostInterfaces(vr::IVRDriverContext *context);

// The context Init was given; kept until the library is unloaded.
vr::IVRDriverContext *HostDriverContext();

// Lazy accessors: a null member is requested again from the context on every
// call until the runtime hands one out.
vr::IVRSettings *HostSettings();
vr::IVRProperties *HostProperties();
vr::IVRServerDriverHost *HostServerDriverHost();
vr::IVRDriverLog *HostDriverLog();
vr::IVRDriverInput *HostDriverInput();

// The HMD's property container: k_ulInvalidPropertyContainer until another
// driver has added the HMD, and also when the runtime offers no properties.
vr::PropertyContainerHandle_t HmdPropertyContainer();

// True when the runtime offers properties.
bool HostHasProperties();

// What a settings or property call's error reads as when the host wrote none:
// every out-parameter starts as this, so only a host's own success counts.
inline constexpr vr::EVRSettingsError kSettingsNoAnswer = vr::VRSettingsError_IPCFailed;
inline constexpr vr::ETrackedPropertyError kPropertyNoAnswer = vr::TrackedProp_CouldNotContactServer;

// One property read through a batch of our own, whose entry starts cleared
// (the SDK's helpers leave it unset and read it back). The value counts only
// with TrackedProp_Success and the expected type tag; a string is always
// terminated, and cleared on failure.
vr::ETrackedPropertyError ReadHmdFloat(vr::ETrackedDeviceProperty prop, float &value);
vr::ETrackedPropertyError ReadHmdString(vr::ETrackedDeviceProperty prop, char *buffer, uint32_t size);
// One property write; the host's error for it, kPropertyNoAnswer if it wrote none.
vr::ETrackedPropertyError WriteFloatProperty(vr::PropertyContainerHandle_t container, vr::ETrackedDeviceProperty prop,
                                             float value);
vr::ETrackedPropertyError WriteBoolProperty(vr::PropertyContainerHandle_t container, vr::ETrackedDeviceProperty prop,
                                            bool value);

// The raw cache, for tests that check what Init has requested.
const HostInterfaces &HostInterfaceCache();

} // namespace zelvan
