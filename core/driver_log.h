// The driver's one way to write to the runtime's driver log, from any thread.
#pragma once

namespace vr {
class IVRDriverLog;
}

namespace zelvan {

// Formats one line with printf conventions and hands it to the runtime's log.
// Lines longer than 1023 characters are cut there; without a sink the line is
// formatted and dropped. Safe from the reader thread: the sink only changes
// before that thread starts and after it has been joined.
#if defined(__MINGW32__)
// mingw's C++ library formats with its own C99 printf, not msvcrt's.
#define ZELVAN_PRINTF_CHECK __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
#define ZELVAN_PRINTF_CHECK __attribute__((format(printf, 1, 2)))
#else
#define ZELVAN_PRINTF_CHECK
#endif

void DriverLog(const char *format, ...) ZELVAN_PRINTF_CHECK;

// Called by Init once the host interfaces are known.
void AttachDriverLog(vr::IVRDriverLog *log);

// The last step of Cleanup: later lines reach nobody.
void DetachDriverLog();

} // namespace zelvan
