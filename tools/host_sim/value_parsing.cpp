// Locale-independent parsing of command-line and scenario values.
#include "tools/host_sim/value_parsing.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace zelvan::host_sim {
namespace {

// The whole text must be the number; extra arguments are from_chars's base or format.
template <typename T, typename... Extra>
std::optional<T> FromChars(std::string_view text, Extra... extra) {
  T value{};
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, extra...);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

bool SplitAssignment(std::string_view text, std::string_view* name, std::string_view* value) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  *name = text.substr(0, eq);
  *value = text.substr(eq + 1);
  return true;
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  return FromChars<std::int64_t>(text);
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return FromChars<std::uint64_t>(text.substr(2), 16);
  }
  return FromChars<std::uint64_t>(text);
}

std::optional<double> ParseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  bool has_digit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      has_digit = true;
    } else if (c != '-' && c != '.' && c != 'e' && c != 'E' && c != '+') {
      return std::nullopt;  // keeps out "inf", "nan" and hexadecimal floats
    }
  }
  if (!has_digit) return std::nullopt;
  auto value = FromChars<double>(text);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::optional<bool> ParseBool(std::string_view text) {
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  return std::nullopt;
}

nlohmann::json ParseSettingValue(std::string_view text) {
  text = Trim(text);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return std::string(text.substr(1, text.size() - 2));
  }
  if (text == "true") return true;
  if (text == "false") return false;
  if (auto integer = ParseInteger(text)) return *integer;
  if (auto number = ParseNumber(text)) return *number;
  return std::string(text);
}

double FloatForJson(float value) {
  if (!std::isfinite(value)) return static_cast<double>(value);
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return static_cast<double>(value);
  return FromChars<double>(std::string_view(buffer, static_cast<std::size_t>(end - buffer)))
      .value_or(static_cast<double>(value));
}

}  // namespace zelvan::host_sim
