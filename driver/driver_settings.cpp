// Reading and clamping the driver's integer settings.
#include "driver/driver_settings.h"

#include <algorithm>

#include <openvr_driver.h>

namespace zelvan {

int32_t ReadClampedSetting(vr::IVRSettings &settings, const IntSetting &setting)
{
	vr::EVRSettingsError error = vr::VRSettingsError_None;
	const int32_t value = settings.GetInt32(kSettingsSection, setting.key, &error);
	if (error != vr::VRSettingsError_None)
		return setting.fallback;
	return std::clamp(value, setting.min, setting.max);
}

} // namespace zelvan
