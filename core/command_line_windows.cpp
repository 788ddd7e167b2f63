// The program's words from the UTF-16 command line. Its own file, so that
// only the programs that call it import shell32 (the driver does not).
#include "core/wide_text.h"

#include <windows.h>
#include <shellapi.h>

namespace zelvan {

std::vector<std::string> CommandLineUtf8(int argc, char **argv)
{
	int count = 0;
	wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
	if (wide == nullptr)
		return {argv, argv + argc};
	std::vector<std::string> words;
	for (int i = 0; i < count; ++i)
		words.push_back(WideToUtf8(wide[i]));
	LocalFree(wide);
	return words;
}

} // namespace zelvan
