// Stands in for SteamVR's vrpathreg in the install script tests: records
// each call and keeps the registry's external_drivers as vrpathreg does.
// Words, names and the log are UTF-8; on Windows they come from the UTF-16
// command line and environment, so a folder named in any script arrives whole.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

#ifdef _WIN32
std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::vector<std::string> Words(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> words;
  for (int i = 0; i < count; ++i) words.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return words;
}

std::string Env(const char* name) {
  const std::wstring wide_name(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wide_name.c_str());
  return value != nullptr ? Utf8(value) : "";
}
#else
std::vector<std::string> Words(int argc, char** argv) { return {argv, argv + argc}; }

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}
#endif

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// adddriver appends the path once; removedriver drops every copy of it.
bool UpdateRegistry(const std::string& registry, const std::string& command, const std::string& path) {
  std::ifstream in(PathOf(registry));
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
  std::ofstream(PathOf(registry)) << json.dump(2) << '\n';
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> words = Words(argc, argv);
  if (words.size() > 1 && words[1] == "--help") {
    std::puts("vrpathreg stand-in: appends its arguments to $ZELVAN_VRPATHREG_LOG, applies\n"
              "adddriver/removedriver PATH to $ZELVAN_VRPATHREG_REGISTRY, and fails when\n"
              "$ZELVAN_VRPATHREG_FAIL is set.");
    return 0;
  }
  std::string line;
  for (size_t i = 1; i < words.size(); ++i) line += (i > 1 ? " " : "") + words[i];
  std::ofstream(PathOf(Env("ZELVAN_VRPATHREG_LOG")), std::ios::app) << line << '\n';
  if (!Env("ZELVAN_VRPATHREG_FAIL").empty()) {
    std::fputs("vrpathreg stand-in: failing as asked\n", stderr);
    return 1;
  }
  if (words.size() != 3 || (words[1] != "adddriver" && words[1] != "removedriver")) {
    std::fputs("vrpathreg stand-in: expected adddriver|removedriver PATH\n", stderr);
    return 2;
  }
  if (!UpdateRegistry(Env("ZELVAN_VRPATHREG_REGISTRY"), words[1], words[2])) {
    std::fputs("vrpathreg stand-in: cannot read the registry\n", stderr);
    return 3;
  }
  return 0;
}
