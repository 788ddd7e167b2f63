// The path registry for the install scripts (paths, register, unregister), read with a JSON parser instead of text matching. On
// Windows the folder names never pass through a console code page: the
// script hands a folder over as an argument and vrpathreg gets it as UTF-16.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelvan::ctl {

// The strings of the registry's array `key` (runtime, external_drivers,
// config or log), in order, read from `registry_file` or, without one,
// from SteamVR's own. Nothing but `error` when the registry is
// missing, not JSON or holds a path with a line break or NUL: a reader must
// not act on half a list.
struct RegistryPaths {
	std::vector<std::string> paths;
	std::string error;
};
RegistryPaths ReadRegistryPaths(const std::string &key, const std::optional<std::string> &registry_file);

// Registers `folder` with the runtime's vrpathreg (adddriver) unless it is
// registered already, or unregisters each spelling of it (removedriver);
// without a runtime, says the command to run. `said`: what it did or why
// nothing was needed; `error`: why it stopped (vrpathreg failed, the
// registry is not JSON, a spelling stayed registered).
// `as_said` gets each line of `said` at once, as vrpathreg runs.
struct RegistryChange {
	std::vector<std::string> said;
	std::string error;
};
RegistryChange RegisterFolder(const std::string &folder, bool add,
                              const std::function<void(const std::string &line)> &as_said = {});

} // namespace zelvan::ctl
