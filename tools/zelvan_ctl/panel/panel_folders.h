// Where the panel keeps what it makes for the user: recordings and reports,
// in a per-user folder of the system's, or under ZELVAN_PANEL_DATA.
#pragma once

#include <string>

namespace zelvan::ctl {

// The environment variable that names another base folder (tests, a demo).
inline constexpr const char *kPanelDataVariable = "ZELVAN_PANEL_DATA";

// `which` ("recordings" or "reports") in the panel's base folder, made when
// missing (only this user may enter it). False with `error` when there is
// no base, or the folder is a link, not a folder or another user's: the
// panel writes nothing through one.
bool PanelFolder(const std::string &which, std::string &folder, std::string &error);

// Local time as YYYY-MM-DD-HHMMSS, for the names of new recordings.
std::string LocalStamp();

} // namespace zelvan::ctl
