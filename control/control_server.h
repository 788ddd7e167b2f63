// ControlServer: the provider's end of the control channel, created at Init,
// polled once a frame and destroyed at Cleanup.
#pragma once

#include <cstdint>

#include "control/control_channel.h"

namespace zelvan {

struct ControlTargets;

// Lives in the provider and runs on the runtime's thread only.
class ControlServer {
public:
	// Init step.
	void CreateControlPipe();
	// RunFrame step: serves at most one message.
	void PollControlPipe(const ControlTargets &targets);
	// Cleanup step.
	void DestroyControlPipe();

	PipeHandle pipe = kInvalidPipe;
	bool pipe_connected = false;
	PipeClient pipe_client;
	unsigned long pipe_error = 0;   // last creation error, 0 once created
	int64_t pipe_retry_at_ms = 0;   // next creation attempt; 0: none due

private:
	void RetryControlPipe();
	void TryCreateControlPipe();
};

} // namespace zelvan
