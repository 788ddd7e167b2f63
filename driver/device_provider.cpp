// DeviceProvider's lifecycle: Init, RunFrame and Cleanup, step by step.
#include "driver/device_provider.h"

#include <chrono>
#include <cstring>
#include <utility>

#include <hidapi.h>

#include "control/control_commands.h"
#include "driver/driver_log.h"
#include "driver/driver_settings.h"
#include "driver/host_interfaces.h"
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
	CreateControlPipe();
	ReadInitialIpd();
	LoadConfigEarly();

	DriverLog("Zelvan Proximity driver initialized successfully\n");
	return vr::VRInitError_None;
}

void DeviceProvider::RunFrame()
{
	SetupProximityComponent();
	DecideModel();
	SetupIpdSlider();
	ApplyStoredPresenceMode();
	PollControlPipe();
	DrainEvents();
	PollIpdSlider();
	UpdatePresence();
}

void DeviceProvider::Cleanup()
{
	PersistIpd();
	DestroyControlPipe();
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

void DeviceProvider::ReadSettings()
{
	vr::IVRSettings &settings = *HostSettings();
	const int32_t rate = ReadClampedSetting(settings, kReportRateMs);
	const int32_t verbosity = ReadClampedSetting(settings, kLogVerbosity);
	const int32_t window = ReadClampedSetting(settings, kMovingAvgLength);
	log_verbose = verbosity > 0;
	report_rate_ms = static_cast<uint32_t>(rate);
	moving_avg_length = static_cast<uint32_t>(window);
	DriverLog("Config: report_rate_ms=%d, log_verbosity=%d, moving_avg_length=%d\n", rate,
	          verbosity, window);
	presence_mode = ReadPresenceMode(settings);
	presence_mode_pending = presence_mode != PresenceMode::Auto;
	DriverLog("Config: presence_mode=%s\n", PresenceModeName(presence_mode));
}

void DeviceProvider::StartReader()
{
	if (hid_init() != 0) {
		DriverLog("HID: hid_init() failed\n");
		return;
	}
	std::unique_ptr<HidReader> old = std::exchange(
		reader, std::make_unique<HidReader>(static_cast<int32_t>(moving_avg_length), log_verbose));
	old.reset();
	DriverLog("HID: Starting reader thread (rate=%ums)\n", report_rate_ms);
	reader->Start(kSensorVendorId, kSensorProductId, static_cast<uint16_t>(report_rate_ms));
}

void DeviceProvider::DecideModel()
{
	if (model_decided || !reader)
		return;
	const UserSignature signature = reader->GetUserSignature();
	if (signature.hmd_serial[0] == '\0')
		return;
	model_decided = true;
	first_model = std::strncmp(signature.hmd_serial, "QK1", 3) == 0;
	DriverLog("HMD Serial: %s -> %s\n", signature.hmd_serial,
	          first_model ? "Zelvan 1 (IPD disabled)" : "Zelvan 2 (IPD enabled)");
}

void DeviceProvider::StopReader()
{
	if (!reader)
		return;
	reader->Stop();
	reader.reset();
}

namespace {

int64_t SteadyMs()
{
	return std::chrono::duration_cast<std::chrono::milliseconds>(
		std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

void DeviceProvider::CreateControlPipe()
{
	pipe_connected = false;
	pipe_error = 0;
	pipe_retry_at_ms = 0;
	TryCreateControlPipe();
}

// A name still held by a SteamVR that is shutting down frees up within
// seconds: try again every few seconds, logging only a changed outcome.
void DeviceProvider::RetryControlPipe()
{
	if (pipe == kInvalidPipe && pipe_retry_at_ms != 0 && SteadyMs() >= pipe_retry_at_ms)
		TryCreateControlPipe();
}

void DeviceProvider::TryCreateControlPipe()
{
	unsigned long error = 0;
	pipe = CreateControlChannel(error);
	if (pipe == kInvalidPipe && error != pipe_error)
		DriverLog("Pipe: Failed to create named pipe (error %lu)\n", error);
	pipe_error = error;
	pipe_retry_at_ms = pipe == kInvalidPipe && ControlChannelNameInUse(error) ? SteadyMs() + kChannelRetryMs : 0;
}

void DeviceProvider::PollControlPipe()
{
	RetryControlPipe();
	char buffer[512];
	const ControlPoll poll = PollControlChannel(pipe, pipe_connected, pipe_client, buffer);
	if (poll.kind == ControlPoll::Command)
		HandleControlCommand(*this, buffer);
	else if (poll.kind == ControlPoll::TooLong)
		ReplyAndRelease(pipe, pipe_connected, pipe_client, "ERR message too long (max 511 bytes)");
}

void DeviceProvider::DestroyControlPipe()
{
	DestroyControlChannel(pipe, pipe_connected, pipe_client);
}

void DeviceProvider::PersistIpd()
{
	PersistIpdToHeadset(*this);
}

} // namespace zelvan
