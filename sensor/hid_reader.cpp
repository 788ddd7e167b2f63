// The reader thread: open, read the calibration, reset the detector, set the
// rate, then feed samples until the sensor goes away or a stop is asked for.
#include "sensor/hid_reader.h"

#include <chrono>
#include <system_error>

#include <hidapi.h>

#include "driver/driver_log.h"
#include "sensor/sensor_protocol.h"

namespace zelvan {
namespace {

constexpr int kSampleReadTimeoutMs = 500;
constexpr int kReopenWaitSlices = 100;
constexpr auto kReopenWaitSlice = std::chrono::milliseconds(50);

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
	: log_raw_samples_(log_raw_samples), detector_(window_length)
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
		ReadOneReport();
	}
}

// Returns true when the device is open and the sample loop may read.
bool HidReader::OpenDevice(uint16_t vendor_id, uint16_t product_id, uint16_t report_period_ms)
{
	connection_state_.exchange(ConnectionState::Reconnecting);
	device_ = hid_open(vendor_id, product_id, nullptr);
	if (device_ == nullptr) {
		WaitBeforeReopen();
		return false;
	}
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

void HidReader::WaitBeforeReopen()
{
	for (int slice = 0; slice < kReopenWaitSlices && !stop_requested_.load(); ++slice)
		std::this_thread::sleep_for(kReopenWaitSlice);
}

void HidReader::ReadOneReport()
{
	uint8_t report[65];
	const int n = hid_read_timeout(device_, report, sizeof(report), kSampleReadTimeoutMs);
	if (n == -1) {
		DriverLog("HID: Device disconnected\n");
		CloseDevice();
		connection_state_.exchange(ConnectionState::Reconnecting);
		return;
	}
	const std::optional<uint16_t> raw = DecodeSample(report, n);
	if (!raw)
		return;
	raw_prox_.store(*raw, std::memory_order_relaxed);
	detector_.AddSample(*raw);
	if (log_raw_samples_)
		DriverLog("HID: raw_prox=%u\n", static_cast<unsigned>(*raw));
}

void HidReader::CloseDevice()
{
	hid_close(device_);
	device_ = nullptr;
}

} // namespace zelvan
