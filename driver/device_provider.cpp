// DeviceProvider's lifecycle: Init, RunFrame and Cleanup, step by step.
#include "driver/device_provider.h"

#include <utility>

#include <hidapi.h>

#include "core/driver_log.h"
#include "core/driver_settings.h"
#include "core/host_interfaces.h"
#include "driver/interface_versions.h"
#include "ipd/ipd_persistence.h"
#include "sensor/sensor_protocol.h"

namespace zelvan {

DeviceProvider::~DeviceProvider() = default;

vr::EVRInitError DeviceProvider::Init(vr::IVRDriverContext *driver_context)
{
	const int host_result = InitHostInterfaces(driver_context);
	if (host_result != vr::VRInitError_None)
		return static_cast<vr::EVRInitError>(host_result);
	AttachDriverLog(HostInterfaceCache().driver_log);
	DriverLog("Zelvan Proximity driver initializing\n");

	ReadSettings();
	StartReader();
	control.CreateControlPipe();
	ipd.ReadInitialIpd();
	ipd.LoadConfigEarly();

	DriverLog("Zelvan Proximity driver initialized successfully\n");
	return vr::VRInitError_None;
}

void DeviceProvider::RunFrame()
{
	presence.SetupProximityComponent();
	ipd.DecideModel();
	ipd.SetupIpdSlider();
	presence.ApplyStoredPresenceMode();
	presence.EndExpiredHold();
	control.PollControlPipe(Targets());
	ipd.DrainEvents();
	ipd.PollIpdSlider();
	presence.UpdatePresence(reader.get(), settings.log_verbose);
}

void DeviceProvider::Cleanup()
{
	PersistIpdToHeadset(ipd);
	control.DestroyControlPipe();
	StopReader();
	hid_exit();
	DetachDriverLog();
}

const char *const *DeviceProvider::GetInterfaceVersions()
{
	return kInterfaceVersions;
}

bool DeviceProvider::ShouldBlockStandbyMode()
{
	return false;
}

void DeviceProvider::EnterStandby() {}

void DeviceProvider::LeaveStandby() {}

ControlTargets DeviceProvider::Targets()
{
	return ControlTargets{reader.get(), settings, presence, ipd};
}

void DeviceProvider::ReadSettings()
{
	vr::IVRSettings &host_settings = *HostSettings();
	const int32_t rate = ReadClampedSetting(host_settings, kReportRateMs);
	const int32_t verbosity = ReadClampedSetting(host_settings, kLogVerbosity);
	const int32_t window = ReadClampedSetting(host_settings, kMovingAvgLength);
	const int32_t offset = ReadClampedSetting(host_settings, kThresholdOffset);
	settings.log_verbose = verbosity > 0;
	settings.threshold_offset = offset;
	settings.report_rate_ms = static_cast<uint32_t>(rate);
	settings.moving_avg_length = static_cast<uint32_t>(window);
	DriverLog("Config: report_rate_ms=%d, log_verbosity=%d, moving_avg_length=%d\n", rate,
	          verbosity, window);
	// A line of its own, only when used: a default start logs as it always did.
	if (offset != 0)
		DriverLog("Config: threshold_offset=%d\n", offset);
	presence.presence_mode = ReadPresenceMode(host_settings);
	presence.presence_mode_pending = presence.presence_mode != PresenceMode::Auto;
	DriverLog("Config: presence_mode=%s\n", PresenceModeName(presence.presence_mode));
}

void DeviceProvider::StartReader()
{
	if (hid_init() != 0) {
		DriverLog("HID: hid_init() failed\n");
		return;
	}
	std::unique_ptr<HidReader> old = std::exchange(
		reader, std::make_unique<HidReader>(static_cast<int32_t>(settings.moving_avg_length), settings.log_verbose,
		                                    settings.threshold_offset));
	old.reset();
	DriverLog("HID: Starting reader thread (rate=%ums)\n", settings.report_rate_ms);
	reader->Start(kSensorVendorId, kSensorProductId, static_cast<uint16_t>(settings.report_rate_ms));
}

void DeviceProvider::StopReader()
{
	if (!reader)
		return;
	reader->Stop();
	reader.reset();
}

} // namespace zelvan
