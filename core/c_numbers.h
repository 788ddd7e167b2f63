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
// optional sign, digits with an optional point and exponent. inf, nan and a
// number beyond a float's range are refused: strtof would hand back a value
// (infinity, NaN, or 0 from from_chars) that no caller can use. `consumed`
// (when given) receives the characters used; nothing on failure.
// `unusable` (when given) tells such a refused number from text that holds
// no number at all.
std::optional<float> ParseFloat(const char *begin, const char *end, size_t *consumed = nullptr,
                                bool *unusable = nullptr);

} // namespace zelvan
