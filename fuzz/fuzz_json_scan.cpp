// Fuzz target: FindJsonStringValue on any registry text, for both keys the
// driver looks up and both path styles; IsCompleteJsonObject on the same
// text, as if a console tool had written it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ipd/json_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string_view text(reinterpret_cast<const char *>(data), size);
	for (const char *key : {"runtime", "config"}) {
		for (const zelvan::PathStyle style : {zelvan::PathStyle::Windows, zelvan::PathStyle::Posix}) {
			const std::string value = zelvan::FindJsonStringValue(text, key, style);
			// A value lies between two quotes of the text and only gets shorter.
			if (value.size() > size || value.find('"') != std::string::npos)
				__builtin_trap();
			if (style == zelvan::PathStyle::Windows && value.find('/') != std::string::npos)
				__builtin_trap();
		}
	}
	// A whole object starts with '{' (after an optional BOM and white space)
	// and ends with '}' (before white space).
	if (zelvan::IsCompleteJsonObject(text)) {
		const size_t last = text.find_last_not_of(" \t\r\n");
		if (last == std::string_view::npos || text[last] != '}')
			__builtin_trap();
	}
	return 0;
}
