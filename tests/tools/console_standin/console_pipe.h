// Driving the console stand-in through pipes on its standard streams, the way
// the driver does, with everything it prints collected in the background.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace zelvan::test {

class ConsolePipe {
public:
	ConsolePipe();
	~ConsolePipe(); // kills a child that is still running
	ConsolePipe(const ConsolePipe &) = delete;
	ConsolePipe &operator=(const ConsolePipe &) = delete;

	// No arguments; the child inherits this process's environment.
	bool Start(const std::string &exe);
	// False when the child no longer reads (for example it crashed).
	bool Write(const std::string &bytes);
	void CloseInput();
	// True once the output holds `text`; false when the time is up or the
	// output ended without it.
	// Blocks until the tool's output has closed, so that Output() holds all
	// it printed; a child's exit can come before its last bytes are read.
	void WaitForOutputEnd(std::chrono::milliseconds timeout);
	bool WaitForOutput(const std::string &text, std::chrono::milliseconds timeout);
	// The exit status (128 + signal on POSIX), or nothing if still running.
	std::optional<int> Wait(std::chrono::milliseconds timeout);
	void Kill();
	// Everything printed so far, CRs dropped.
	std::string Output();
	size_t OutputSize();

	struct Impl;

private:
	void Append(const char *data, size_t size);
	void Drain();
	bool ReadSome(char *buffer, size_t size, size_t &got); // platform: blocking read, false at end

	std::unique_ptr<Impl> impl_;
	std::mutex mutex_;
	std::condition_variable arrived_;
	std::string output_;
	bool output_ended_ = false;
};

} // namespace zelvan::test
