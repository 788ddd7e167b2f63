// EscapeForLog, EscapeControlBytes and AppendUtf8.
#include "core/text_escape.h"

#include <cstdio>

namespace zelvan {

std::string EscapeForLog(const std::string &text)
{
	std::string out;
	for (unsigned char c : text) {
		if (c < 0x20 || c >= 0x7F || c == '\\' || c == '"') {
			char escaped[8];
			std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
			out += escaped;
		} else {
			out += static_cast<char>(c);
		}
	}
	return out;
}

namespace {

// The length of the well-formed UTF-8 sequence at `at` (2 to 4), or 0.
size_t Utf8SequenceLength(const std::string &text, size_t at)
{
	const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
	const unsigned char lead = byte(at);
	size_t length = 0;
	unsigned char low = 0x80, high = 0xBF; // the second byte's range
	if (lead >= 0xC2 && lead <= 0xDF) {
		length = 2;
	} else if (lead >= 0xE0 && lead <= 0xEF) {
		length = 3;
		low = lead == 0xE0 ? 0xA0 : 0x80;
		high = lead == 0xED ? 0x9F : 0xBF;
	} else if (lead >= 0xF0 && lead <= 0xF4) {
		length = 4;
		low = lead == 0xF0 ? 0x90 : 0x80;
		high = lead == 0xF4 ? 0x8F : 0xBF;
	}
	if (length == 0 || at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
		return 0;
	for (size_t k = 2; k < length; ++k)
		if (byte(at + k) < 0x80 || byte(at + k) > 0xBF)
			return 0;
	return length;
}

void AppendEscaped(std::string &out, unsigned char c)
{
	char escaped[8];
	std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
	out += escaped;
}

} // namespace

std::string EscapeControlBytes(const std::string &text)
{
	std::string out;
	out.reserve(text.size());
	for (size_t i = 0; i < text.size();) {
		const auto c = static_cast<unsigned char>(text[i]);
		if (c < 0x80) {
			if (c < 0x20 || c == 0x7F)
				AppendEscaped(out, c);
			else
				out += static_cast<char>(c);
			++i;
			continue;
		}
		const size_t length = Utf8SequenceLength(text, i);
		// U+0080..U+009F: C1 controls, which some terminals obey.
		if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
			AppendEscaped(out, c);
			AppendEscaped(out, static_cast<unsigned char>(text[i + 1]));
		} else if (length > 0) {
			out.append(text, i, length);
		} else if (c <= 0x9F) {
			// Outside UTF-8 (Latin-1 text, say) 0x80..0x9F are the C1 controls
			// themselves: 0x9B alone starts a terminal's escape sequence.
			AppendEscaped(out, c);
		} else {
			out += static_cast<char>(c);
		}
		i += length > 0 ? length : 1;
	}
	return out;
}

void AppendUtf8(std::string &out, uint32_t code)
{
	if (code < 0x80) {
		out += static_cast<char>(code);
	} else if (code < 0x800) {
		out += static_cast<char>(0xC0 | (code >> 6));
		out += static_cast<char>(0x80 | (code & 0x3F));
	} else if (code < 0x10000) {
		out += static_cast<char>(0xE0 | (code >> 12));
		out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
		out += static_cast<char>(0x80 | (code & 0x3F));
	} else {
		out += static_cast<char>(0xF0 | (code >> 18));
		out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
		out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
		out += static_cast<char>(0x80 | (code & 0x3F));
	}
}

} // namespace zelvan
