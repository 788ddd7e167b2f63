// FindJsonStringValue: one forward scan for the key, the bracket and the
// two quotes; no JSON parser in the driver. Doubled backslashes and the \u
// escapes of characters beyond ASCII (a folder written "Jeux vid\u00e9o")
// are decoded; every other byte stays as written.
#include "ipd/json_scan.h"

#include <cstdint>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"

namespace zelvan {
namespace {

// The four hex digits of a "\uXXXX" at raw[at], or -1.
int32_t Hex4(std::string_view raw, size_t at)
{
	if (at + 6 > raw.size() || raw[at] != '\\' || raw[at + 1] != 'u')
		return -1;
	int32_t value = 0;
	for (size_t i = at + 2; i < at + 6; ++i) {
		const char c = raw[i];
		const int digit = c >= '0' && c <= '9'   ? c - '0'
		                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
		                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
		                                         : -1;
		if (digit < 0)
			return -1;
		value = value * 16 + digit;
	}
	return value;
}

// A "\uXXXX" escape of a character beyond ASCII at raw[at] (two for a
// surrogate pair) appended as UTF-8; returns the bytes it took. 0 for an
// ASCII one (a quote, a slash or a control byte would change what the path
// means; the runtime writes those plainly anyway), a lone surrogate or
// anything else, which is then copied as written.
size_t DecodeUnicodeEscape(std::string_view raw, size_t at, std::string &out)
{
	const int32_t first = Hex4(raw, at);
	if (first < 0x80 || (first >= 0xDC00 && first <= 0xDFFF))
		return 0;
	if (first < 0xD800 || first > 0xDBFF) {
		AppendUtf8(out, static_cast<uint32_t>(first));
		return 6;
	}
	const int32_t second = Hex4(raw, at + 6);
	if (second < 0xDC00 || second > 0xDFFF)
		return 0;
	AppendUtf8(out, 0x10000 + ((static_cast<uint32_t>(first) - 0xD800) << 10) +
	                    (static_cast<uint32_t>(second) - 0xDC00));
	return 12;
}

} // namespace

std::string FindJsonStringValue(std::string_view text, const char *key, PathStyle style)
{
	const std::string pattern = std::string("\"") + key + "\"";
	if (text.size() < pattern.size())
		return {};
	const size_t k = text.find(pattern);
	if (k == std::string_view::npos)
		return {};
	const size_t bracket = text.find('[', k);
	if (bracket == std::string_view::npos)
		return {};
	const size_t q1 = text.find('"', bracket + 1);
	if (q1 == std::string_view::npos)
		return {};
	const size_t q2 = text.find('"', q1 + 1);
	if (q2 == std::string_view::npos)
		return {};
	const std::string_view raw = text.substr(q1 + 1, q2 - q1 - 1);

	std::string result;
	result.reserve(raw.size());
	for (size_t i = 0; i < raw.size(); ++i) {
		if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == '\\') {
			result += '\\';
			++i;
		} else if (const size_t used = DecodeUnicodeEscape(raw, i, result); used > 0) {
			i += used - 1;
		} else if (raw[i] == '/' && style == PathStyle::Windows) {
			result += '\\';
		} else {
			result += raw[i];
		}
	}
	return result;
}

std::string FindJsonStringValue(std::string_view text, const char *key)
{
	return FindJsonStringValue(text, key, kNativePathStyle);
}

bool IsCompleteJsonObject(std::string_view text)
{
	const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
	size_t i = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
	while (i < text.size() && is_space(text[i]))
		++i;
	if (i == text.size() || text[i] != '{')
		return false;
	std::string open; // the brackets and braces not yet closed, innermost last
	bool in_string = false;
	for (; i < text.size(); ++i) {
		const char c = text[i];
		if (in_string) {
			if (c == '\\')
				++i;
			else if (c == '"')
				in_string = false;
		} else if (c == '"') {
			in_string = true;
		} else if (c == '{' || c == '[') {
			open += c;
		} else if (c == '}' || c == ']') {
			if (open.empty() || open.back() != (c == '}' ? '{' : '['))
				return false;
			open.pop_back();
			if (open.empty())
				break;
		}
	}
	if (!open.empty() || i == text.size())
		return false;
	for (++i; i < text.size(); ++i)
		if (!is_space(text[i]))
			return false;
	return true;
}

} // namespace zelvan
