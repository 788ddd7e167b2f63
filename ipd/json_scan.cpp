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

} // namespace zelvan
