// What the sensor's photodiode reads over time: steps, ramps, a replayed
// recording and noise, on the clock that starts at the device's first open.
#pragma once

#include <cstdint>
#include <vector>

namespace zelvan::sim {

inline constexpr unsigned kDefaultOnLevel = 2400;
inline constexpr unsigned kDefaultOffLevel = 300;

class LevelProgram {
public:
	// From `at_ms` on, the level is `raw`.
	void Step(int64_t at_ms, unsigned raw);
	// Linear from `from` at `start_ms` to `to` at `end_ms`, then `to`.
	void Ramp(int64_t start_ms, int64_t end_ms, unsigned from, unsigned to);
	// One reading per sample report, in order; after the last the last one
	// holds, or the recording starts again when `loop` is set.
	void Replay(std::vector<unsigned> readings, bool loop);
	void SetNoise(unsigned amplitude, uint64_t seed);
	// The level before the first step (nobody in front of the sensor).
	void SetIdleLevel(unsigned raw) { idle_ = raw; }

	bool HasSteps() const { return !segments_.empty(); }
	bool HasReplay() const { return !replay_.empty(); }

	// The noiseless level at `ms`, for the `sample_index`-th sample report.
	unsigned Base(int64_t ms, uint64_t sample_index) const;
	// `base` plus the next noise draw, kept within 0..65535.
	unsigned AddNoise(unsigned base);
	unsigned Sample(int64_t ms, uint64_t sample_index) { return AddNoise(Base(ms, sample_index)); }
	// Restarts the noise sequence, so that runs repeat exactly.
	void Rewind() { rng_ = seed_; }

private:
	struct Segment {
		int64_t start_ms;
		int64_t end_ms; // == start_ms for a step
		unsigned from;
		unsigned to;
	};
	uint64_t NextRandom();

	std::vector<Segment> segments_; // sorted by start; equal starts in order given
	std::vector<unsigned> replay_;
	bool loop_ = false;
	unsigned idle_ = kDefaultOffLevel;
	unsigned noise_ = 0;
	uint64_t seed_ = 1;
	uint64_t rng_ = 1;
};

} // namespace zelvan::sim
