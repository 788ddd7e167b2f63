// The interface versions the driver was built against, as the runtime asks
// for them through GetInterfaceVersions.
#pragma once

namespace zelvan {

// Twelve versions and a null terminator. Kept as our own list: the SDK header
// Debian ships is older and its k_InterfaceVersions differs, while every
// interface the driver calls has the same version string in both.
extern const char *const kInterfaceVersions[13];

} // namespace zelvan
