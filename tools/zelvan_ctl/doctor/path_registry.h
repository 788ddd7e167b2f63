// zelvan-ctl paths, register and unregister: the path registry for the
// install scripts, read with a JSON parser instead of text matching. On
// Windows the folder names never pass through a console code page: the
// script hands a folder over as an argument and vrpathreg gets it as UTF-16.
#pragma once

#include <string>
#include <vector>

namespace zelvan::ctl {

// `args` follow "paths": KEY [REGISTRY]. Prints the strings of the registry's
// array KEY one a line; 1 with a message when the registry is missing, not
// JSON or holds a path with a line break, 64 on a usage error.
int RunPaths(const std::vector<std::string> &args);

// `args` follow "register" or "unregister": FOLDER. Registers the folder with
// the runtime's vrpathreg (adddriver) unless it is registered already, or
// unregisters it (removedriver); without a runtime, prints the command to
// run. 0 done or nothing to do, 1 when vrpathreg fails or the registry is
// not JSON, 64 on a usage error.
int RunRegister(const std::vector<std::string> &args, bool add);

} // namespace zelvan::ctl
