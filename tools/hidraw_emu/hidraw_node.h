// The hidraw character device's file semantics, served from FUSE: one queue
// of input reports per open file, the HIDIOC* ioctls, poll with wake-ups,
// and what an unplugged device answers.
#pragma once

#define FUSE_USE_VERSION 35
#include <fuse.h>

#include <cstdint>
#include <vector>

namespace zelvan::hidraw_emu {

// The operations of a filesystem whose root is the hidraw node itself,
// mounted over a file. The simulated sensor behind it is hidapi's interface
// of libzelvan_sim_hidapi, configured as usual (ZELVAN_SIM_SENSOR).
fuse_operations NodeOperations();

// What HIDIOCGRDESC and sysfs's report_descriptor give.
std::vector<uint8_t> ReportDescriptor();

} // namespace zelvan::hidraw_emu
