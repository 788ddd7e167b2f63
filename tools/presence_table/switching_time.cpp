// Switching times measured by running the detector on stepped levels.
#include "tools/presence_table/switching_time.h"

#include "sensor/proximity_algorithm.h"

namespace zelvan::tuning {
namespace {

// After `window` readings at one level the ring holds nothing else and the
// average stops moving: a switch that has not happened by then never will.
SwitchResult FeedUntil(ProximityAlgorithm &detector, int window, uint16_t level, bool wanted)
{
	if (detector.IsPersonDetected() == wanted)
		return {SwitchResult::AlreadySwitched, 0};
	for (int n = 1; n <= window; ++n) {
		detector.AddSample(level);
		if (detector.IsPersonDetected() == wanted)
			return {SwitchResult::Switched, n};
	}
	return {SwitchResult::Never, 0};
}

void Settle(ProximityAlgorithm &detector, int window, uint16_t level)
{
	for (int n = 0; n < window; ++n)
		detector.AddSample(level);
}

} // namespace

SwitchResult PutOn(int window, const UserSignature &calibration, uint16_t off, uint16_t on)
{
	ProximityAlgorithm detector(window);
	detector.Reset(calibration);
	Settle(detector, window, off);
	return FeedUntil(detector, window, on, true);
}

SwitchResult TakeOff(int window, const UserSignature &calibration, uint16_t on, uint16_t off)
{
	ProximityAlgorithm detector(window);
	detector.Reset(calibration);
	Settle(detector, window, on);
	return FeedUntil(detector, window, off, false);
}

SwitchResult OnFromReset(int window, const UserSignature &calibration, uint16_t on)
{
	ProximityAlgorithm detector(window);
	detector.Reset(calibration);
	return FeedUntil(detector, window, on, true);
}

} // namespace zelvan::tuning
