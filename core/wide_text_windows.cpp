// Utf8ToWide and WideToUtf8 through the system's own converters.
#include "core/wide_text.h"

#include <cstdlib>

#include <windows.h>

namespace zelvan {

std::wstring Utf8ToWide(std::string_view text)
{
	if (text.empty() || text.size() > 0x7FFFFFFF)
		return {};
	const int size = static_cast<int>(text.size());
	const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
	if (wide <= 0)
		return {};
	std::wstring out(static_cast<size_t>(wide), L'\0');
	if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), wide) != wide)
		return {};
	return out;
}

std::string WideToUtf8(std::wstring_view text)
{
	if (text.empty() || text.size() > 0x7FFFFFFF)
		return {};
	const int size = static_cast<int>(text.size());
	const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
	if (bytes <= 0)
		return {};
	std::string out(static_cast<size_t>(bytes), '\0');
	if (WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), bytes, nullptr, nullptr) != bytes)
		return {};
	return out;
}

bool IsAscii(std::string_view text)
{
	for (const char c : text)
		if (static_cast<unsigned char>(c) >= 0x80)
			return false;
	return true;
}

std::string EnvironmentUtf8(const char *name)
{
	const wchar_t *value = _wgetenv(Utf8ToWide(name).c_str());
	return value != nullptr ? WideToUtf8(value) : "";
}

std::FILE *OpenUtf8File(const std::string &path, const char *mode)
{
	const std::wstring wide_path = Utf8ToWide(path);
	if (wide_path.empty())
		return nullptr;
	return _wfopen(wide_path.c_str(), Utf8ToWide(mode).c_str());
}

} // namespace zelvan
