// The reader thread: open, read the calibration, reset the detector, set the
// rate, then feed samples until the sensor goes away or a stop is asked for.
#include "sensor/hid_reader.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include <hidapi.h>

#include "driver/driver_log.h"
#include "sensor/sensor_protocol.h"

namespace zelvan {
namespace {

using namespace std::chrono_literals;

constexpr int kSampleReadTimeoutMs = 500;
constexpr auto kReopenWait = 5000ms;
constexpr auto kReopenWaitSlice = 50ms;
constexpr auto kShortSession = 1000ms;
constexpr auto kFirstShortSessionPause = 1000ms;

} // namespace

const char *ConnectionStateWord(ConnectionState state)
{
	switch (state) {
	case ConnectionState::Open: return "open";
	case ConnectionState::Reconnecting: return "reconnecting";
	default: return "not_connected";
	}
}

HidReader::HidReader(int32_t window_length, bool log_raw_samples)
	: short_session_pause_(kFirstShortSessionPause), log_raw_samples_(log_raw_samples), detector_(window_length)
{
}

HidReader::~HidReader()
{
	Stop();
}

void HidReader::Start(uint16_t vendor_id, uint16_t product_id, uint16_t report_period_ms)
{
	stop_requested_.exchange(false);
	try {
		thread_ = std::thread(&HidReader::ThreadMain, this, vendor_id, product_id, report_period_ms);
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

void HidReader::ThreadMain(uint16_t vendor_id, uint16_t product_id, uint16_t report_period_ms)
{
	while (!stop_requested_.load()) {
		if (device_ == nullptr && !OpenDevice(vendor_id, product_id, report_period_ms))
			continue;
		if (!ReadOneReport())
			PauseAfterShortSession();
	}
}

// Returns true when the device is open and the sample loop may read.
bool HidReader::OpenDevice(uint16_t vendor_id, uint16_t product_id, uint16_t report_period_ms)
{
	connection_state_.exchange(ConnectionState::Reconnecting);
	device_ = hid_open(vendor_id, product_id, nullptr);
	if (device_ == nullptr) {
		WaitBeforeReopen(kReopenWait);
		return false;
	}
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
	detector_.Reset(calibration);
	SendRateCommand(device_, report_period_ms);
	return true;
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
	const int n = hid_read_timeout(device_, report, sizeof(report), kSampleReadTimeoutMs);
	if (n == -1) {
		DriverLog("HID: Device disconnected\n");
		CloseDevice();
		connection_state_.exchange(ConnectionState::Reconnecting);
		return false;
	}
	const std::optional<uint16_t> raw = DecodeSample(report, n);
	if (!raw)
		return true;
	raw_prox_.store(*raw, std::memory_order_relaxed);
	detector_.AddSample(*raw);
	if (log_raw_samples_)
		DriverLog("HID: raw_prox=%u\n", static_cast<unsigned>(*raw));
	return true;
}

// After a disconnection. An unplugged sensor is worth reopening at once, but
// one that opens and then fails every call would be reopened in a busy loop
// that floods the log; so a session that ended within its first second waits
// before the next open, twice as long each time up to the usual reopen wait.
// A session that lasted longer starts the pauses over.
void HidReader::PauseAfterShortSession()
{
	if (std::chrono::steady_clock::now() - session_start_ >= kShortSession) {
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
