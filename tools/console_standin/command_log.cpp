// Writing the stand-in's command log.
#include "tools/console_standin/command_log.h"
#include "tools/console_standin/platform.h"

namespace zelvan::console_standin {

std::string EscapeForLog(std::string_view raw)
{
	static const char kHex[] = "0123456789ABCDEF";
	std::string out;
	for (const char c : raw) {
		const auto byte = static_cast<unsigned char>(c);
		switch (c) {
		case '\\': out += "\\\\"; break;
		case '\r': out += "\\r"; break;
		case '\n': out += "\\n"; break;
		case '\t': out += "\\t"; break;
		default:
			if (byte < 0x20 || byte == 0x7F) {
				out += "\\x";
				out += kHex[byte >> 4];
				out += kHex[byte & 0xF];
			} else {
				out += c;
			}
		}
	}
	return out;
}

CommandLog::CommandLog(const std::string &path)
{
	if (path.empty())
		return;
	file_ = OpenUtf8File(path, "ab");
	failed_ = file_ == nullptr;
}

CommandLog::~CommandLog()
{
	if (file_ != nullptr)
		std::fclose(file_);
}

void CommandLog::Received(std::string_view raw_line)
{
	Write(EscapeForLog(raw_line));
}

void CommandLog::EndOfInput()
{
	Write(std::string(kEndOfInput));
}

void CommandLog::Write(const std::string &line)
{
	if (file_ == nullptr)
		return;
	std::fwrite(line.data(), 1, line.size(), file_);
	std::fputc('\n', file_);
	std::fflush(file_);
}

} // namespace zelvan::console_standin
