// The simulated sensor's firmware and the host's handles on it: command
// replies, the timed stream of sample reports, unplugging, the event log.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <hidapi.h>

#include "sim_config.h"

namespace zelvan::sim {

using Clock = std::chrono::steady_clock;

struct InputReport {
	std::vector<uint8_t> bytes;
	Clock::time_point ready; // a delayed reply is not readable before this
};

} // namespace zelvan::sim

// What hid_open hands out: one host's view of the device.
struct hid_device_ {
	uint64_t incarnation = 0; // of the device it was opened on; stale once that one vanished
	zelvan::sim::Clock::time_point anchor; // sample k is due at anchor + k periods
	int64_t next_index = 1;
	std::deque<zelvan::sim::InputReport> replies;
	bool nonblocking = false;
	std::wstring error;
	hid_device_info *info = nullptr;
};

namespace zelvan::sim {

inline constexpr unsigned kDefaultPeriodMs = 200;
inline constexpr size_t kReportSize = 64;

// Frees a list from Enumerate.
void FreeDeviceInfo(hid_device_info *info);

// Defined by subject: the hidapi calls in sim_device.cpp, the sample stream and
// command replies in sim_firmware.cpp, configuration, unplugs, event log and
// control calls in sim_scenario.cpp.
class SimSensor {
public:
	// One per process, never destroyed: the driver's thread may still be in
	// a read while the process exits.
	static SimSensor &Instance();

	int Init();
	int Exit();
	hid_device *Open(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial);
	hid_device *OpenPath(const char *path);
	void Close(hid_device *device);
	int Read(hid_device *device, unsigned char *data, size_t length, int timeout_ms);
	int SendFeature(hid_device *device, const unsigned char *data, size_t length);
	int Refuse(hid_device *device, const wchar_t *why);
	int SetNonblocking(hid_device *device, bool nonblocking);
	bool IsNonblocking(hid_device *device);
	const wchar_t *Error(hid_device *device);
	hid_device_info *Enumerate(unsigned short vendor_id, unsigned short product_id);
	hid_device_info *DeviceInfo(hid_device *device);
	enum class Text { Manufacturer, Product, Serial };
	int GetText(hid_device *device, Text which, wchar_t *out, size_t capacity);

	// Control from tests and tools.
	int Configure(const char *text);
	void Plug(bool present);
	void SetLevel(std::optional<unsigned> raw);
	std::string Events();
	void ClearEvents();
	std::string Errors();
	int OpenCount();
	uint64_t ReadCount();
	bool FailInit(bool fail);
	bool RefusesOpen();
	unsigned PeriodMs();
	std::optional<Image> CurrentImage();

private:
	SimSensor() = default;
	using Lock = std::unique_lock<std::mutex>;

	void Apply(ParseResult result, Clock::time_point now);
	void ReloadFromEnvironment(Clock::time_point now);
	void Advance(Clock::time_point now);
	void Vanish(Clock::time_point at, const char *event);
	void Replugged(Clock::time_point at);
	bool Present(Clock::time_point now) const;
	bool Stale(const hid_device *device) const { return device->incarnation != incarnation_; }
	void Event(const std::string &text, Clock::time_point at);
	void SetError(hid_device *device, const wchar_t *why);

	Clock::time_point At(int64_t scenario_ms) const { return *scenario_start_ + std::chrono::milliseconds(scenario_ms); }
	const Window *SilenceAt(Clock::time_point t) const;
	Clock::duration Period() const { return std::chrono::milliseconds(period_ms_); }
	std::optional<int64_t> DueSample(hid_device *device, Clock::time_point now);
	Clock::time_point NextSample(const hid_device *device) const;
	std::vector<uint8_t> SampleReport(Clock::time_point at);
	// The level the follow file asks for, read again when it is due.
	std::optional<unsigned> FollowedLevel(Clock::time_point now);
	// Padded to a whole input report unless `full_report` is false.
	void Queue(hid_device *device, std::vector<uint8_t> reply, unsigned delay_ms, bool interleave, Clock::time_point now,
	           bool full_report = true);
	void RateCommand(hid_device *device, const unsigned char *params, Clock::time_point now);
	void BlockCommand(hid_device *device, unsigned block, Clock::time_point now);

	std::mutex mutex_;
	std::condition_variable changed_;

	std::optional<SensorConfig> config_; // none: no device at all
	std::vector<std::string> errors_;
	std::string file_key_; // path and text of the configuration file last loaded
	Clock::time_point loaded_at_;
	std::optional<Clock::time_point> scenario_start_; // the first open after loading
	std::vector<bool> unplug_started_;
	std::vector<bool> unplug_ended_;

	uint64_t incarnation_ = 1;
	bool manual_present_ = false;
	bool initialised_ = false;
	bool fail_init_ = false;
	unsigned period_ms_ = kDefaultPeriodMs;
	uint64_t samples_sent_ = 0;
	std::optional<unsigned> level_override_;
	std::optional<bool> followed_on_;    // what the follow file said last
	std::string follow_text_;            // ... in the words it said it
	std::optional<Clock::time_point> follow_read_at_;
	bool stall_next_rate_ = false; // stall_after_plug: armed by each replug
	bool streaming_held_ = false;  // ... and no samples until a rate command
	std::set<hid_device *> handles_;
	int open_count_ = 0;
	uint64_t read_count_ = 0; // hid_read and hid_read_timeout calls

	std::string events_;
	std::FILE *log_file_ = nullptr;
	std::wstring global_error_;
};

} // namespace zelvan::sim
