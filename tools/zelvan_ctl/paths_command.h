// zelvan-ctl paths: the path registry's folders for the install scripts, so
// that they read it with a JSON parser instead of text matching.
#pragma once

#include <string>
#include <vector>

namespace zelvan::ctl {

// `args` follow "paths": KEY [REGISTRY]. Prints the strings of the registry's
// array KEY one a line; 1 with a message when the registry is missing, not
// JSON or holds a path with a line break, 64 on a usage error.
int RunPaths(const std::vector<std::string> &args);

} // namespace zelvan::ctl
