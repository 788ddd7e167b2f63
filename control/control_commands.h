// ExecuteControlCommand: one control message in, one reply line out.
#pragma once

#include <cstddef>

namespace zelvan {

class HidReader;
class IpdControls;
class ProximityOutput;
struct SensorSettings;

inline constexpr size_t kReplySize = 512;

// What the commands act on, all of it the provider's.
struct ControlTargets {
	HidReader *reader; // none before Init or when hidapi did not start
	SensorSettings &settings;
	ProximityOutput &presence;
	IpdControls &ipd;
};

// Carries out one command on the runtime's thread and formats its reply.
// `length`: the message's bytes as received, which may go on after a NUL
// that ends `text` (0: `text` is the whole message).
void ExecuteControlCommand(const ControlTargets &targets, const char *text, char (&reply)[kReplySize],
                           size_t length = 0);

} // namespace zelvan
