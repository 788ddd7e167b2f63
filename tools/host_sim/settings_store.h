// The runtime's settings store: a steamvr.vrsettings-shaped JSON document plus drivers' defaults, behind IVRSettings.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"

namespace zelvan::host_sim {

// Reads a vrsettings document ({"section": {"key": value}}, top-level entries
// that are not objects, like "jsonid", are kept as they are). A missing file
// gives an empty document when missing_ok; an empty file always does.
std::optional<nlohmann::json> ReadSettingsFile(const std::string& path, bool missing_ok, std::string* error);
// Pretty-printed with a three-space indent, as the runtime writes it.
bool WriteSettingsFile(const std::string& path, const nlohmann::json& document, std::string* error);

class SettingsStore final : public vr::IVRSettings {
 public:
  explicit SettingsStore(CallTrace& trace);

  // Host-side changes (command line, scenario); these are not traced.
  void LoadUser(nlohmann::json document);
  // Defaults are asked only for keys missing from the user settings and are
  // never written back; a later defaults document wins over an earlier one.
  void AddDefaults(const nlohmann::json& document);
  void SetUserValue(const std::string& section, const std::string& key, nlohmann::json value);
  void RemoveUserValue(const std::string& section, const std::string& key);
  nlohmann::json UserDocument() const;
  // From now on no error out-parameter is written, and every get answers 0
  // or "" whatever is stored (--lax-host).
  void BeLax() { lax_ = true; }

  const char* GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError) override;
  void SetBool(const char* pchSection, const char* pchSettingsKey, bool bValue, vr::EVRSettingsError* peError) override;
  void SetInt32(const char* pchSection, const char* pchSettingsKey, int32_t nValue,
                vr::EVRSettingsError* peError) override;
  void SetFloat(const char* pchSection, const char* pchSettingsKey, float flValue,
                vr::EVRSettingsError* peError) override;
  void SetString(const char* pchSection, const char* pchSettingsKey, const char* pchValue,
                 vr::EVRSettingsError* peError) override;
  bool GetBool(const char* pchSection, const char* pchSettingsKey, vr::EVRSettingsError* peError) override;
  int32_t GetInt32(const char* pchSection, const char* pchSettingsKey, vr::EVRSettingsError* peError) override;
  float GetFloat(const char* pchSection, const char* pchSettingsKey, vr::EVRSettingsError* peError) override;
  void GetString(const char* pchSection, const char* pchSettingsKey, char* pchValue, uint32_t unValueLen,
                 vr::EVRSettingsError* peError) override;
  void RemoveSection(const char* pchSection, vr::EVRSettingsError* peError) override;
  void RemoveKeyInSection(const char* pchSection, const char* pchSettingsKey, vr::EVRSettingsError* peError) override;

 private:
  // The stored value for a get, from the user settings or else the defaults;
  // nullptr with *error set when there is none.
  const nlohmann::json* FindLocked(const char* section, const char* key, vr::EVRSettingsError* error) const;
  template <typename T, typename Convert>
  T Get(const char* call, const char* section, const char* key, vr::EVRSettingsError* peError, Convert convert);
  void Set(const char* call, const char* section, const char* key, nlohmann::json value,
           vr::EVRSettingsError* peError);

  CallTrace& trace_;
  std::atomic<bool> lax_{false};
  mutable std::mutex mutex_;
  nlohmann::json user_ = nlohmann::json::object();
  nlohmann::json defaults_ = nlohmann::json::object();
};

}  // namespace zelvan::host_sim
