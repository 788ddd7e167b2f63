// Typed device property values: names, parsing and decoding.
#include "tools/host_sim/property_values.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "tools/host_sim/value_parsing.h"

namespace zelvan::host_sim {
namespace {

struct KnownProperty {
  const char* name;
  vr::ETrackedDeviceProperty prop;
};

constexpr KnownProperty kKnownProperties[] = {
    {"Prop_TrackingSystemName_String", vr::Prop_TrackingSystemName_String},
    {"Prop_ModelNumber_String", vr::Prop_ModelNumber_String},
    {"Prop_SerialNumber_String", vr::Prop_SerialNumber_String},
    {"Prop_ManufacturerName_String", vr::Prop_ManufacturerName_String},
    {"Prop_ContainsProximitySensor_Bool", vr::Prop_ContainsProximitySensor_Bool},
    {"Prop_UserIpdMeters_Float", vr::Prop_UserIpdMeters_Float},
    {"Prop_IpdUIRangeMinMeters_Float", vr::Prop_IpdUIRangeMinMeters_Float},
    {"Prop_IpdUIRangeMaxMeters_Float", vr::Prop_IpdUIRangeMaxMeters_Float},
    {"Prop_DriverDisplaysIPDChanges_Bool", kPropDriverDisplaysIpdChanges},
};

struct TypeName {
  const char* suffix;  // of an SDK property name
  const char* word;    // in the ID:TYPE form
  vr::PropertyTypeTag_t tag;
};

constexpr TypeName kTypes[] = {
    {"_String", "string", vr::k_unStringPropertyTag}, {"_Float", "float", vr::k_unFloatPropertyTag},
    {"_Bool", "bool", vr::k_unBoolPropertyTag},       {"_Int32", "int32", vr::k_unInt32PropertyTag},
    {"_Uint64", "uint64", vr::k_unUint64PropertyTag}, {"_Double", "double", vr::k_unDoublePropertyTag},
};

const KnownProperty* FindKnown(std::string_view name) {
  for (const KnownProperty& known : kKnownProperties) {
    if (name == known.name) return &known;
  }
  return nullptr;
}

template <typename T>
std::vector<std::uint8_t> BytesOf(T value) {
  std::vector<std::uint8_t> bytes(sizeof value);
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}

std::optional<std::vector<std::uint8_t>> EncodeValue(vr::PropertyTypeTag_t tag, std::string_view text) {
  switch (tag) {
    case vr::k_unStringPropertyTag: {
      std::vector<std::uint8_t> bytes(text.begin(), text.end());
      bytes.push_back(0);
      return bytes;
    }
    case vr::k_unFloatPropertyTag:
      if (auto v = ParseNumber(text)) return BytesOf(static_cast<float>(*v));
      return std::nullopt;
    case vr::k_unDoublePropertyTag:
      if (auto v = ParseNumber(text)) return BytesOf(*v);
      return std::nullopt;
    case vr::k_unBoolPropertyTag:
      if (auto v = ParseBool(text)) return BytesOf(*v);
      return std::nullopt;
    case vr::k_unInt32PropertyTag:
      if (auto v = ParseInteger(text); v && *v >= std::numeric_limits<std::int32_t>::min() &&
                                             *v <= std::numeric_limits<std::int32_t>::max()) {
        return BytesOf(static_cast<std::int32_t>(*v));
      }
      return std::nullopt;
    case vr::k_unUint64PropertyTag:
      if (auto v = ParseUnsigned(text)) return BytesOf(*v);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

template <typename T>
T Load(const void* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

std::string Hex(const void* data, std::uint32_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::uint32_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xf];
  }
  return text;
}

}  // namespace

const char* KnownPropertyName(vr::ETrackedDeviceProperty prop) {
  for (const KnownProperty& known : kKnownProperties) {
    if (known.prop == prop) return known.name;
  }
  return nullptr;
}

std::optional<vr::ETrackedDeviceProperty> ParsePropertyId(std::string_view text) {
  if (const KnownProperty* known = FindKnown(text)) return known->prop;
  auto number = ParseInteger(text);
  if (!number || *number <= 0 || *number >= vr::Prop_TrackedDeviceProperty_Max) return std::nullopt;
  return static_cast<vr::ETrackedDeviceProperty>(*number);
}

std::optional<PropertyValue> ParsePropertyValue(std::string_view name, std::string_view value, std::string* error) {
  PropertyValue result;
  if (const KnownProperty* known = FindKnown(name)) {
    result.prop = known->prop;
    for (const TypeName& type : kTypes) {
      if (name.ends_with(type.suffix)) result.tag = type.tag;
    }
  } else if (const auto colon = name.find(':'); colon != std::string_view::npos) {
    auto id = ParsePropertyId(name.substr(0, colon));
    if (!id) {
      *error = "bad property id in '" + std::string(name) + "'";
      return std::nullopt;
    }
    result.prop = *id;
    const std::string_view word = name.substr(colon + 1);
    for (const TypeName& type : kTypes) {
      if (word == type.word) result.tag = type.tag;
    }
    if (result.tag == vr::k_unInvalidPropertyTag) {
      *error = "unknown property type '" + std::string(word) + "' (use string, float, bool, int32, uint64 or double)";
      return std::nullopt;
    }
  } else {
    *error = "unknown property '" + std::string(name) +
             "' (give a known Prop_..._Type name or ID:TYPE, e.g. 2003:float)";
    return std::nullopt;
  }
  auto bytes = EncodeValue(result.tag, value);
  if (!bytes) {
    *error = "bad value '" + std::string(value) + "' for property " + std::string(name);
    return std::nullopt;
  }
  result.bytes = std::move(*bytes);
  return result;
}

std::optional<PropertyValue> ParsePropertyAssignment(std::string_view text, std::string* error) {
  std::string_view name, value;
  if (!SplitAssignment(text, &name, &value)) {
    *error = "expected NAME=VALUE, got '" + std::string(text) + "'";
    return std::nullopt;
  }
  return ParsePropertyValue(name, value, error);
}

TraceJson DecodePropertyValue(vr::PropertyTypeTag_t tag, const void* data, std::uint32_t size) {
  if (data == nullptr) return nullptr;
  switch (tag) {
    case vr::k_unFloatPropertyTag:
      if (size == sizeof(float)) return FloatForJson(Load<float>(data));
      break;
    case vr::k_unDoublePropertyTag:
      if (size == sizeof(double)) return Load<double>(data);
      break;
    case vr::k_unInt32PropertyTag:
      if (size == sizeof(std::int32_t)) return Load<std::int32_t>(data);
      break;
    case vr::k_unUint64PropertyTag:
      if (size == sizeof(std::uint64_t)) return Load<std::uint64_t>(data);
      break;
    case vr::k_unBoolPropertyTag:
      if (size == sizeof(bool)) return Load<std::uint8_t>(data) != 0;
      break;
    case vr::k_unStringPropertyTag:
    {
      const char* text = static_cast<const char*>(data);
      return std::string(text, std::find(text, text + size, '\0'));
    }
    default:
      break;
  }
  return Hex(data, size);
}

}  // namespace zelvan::host_sim
