// The platform-independent half of ConsolePipe: collecting the output.
#include "console_pipe.h"

namespace zelvan::test {

void ConsolePipe::Append(const char *data, size_t size)
{
	std::lock_guard<std::mutex> lock(mutex_);
	for (size_t i = 0; i < size; ++i)
		if (data[i] != '\r')
			output_ += data[i];
	arrived_.notify_all();
}

void ConsolePipe::Drain()
{
	char buffer[4096];
	size_t got = 0;
	while (ReadSome(buffer, sizeof(buffer), got))
		Append(buffer, got);
	std::lock_guard<std::mutex> lock(mutex_);
	output_ended_ = true;
	arrived_.notify_all();
}

bool ConsolePipe::WaitForOutput(const std::string &text, std::chrono::milliseconds timeout)
{
	std::unique_lock<std::mutex> lock(mutex_);
	arrived_.wait_for(lock, timeout, [&] { return output_.find(text) != std::string::npos || output_ended_; });
	return output_.find(text) != std::string::npos;
}

void ConsolePipe::WaitForOutputEnd(std::chrono::milliseconds timeout)
{
	std::unique_lock<std::mutex> lock(mutex_);
	arrived_.wait_for(lock, timeout, [&] { return output_ended_; });
}

std::string ConsolePipe::Output()
{
	std::lock_guard<std::mutex> lock(mutex_);
	return output_;
}

size_t ConsolePipe::OutputSize()
{
	std::lock_guard<std::mutex> lock(mutex_);
	return output_.size();
}

} // namespace zelvan::test
