// Starting a process from tests on Windows, shared by the harness and the
// console tool's pipe.
#pragma once

#include <windows.h>

namespace zelvan::test {

// CreateProcessA with inherited handles and no window, tried up to five
// times 100 ms apart: Wine now and then refuses a start while other
// processes come and go, which would fail a test about something else.
// Each refusal is printed with its code; `error` keeps the last one.
bool StartProcess(const char *application, char *command_line, void *environment, STARTUPINFOA &startup,
                  PROCESS_INFORMATION &info, unsigned long &error);

} // namespace zelvan::test
