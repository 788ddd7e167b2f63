// The kept copies' names, and keeping them before an upload.
#include "ipd/kept_config.h"

#include <algorithm>
#include <ctime>

#include "core/driver_log.h"
#include "core/text_escape.h"

namespace zelvan {
namespace {

constexpr size_t kMaxPartLength = 64;

bool IsKeptChar(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// Windows opens the device for these names, whatever follows a '.'.
bool IsDeviceName(std::string name)
{
	std::transform(name.begin(), name.end(), name.begin(),
	               [](unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); });
	if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL")
		return true;
	return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) && name[3] >= '0' &&
	       name[3] <= '9';
}

const char *const kOriginalMark = ".original.";

} // namespace

std::string KeptNamePart(const std::string &serial)
{
	std::string part;
	for (const char c : serial.substr(0, kMaxPartLength))
		part += IsKeptChar(c) ? c : '_';
	if (part.empty() || IsDeviceName(part))
		part.insert(0, 1, '_');
	return part;
}

std::string SerialOfKeptName(const std::string &name)
{
	std::string part = name.substr(0, name.find('.'));
	if (part.size() > 1 && part[0] == '_' && IsDeviceName(part.substr(1)))
		part.erase(0, 1);
	return part;
}

std::string OriginalName(const std::string &serial, const std::string &date)
{
	return KeptNamePart(serial) + kOriginalMark + date + ".json";
}

std::string LastDownloadName(const std::string &serial)
{
	return KeptNamePart(serial) + ".last-download.json";
}

bool IsOriginalName(const std::string &name)
{
	return name.find(kOriginalMark) == name.find('.') && name.find('.') != std::string::npos;
}

std::string TodayText()
{
	const std::time_t now = std::time(nullptr);
	std::tm local{};
#if defined(_WIN32)
	localtime_s(&local, &now);
#else
	localtime_r(&now, &local);
#endif
	char text[16];
	std::strftime(text, sizeof(text), "%Y-%m-%d", &local);
	return text;
}

bool KeepBeforeUpload(const std::string &serial, const std::string &downloaded)
{
	KeptFolder folder;
	if (!folder.Open(true)) {
		DriverLog("IPD Persist: Cannot keep a copy of the headset's configuration (%s), not uploading\n",
		          EscapeControlBytes(folder.Note()).c_str());
		return false;
	}
	std::vector<std::string> names;
	if (!folder.Names(names)) {
		DriverLog("IPD Persist: Cannot keep a copy of the headset's configuration (%s cannot be read), not uploading\n",
		          EscapeControlBytes(folder.Path()).c_str());
		return false;
	}
	const std::string part = KeptNamePart(serial);
	const bool kept_before = std::any_of(names.begin(), names.end(), [&](const std::string &name) {
		return IsOriginalName(name) && name.compare(0, name.find('.'), part) == 0;
	});
	if (!kept_before) {
		const std::string name = OriginalName(serial, TodayText());
		if (folder.CreateNew(name, downloaded) != TempWrite::Ok) {
			DriverLog("IPD Persist: Cannot keep a copy of the headset's configuration (%s cannot be written), not "
			          "uploading\n",
			          EscapeControlBytes(folder.Path() + name).c_str());
			return false;
		}
		DriverLog("IPD Persist: Kept the headset's configuration as %s\n", EscapeControlBytes(folder.Path() + name).c_str());
	}
	const std::string last = LastDownloadName(serial);
	if (!folder.Replace(last, downloaded)) {
		DriverLog("IPD Persist: Cannot keep a copy of the headset's configuration (%s cannot be written), not "
		          "uploading\n",
		          EscapeControlBytes(folder.Path() + last).c_str());
		return false;
	}
	DriverLog("IPD Persist: Kept this download as %s\n", EscapeControlBytes(folder.Path() + last).c_str());
	return true;
}

} // namespace zelvan
