// Evaluation of the raw-level program.
#include "level_program.h"

#include <algorithm>

namespace zelvan::sim {

void LevelProgram::Step(int64_t at_ms, unsigned raw)
{
	Ramp(at_ms, at_ms, raw, raw);
}

void LevelProgram::Ramp(int64_t start_ms, int64_t end_ms, unsigned from, unsigned to)
{
	const Segment segment{start_ms, end_ms, from, to};
	const auto later = std::upper_bound(segments_.begin(), segments_.end(), start_ms,
	                                    [](int64_t t, const Segment &s) { return t < s.start_ms; });
	segments_.insert(later, segment);
}

void LevelProgram::Replay(std::vector<unsigned> readings, bool loop)
{
	replay_ = std::move(readings);
	loop_ = loop;
}

void LevelProgram::SetNoise(unsigned amplitude, uint64_t seed)
{
	noise_ = amplitude;
	seed_ = seed;
	rng_ = seed;
}

unsigned LevelProgram::Base(int64_t ms, uint64_t sample_index) const
{
	if (!replay_.empty()) {
		const uint64_t n = replay_.size();
		return replay_[loop_ ? sample_index % n : std::min<uint64_t>(sample_index, n - 1)];
	}
	const auto after = std::upper_bound(segments_.begin(), segments_.end(), ms,
	                                    [](int64_t t, const Segment &s) { return t < s.start_ms; });
	if (after == segments_.begin())
		return idle_;
	const Segment &s = *(after - 1);
	if (ms >= s.end_ms)
		return s.to;
	const double f = static_cast<double>(ms - s.start_ms) / static_cast<double>(s.end_ms - s.start_ms);
	return static_cast<unsigned>(static_cast<double>(s.from) + (static_cast<double>(s.to) - static_cast<double>(s.from)) * f + 0.5);
}

unsigned LevelProgram::AddNoise(unsigned base)
{
	int64_t level = base;
	if (noise_ != 0) {
		const uint64_t span = 2 * static_cast<uint64_t>(noise_) + 1;
		level += static_cast<int64_t>(NextRandom() % span) - static_cast<int64_t>(noise_);
	}
	return static_cast<unsigned>(std::clamp<int64_t>(level, 0, 65535));
}

// splitmix64: the same sequence from a seed on every compiler and platform,
// which the standard distributions do not promise.
uint64_t LevelProgram::NextRandom()
{
	uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
	z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
	z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
	return z ^ (z >> 31);
}

} // namespace zelvan::sim
