// zelvan-ctl report on Linux: uname without the machine's name, and the user
// from the environment or the password database.
#include "tools/zelvan_ctl/doctor/bug_report.h"

#include <cstdlib>
#include <ctime>

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace zelvan::ctl {

std::string SystemVersion()
{
	utsname name{};
	if (uname(&name) != 0)
		return "unknown (uname failed)";
	return std::string(name.sysname) + " " + name.release + " " + name.version + " " + name.machine;
}

UserIdentity CurrentUser()
{
	UserIdentity user;
	const passwd *entry = getpwuid(geteuid());
	const char *name = std::getenv("USER");
	const char *home = std::getenv("HOME");
	if (name == nullptr || *name == '\0')
		name = entry != nullptr ? entry->pw_name : nullptr;
	if (home == nullptr || *home == '\0')
		home = entry != nullptr ? entry->pw_dir : nullptr;
	user.name = name != nullptr ? name : "";
	user.home = home != nullptr ? home : "";
	return user;
}

std::string LocalDate()
{
	const std::time_t now = std::time(nullptr);
	std::tm local{};
	char text[16] = "0000-00-00";
	if (localtime_r(&now, &local) != nullptr)
		std::strftime(text, sizeof(text), "%Y-%m-%d", &local);
	return text;
}

} // namespace zelvan::ctl
