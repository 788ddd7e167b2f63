// The in-process fake runtime's behaviour.
#include "tests/support/fake_runtime.h"

#include <cstdio>
#include <cstring>

namespace zelvan::test {
namespace {

std::string Key(const char *section, const char *key)
{
	return std::string(section) + "/" + key;
}

void SetError(vr::EVRSettingsError *out, vr::EVRSettingsError value)
{
	if (out != nullptr)
		*out = value;
}

} // namespace

void FakeSettings::SetBool(const char *s, const char *k, bool v, vr::EVRSettingsError *e)
{
	values[Key(s, k)] = v ? 1.0 : 0.0;
	SetError(e, vr::VRSettingsError_None);
}

void FakeSettings::SetInt32(const char *s, const char *k, int32_t v, vr::EVRSettingsError *e)
{
	if (set_int_error == vr::VRSettingsError_None)
		values[Key(s, k)] = v;
	SetError(e, set_int_error);
}

void FakeSettings::SetFloat(const char *s, const char *k, float v, vr::EVRSettingsError *e)
{
	values[Key(s, k)] = v;
	SetError(e, vr::VRSettingsError_None);
}

void FakeSettings::SetString(const char *s, const char *k, const char *v, vr::EVRSettingsError *e)
{
	if (set_string_error == vr::VRSettingsError_None)
		strings[Key(s, k)] = v;
	SetError(e, set_string_error);
}

bool FakeSettings::GetBool(const char *s, const char *k, vr::EVRSettingsError *e)
{
	return GetFloat(s, k, e) != 0.0f;
}

int32_t FakeSettings::GetInt32(const char *s, const char *k, vr::EVRSettingsError *e)
{
	reads.push_back(k);
	auto it = values.find(Key(s, k));
	if (it == values.end()) {
		SetError(e, vr::VRSettingsError_UnsetSettingHasNoDefault);
		return 0;
	}
	SetError(e, vr::VRSettingsError_None);
	return static_cast<int32_t>(it->second);
}

float FakeSettings::GetFloat(const char *s, const char *k, vr::EVRSettingsError *e)
{
	reads.push_back(k);
	auto it = values.find(Key(s, k));
	if (it == values.end()) {
		SetError(e, vr::VRSettingsError_UnsetSettingHasNoDefault);
		return 0.0f;
	}
	SetError(e, vr::VRSettingsError_None);
	return static_cast<float>(it->second);
}

void FakeSettings::GetString(const char *s, const char *k, char *out, uint32_t len, vr::EVRSettingsError *e)
{
	if (len > 0)
		out[0] = '\0';
	auto it = strings.find(Key(s, k));
	if (it == strings.end()) {
		SetError(e, vr::VRSettingsError_UnsetSettingHasNoDefault);
		return;
	}
	if (len > 0)
		std::snprintf(out, len, "%s", it->second.c_str());
	SetError(e, vr::VRSettingsError_None);
}

void FakeSettings::RemoveSection(const char *, vr::EVRSettingsError *e)
{
	SetError(e, vr::VRSettingsError_None);
}

void FakeSettings::RemoveKeyInSection(const char *s, const char *k, vr::EVRSettingsError *e)
{
	values.erase(Key(s, k));
	SetError(e, vr::VRSettingsError_None);
}

void FakeDriverLog::Log(const char *line)
{
	std::lock_guard<std::mutex> lock(mutex_);
	lines_.emplace_back(line);
}

std::vector<std::string> FakeDriverLog::Lines()
{
	std::lock_guard<std::mutex> lock(mutex_);
	return lines_;
}

void FakeDriverLog::Clear()
{
	std::lock_guard<std::mutex> lock(mutex_);
	lines_.clear();
}

bool FakeServerDriverHost::PollNextEvent(vr::VREvent_t *event, uint32_t size)
{
	if (events.empty())
		return false;
	std::memcpy(event, &events.front(), std::min<size_t>(size, sizeof(vr::VREvent_t)));
	events.erase(events.begin());
	return true;
}

void FakeServerDriverHost::SetDisplayEyeToHead(uint32_t, const vr::HmdMatrix34_t &left, const vr::HmdMatrix34_t &right)
{
	eye_to_head.emplace_back(left, right);
}

vr::PropertyContainerHandle_t FakeProperties::TrackedDeviceToPropertyContainer(vr::TrackedDeviceIndex_t device)
{
	if (device != vr::k_unTrackedDeviceIndex_Hmd || !hmd_present)
		return vr::k_ulInvalidPropertyContainer;
	return kHmdContainer;
}

vr::ETrackedPropertyError FakeProperties::ReadPropertyBatch(vr::PropertyContainerHandle_t container, vr::PropertyRead_t *batch, uint32_t count)
{
	for (uint32_t i = 0; i < count; ++i) {
		vr::PropertyRead_t &entry = batch[i];
		entry.unTag = vr::k_unInvalidPropertyTag;
		if (container != kHmdContainer) {
			entry.eError = vr::TrackedProp_InvalidContainer;
			continue;
		}
		auto it = hmd.find(entry.prop);
		if (it == hmd.end()) {
			entry.eError = vr::TrackedProp_UnknownProperty;
			continue;
		}
		entry.unTag = it->second.tag;
		entry.unRequiredBufferSize = static_cast<uint32_t>(it->second.bytes.size());
		if (entry.unBufferSize < it->second.bytes.size()) {
			entry.eError = vr::TrackedProp_BufferTooSmall;
			continue;
		}
		std::memcpy(entry.pvBuffer, it->second.bytes.data(), it->second.bytes.size());
		entry.eError = vr::TrackedProp_Success;
	}
	return count > 0 ? batch[0].eError : vr::TrackedProp_Success;
}

vr::ETrackedPropertyError FakeProperties::WritePropertyBatch(vr::PropertyContainerHandle_t container, vr::PropertyWrite_t *batch, uint32_t count)
{
	for (uint32_t i = 0; i < count; ++i) {
		vr::PropertyWrite_t &entry = batch[i];
		if (container != kHmdContainer) {
			entry.eError = vr::TrackedProp_InvalidContainer;
			continue;
		}
		const auto *bytes = static_cast<const unsigned char *>(entry.pvBuffer);
		hmd[entry.prop] = Value{entry.unTag, std::vector<unsigned char>(bytes, bytes + entry.unBufferSize)};
		entry.eError = vr::TrackedProp_Success;
	}
	return count > 0 ? batch[0].eError : vr::TrackedProp_Success;
}

vr::EVRInputError FakeDriverInput::CreateBooleanComponent(vr::PropertyContainerHandle_t, const char *path, vr::VRInputComponentHandle_t *handle)
{
	created.emplace_back(path);
	auto it = refuse.find(path);
	if (it != refuse.end()) {
		*handle = vr::k_ulInvalidInputComponentHandle;
		return it->second;
	}
	*handle = next_handle++;
	return vr::VRInputError_None;
}

vr::EVRInputError FakeDriverInput::UpdateBooleanComponent(vr::VRInputComponentHandle_t handle, bool value, double)
{
	boolean_updates.emplace_back(handle, value);
	return vr::VRInputError_None;
}

vr::EVRInputError FakeDriverInput::CreateScalarComponent(vr::PropertyContainerHandle_t container, const char *path, vr::VRInputComponentHandle_t *handle, vr::EVRScalarType, vr::EVRScalarUnits)
{
	return CreateBooleanComponent(container, path, handle);
}

uint32_t FakeDriverManager::GetDriverName(vr::DriverId_t, char *value, uint32_t size)
{
	const char name[] = "ZelvanProximity";
	if (size >= sizeof(name))
		std::memcpy(value, name, sizeof(name));
	return sizeof(name);
}

void *FakeRuntime::GetGenericInterface(const char *version, vr::EVRInitError *error)
{
	requested.emplace_back(version);
	void *found = nullptr;
	const std::string v = version;
	if (withheld.count(v) == 0) {
		if (v == vr::IVRSettings_Version)
			found = static_cast<vr::IVRSettings *>(&settings);
		else if (v == vr::IVRDriverLog_Version)
			found = static_cast<vr::IVRDriverLog *>(&log);
		else if (v == vr::IVRServerDriverHost_Version)
			found = static_cast<vr::IVRServerDriverHost *>(&host);
		else if (v == vr::IVRProperties_Version)
			found = static_cast<vr::IVRProperties *>(&properties);
		else if (v == vr::IVRDriverInput_Version)
			found = static_cast<vr::IVRDriverInput *>(&input);
		else if (v == vr::IVRDriverManager_Version)
			found = static_cast<vr::IVRDriverManager *>(&manager);
		else if (v == vr::IVRResources_Version)
			found = static_cast<vr::IVRResources *>(&resources);
	}
	if (error != nullptr)
		*error = found != nullptr ? vr::VRInitError_None : vr::VRInitError_Init_InterfaceNotFound;
	return found;
}

} // namespace zelvan::test
