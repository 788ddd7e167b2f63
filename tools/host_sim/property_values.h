// Typed device property values: the names the project uses, parsing from text, and decoding for the trace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"

namespace zelvan::host_sim {

// Prop_DriverDisplaysIPDChanges_Bool is newer than the SDK header we build with.
inline constexpr auto kPropDriverDisplaysIpdChanges = static_cast<vr::ETrackedDeviceProperty>(2108);

struct PropertyValue {
  vr::ETrackedDeviceProperty prop = vr::Prop_Invalid;
  vr::PropertyTypeTag_t tag = vr::k_unInvalidPropertyTag;
  std::vector<std::uint8_t> bytes;  // as the driver would write them; strings end in NUL
};

// The SDK name of a property the simulator knows by name, or nullptr.
const char* KnownPropertyName(vr::ETrackedDeviceProperty prop);

// A property id from its SDK name or its number.
std::optional<vr::ETrackedDeviceProperty> ParsePropertyId(std::string_view text);

// NAME is a known SDK name (type from its suffix: _String, _Float, _Bool,
// _Int32, _Uint64, _Double) or "ID:TYPE" with TYPE one of string, float, bool,
// int32, uint64, double. On failure, *error says why.
std::optional<PropertyValue> ParsePropertyValue(std::string_view name, std::string_view value, std::string* error);
// The same from "NAME=VALUE".
std::optional<PropertyValue> ParsePropertyAssignment(std::string_view text, std::string* error);

// The bytes as JSON by their tag: float, double and integers as numbers, bool
// as true/false, string as text, anything else (or a size that does not fit
// the tag) as hexadecimal text.
TraceJson DecodePropertyValue(vr::PropertyTypeTag_t tag, const void* data, std::uint32_t size);

}  // namespace zelvan::host_sim
