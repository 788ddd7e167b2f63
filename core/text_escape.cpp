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

std::string EscapeControlBytes(const std::string &text)
{
	std::string out;
	out.reserve(text.size());
	for (size_t i = 0; i < text.size(); ++i) {
		const auto c = static_cast<unsigned char>(text[i]);
		// U+0080..U+009F in UTF-8: C1 controls, which some terminals obey.
		const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
		                static_cast<unsigned char>(text[i + 1]) <= 0x9F;
		if (c >= 0x20 && c != 0x7F && !c1) {
			out += static_cast<char>(c);
			continue;
		}
		for (size_t k = i; k <= (c1 ? i + 1 : i); ++k) {
			char escaped[8];
			std::snprintf(escaped, sizeof(escaped), "\\x%02X", static_cast<unsigned char>(text[k]));
			out += escaped;
		}
		i += c1 ? 1 : 0;
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
