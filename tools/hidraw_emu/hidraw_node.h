// The hidraw character device's file semantics, served from FUSE: one queue
// of input reports per open file, the HIDIOC* ioctls, poll with wake-ups,
// and what an unplugged device answers.
#pragma once

#define FUSE_USE_VERSION 35
#include <fuse.h>

#include <cstdint>
#include <vector>

namespace zelvan::hidraw_emu {

// The operations of a filesystem whose one file, hidraw0, is the node; it
// is mounted on a folder and /dev/hidraw0 links to it while plugged in. The simulated sensor behind it is hidapi's interface
// of libzelvan_sim_hidapi, configured as usual (ZELVAN_SIM_SENSOR).
fuse_operations NodeOperations();

// Called when an open file finds the device unplugged, before its readers
// learn of it: the kernel removes the device's entries first.
void SetUnplugHook(void (*hook)());

// What HIDIOCGRDESC and sysfs's report_descriptor give.
std::vector<uint8_t> ReportDescriptor();

} // namespace zelvan::hidraw_emu
