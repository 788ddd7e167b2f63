// Locale-independent parsing of the numbers, booleans and NAME=VALUE pairs given on the command line and in scenarios.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zelvan::host_sim {

std::string_view Trim(std::string_view text);

// Splits "NAME=VALUE" at the first '='; false when there is none or NAME is empty.
bool SplitAssignment(std::string_view text, std::string_view* name, std::string_view* value);

// Decimal, with an optional sign; the whole text must be the number.
std::optional<std::int64_t> ParseInteger(std::string_view text);
// Decimal or 0x-prefixed hexadecimal.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text);
// Decimal with an optional fraction and exponent; never "inf" or "nan".
std::optional<double> ParseNumber(std::string_view text);
std::optional<bool> ParseBool(std::string_view text);

// Types a setting value the way a user means it: true/false is a bool, an
// integer literal an integer, a decimal a float, "quoted" text always a
// string (quotes removed), anything else a string as written.
nlohmann::json ParseSettingValue(std::string_view text);

// The value a float stands for, as the double with the float's shortest
// decimal form (0.063f gives 0.063, not 0.06300000101327896), so that JSON
// files and traces show what the driver wrote.
double FloatForJson(float value);

}  // namespace zelvan::host_sim
