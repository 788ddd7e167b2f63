// Fuzz target: the "default_mm" edit of a downloaded headset configuration:
// when it edits, exactly one number after the key is replaced.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ipd/ipd_persistence.h"

namespace {

bool IsNumberChar(char c)
{
	return (c >= '0' && c <= '9') || c == '.' || c == '-';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string text(reinterpret_cast<const char *>(data), size);
	const std::string value = "64.0";
	std::string edited;
	if (zelvan::EditDefaultMm(text, value, edited) != zelvan::DefaultMmEdit::Edited)
		return 0;

	const size_t key = text.find("\"default_mm\"");
	const size_t colon = text.find(':', key);
	if (key == std::string::npos || colon == std::string::npos)
		__builtin_trap();
	size_t start = colon + 1;
	while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
		++start;
	// What was taken out: a non-empty run of number characters, then
	// something that does not continue the number.
	if (edited.size() >= text.size() + value.size())
		__builtin_trap();
	const size_t removed = text.size() + value.size() - edited.size();
	for (size_t i = start; i < start + removed; ++i)
		if (i >= text.size() || !IsNumberChar(text[i]))
			__builtin_trap();
	const size_t end = start + removed;
	if (end < text.size() && (IsNumberChar(text[end]) || text[end] == 'e' || text[end] == 'E' || text[end] == '+'))
		__builtin_trap();
	if (edited != text.substr(0, start) + value + text.substr(end))
		__builtin_trap();
	return 0;
}
