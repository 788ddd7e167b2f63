// The command line and the console on Windows: argv would hold the ANSI
// code page's guess at each name, so the words come from the UTF-16
// command line; the console reads what is printed as UTF-8.
#include "tools/zelvan_ctl/cli/console_text.h"

#include <cstdio>
#include <cstdlib>
#include <io.h>
#include <string_view>

#include <windows.h>
#include <shellapi.h>

#include "core/wide_text.h"

namespace zelvan::ctl {
namespace {

// WideToUtf8 would turn half a surrogate pair into U+FFFD, which names
// another file.
bool HasUnpairedSurrogate(std::wstring_view text)
{
	for (size_t i = 0; i < text.size(); ++i) {
		const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
		if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
			++i;
		else if (high || (text[i] >= 0xDC00 && text[i] <= 0xDFFF))
			return true;
	}
	return false;
}

UINT console_code_page = 0;

void RestoreConsoleCodePage()
{
	std::fflush(nullptr); // what is still buffered is UTF-8 too
	SetConsoleOutputCP(console_code_page);
}

} // namespace

bool Utf8Arguments(int, char **, std::vector<std::string> &args)
{
	args.clear();
	int count = 0;
	wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
	if (wide == nullptr)
		return false;
	bool ok = true;
	for (int i = 1; i < count && ok; ++i) {
		const std::wstring_view arg(wide[i]);
		ok = !HasUnpairedSurrogate(arg);
		args.push_back(WideToUtf8(arg));
	}
	LocalFree(wide);
	if (!ok)
		args.clear();
	return ok;
}

void PrintUtf8ToConsole()
{
	const UINT before = GetConsoleOutputCP();
	if (before == 0 || before == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8))
		return;
	console_code_page = before;
	std::atexit(RestoreConsoleCodePage);
}

bool InputIsTerminal()
{
	return _isatty(_fileno(stdin)) != 0;
}

} // namespace zelvan::ctl
