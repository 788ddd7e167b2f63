// Stands in for SteamVR's vrpathreg in the install script tests: records
// each call and keeps the registry's external_drivers as vrpathreg does.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

namespace {

const char* Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// adddriver appends the path once; removedriver drops every copy of it.
bool UpdateRegistry(const std::string& registry, const std::string& command, const std::string& path) {
  std::ifstream in(registry);
  nlohmann::json json = nlohmann::json::parse(in, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return false;
  nlohmann::json drivers = nlohmann::json::array();
  if (json.contains("external_drivers") && json["external_drivers"].is_array()) drivers = json["external_drivers"];
  nlohmann::json kept = nlohmann::json::array();
  for (const auto& d : drivers) {
    if (d != path) kept.push_back(d);
  }
  if (command == "adddriver") kept.push_back(path);
  json["external_drivers"] = kept;
  in.close();
  std::ofstream(registry) << json.dump(2) << '\n';
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--help") {
    std::puts("vrpathreg stand-in: appends its arguments to $ZELVAN_VRPATHREG_LOG, applies\n"
              "adddriver/removedriver PATH to $ZELVAN_VRPATHREG_REGISTRY, and fails when\n"
              "$ZELVAN_VRPATHREG_FAIL is set.");
    return 0;
  }
  std::string line;
  for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
  std::ofstream(Env("ZELVAN_VRPATHREG_LOG"), std::ios::app) << line << '\n';
  if (*Env("ZELVAN_VRPATHREG_FAIL") != '\0') {
    std::fputs("vrpathreg stand-in: failing as asked\n", stderr);
    return 1;
  }
  if (argc != 3 || (std::string(argv[1]) != "adddriver" && std::string(argv[1]) != "removedriver")) {
    std::fputs("vrpathreg stand-in: expected adddriver|removedriver PATH\n", stderr);
    return 2;
  }
  if (!UpdateRegistry(Env("ZELVAN_VRPATHREG_REGISTRY"), argv[1], argv[2])) {
    std::fputs("vrpathreg stand-in: cannot read the registry\n", stderr);
    return 3;
  }
  return 0;
}
