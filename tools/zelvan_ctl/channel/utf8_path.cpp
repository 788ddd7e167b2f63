// Utf8Path and Utf8String: the standard library's UTF-8 conversions, which
// throw on text they cannot convert.
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {

namespace fs = std::filesystem;

fs::path Utf8Path(std::string_view utf8)
{
	try {
		return fs::path(std::u8string(utf8.begin(), utf8.end()));
	} catch (const fs::filesystem_error &) {
		return {};
	}
}

std::string Utf8String(const fs::path &path)
{
	try {
		const std::u8string text = path.u8string();
		return std::string(text.begin(), text.end());
	} catch (const fs::filesystem_error &) {
		return {};
	}
}

std::string JoinUtf8(const std::string &dir, const std::string &name)
{
	const fs::path base = Utf8Path(dir);
	if (base.empty() && !dir.empty())
		return {};
	return Utf8String(base / Utf8Path(name));
}

} // namespace zelvan::ctl
