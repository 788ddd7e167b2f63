// The control commands: status, manual presence, IPD and the input test.
#include "control/control_commands.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <limits>
#include <type_traits>

#include "core/c_numbers.h"
#include "core/driver_log.h"
#include "core/driver_settings.h"
#include "core/host_interfaces.h"
#include "core/text_escape.h"
#include "ipd/ipd_controls.h"
#include "presence/proximity_output.h"
#include "sensor/hid_reader.h"

namespace zelvan {
namespace {

using Reply = char (&)[kReplySize];

const char *TrueFalse(bool value)
{
	return value ? "true" : "false";
}

bool Is(const char *text, const char *command)
{
	return std::strcmp(text, command) == 0;
}

bool Starts(const char *text, const char *prefix)
{
	return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Only when one is set, so that a default status line reads as it always did.
void AppendThresholdOffset(const ControlTargets &t, Reply reply)
{
	if (t.settings.threshold_offset == 0)
		return;
	const size_t used = std::strlen(reply);
	std::snprintf(reply + used, kReplySize - used, " threshold_offset=%d", static_cast<int>(t.settings.threshold_offset));
}

// Only while a timed hold runs: the seconds left, rounded up.
void AppendHoldLeft(const ControlTargets &t, Reply reply)
{
	const long long left = t.presence.HoldSecondsLeft();
	if (left == 0)
		return;
	const size_t used = std::strlen(reply);
	std::snprintf(reply + used, kReplySize - used, " hold_left_s=%lld", left);
}

void Status(const ControlTargets &t, Reply reply)
{
	// Room for any formatted number, so that no value is cut short.
	char ipd[sizeof(FixedText::text) + 2] = "unknown";
	if (t.ipd.current_ipd_m > 0.0f)
		std::snprintf(ipd, sizeof(ipd), "%smm", FormatFixed(t.ipd.current_ipd_m * 1000.0f, 1).text);
	const char *source = t.presence.manual_override ? "manual" : "algorithm";
	const char *lh_config = t.ipd.lh_config_loaded ? "loaded" : "not_loaded";
	const int verbosity = t.settings.log_verbose ? 1 : 0;
	if (!t.reader) {
		std::snprintf(reply, kReplySize,
		              "proximity=%s hid=not_connected source=%s report_rate_ms=%d log_verbosity=%d "
		              "moving_avg_length=%d ipd=%s lh_config=%s",
		              TrueFalse(t.presence.last_presence), source, static_cast<int>(t.settings.report_rate_ms), verbosity,
		              static_cast<int>(t.settings.moving_avg_length), ipd, lh_config);
		AppendThresholdOffset(t, reply);
		AppendHoldLeft(t, reply);
		return;
	}
	const ConnectionState state = t.reader->GetConnectionState();
	const UserSignature sig = t.reader->GetUserSignature();
	const ProximitySnapshot snap = t.reader->GetSnapshot();
	const uint16_t raw = t.reader->GetRawProximity();
	std::snprintf(reply, kReplySize,
	              "proximity=%s hid=%s source=%s prox_raw=%u cal=%u thresh=%u hyst=%u trim=%d averaged_prox=%u "
	              "detected=%s eff_thresh=%u samples=%u report_rate_ms=%d log_verbosity=%d moving_avg_length=%d "
	              "ipd=%s lh_config=%s",
	              TrueFalse(t.presence.last_presence), ConnectionStateWord(state), source, unsigned{raw},
	              unsigned{sig.programmed_cal}, unsigned{sig.proximity_threshold}, unsigned{sig.proximity_hysteresis},
	              int{sig.user_trim}, snap.averaged_prox, TrueFalse(snap.person_detected), unsigned{snap.eff_thresh},
	              snap.samples, static_cast<int>(t.settings.report_rate_ms), verbosity, static_cast<int>(t.settings.moving_avg_length),
	              ipd, lh_config);
	AppendThresholdOffset(t, reply);
	AppendHoldLeft(t, reply);
}

constexpr long long kLongestHoldS = 24 * 3600;

// "proximity on|off for DURATION": seconds, or a whole number with s, m or h.
// Nothing changes unless the whole duration is understood and in range.
void HoldPresence(const ControlTargets &t, bool present, const char *argument, Reply reply)
{
	const char *end = argument + std::strlen(argument);
	unsigned long long count = 0;
	const auto [unit, error] = std::from_chars(argument, end, count);
	const bool digits = error == std::errc() || error == std::errc::result_out_of_range;
	long long scale = 0;
	if (digits && unit + 1 >= end)
		scale = unit == end ? 1 : *unit == 's' ? 1 : *unit == 'm' ? 60 : *unit == 'h' ? 3600 : 0;
	if (scale == 0) {
		std::snprintf(reply, kReplySize,
		              "ERR usage: proximity on|off for DURATION (seconds, or a whole number with s, m or h: "
		              "90, 90s, 10m, 2h; 1s to 24h)");
		return;
	}
	if (error != std::errc() || count == 0 || count > static_cast<unsigned long long>(kLongestHoldS / scale)) {
		std::snprintf(reply, kReplySize, "ERR proximity hold out of range (1s to 24h)");
		return;
	}
	const long long seconds = static_cast<long long>(count) * scale;
	t.presence.HoldManualPresence(present, std::chrono::seconds(seconds));
	std::snprintf(reply, kReplySize, "OK proximity=%s source=manual hold_left_s=%lld", TrueFalse(present), seconds);
}

// The duration of "proximity on for ...", or null when `text` is not that
// command; "for" with nothing after it is the command without its duration.
const char *HoldArgument(const char *text, const char *command)
{
	const size_t length = std::strlen(command);
	if (!Starts(text, command))
		return nullptr;
	if (text[length] == '\0')
		return text + length;
	return text[length] == ' ' ? text + length + 1 : nullptr;
}

// Stores the mode for the next runs and applies it now; nothing changes when
// the runtime does not store it.
void PersistPresence(const ControlTargets &t, const char *argument, Reply reply)
{
	const std::optional<PresenceMode> mode = ParsePresenceMode(argument);
	if (!mode) {
		std::snprintf(reply, kReplySize, "ERR usage: proximity persist on|off|auto");
		return;
	}
	const int error = t.presence.PersistPresenceMode(*mode);
	if (error != 0)
		std::snprintf(reply, kReplySize, "ERR presence_mode not stored (settings error %d)", error);
	else
		std::snprintf(reply, kReplySize, "OK presence_mode=%s", PresenceModeName(*mode));
}

void SetIpd(const ControlTargets &t, const char *argument, Reply reply)
{
	if (t.ipd.first_model) {
		std::snprintf(reply, kReplySize, "ERR ipd not supported on Zelvan 1");
		return;
	}
	// Text after the number ("63.5mm") is ignored.
	bool unusable = false;
	const std::optional<float> parsed = ParseFloat(argument, argument + std::strlen(argument), nullptr, &unusable);
	if (!parsed && !unusable) {
		std::snprintf(reply, kReplySize, "ERR ipd requires numeric argument (e.g. ipd 63.5)");
		return;
	}
	// nan, inf and 1e39 are numbers too, just not IPDs.
	if (!parsed || !(*parsed >= 48.0f && *parsed <= 75.0f)) {
		std::snprintf(reply, kReplySize, "ERR ipd out of range (48-75mm)");
		return;
	}
	const float value = *parsed;
	if (t.ipd.ApplyIpd(value))
		std::snprintf(reply, kReplySize, "OK ipd=%smm", FormatFixed(value, 1).text);
	else
		std::snprintf(reply, kReplySize, "ERR lh_config not loaded");
}

void QueryIpd(const ControlTargets &t, Reply reply)
{
	if (t.ipd.first_model)
		std::snprintf(reply, kReplySize, "ERR ipd not supported on Zelvan 1");
	else if (t.ipd.current_ipd_m > 0.0f)
		std::snprintf(reply, kReplySize, "OK ipd=%smm", FormatFixed(t.ipd.current_ipd_m * 1000.0f, 1).text);
	else
		std::snprintf(reply, kReplySize, "OK ipd=unknown");
}

void LoadConfig(const ControlTargets &t, const char *path, Reply reply)
{
	DriverLog("IPD: Loading lighthouse config from explicit path: %s\n", EscapeControlBytes(path).c_str());
	if (t.ipd.ParseLighthouseConfig(path))
		std::snprintf(reply, kReplySize, "OK lh_config=loaded");
	else
		std::snprintf(reply, kReplySize, "ERR failed to read config: file not found or parse error");
}

bool IsSpace(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// One base-10 integer after optional white space, as sscanf's %llu or %d
// reads it, but refused where sscanf would wrap or saturate: "-1" or a
// twenty-digit handle would reach the runtime as 18446744073709551615.
template <typename Integer>
bool ReadInteger(const char *&cursor, const char *end, Integer &out)
{
	while (cursor < end && IsSpace(*cursor))
		++cursor;
	bool negative = false;
	if (cursor < end && (*cursor == '+' || *cursor == '-')) {
		negative = *cursor == '-';
		++cursor;
	}
	unsigned long long magnitude = 0;
	const auto [next, error] = std::from_chars(cursor, end, magnitude);
	if (error != std::errc())
		return false;
	cursor = next;
	const unsigned long long max = std::numeric_limits<Integer>::max();
	if (!negative) {
		if (magnitude > max)
			return false;
		out = static_cast<Integer>(magnitude);
		return true;
	}
	if (std::is_unsigned_v<Integer> || magnitude > max + 1)
		return false;
	out = static_cast<Integer>(-static_cast<long long>(magnitude));
	return true;
}

void TestHandle(const char *argument, Reply reply)
{
	unsigned long long handle = 0;
	int value = 0;
	const char *cursor = argument;
	const char *end = argument + std::strlen(argument);
	if (!ReadInteger(cursor, end, handle) || !ReadInteger(cursor, end, value)) {
		std::snprintf(reply, kReplySize, "ERR usage: test_handle <handle> <0|1>");
		return;
	}
	vr::IVRDriverInput *input = HostDriverInput();
	const int error = input != nullptr ? input->UpdateBooleanComponent(handle, value != 0, 0.0)
	                                   : vr::VRInputError_InvalidHandle;
	DriverLog("TestHandle: handle=%llu value=%s err=%d\n", handle, TrueFalse(value != 0), error);
	std::snprintf(reply, kReplySize, "OK handle=%llu value=%s err=%d", handle, TrueFalse(value != 0), error);
}

// The whole argument is one integer, nothing before or after it but blanks.
template <typename Integer>
bool ReadWholeInteger(const char *text, Integer &out)
{
	const char *cursor = text;
	const char *end = text + std::strlen(text);
	if (!ReadInteger(cursor, end, out))
		return false;
	while (cursor < end && IsSpace(*cursor))
		++cursor;
	return cursor == end;
}

// "samples": where the ring is now. "samples N": the readings after N, as
// many as one reply holds; the client asks again from `next`.
void Samples(const ControlTargets &t, const char *argument, Reply reply)
{
	if (!t.reader) {
		std::snprintf(reply, kReplySize, "ERR samples: no sensor reader (the HID library did not start)");
		return;
	}
	if (argument == nullptr) {
		std::snprintf(reply, kReplySize, "OK next=%u", unsigned{t.reader->CopySamplesAfter(0, nullptr, 0).newest});
		return;
	}
	uint32_t after = 0;
	if (!ReadWholeInteger(argument, after)) {
		std::snprintf(reply, kReplySize, "ERR usage: samples [NUMBER]");
		return;
	}
	// The header's longest form, then as many "N:RAW:MS" as fit after it.
	constexpr size_t kHeaderRoom = sizeof("OK next=4294967295 lost=4294967295") - 1;
	constexpr size_t kMaxEntries = (kReplySize - 1 - kHeaderRoom) / sizeof(" 1:0:0");
	RingSample found[kMaxEntries];
	const SampleRing::Copy copy = t.reader->CopySamplesAfter(after, found, kMaxEntries);
	if (after != copy.newest && copy.newest - after > copy.newest) {
		std::snprintf(reply, kReplySize, "ERR samples: %u is ahead of the newest reading %u", unsigned{after},
		              unsigned{copy.newest});
		return;
	}
	// Sized so that the header and the entries always fit the reply.
	char entries[kReplySize - kHeaderRoom] = "";
	size_t used = 0;
	uint32_t next = after;
	for (size_t i = 0; i < copy.count; ++i) {
		char entry[40];
		const int n = std::snprintf(entry, sizeof(entry), " %u:%u:%u", unsigned{found[i].number}, unsigned{found[i].raw},
		                            unsigned{found[i].ms});
		if (n < 0 || used + static_cast<size_t>(n) > kReplySize - 1 - kHeaderRoom)
			break;
		std::memcpy(entries + used, entry, static_cast<size_t>(n) + 1);
		used += static_cast<size_t>(n);
		next = found[i].number;
	}
	if (copy.lost != 0)
		std::snprintf(reply, kReplySize, "OK next=%u lost=%u%s", unsigned{next}, unsigned{copy.lost}, entries);
	else
		std::snprintf(reply, kReplySize, "OK next=%u%s", unsigned{next}, entries);
}

// An offset that would leave presence stuck is refused with the range that
// works for this sensor's calibration (the default one before it is read).
bool OffsetCanSwitch(const ControlTargets &t, int32_t offset, Reply reply)
{
	const UserSignature calibration = t.reader ? t.reader->GetUserSignature() : UserSignature{};
	const ProximityAlgorithm::OffsetRange range = ProximityAlgorithm::SwitchingOffsets(calibration);
	if (offset >= range.min && offset <= range.max)
		return true;
	const long long threshold = static_cast<long long>(calibration.proximity_threshold) + calibration.user_trim + offset;
	const unsigned hyst = calibration.proximity_hysteresis;
	if (offset < range.min)
		std::snprintf(reply, kReplySize,
		              "ERR threshold_offset out of range (%d to %d): the threshold %lld would be below the hysteresis "
		              "%u, so presence would never go off",
		              static_cast<int>(range.min), static_cast<int>(range.max), threshold, hyst);
	else
		std::snprintf(reply, kReplySize,
		              "ERR threshold_offset out of range (%d to %d): the threshold %lld plus the hysteresis %u would "
		              "be above 65535, so presence would never come on",
		              static_cast<int>(range.min), static_cast<int>(range.max), threshold, hyst);
	return false;
}

// "set KEY VALUE": a presence setting changed in the running driver and
// stored for the next start. Nothing changes unless it could be stored.
void SetSetting(const ControlTargets &t, const char *argument, Reply reply)
{
	const IntSetting *setting = nullptr;
	for (const IntSetting *candidate : {&kMovingAvgLength, &kReportRateMs, &kThresholdOffset})
		if (Starts(argument, candidate->key) && argument[std::strlen(candidate->key)] == ' ')
			setting = candidate;
	int32_t value = 0;
	if (setting == nullptr || !ReadWholeInteger(argument + std::strlen(setting->key) + 1, value)) {
		std::snprintf(reply, kReplySize, "ERR usage: set moving_avg_length|report_rate_ms|threshold_offset VALUE");
		return;
	}
	if (value < setting->min || value > setting->max) {
		std::snprintf(reply, kReplySize, "ERR %s out of range (%d to %d)", setting->key, static_cast<int>(setting->min),
		              static_cast<int>(setting->max));
		return;
	}
	if (setting == &kThresholdOffset && !OffsetCanSwitch(t, value, reply))
		return;
	const int error = StoreIntSetting(*HostSettings(), *setting, value);
	if (error != 0) {
		std::snprintf(reply, kReplySize, "ERR %s not stored (settings error %d)", setting->key, error);
		return;
	}
	if (setting == &kMovingAvgLength)
		t.settings.moving_avg_length = static_cast<uint32_t>(value);
	else if (setting == &kReportRateMs)
		t.settings.report_rate_ms = static_cast<uint32_t>(value);
	else
		t.settings.threshold_offset = value;
	if (t.reader)
		t.reader->ChangeSettings(static_cast<int32_t>(t.settings.moving_avg_length), t.settings.threshold_offset,
		                         static_cast<uint16_t>(t.settings.report_rate_ms));
	DriverLog("Config: %s=%d (set through the control channel)\n", setting->key, static_cast<int>(value));
	std::snprintf(reply, kReplySize, "OK %s=%d", setting->key, static_cast<int>(value));
}

} // namespace

void ExecuteControlCommand(const ControlTargets &t, const char *text, char (&reply)[kReplySize], size_t length)
{
	std::memset(reply, 0, kReplySize);
	// Text after a NUL is ignored, but a duration cut there is not the one sent:
	// "proximity off for 2\0h" is no 2 s hold. A C client's terminator is fine.
	const size_t used = std::strlen(text);
	const bool cut = length > used && std::any_of(text + used, text + length, [](char c) { return c != '\0'; });
	if (Is(text, "proximity on")) {
		t.presence.SetManualPresence(true);
		std::snprintf(reply, kReplySize, "OK proximity=true source=manual");
	} else if (Is(text, "proximity off")) {
		t.presence.SetManualPresence(false);
		std::snprintf(reply, kReplySize, "OK proximity=false source=manual");
	} else if (Is(text, "proximity auto")) {
		t.presence.ClearManualOverride();
		std::snprintf(reply, kReplySize, "OK source=algorithm");
	} else if (const char *on_for = HoldArgument(text, "proximity on for")) {
		HoldPresence(t, true, cut ? "" : on_for, reply);
	} else if (const char *off_for = HoldArgument(text, "proximity off for")) {
		HoldPresence(t, false, cut ? "" : off_for, reply);
	} else if (Starts(text, "proximity persist ")) {
		PersistPresence(t, text + 18, reply);
	} else if (Is(text, "status")) {
		Status(t, reply);
	} else if (Starts(text, "ipd ")) {
		SetIpd(t, text + 4, reply);
	} else if (Is(text, "ipd?")) {
		QueryIpd(t, reply);
	} else if (Starts(text, "load_lh_config ")) {
		LoadConfig(t, text + 15, reply);
	} else if (Starts(text, "test_handle ")) {
		TestHandle(text + 12, reply);
	} else if (Is(text, "samples")) {
		Samples(t, nullptr, reply);
	} else if (Starts(text, "samples ")) {
		Samples(t, text + 8, reply);
	} else if (Starts(text, "set ")) {
		SetSetting(t, text + 4, reply);
	} else {
		std::snprintf(reply, kReplySize, "ERR unknown command");
	}
}

} // namespace zelvan
