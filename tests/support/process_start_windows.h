// Starting a process from tests on Windows, shared by the harness and the
// console tool's pipe.
#pragma once

#include <windows.h>

namespace zelvan::test {

// CreateProcessW with inherited handles and no window, tried up to five
// times 100 ms apart: Wine now and then refuses a start while other
// processes come and go, which would fail a test about something else.
// Each refusal is printed with its code; `error` keeps the last one. The
// environment, when given, is a block of wide strings.
bool StartProcess(const wchar_t *application, wchar_t *command_line, void *environment, STARTUPINFOW &startup,
                  PROCESS_INFORMATION &info, unsigned long &error);

} // namespace zelvan::test
