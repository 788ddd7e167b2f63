// The runtime's settings store behind IVRSettings, with the runtime's error codes and number conversions.
#include "tools/host_sim/settings_store.h"
#include "tools/host_sim/platform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "tools/host_sim/enum_names.h"
#include "tools/host_sim/value_parsing.h"

namespace zelvan::host_sim {
namespace {

constexpr const char* kInterface = "IVRSettings_003";

std::string RepeatKey(const char* call, const char* section, const char* key) {
  std::string repeat = call;
  repeat += '\n';
  repeat += section ? section : "";
  repeat += '\n';
  repeat += key ? key : "";
  return repeat;
}

std::optional<bool> AsBool(const nlohmann::json& value) {
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_number()) return value.get<double>() != 0.0;
  return std::nullopt;
}

std::optional<int32_t> AsInt32(const nlohmann::json& value) {
  constexpr auto kMin = std::numeric_limits<int32_t>::min();
  constexpr auto kMax = std::numeric_limits<int32_t>::max();
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_number_unsigned()) return static_cast<int32_t>(std::min<uint64_t>(value.get<uint64_t>(), kMax));
  if (value.is_number_integer()) return static_cast<int32_t>(std::clamp<int64_t>(value.get<int64_t>(), kMin, kMax));
  if (value.is_number_float()) {
    const double number = std::trunc(value.get<double>());
    if (std::isnan(number)) return 0;
    return static_cast<int32_t>(std::clamp<double>(number, kMin, kMax));
  }
  return std::nullopt;
}

std::optional<float> AsFloat(const nlohmann::json& value) {
  if (value.is_boolean()) return value.get<bool>() ? 1.0f : 0.0f;
  if (value.is_number()) return static_cast<float>(value.get<double>());
  return std::nullopt;
}

std::optional<std::string> AsString(const nlohmann::json& value) {
  if (value.is_string()) return value.get<std::string>();
  return std::nullopt;
}

void SetError(vr::EVRSettingsError* out, vr::EVRSettingsError error) {
  if (out) *out = error;
}

}  // namespace

std::optional<nlohmann::json> ReadSettingsFile(const std::string& path, bool missing_ok, std::string* error) {
  std::ifstream file(FilePath(path), std::ios::binary);
  if (!file) {
    if (missing_ok) return nlohmann::json::object();
    *error = path + ": cannot be read";
    return std::nullopt;
  }
  std::stringstream text;
  text << file.rdbuf();
  const std::string content = text.str();
  if (Trim(content).empty()) return nlohmann::json::object();
  try {
    nlohmann::json document = nlohmann::json::parse(content, nullptr, true, /*ignore_comments=*/true);
    if (!document.is_object()) {
      *error = path + ": the top level is not a JSON object";
      return std::nullopt;
    }
    return document;
  } catch (const nlohmann::json::exception& e) {
    *error = path + ": " + e.what();
    return std::nullopt;
  }
}

bool WriteSettingsFile(const std::string& path, const nlohmann::json& document, std::string* error) {
  std::ofstream file(FilePath(path), std::ios::binary | std::ios::trunc);
  file << document.dump(3) << '\n';
  file.close();
  if (!file) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

SettingsStore::SettingsStore(CallTrace& trace) : trace_(trace) {}

void SettingsStore::LoadUser(nlohmann::json document) {
  std::lock_guard lock(mutex_);
  user_ = std::move(document);
}

void SettingsStore::AddDefaults(const nlohmann::json& document) {
  std::lock_guard lock(mutex_);
  for (const auto& [section, keys] : document.items()) {
    if (!keys.is_object()) continue;
    nlohmann::json& target = defaults_[section];
    if (!target.is_object()) target = nlohmann::json::object();
    for (const auto& [key, value] : keys.items()) target[key] = value;
  }
}

void SettingsStore::SetUserValue(const std::string& section, const std::string& key, nlohmann::json value) {
  std::lock_guard lock(mutex_);
  nlohmann::json& target = user_[section];
  if (!target.is_object()) target = nlohmann::json::object();
  target[key] = std::move(value);
}

void SettingsStore::RemoveUserValue(const std::string& section, const std::string& key) {
  std::lock_guard lock(mutex_);
  auto it = user_.find(section);
  if (it != user_.end() && it->is_object()) it->erase(key);
}

nlohmann::json SettingsStore::UserDocument() const {
  std::lock_guard lock(mutex_);
  return user_;
}

const nlohmann::json* SettingsStore::FindLocked(const char* section, const char* key,
                                                vr::EVRSettingsError* error) const {
  if (!section || !key) {
    *error = vr::VRSettingsError_ReadFailed;
    return nullptr;
  }
  for (const nlohmann::json* document : {&user_, &defaults_}) {
    auto keys = document->find(section);
    if (keys == document->end() || !keys->is_object()) continue;
    auto value = keys->find(key);
    if (value != keys->end()) {
      *error = vr::VRSettingsError_None;
      return &*value;
    }
  }
  *error = vr::VRSettingsError_UnsetSettingHasNoDefault;
  return nullptr;
}

template <typename T, typename Convert>
T SettingsStore::Get(const char* call, const char* section, const char* key, vr::EVRSettingsError* peError,
                     Convert convert) {
  vr::EVRSettingsError error = vr::VRSettingsError_None;
  T result{};
  if (lax_) {
    trace_.RecordQuery(kInterface, call, RepeatKey(call, section, key),
                       {{"section", TraceText(section)}, {"key", TraceText(key)}, {"error", "untouched"}});
    return result;
  }
  {
    std::lock_guard lock(mutex_);
    if (const nlohmann::json* stored = FindLocked(section, key, &error)) {
      if (auto converted = convert(*stored)) {
        result = *converted;
      } else {
        error = vr::VRSettingsError_ReadFailed;
      }
    }
  }
  SetError(peError, error);
  TraceJson value;
  if constexpr (std::is_same_v<T, float>) {
    value = FloatForJson(result);
  } else {
    value = result;
  }
  trace_.RecordQuery(kInterface, call, RepeatKey(call, section, key),
                     {{"section", TraceText(section)}, {"key", TraceText(key)}, {"value", value}, {"error", error}});
  return result;
}

void SettingsStore::Set(const char* call, const char* section, const char* key, nlohmann::json value,
                        vr::EVRSettingsError* peError) {
  vr::EVRSettingsError error = vr::VRSettingsError_None;
  if (!section || !key) {
    error = vr::VRSettingsError_WriteFailed;
  } else {
    SetUserValue(section, key, value);
  }
  if (!lax_) SetError(peError, error);
  trace_.Record(kInterface, call,
                {{"section", TraceText(section)}, {"key", TraceText(key)}, {"value", value}, {"error", error}});
}

const char* SettingsStore::GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError) {
  const char* name = SettingsErrorName(eError);
  if (!name) name = "Unknown settings error";
  trace_.Record(kInterface, "GetSettingsErrorNameFromEnum", {{"code", eError}, {"name", name}});
  return name;
}

