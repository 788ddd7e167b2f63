// Numbers in text as the runtime's files and our commands write them: always
// with a decimal point, whatever locale the host process has set.
#pragma once

#include <cstddef>
#include <optional>

namespace zelvan {

// "%.Nf" of value in the C locale.
struct FixedText {
	char text[48];
};
FixedText FormatFixed(double value, int decimals);

// Reads a float as strtof does in the C locale: leading white space, an
// optional sign, digits with an optional point and exponent, or inf / nan.
// `consumed` (when given) receives the characters used; nothing on failure.
std::optional<float> ParseFloat(const char *begin, const char *end, size_t *consumed = nullptr);

} // namespace zelvan
