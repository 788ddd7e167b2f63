// Reading and clamping the driver's integer settings, and the presence mode.
#include "core/driver_settings.h"

#include <algorithm>
#include <cstring>

#include <openvr_driver.h>

#include "core/driver_log.h"
#include "core/host_interfaces.h"
#include "core/text_escape.h"

namespace zelvan {

int32_t ReadClampedSetting(vr::IVRSettings &settings, const IntSetting &setting)
{
	vr::EVRSettingsError error = kSettingsNoAnswer;
	const int32_t value = settings.GetInt32(kSettingsSection, setting.key, &error);
	if (error != vr::VRSettingsError_None)
		return setting.fallback;
	return std::clamp(value, setting.min, setting.max);
}

int StoreIntSetting(vr::IVRSettings &settings, const IntSetting &setting, int32_t value)
{
	vr::EVRSettingsError error = kSettingsNoAnswer;
	settings.SetInt32(kSettingsSection, setting.key, value, &error);
	if (error != vr::VRSettingsError_None)
		DriverLog("Config: Failed to store %s (err=%d)\n", setting.key, static_cast<int>(error));
	return static_cast<int>(error);
}

const char *PresenceModeName(PresenceMode mode)
{
	switch (mode) {
	case PresenceMode::On:
		return "on";
	case PresenceMode::Off:
		return "off";
	case PresenceMode::Auto:
		break;
	}
	return "auto";
}

std::optional<PresenceMode> ParsePresenceMode(const char *text)
{
	for (const PresenceMode mode : {PresenceMode::Auto, PresenceMode::On, PresenceMode::Off})
		if (std::strcmp(text, PresenceModeName(mode)) == 0)
			return mode;
	return std::nullopt;
}

// Only a text the host read is judged: any settings error (no key, a value
// of another type, a host that cannot read it) means auto, without a line.
PresenceMode ReadPresenceMode(vr::IVRSettings &settings)
{
	char text[64] = "";
	vr::EVRSettingsError error = kSettingsNoAnswer;
	settings.GetString(kSettingsSection, kPresenceModeKey, text, sizeof(text), &error);
	if (error != vr::VRSettingsError_None)
		return PresenceMode::Auto;
	text[sizeof(text) - 1] = '\0';
	if (const std::optional<PresenceMode> mode = ParsePresenceMode(text))
		return *mode;
	DriverLog("Config: Unknown presence_mode \"%s\", using auto\n", EscapeControlBytes(text).c_str());
	return PresenceMode::Auto;
}

int StorePresenceMode(vr::IVRSettings &settings, PresenceMode mode)
{
	vr::EVRSettingsError error = kSettingsNoAnswer;
	settings.SetString(kSettingsSection, kPresenceModeKey, PresenceModeName(mode), &error);
	if (error != vr::VRSettingsError_None)
		DriverLog("Config: Failed to store presence_mode (err=%d)\n", error);
	return error;
}

} // namespace zelvan
