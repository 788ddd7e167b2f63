// The detector's moving average and switching band.
#include "sensor/proximity_algorithm.h"

#include <algorithm>

#include "core/driver_log.h"

namespace zelvan {

ProximityAlgorithm::ProximityAlgorithm(int32_t window_length, int32_t threshold_offset)
	: window_length_(std::clamp(window_length, int32_t{1}, kMaxWindowLength)), threshold_offset_(threshold_offset),
	  ring_(new uint16_t[kMaxWindowLength]())
{
}

uint16_t ProximityAlgorithm::EffectiveThreshold(const UserSignature &calibration, int32_t threshold_offset)
{
	// In 64 bits: an offset of any int32 cannot overflow the sum.
	const int64_t sum = int64_t{calibration.proximity_threshold} + int64_t{calibration.user_trim} + threshold_offset;
	return static_cast<uint16_t>(std::clamp<int64_t>(sum, 0, 65535));
}

ProximityAlgorithm::OffsetRange ProximityAlgorithm::SwitchingOffsets(const UserSignature &calibration)
{
	const int32_t base = int32_t{calibration.proximity_threshold} + int32_t{calibration.user_trim};
	const int32_t h = calibration.proximity_hysteresis;
	return {h - base, 65535 - h - base};
}

void ProximityAlgorithm::Reset(const UserSignature &calibration, int32_t window_length, int32_t threshold_offset)
{
	window_length_ = std::clamp(window_length, int32_t{1}, kMaxWindowLength);
	threshold_offset_ = threshold_offset;
	Reset(calibration);
}

void ProximityAlgorithm::Reset(const UserSignature &calibration)
{
	hysteresis_ = calibration.proximity_hysteresis;
	const uint16_t eff_thresh = EffectiveThreshold(calibration, threshold_offset_);
	eff_thresh_.store(eff_thresh, std::memory_order_relaxed);
	std::fill(ring_.get(), ring_.get() + window_length_, uint16_t{0});
	ring_index_ = 0;
	person_detected_.store(false, std::memory_order_relaxed);
	{
		std::lock_guard<std::mutex> guard(lock_);
		averaged_prox_ = 0;
		samples_ = 0;
	}
	if (threshold_offset_ == 0)
		DriverLog("Proximity: Algorithm reset (cal=%u, thresh=%u, hyst=%u, trim=%d, eff_thresh=%u)\n",
		          calibration.programmed_cal, calibration.proximity_threshold, calibration.proximity_hysteresis,
		          calibration.user_trim, eff_thresh);
	else
		DriverLog("Proximity: Algorithm reset (cal=%u, thresh=%u, hyst=%u, trim=%d, offset=%d, eff_thresh=%u)\n",
		          calibration.programmed_cal, calibration.proximity_threshold, calibration.proximity_hysteresis,
		          calibration.user_trim, threshold_offset_, eff_thresh);
}

void ProximityAlgorithm::AddSample(uint16_t raw)
{
	ring_[static_cast<size_t>(ring_index_)] = raw;
	ring_index_ = (ring_index_ + 1) % window_length_;
	uint32_t sum = 0;
	for (int32_t i = 0; i < window_length_; ++i)
		sum += ring_[static_cast<size_t>(i)];
	// Always divided by N: after a reset the average climbs over N readings.
	const uint32_t avg = sum / static_cast<uint32_t>(window_length_);

	const uint32_t t = eff_thresh_.load(std::memory_order_relaxed);
	const uint32_t h = hysteresis_;
	const bool detected = person_detected_.load(std::memory_order_relaxed);
	if (!detected && avg >= t + h) {
		person_detected_.store(true, std::memory_order_relaxed);
		DriverLog("Proximity: person_detected changed to %s (avg=%u, thresh=%u)\n", "true", avg, t);
	} else if (detected && t >= h && avg <= t - h) {
		person_detected_.store(false, std::memory_order_relaxed);
		DriverLog("Proximity: person_detected changed to %s (avg=%u, thresh=%u)\n", "false", avg, t);
	}

	std::lock_guard<std::mutex> guard(lock_);
	++samples_;
	averaged_prox_ = avg;
}

ProximitySnapshot ProximityAlgorithm::GetSnapshot() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return ProximitySnapshot{averaged_prox_, person_detected_.load(std::memory_order_relaxed),
	                         eff_thresh_.load(std::memory_order_relaxed), samples_};
}

} // namespace zelvan
