// The stand-in's store of headset configurations.
#include "tools/console_standin/config_store.h"
#include "tools/console_standin/platform.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace zelvan::console_standin {

bool IsValidSerial(std::string_view serial)
{
	if (serial.empty() || serial.front() == '.')
		return false;
	for (const char c : serial) {
		if (c <= ' ' || c >= 0x7F)
			return false;
		if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
			return false;
	}
	return true;
}

std::optional<std::string> ReadWholeFile(const std::string &path)
{
	std::FILE *file = OpenUtf8File(path, "rb");
	if (file == nullptr)
		return std::nullopt;
	std::string text;
	char buffer[65536];
	size_t n = 0;
	while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
		text.append(buffer, n);
	const bool ok = std::ferror(file) == 0;
	std::fclose(file);
	if (!ok)
		return std::nullopt;
	return text;
}

bool WriteWholeFile(const std::string &path, std::string_view bytes)
{
	std::FILE *file = OpenUtf8File(path, "wb");
	if (file == nullptr)
		return false;
	const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
	return std::fclose(file) == 0 && written;
}

ConfigStore::ConfigStore(std::string folder) : folder_(std::move(folder)) {}

std::string ConfigStore::PathFor(const std::string &serial) const
{
	// A folder given the Windows way gets a path the Windows way.
	const char separator = folder_.find('\\') != std::string::npos ? '\\' : '/';
	return folder_ + separator + serial + ".json";
}

bool ConfigStore::Has(const std::string &serial) const
{
	if (!IsValidSerial(serial))
		return false;
	const std::string wanted = serial + ".json";
	std::error_code error;
	for (std::filesystem::directory_iterator it(Utf8Path(folder_), error), end; !error && it != end; it.increment(error))
		if (Utf8String(it->path().filename()) == wanted)
			return it->is_regular_file(error);
	return false;
}

std::optional<std::string> ConfigStore::Load(const std::string &serial) const
{
	if (!Has(serial))
		return std::nullopt;
	return ReadWholeFile(PathFor(serial));
}

bool ConfigStore::Save(const std::string &serial, std::string_view text) const
{
	return IsValidSerial(serial) && WriteWholeFile(PathFor(serial), text);
}

} // namespace zelvan::console_standin
