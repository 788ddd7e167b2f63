// DriverLog and its sink: printf-style lines into the runtime's driver log.
#include "core/driver_log.h"

#include <cstdarg>
#include <cstdio>

#include <openvr_driver.h>

namespace zelvan {
namespace {

// Separate from HostInterfaces' driver-log member: only Attach/Detach move it.
vr::IVRDriverLog *g_log_sink = nullptr;

} // namespace

void DriverLog(const char *format, ...)
{
	// One stack buffer per call: no allocation, no shared state between threads.
	char line[1024];
	va_list args;
	va_start(args, format);
	std::vsnprintf(line, sizeof(line), format, args);
	va_end(args);

	vr::IVRDriverLog *sink = g_log_sink;
	if (sink != nullptr)
		sink->Log(line);
}

void AttachDriverLog(vr::IVRDriverLog *log)
{
	g_log_sink = log;
}

void DetachDriverLog()
{
	g_log_sink = nullptr;
}

} // namespace zelvan
