// Fuzz target: the calibration file's text parse, ParseEyeToHeadText and
// ParseMatrixRows from any start.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ipd/lighthouse_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const std::string_view text(reinterpret_cast<const char *>(data), size);
	const zelvan::EyeToHeadText parsed = zelvan::ParseEyeToHeadText(text);
	if (parsed.ok == (parsed.failure != nullptr))
		__builtin_trap();

	float rows[9];
	for (const size_t start : {size_t{0}, size / 2, size > 0 ? size - 1 : 0, size, size + 1})
		zelvan::ParseMatrixRows(text, start, rows);
	return 0;
}
