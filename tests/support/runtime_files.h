// The runtime's own files laid out for a test run: the path registry in the
// user's configuration folder, and a headset's lighthouse calibration.
#pragma once

#include <map>
#include <string>

#include "tests/support/sim_run.h"

namespace zelvan::test {

struct RuntimeFiles {
	std::string config_dir;  // what the registry's "config" names
	std::string runtime_dir; // what the registry's "runtime" names
	std::map<std::string, std::string> env; // what the driver needs to find the registry
};

// Writes <scratch>/user/openvr/openvrpaths.vrpath (POSIX: found through
// XDG_CONFIG_HOME; Windows: through LOCALAPPDATA) naming <scratch>/steam
// folders, with paths written as the runtime writes them on each platform.
RuntimeFiles LayOutRuntime(const ScratchDir &scratch);

// Writes <config>/lighthouse/<lower-case serial>/config.json.
std::string WriteCalibration(const RuntimeFiles &files, const std::string &serial, const std::string &json);

} // namespace zelvan::test
