// The program's words and what it prints are UTF-8 on every platform. On
// Windows that takes the command line as UTF-16 and a console told that
// the output is UTF-8 (console_text_windows.cpp, console_text_posix.cpp).
#pragma once

#include <string>
#include <vector>

namespace zelvan::ctl {

// The arguments after the program's name. False, with `args` empty, when
// one is not text (Windows: an unpaired surrogate, which no name holds).
bool Utf8Arguments(int argc, char **argv, std::vector<std::string> &args);

// A console shows the program's UTF-8 as written (Windows: its code page,
// put back at exit). Pipes and files get the bytes either way.
void PrintUtf8ToConsole();

// Standard input is a terminal, where a person can answer a question.
bool InputIsTerminal();

} // namespace zelvan::ctl
