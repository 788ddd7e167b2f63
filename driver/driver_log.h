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
void DriverLog(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Called by Init once the host interfaces are known.
void AttachDriverLog(vr::IVRDriverLog *log);

// The last step of Cleanup: later lines reach nobody.
void DetachDriverLog();

} // namespace zelvan
