// FindJsonStringValue: one forward scan for the key, the bracket and the
// two quotes; no JSON parser in the driver.
#include "ipd/json_scan.h"

#include "ipd/runtime_paths.h"

namespace zelvan {

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
