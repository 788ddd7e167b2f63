// The panel's folders on Linux: ${XDG_DATA_HOME:-~/.local/share}/zelvan-proximity,
// each of ours made 0700 and checked to be this user's own folder.
#include "tools/zelvan_ctl/panel/panel_folders.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

namespace zelvan::ctl {
namespace {

// `path` as a folder of this user's that is no link, made 0700 when missing.
bool OwnFolder(const std::string &path, std::string &error)
{
	if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
		error = "cannot make " + path + ": " + std::strerror(errno);
		return false;
	}
	struct stat info {};
	if (lstat(path.c_str(), &info) != 0) {
		error = "cannot see " + path + ": " + std::strerror(errno);
		return false;
	}
	if (S_ISLNK(info.st_mode) || !S_ISDIR(info.st_mode)) {
		error = path + (S_ISLNK(info.st_mode) ? " is a link" : " is not a folder") + "; the panel writes nothing there";
		return false;
	}
	if (info.st_uid != geteuid()) {
		error = path + " belongs to another user (uid " + std::to_string(static_cast<unsigned>(info.st_uid)) +
		        "); the panel writes nothing there";
		return false;
	}
	return true;
}

// The folders above ours, as the user's own tools would make them.
bool Parents(const std::string &path, std::string &error)
{
	for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
		const std::string part = path.substr(0, at);
		if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
			error = "cannot make " + part + ": " + std::strerror(errno);
			return false;
		}
	}
	return true;
}

std::string Variable(const char *name)
{
	const char *value = std::getenv(name);
	return value != nullptr ? value : "";
}

} // namespace

bool PanelFolder(const std::string &which, std::string &folder, std::string &error)
{
	std::string base = Variable(kPanelDataVariable);
	if (base.empty()) {
		std::string data = Variable("XDG_DATA_HOME");
		// The XDG rule: a relative XDG_DATA_HOME is ignored.
		if (data.empty() || data[0] != '/') {
			const std::string home = Variable("HOME");
			if (home.empty() || home[0] != '/') {
				error = "no home folder (HOME is not set) to keep the panel's files in";
				return false;
			}
			data = home + "/.local/share";
		}
		base = data + "/zelvan-proximity";
	}
	while (base.size() > 1 && base.back() == '/')
		base.pop_back();
	if (!Parents(base, error) || !OwnFolder(base, error) || !OwnFolder(base + "/" + which, error))
		return false;
	folder = base + "/" + which;
	return true;
}

std::string LocalStamp()
{
	const std::time_t now = std::time(nullptr);
	std::tm local{};
	char text[32] = "0000-00-00-000000";
	if (localtime_r(&now, &local) != nullptr)
		std::strftime(text, sizeof(text), "%Y-%m-%d-%H%M%S", &local);
	return text;
}

} // namespace zelvan::ctl
