// The simulated sensor's scenario: configuration, scheduled unplugs, event log, control calls.
#include "sim_device.h"
#include "sim_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

namespace zelvan::sim {
namespace {

constexpr const char *kEnvironmentVariable = "ZELVAN_SIM_SENSOR";

bool ReadFile(const std::string &path, std::string &text)
{
	std::ifstream in(Utf8Path(path), std::ios::binary);
	if (!in)
		return false;
	std::ostringstream buffer;
	buffer << in.rdbuf();
	text = buffer.str();
	return true;
}

} // namespace

// ---- configuration and time -------------------------------------------------

void SimSensor::Apply(ParseResult result, Clock::time_point now)
{
	for (const std::string &e : result.errors)
		std::fprintf(stderr, "sim_sensor: %s\n", e.c_str());
	errors_ = std::move(result.errors);
	config_ = std::move(result.config);

	// A new configuration is a new device: what the host held is gone.
	++incarnation_;
	loaded_at_ = now;
	scenario_start_.reset();
	manual_present_ = config_ && config_->present;
	period_ms_ = kDefaultPeriodMs;
	samples_sent_ = 0;
	level_override_.reset();
	followed_on_.reset();
	follow_text_.clear();
	follow_read_at_.reset();
	stall_next_rate_ = false;
	streaming_held_ = false;
	open_count_ = 0;
	read_count_ = 0;
	events_.clear();
	const size_t unplugs = config_ ? config_->unplugs.size() : 0;
	unplug_started_.assign(unplugs, false);
	unplug_ended_.assign(unplugs, false);
	if (config_)
		config_->levels.Rewind();
	if (log_file_ != nullptr) {
		std::fclose(log_file_);
		log_file_ = nullptr;
	}
	if (config_ && !config_->log_path.empty()) {
		log_file_ = OpenUtf8File(config_->log_path, "a");
		if (log_file_ == nullptr)
			std::fprintf(stderr, "sim_sensor: cannot append to log file %s\n", config_->log_path.c_str());
	}
	changed_.notify_all();
}

// The file named by the environment wins whenever its text has changed since
// it was last loaded; without the variable the configuration stays as it is.
void SimSensor::ReloadFromEnvironment(Clock::time_point now)
{
	const std::string path = EnvironmentValue(kEnvironmentVariable);
	if (path.empty())
		return;
	std::string text;
	const bool readable = ReadFile(path, text);
	std::string key = std::string(path) + '\n' + (readable ? "=" + text : "!");
	if (key == file_key_)
		return;
	file_key_ = std::move(key);
	if (!readable) {
		Apply({std::nullopt, {std::string(path) + ": cannot read the file"}}, now);
		return;
	}
	const std::u8string folder = Utf8Path(path).parent_path().u8string();
	Apply(ParseConfig(text, path, std::string(folder.begin(), folder.end())), now);
}

// Plays the scheduled unplugs up to `now`, at the times they happened.
void SimSensor::Advance(Clock::time_point now)
{
	if (!config_ || !scenario_start_)
		return;
	for (size_t i = 0; i < config_->unplugs.size(); ++i) {
		const Window &w = config_->unplugs[i];
		const Clock::time_point start = At(w.start_ms);
		if (!unplug_started_[i] && now >= start) {
			unplug_started_[i] = true;
			if (w.duration_ms < 0)
				manual_present_ = false;
			Vanish(start, "unplug");
		}
		if (w.duration_ms >= 0 && !unplug_ended_[i] && now >= At(w.start_ms + w.duration_ms)) {
			unplug_ended_[i] = true;
			Replugged(At(w.start_ms + w.duration_ms));
		}
	}
}

// Losing power resets the firmware to its default rate.
void SimSensor::Vanish(Clock::time_point at, const char *event)
{
	++incarnation_;
	period_ms_ = kDefaultPeriodMs;
	Event(event, at);
	changed_.notify_all();
}

void SimSensor::Replugged(Clock::time_point at)
{
	Event("plug", at);
	stall_next_rate_ = streaming_held_ = config_->stall_after_plug;
}

bool SimSensor::Present(Clock::time_point now) const
{
	if (!config_ || !manual_present_ || now < loaded_at_ + std::chrono::milliseconds(config_->absent_until_ms))
		return false;
	if (scenario_start_) {
		for (const Window &w : config_->unplugs)
			if (w.duration_ms >= 0 && now >= At(w.start_ms) && now < At(w.start_ms + w.duration_ms))
				return false;
	}
	return true;
}

void SimSensor::Event(const std::string &text, Clock::time_point at)
{
	events_ += text;
	events_ += '\n';
	if (log_file_ != nullptr) {
		const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - loaded_at_).count();
		std::fprintf(log_file_, "%8lld ms  %s\n", static_cast<long long>(ms), text.c_str());
		std::fflush(log_file_);
	}
}

// ---- control ----------------------------------------------------------------

int SimSensor::Configure(const char *text)
{
	Lock lock(mutex_);
	if (text == nullptr) {
		Apply({}, Clock::now());
		return 0;
	}
	Apply(ParseConfig(text, "config", ""), Clock::now());
	return config_ ? 0 : -1;
}

void SimSensor::Plug(bool present)
{
	Lock lock(mutex_);
	const Clock::time_point now = Clock::now();
	Advance(now);
	if (!config_ || present == manual_present_)
		return;
	manual_present_ = present;
	if (present)
		Replugged(now);
	else
		Vanish(now, "unplug");
	changed_.notify_all();
}

void SimSensor::SetLevel(std::optional<unsigned> raw)
{
	Lock lock(mutex_);
	level_override_ = raw;
	changed_.notify_all();
}

std::string SimSensor::Events()
{
	Lock lock(mutex_);
	Advance(Clock::now());
	return events_;
}

void SimSensor::ClearEvents()
{
	Lock lock(mutex_);
	events_.clear();
}

std::string SimSensor::Errors()
{
	Lock lock(mutex_);
	std::string text;
	for (const std::string &e : errors_)
		text += e + "\n";
	return text;
}

int SimSensor::OpenCount()
{
	Lock lock(mutex_);
	return open_count_;
}

uint64_t SimSensor::ReadCount()
{
	Lock lock(mutex_);
	return read_count_;
}

bool SimSensor::RefusesOpen()
{
	Lock lock(mutex_);
	ReloadFromEnvironment(Clock::now());
	return config_ && config_->refuse_open;
}

bool SimSensor::FailInit(bool fail)
{
	Lock lock(mutex_);
	return std::exchange(fail_init_, fail);
}

unsigned SimSensor::PeriodMs()
{
	Lock lock(mutex_);
	Advance(Clock::now());
	return period_ms_;
}

std::optional<Image> SimSensor::CurrentImage()
{
	Lock lock(mutex_);
	if (!config_)
		return std::nullopt;
	return config_->image;
}

} // namespace zelvan::sim
