// Names of the SDK's error codes, for the runtime's *NameFromEnum calls and for command-line options.
#pragma once

#include <optional>
#include <string_view>

#include <openvr_driver.h>

namespace zelvan::host_sim {

// nullptr for a value the SDK does not name.
const char* PropErrorName(vr::ETrackedPropertyError error);
const char* InputErrorName(vr::EVRInputError error);
const char* SettingsErrorName(vr::EVRSettingsError error);

// Accepts the SDK name ("TrackedProp_PermissionDenied") or a number ("10").
std::optional<vr::ETrackedPropertyError> ParsePropError(std::string_view text);
std::optional<vr::EVRInputError> ParseInputError(std::string_view text);
// Accepts a VREvent_ name of the events a driver might act on, or any number.
std::optional<vr::EVREventType> ParseEventType(std::string_view text);

}  // namespace zelvan::host_sim
