// The reader thread: open, read the calibration, reset the detector, set the
// rate, then feed samples until the sensor goes away or a stop is asked for.
#include "sensor/hid_reader.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include <hidapi.h>

#include "core/driver_log.h"
#include "sensor/sensor_protocol.h"

namespace zelvan {
namespace {

using namespace std::chrono_literals;

constexpr int kSampleReadTimeoutMs = 500;
constexpr auto kReopenWait = 5000ms;
constexpr auto kReopenWaitSlice = 50ms;
constexpr auto kShortSession = 1000ms;
constexpr auto kFirstShortSessionPause = 1000ms;
// A stream silent this long after the rate command (and at least this many
// report periods) gets the command again; after kRateResends of those the
// device is reopened.
constexpr auto kStreamSilence = 3000ms;
constexpr int kStreamSilencePeriods = 8;
constexpr int kRateResends = 1;

} // namespace

const char *ConnectionStateWord(ConnectionState state)
{
	switch (state) {
	case ConnectionState::Open: return "open";
	case ConnectionState::Reconnecting: return "reconnecting";
	default: return "not_connected";
	}
}

HidReader::HidReader(int32_t window_length, bool log_raw_samples, int32_t threshold_offset)
	: short_session_pause_(kFirstShortSessionPause), window_length_(window_length), threshold_offset_(threshold_offset),
	  wanted_window_(window_length), wanted_offset_(threshold_offset), log_raw_samples_(log_raw_samples),
	  detector_(window_length, threshold_offset)
{
}

void HidReader::ChangeSettings(int32_t window_length, int32_t threshold_offset, uint16_t report_period_ms)
{
	wanted_window_.store(window_length);
	wanted_offset_.store(threshold_offset);
	wanted_period_.store(report_period_ms);
	settings_generation_.fetch_add(1);
}

HidReader::~HidReader()
{
	Stop();
}

void HidReader::Start(uint16_t vendor_id, uint16_t product_id, uint16_t report_period_ms)
{
	stop_requested_.exchange(false);
	report_period_ms_ = report_period_ms;
	try {
		thread_ = std::thread(&HidReader::ThreadMain, this, vendor_id, product_id);
	} catch (const std::system_error &) {
		// Without a thread the reader stays NotConnected with its initial values.
	}
}

void HidReader::Stop()
{
	stop_requested_.exchange(true);
	if (thread_.joinable())
		thread_.join();
	if (device_ != nullptr) {
		hid_close(device_);
		device_ = nullptr;
		DriverLog("HID: Device closed\n");
	}
	connection_state_.exchange(ConnectionState::NotConnected);
}

UserSignature HidReader::GetUserSignature() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return calibration_;
}

std::string HidReader::GetTrackingSerial() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return std::string(calibration_.tracking_serial);
}

void HidReader::ThreadMain(uint16_t vendor_id, uint16_t product_id)
{
	while (!stop_requested_.load()) {
		ApplySettingsChange();
		if (device_ == nullptr && !OpenDevice(vendor_id, product_id))
			continue;
		if (!ReadOneReport())
			PauseAfterShortSession();
	}
}

// A change that leaves every value as it was does nothing, so that setting
// the value in force does not clear presence.
void HidReader::ApplySettingsChange()
{
	const uint32_t generation = settings_generation_.load();
	if (generation == applied_generation_)
		return;
	applied_generation_ = generation;
	const int32_t window = wanted_window_.load();
	const int32_t offset = wanted_offset_.load();
	const uint16_t period = wanted_period_.load();
	const bool detector_changed = window != window_length_ || offset != threshold_offset_;
	const bool period_changed = period != 0 && period != report_period_ms_;
	window_length_ = window;
	threshold_offset_ = offset;
	if (period != 0)
		report_period_ms_ = period;
	if (device_ == nullptr || (!detector_changed && !period_changed))
		return;
	detector_.Reset(GetUserSignature(), window_length_, threshold_offset_);
	if (period_changed) {
		SendRateCommand(device_, report_period_ms_);
		last_sample_ = std::chrono::steady_clock::now();
		rate_resends_ = 0;
	}
}

// Returns true when the device is open and the sample loop may read.
bool HidReader::OpenDevice(uint16_t vendor_id, uint16_t product_id)
{
	connection_state_.exchange(ConnectionState::Reconnecting);
	device_ = hid_open(vendor_id, product_id, nullptr);
	if (device_ == nullptr) {
		LogOpenFailure(vendor_id, product_id);
		WaitBeforeReopen(kReopenWait);
		return false;
	}
	open_error_.clear();
	session_start_ = std::chrono::steady_clock::now();
	connection_state_.exchange(ConnectionState::Open);
	DriverLog("HID: Device opened/reconnected\n");

	if (const auto signature = ReadUserSignature(device_, stop_requested_)) {
		{
			std::lock_guard<std::mutex> guard(lock_);
			calibration_ = *signature;
		}
		LogCalibration(*signature);
	}
	// Shutting down: neither the reset nor the rate reply's wait is wanted.
	if (stop_requested_.load())
		return false;

	const UserSignature calibration = GetUserSignature();
	detector_.Reset(calibration, window_length_, threshold_offset_);
	SendRateCommand(device_, report_period_ms_);
	last_sample_ = std::chrono::steady_clock::now();
	rate_resends_ = 0;
	return true;
}

