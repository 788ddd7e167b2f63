// An in-process stand-in for the runtime's driver interfaces, for unit tests
// that call the provider directly.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <openvr_driver.h>

namespace zelvan::test {

class FakeSettings : public vr::IVRSettings {
public:
	const char *GetSettingsErrorNameFromEnum(vr::EVRSettingsError) override { return "error"; }
	void SetBool(const char *s, const char *k, bool v, vr::EVRSettingsError *e) override;
	void SetInt32(const char *s, const char *k, int32_t v, vr::EVRSettingsError *e) override;
	void SetFloat(const char *s, const char *k, float v, vr::EVRSettingsError *e) override;
	void SetString(const char *s, const char *k, const char *v, vr::EVRSettingsError *e) override;
	bool GetBool(const char *s, const char *k, vr::EVRSettingsError *e) override;
	int32_t GetInt32(const char *s, const char *k, vr::EVRSettingsError *e) override;
	float GetFloat(const char *s, const char *k, vr::EVRSettingsError *e) override;
	void GetString(const char *s, const char *k, char *out, uint32_t len, vr::EVRSettingsError *e) override;
	void RemoveSection(const char *s, vr::EVRSettingsError *e) override;
	void RemoveKeyInSection(const char *s, const char *k, vr::EVRSettingsError *e) override;

	// Values are kept as doubles: every number the driver reads is one.
	std::map<std::string, double> values; // "section/key"
	std::vector<std::string> reads;       // keys in the order they were read
	std::map<std::string, std::string> strings; // "section/key"
	vr::EVRSettingsError set_string_error = vr::VRSettingsError_None;
	vr::EVRSettingsError set_int_error = vr::VRSettingsError_None;
};

class FakeDriverLog : public vr::IVRDriverLog {
public:
	void Log(const char *line) override;
	std::vector<std::string> Lines();
	void Clear();

private:
	std::mutex mutex_;
	std::vector<std::string> lines_;
};

class FakeServerDriverHost : public vr::IVRServerDriverHost {
public:
	bool TrackedDeviceAdded(const char *, vr::ETrackedDeviceClass, vr::ITrackedDeviceServerDriver *) override { return false; }
	void TrackedDevicePoseUpdated(uint32_t, const vr::DriverPose_t &, uint32_t) override {}
	void VsyncEvent(double) override {}
	void VendorSpecificEvent(uint32_t, vr::EVREventType, const vr::VREvent_Data_t &, double) override {}
	bool IsExiting() override { return false; }
	bool PollNextEvent(vr::VREvent_t *event, uint32_t size) override;
	void GetRawTrackedDevicePoses(float, vr::TrackedDevicePose_t *, uint32_t) override {}
	void RequestRestart(const char *, const char *, const char *, const char *) override {}
	uint32_t GetFrameTimings(vr::Compositor_FrameTiming *, uint32_t) override { return 0; }
	void SetDisplayEyeToHead(uint32_t, const vr::HmdMatrix34_t &left, const vr::HmdMatrix34_t &right) override;
	void SetDisplayProjectionRaw(uint32_t, const vr::HmdRect2_t &, const vr::HmdRect2_t &) override {}
	void SetRecommendedRenderTargetSize(uint32_t, uint32_t, uint32_t) override {}

	std::vector<vr::VREvent_t> events; // polled front first
	std::vector<std::pair<vr::HmdMatrix34_t, vr::HmdMatrix34_t>> eye_to_head;
};

class FakeProperties : public vr::IVRProperties {
public:
	vr::ETrackedPropertyError ReadPropertyBatch(vr::PropertyContainerHandle_t, vr::PropertyRead_t *, uint32_t) override;
	vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t, vr::PropertyWrite_t *, uint32_t) override;
	const char *GetPropErrorNameFromEnum(vr::ETrackedPropertyError) override { return "error"; }
	vr::PropertyContainerHandle_t TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t device) override;

	static constexpr vr::PropertyContainerHandle_t kHmdContainer = 0x100000001ULL;
	bool hmd_present = true;
	struct Value {
		vr::PropertyTypeTag_t tag;
		std::vector<unsigned char> bytes;
	};
	std::map<vr::ETrackedDeviceProperty, Value> hmd;
};

class FakeDriverInput : public vr::IVRDriverInput {
public:
	vr::EVRInputError CreateBooleanComponent(vr::PropertyContainerHandle_t, const char *, vr::VRInputComponentHandle_t *) override;
	vr::EVRInputError UpdateBooleanComponent(vr::VRInputComponentHandle_t, bool, double) override;
	vr::EVRInputError CreateScalarComponent(vr::PropertyContainerHandle_t, const char *, vr::VRInputComponentHandle_t *, vr::EVRScalarType, vr::EVRScalarUnits) override;
	vr::EVRInputError UpdateScalarComponent(vr::VRInputComponentHandle_t, float, double) override { return vr::VRInputError_None; }
	vr::EVRInputError CreateHapticComponent(vr::PropertyContainerHandle_t, const char *, vr::VRInputComponentHandle_t *) override { return vr::VRInputError_None; }
	vr::EVRInputError CreateSkeletonComponent(vr::PropertyContainerHandle_t, const char *, const char *, const char *, vr::EVRSkeletalTrackingLevel, const vr::VRBoneTransform_t *, uint32_t, vr::VRInputComponentHandle_t *) override { return vr::VRInputError_None; }
	vr::EVRInputError UpdateSkeletonComponent(vr::VRInputComponentHandle_t, vr::EVRSkeletalMotionRange, const vr::VRBoneTransform_t *, uint32_t) override { return vr::VRInputError_None; }

	std::map<std::string, vr::EVRInputError> refuse; // path -> error
	std::vector<std::string> created;                // paths
	std::vector<std::pair<vr::VRInputComponentHandle_t, bool>> boolean_updates;
	vr::VRInputComponentHandle_t next_handle = 1000;
};

class FakeDriverManager : public vr::IVRDriverManager {
public:
	uint32_t GetDriverCount() const override { return 1; }
	uint32_t GetDriverName(vr::DriverId_t, char *value, uint32_t size) override;
	vr::DriverHandle_t GetDriverHandle(const char *) override { return 1; }
	bool IsEnabled(vr::DriverId_t) const override { return true; }
};

class FakeResources : public vr::IVRResources {
public:
	uint32_t LoadSharedResource(const char *, char *, uint32_t) override { return 0; }
	uint32_t GetResourceFullPath(const char *, const char *, char *, uint32_t) override { return 0; }
};

// The context the provider's Init gets. Interfaces named in `withheld` are
// refused, as a runtime that lacks them would.
class FakeRuntime : public vr::IVRDriverContext {
public:
	void *GetGenericInterface(const char *version, vr::EVRInitError *error) override;
	vr::DriverHandle_t GetDriverHandle() override { return 1; }

	FakeSettings settings;
	FakeDriverLog log;
	FakeServerDriverHost host;
	FakeProperties properties;
	FakeDriverInput input;
	FakeDriverManager manager;
	FakeResources resources;

	std::set<std::string> withheld;
	std::vector<std::string> requested; // versions, in order
};

} // namespace zelvan::test