void SettingsStore::SetBool(const char* pchSection, const char* pchSettingsKey, bool bValue,
                            vr::EVRSettingsError* peError) {
  Set("SetBool", pchSection, pchSettingsKey, bValue, peError);
}

void SettingsStore::SetInt32(const char* pchSection, const char* pchSettingsKey, int32_t nValue,
                             vr::EVRSettingsError* peError) {
  Set("SetInt32", pchSection, pchSettingsKey, nValue, peError);
}

void SettingsStore::SetFloat(const char* pchSection, const char* pchSettingsKey, float flValue,
                             vr::EVRSettingsError* peError) {
  Set("SetFloat", pchSection, pchSettingsKey, FloatForJson(flValue), peError);
}

void SettingsStore::SetString(const char* pchSection, const char* pchSettingsKey, const char* pchValue,
                              vr::EVRSettingsError* peError) {
  Set("SetString", pchSection, pchSettingsKey, pchValue ? pchValue : "", peError);
}

bool SettingsStore::GetBool(const char* pchSection, const char* pchSettingsKey, vr::EVRSettingsError* peError) {
  return Get<bool>("GetBool", pchSection, pchSettingsKey, peError, AsBool);
}

int32_t SettingsStore::GetInt32(const char* pchSection, const char* pchSettingsKey, vr::EVRSettingsError* peError) {
  return Get<int32_t>("GetInt32", pchSection, pchSettingsKey, peError, AsInt32);
}

float SettingsStore::GetFloat(const char* pchSection, const char* pchSettingsKey, vr::EVRSettingsError* peError) {
  return Get<float>("GetFloat", pchSection, pchSettingsKey, peError, AsFloat);
}

// A value longer than the buffer is cut to fit, NUL included.
void SettingsStore::GetString(const char* pchSection, const char* pchSettingsKey, char* pchValue,
                              uint32_t unValueLen, vr::EVRSettingsError* peError) {
  const auto fitted = [&](const nlohmann::json& stored) -> std::optional<std::string> {
    auto text = AsString(stored);
    if (text && unValueLen > 0 && text->size() >= unValueLen) text->resize(unValueLen - 1);
    return text;
  };
  const std::string text = Get<std::string>("GetString", pchSection, pchSettingsKey, peError, fitted);
  if (pchValue && unValueLen > 0) {
    std::memcpy(pchValue, text.c_str(), std::min<std::size_t>(text.size() + 1, unValueLen));
  }
}

void SettingsStore::RemoveSection(const char* pchSection, vr::EVRSettingsError* peError) {
  if (pchSection) {
    std::lock_guard lock(mutex_);
    user_.erase(pchSection);
  }
  const auto error = pchSection ? vr::VRSettingsError_None : vr::VRSettingsError_WriteFailed;
  SetError(peError, error);
  trace_.Record(kInterface, "RemoveSection", {{"section", TraceText(pchSection)}, {"error", error}});
}

void SettingsStore::RemoveKeyInSection(const char* pchSection, const char* pchSettingsKey,
                                       vr::EVRSettingsError* peError) {
  if (pchSection && pchSettingsKey) RemoveUserValue(pchSection, pchSettingsKey);
  const auto error = pchSection && pchSettingsKey ? vr::VRSettingsError_None : vr::VRSettingsError_WriteFailed;
  SetError(peError, error);
  trace_.Record(kInterface, "RemoveKeyInSection",
                {{"section", TraceText(pchSection)}, {"key", TraceText(pchSettingsKey)}, {"error", error}});
}

}  // namespace zelvan::host_sim