// A sensor that is there but does not open (no access rights, say) is logged
// with hidapi's reason when that starts or the reason changes, not at every
// retry; one that is simply not plugged in stays quiet.
void HidReader::LogOpenFailure(uint16_t vendor_id, uint16_t product_id)
{
	const wchar_t *text = hid_error(nullptr);
	std::wstring reason = text != nullptr ? text : L"";
	hid_device_info *found = hid_enumerate(vendor_id, product_id);
	const bool listed = found != nullptr;
	hid_free_enumeration(found);
	if (!listed) {
		open_error_.clear();
		return;
	}
	if (reason == open_error_)
		return;
	open_error_ = std::move(reason);
	DriverLog("HID: Cannot open the sensor: %ls\n", open_error_.c_str());
}

// Sleeps in slices so that Stop ends the wait within one slice.
void HidReader::WaitBeforeReopen(std::chrono::milliseconds wait)
{
	for (auto waited = 0ms; waited < wait && !stop_requested_.load(); waited += kReopenWaitSlice)
		std::this_thread::sleep_for(kReopenWaitSlice);
}

// Returns false when the device went away and has been closed.
bool HidReader::ReadOneReport()
{
	uint8_t report[65];
	const auto asked = std::chrono::steady_clock::now();
	const int n = hid_read_timeout(device_, report, sizeof(report), kSampleReadTimeoutMs);
	if (n == -1) {
		DriverLog("HID: Device disconnected\n");
		CloseDevice();
		connection_state_.exchange(ConnectionState::Reconnecting);
		return false;
	}
	if (n == 0)
		WaitOutEmptyRead(asked);
	const std::optional<uint16_t> raw = DecodeSample(report, n);
	if (!raw)
		return KeepStreamAlive();
	last_sample_ = std::chrono::steady_clock::now();
	samples_.Push(*raw, static_cast<uint32_t>(
		std::chrono::duration_cast<std::chrono::milliseconds>(last_sample_ - clock_origin_).count()));
	rate_resends_ = 0;
	stream_gave_up_ = false;
	raw_prox_.store(*raw, std::memory_order_relaxed);
	detector_.AddSample(*raw);
	if (log_raw_samples_)
		DriverLog("HID: raw_prox=%u\n", static_cast<unsigned>(*raw));
	return true;
}

// A read that came back empty before its time-out (a backend that does not
// wait) would make the loop spin; the rest of the time-out is waited here
// instead, at most one report period so that a sample that comes meanwhile
// is read no later than the stream's own pace, and in slices for Stop.
void HidReader::WaitOutEmptyRead(std::chrono::steady_clock::time_point asked)
{
	const uint16_t report_period_ms = report_period_ms_;
	const auto until = asked + std::min<std::chrono::milliseconds>(std::chrono::milliseconds(kSampleReadTimeoutMs),
	                                                                std::chrono::milliseconds(report_period_ms));
	for (auto now = std::chrono::steady_clock::now(); now < until && !stop_requested_.load(); now = std::chrono::steady_clock::now())
		std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, kReopenWaitSlice));
}

// A sensor that stalled on the rate command (after a replug, say) stays open
// but sends nothing. A read error or time-out alone does not mean the device
// is gone; a long silence gets the rate command again, and a device that
// still sends nothing is closed, to be reopened as after a disconnection.
// Returns false when it was closed.
bool HidReader::KeepStreamAlive()
{
	const uint16_t report_period_ms = report_period_ms_;
	const auto limit = std::max<std::chrono::milliseconds>(kStreamSilence, kStreamSilencePeriods * std::chrono::milliseconds(report_period_ms));
	if (std::chrono::steady_clock::now() - last_sample_ < limit)
		return true;
	if (rate_resends_ < kRateResends) {
		++rate_resends_;
		SendRateCommand(device_, report_period_ms);
		last_sample_ = std::chrono::steady_clock::now();
		return true;
	}
	DriverLog("HID: No samples from the sensor, reopening it\n");
	stream_gave_up_ = true;
	CloseDevice();
	connection_state_.exchange(ConnectionState::Reconnecting);
	return false;
}

// After a disconnection. An unplugged sensor is worth reopening at once, but
// one that opens and then fails every call would be reopened in a busy loop
// that floods the log; so a session that ended within its first second waits
// before the next open, twice as long each time up to the usual reopen wait.
// A session that lasted longer starts the pauses over, unless it ended
// because the sensor sent no samples: a sensor that never streams is
// reopened ever more slowly too.
void HidReader::PauseAfterShortSession()
{
	if (!stream_gave_up_ && std::chrono::steady_clock::now() - session_start_ >= kShortSession) {
		short_session_pause_ = kFirstShortSessionPause;
		return;
	}
	WaitBeforeReopen(short_session_pause_);
	short_session_pause_ = std::min<std::chrono::milliseconds>(short_session_pause_ * 2, kReopenWait);
}

void HidReader::CloseDevice()
{
	hid_close(device_);
	device_ = nullptr;
}

} // namespace zelvan
