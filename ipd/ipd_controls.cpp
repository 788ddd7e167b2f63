// ApplyIpd and the IPD's inputs: the initial value at Init, the runtime's
// IPD events, the ipd_mm setting used as a slider, the slider set-up, and
// the model decision that turns all of them off on the first model.
#include "ipd/ipd_controls.h"

#include <cmath>
#include <cstring>

#include <openvr_driver.h>

#include "core/c_numbers.h"
#include "core/driver_log.h"
#include "core/driver_settings.h"
#include "core/host_interfaces.h"
#include "sensor/hid_reader.h"

namespace zelvan {
namespace {

// Newer SDK headers declare this property themselves.
constexpr vr::ETrackedDeviceProperty kPropDriverDisplaysIPDChanges = static_cast<vr::ETrackedDeviceProperty>(2108);

constexpr float kMinIpdMm = 48.0f;
constexpr float kMaxIpdMm = 75.0f;

bool InRange(float mm)
{
	return mm >= kMinIpdMm && mm <= kMaxIpdMm;
}

vr::HmdMatrix34_t EyeToHead(const float (&rotation)[9], float x)
{
	vr::HmdMatrix34_t m{};
	for (int r = 0; r < 3; ++r)
		for (int c = 0; c < 3; ++c)
			m.m[r][c] = rotation[3 * r + c];
	m.m[0][3] = x;
	return m;
}

} // namespace

bool IpdControls::ApplyIpd(float ipd_mm)
{
	// Written so that NaN is refused too.
	if (!InRange(ipd_mm))
		return false;
	const float ipd_m = ipd_mm / 1000.0f;
	if (std::fabs(ipd_m - current_ipd_m) < 0.0001f)
		return true;
	if (!lh_config_loaded && !LoadLighthouseConfig())
		return false;

	const vr::HmdMatrix34_t left = EyeToHead(eye_rotations.left, -ipd_m * 0.5f);
	const vr::HmdMatrix34_t right = EyeToHead(eye_rotations.right, ipd_m * 0.5f);
	HostServerDriverHost()->SetDisplayEyeToHead(vr::k_unTrackedDeviceIndex_Hmd, left, right);
	WriteFloatProperty(HmdPropertyContainer(), vr::Prop_UserIpdMeters_Float, ipd_m);
	current_ipd_m = ipd_m;
	if (initial_ipd_m <= 0.0f)
		initial_ipd_m = ipd_m;
	HostSettings()->SetFloat(kSettingsSection, "ipd_mm", ipd_mm);
	last_slider_ipd_mm = ipd_mm;
	return true;
}

void IpdControls::SetupIpdSlider()
{
	if (ipd_slider_ready || first_model)
		return;
	const vr::PropertyContainerHandle_t container = HmdPropertyContainer();
	if (container == vr::k_ulInvalidPropertyContainer)
		return;
	ipd_slider_ready = true;

	DriverLog("IPD Slider: SetFloatProperty(IpdUIRangeMin=0.048) err=%d\n",
	          WriteFloatProperty(container, vr::Prop_IpdUIRangeMinMeters_Float, 0.048f));
	DriverLog("IPD Slider: SetFloatProperty(IpdUIRangeMax=0.075) err=%d\n",
	          WriteFloatProperty(container, vr::Prop_IpdUIRangeMaxMeters_Float, 0.075f));
	DriverLog("IPD Slider: SetBoolProperty(DriverDisplaysIPDChanges=false) err=%d\n",
	          WriteBoolProperty(container, kPropDriverDisplaysIPDChanges, false));

	vr::IVRDriverInput *input = HostDriverInput();
	for (const char *path : {"/input/ipd/value", "/input/ipd_adjust/value", "/input/eye_distance/value"}) {
		vr::VRInputComponentHandle_t handle = vr::k_ulInvalidInputComponentHandle;
		const vr::EVRInputError error = input != nullptr
			? input->CreateScalarComponent(container, path, &handle, vr::VRScalarType_Absolute,
			                               vr::VRScalarUnits_NormalizedOneSided)
			: vr::VRInputError_InvalidParam;
		DriverLog("IPD Slider: CreateScalarComponent(%s) err=%d handle=%llu\n", path, error,
		          static_cast<unsigned long long>(handle));
	}
}

void IpdControls::DrainEvents()
{
	vr::IVRServerDriverHost *host = HostServerDriverHost();
	vr::VREvent_t event;
	while (host->PollNextEvent(&event, sizeof(event))) {
		if (event.eventType != vr::VREvent_IpdChanged)
			continue;
		const float ipd_m = event.data.ipd.ipdMeters;
		const float mm = ipd_m * 1000.0f;
		DriverLog("IPD Event: VREvent_IpdChanged ipd=%sm (%smm)\n", FormatFixed(ipd_m, 4).text,
		          FormatFixed(mm, 1).text);
		if (!first_model && InRange(mm))
			ApplyIpd(mm);
	}
}

void IpdControls::PollIpdSlider()
{
	if (first_model)
		return;
	vr::EVRSettingsError error = kSettingsNoAnswer;
	const float value = HostSettings()->GetFloat(kSettingsSection, "ipd_mm", &error);
	if (error != vr::VRSettingsError_None || !InRange(value) || !(std::fabs(value - last_slider_ipd_mm) > 0.01f))
		return;
	// Recorded first, so a value that cannot be applied is not retried every frame.
	last_slider_ipd_mm = value;
	DriverLog("IPD: Settings slider changed to %smm\n", FormatFixed(value, 1).text);
	ApplyIpd(value);
}

void IpdControls::DecideModel()
{
	if (model_decided || !reader_)
		return;
	const UserSignature signature = reader_->GetUserSignature();
	if (signature.hmd_serial[0] == '\0')
		return;
	model_decided = true;
	first_model = std::strncmp(signature.hmd_serial, "QK1", 3) == 0;
	DriverLog("HMD Serial: %s -> %s\n", signature.hmd_serial,
	          first_model ? "Zelvan 1 (IPD disabled)" : "Zelvan 2 (IPD enabled)");
}

void IpdControls::ReadInitialIpd()
{
	float value = 0.0f;
	const vr::ETrackedPropertyError error = ReadHmdFloat(vr::Prop_UserIpdMeters_Float, value);
	if (error == vr::TrackedProp_Success && value > 0.0f) {
		current_ipd_m = initial_ipd_m = value;
		DriverLog("IPD: Initial IPD from HMD container: %sm (%smm)\n", FormatFixed(value, 4).text,
		          FormatFixed(value * 1000.0f, 1).text);
		return;
	}
	DriverLog("IPD: No initial IPD available from HMD container (err=%d)\n", error);
}

void IpdControls::LoadConfigEarly()
{
	if (reader_ && !LoadLighthouseConfig())
		DriverLog("IPD: Eager config load deferred -- serial not yet available from HID\n");
}

} // namespace zelvan
