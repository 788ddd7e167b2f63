// The driver's settings in the runtime's store, read once at Init.
#pragma once

#include <cstdint>
#include <optional>

namespace vr {
class IVRSettings;
}

namespace zelvan {

inline constexpr const char *kSettingsSection = "driver_ZelvanProximity";

struct IntSetting {
	const char *key;
	int32_t fallback; // used unless the runtime reports success
	int32_t min;
	int32_t max;
};

inline constexpr IntSetting kReportRateMs{"report_rate_ms", 200, 50, 5000};
inline constexpr IntSetting kLogVerbosity{"log_verbosity", 0, 0, 1};
inline constexpr IntSetting kMovingAvgLength{"moving_avg_length", 8, 1, 64};
// Moves the sensor's calibrated threshold for a wearer it does not fit; the
// effective threshold is clamped to 0..65535 on top of this range.
inline constexpr IntSetting kThresholdOffset{"threshold_offset", 0, -65535, 65535};

// The integer settings as Init read and clamped them.
struct SensorSettings {
	uint32_t report_rate_ms = 200;
	uint32_t moving_avg_length = 8;
	int32_t threshold_offset = 0;
	bool log_verbose = false;
};

// Reads one integer setting of our section: the fallback on any settings
// error, else the value clamped into [min, max].
int32_t ReadClampedSetting(vr::IVRSettings &settings, const IntSetting &setting);
// Stores one integer setting of our section for the next start: the
// runtime's error code, 0 once stored (logged when it fails).
int StoreIntSetting(vr::IVRSettings &settings, const IntSetting &setting, int32_t value);

// Who decides presence at start: the sensor, or a manual value held from the
// first frame on (for headsets whose sensor is covered or broken).
enum class PresenceMode { Auto, On, Off };

inline constexpr const char *kPresenceModeKey = "presence_mode";

// "auto", "on" or "off".
const char *PresenceModeName(PresenceMode mode);
// The mode a stored or typed word names; nothing for any other text.
std::optional<PresenceMode> ParsePresenceMode(const char *text);
// Init: auto when the key cannot be read; a text that is not a mode is
// logged and taken as auto.
PresenceMode ReadPresenceMode(vr::IVRSettings &settings);
// The persist command: returns the runtime's error code, 0 once stored.
int StorePresenceMode(vr::IVRSettings &settings, PresenceMode mode);

} // namespace zelvan
