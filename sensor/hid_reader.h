// HidReader: owns the proximity sensor, the reader thread that talks to it,
// the calibration read from its flash and the detector it feeds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "sensor/proximity_algorithm.h"
#include "sensor/sample_ring.h"
#include "sensor/user_signature.h"

struct hid_device_;
typedef struct hid_device_ hid_device;

namespace zelvan {

enum class ConnectionState : int32_t {
	NotConnected = 0,
	Open = 1,
	Reconnecting = 2,
};

// The word the status command prints for a state.
const char *ConnectionStateWord(ConnectionState state);

// Constructed, started, stopped and read on the runtime's thread; the reader
// thread alone touches the device while it runs. The runtime's thread reads
// through the accessors, which never wait for HID input or output.
class HidReader {
public:
	HidReader(int32_t window_length, bool log_raw_samples, int32_t threshold_offset = 0);
	~HidReader();
	HidReader(const HidReader &) = delete;
	HidReader &operator=(const HidReader &) = delete;

	// Starts the reader thread, which finds and opens the sensor by itself.
	void Start(uint16_t vendor_id, uint16_t product_id, uint16_t report_period_ms);
	// Ends the thread (within about one read time-out) and closes the device.
	void Stop();

	ConnectionState GetConnectionState() const { return connection_state_.load(); }
	uint16_t GetRawProximity() const { return raw_prox_.load(std::memory_order_relaxed); }
	bool IsPersonDetected() const { return detector_.IsPersonDetected(); }
	ProximitySnapshot GetSnapshot() const { return detector_.GetSnapshot(); }
	UserSignature GetUserSignature() const;
	std::string GetTrackingSerial() const;

	// The recent readings (see SampleRing::CopyAfter); a copy under the
	// ring's lock, nothing more.
	SampleRing::Copy CopySamplesAfter(uint32_t after, RingSample *out, size_t capacity) const
	{
		return samples_.CopyAfter(after, out, capacity);
	}

	// A live settings change, asked for on the runtime's thread and carried
	// out by the reader thread before its next read: the detector is reset
	// with the new window and offset, and a new period goes to the sensor.
	// While the sensor is away they wait for the next open.
	void ChangeSettings(int32_t window_length, int32_t threshold_offset, uint16_t report_period_ms);

private:
	void ThreadMain(uint16_t vendor_id, uint16_t product_id);
	bool OpenDevice(uint16_t vendor_id, uint16_t product_id);
	void ApplySettingsChange();
	void LogOpenFailure(uint16_t vendor_id, uint16_t product_id);
	void WaitBeforeReopen(std::chrono::milliseconds wait);
	bool ReadOneReport();
	void WaitOutEmptyRead(std::chrono::steady_clock::time_point asked);
	bool KeepStreamAlive();
	void PauseAfterShortSession();
	void CloseDevice();

	hid_device *device_ = nullptr;
	std::thread thread_;
	std::atomic<bool> stop_requested_{false};
	std::atomic<uint16_t> raw_prox_{0};
	std::atomic<ConnectionState> connection_state_{ConnectionState::NotConnected};
	// The reader thread's alone: when the device was last opened, and the
	// pause before reopening one that failed again at once.
	std::chrono::steady_clock::time_point session_start_;
	std::chrono::milliseconds short_session_pause_;
	// The open failure last logged; empty while the sensor opens or is absent.
	std::wstring open_error_;
	// When the stream last delivered a sample (or the rate command went out),
	// and how often the rate command was sent again since.
	std::chrono::steady_clock::time_point last_sample_;
	int rate_resends_ = 0;
	bool stream_gave_up_ = false; // the last session ended without samples
	// The settings in force on the reader thread, and the ones last asked
	// for (a new generation tells the thread to look).
	int32_t window_length_;
	int32_t threshold_offset_;
	uint16_t report_period_ms_ = 200;
	std::atomic<int32_t> wanted_window_;
	std::atomic<int32_t> wanted_offset_;
	std::atomic<uint16_t> wanted_period_{0};
	std::atomic<uint32_t> settings_generation_{0};
	uint32_t applied_generation_ = 0;
	const std::chrono::steady_clock::time_point clock_origin_ = std::chrono::steady_clock::now();
	SampleRing samples_;
	UserSignature calibration_;
	mutable std::mutex lock_; // guards calibration_ only
	const bool log_raw_samples_;
	ProximityAlgorithm detector_;
};

} // namespace zelvan
