// Locale-independent number formatting and parsing, on <charconv>.
#include "core/c_numbers.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace zelvan {

FixedText FormatFixed(double value, int decimals)
{
	FixedText out{};
	auto result = std::to_chars(out.text, out.text + sizeof(out.text) - 1, value, std::chars_format::fixed, decimals);
	if (result.ec != std::errc())
		std::strcpy(out.text, "?");
	else
		*result.ptr = '\0';
	return out;
}

std::optional<float> ParseFloat(const char *begin, const char *end, size_t *consumed, bool *unusable)
{
	if (unusable != nullptr)
		*unusable = false;
	const char *p = begin;
	while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v'))
		++p;
	bool negative = false;
	if (p < end && (*p == '+' || *p == '-')) {
		negative = *p == '-';
		++p;
	}
	// from_chars takes no sign of its own beyond '-'; the sign is applied here.
	if (p < end && (*p == '+' || *p == '-'))
		return std::nullopt;
	float value = 0.0f;
	const auto result = std::from_chars(p, end, value, std::chars_format::general);
	if (result.ec == std::errc::invalid_argument)
		return std::nullopt;
	// Out of range covers underflow too: a number below 1e-45 is refused
	// rather than read as 0, like one above 3.4e38.
	if (result.ec != std::errc() || !std::isfinite(value)) {
		if (unusable != nullptr)
			*unusable = true;
		return std::nullopt;
	}
	if (consumed != nullptr)
		*consumed = static_cast<size_t>(result.ptr - begin);
	return negative ? -value : value;
}

} // namespace zelvan
