// The optional record of every command line the stand-in received, so that
// tests can check byte for byte what the driver typed.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace zelvan::console_standin {

// One received line as one log line: backslash, CR, LF and tab as \\ \r \n \t,
// other control bytes as \xHH, everything else as it is.
std::string EscapeForLog(std::string_view raw);

class CommandLog {
public:
	// An empty path keeps no log. The file is appended to, never truncated.
	explicit CommandLog(const std::string &path);
	~CommandLog();
	CommandLog(const CommandLog &) = delete;
	CommandLog &operator=(const CommandLog &) = delete;

	bool failed() const { return failed_; }

	// Flushed at once: the stand-in may be killed at any moment.
	void Received(std::string_view raw_line);
	void EndOfInput();

	static constexpr std::string_view kEndOfInput = "<end of input>";

private:
	void Write(const std::string &line);

	std::FILE *file_ = nullptr;
	bool failed_ = false;
};

} // namespace zelvan::console_standin
