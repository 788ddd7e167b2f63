// ProximityAlgorithm: turns raw proximity readings into the person_detected
// decision with a moving average, a calibrated threshold and hysteresis.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sensor/user_signature.h"

namespace zelvan {

// The longest moving average; the ring is this long whatever the window.
inline constexpr int32_t kMaxWindowLength = 64;

struct ProximitySnapshot {
	uint32_t averaged_prox = 0;
	bool person_detected = false;
	uint16_t eff_thresh = 0;
	uint32_t samples = 0;
};

// Written by the reader thread only (Reset, AddSample); read from the
// runtime's thread through IsPersonDetected and GetSnapshot.
class ProximityAlgorithm {
public:
	// 1 <= window_length <= kMaxWindowLength; the ring is allocated here and
	// never again. The offset moves the calibrated threshold.
	explicit ProximityAlgorithm(int32_t window_length, int32_t threshold_offset = 0);

	void Reset(const UserSignature &calibration);
	// The same, with a new window length and threshold offset from now on
	// (a live settings change).
	void Reset(const UserSignature &calibration, int32_t window_length, int32_t threshold_offset);
	void AddSample(uint16_t raw);

	bool IsPersonDetected() const { return person_detected_.load(std::memory_order_relaxed); }
	ProximitySnapshot GetSnapshot() const;

	// The effective threshold for a calibration: threshold plus trim plus
	// offset, at least 0 and at most 65535.
	static uint16_t EffectiveThreshold(const UserSignature &calibration, int32_t threshold_offset = 0);

	// The threshold offsets with which presence still switches both ways for
	// a calibration: below `min` the threshold is under the hysteresis and
	// presence never goes off; above `max` the threshold plus the hysteresis
	// is over the largest reading and presence never comes on. Empty (min >
	// max) for a hysteresis over half the range.
	struct OffsetRange {
		int32_t min = 0;
		int32_t max = 0;
	};
	static OffsetRange SwitchingOffsets(const UserSignature &calibration);

private:
	int32_t window_length_;
	int32_t threshold_offset_;
	std::atomic<uint16_t> eff_thresh_{0};
	uint16_t hysteresis_ = 100;
	std::unique_ptr<uint16_t[]> ring_;
	int32_t ring_index_ = 0;
	std::atomic<bool> person_detected_{false};
	mutable std::mutex lock_;
	uint32_t averaged_prox_ = 0;
	uint32_t samples_ = 0;
};

} // namespace zelvan
