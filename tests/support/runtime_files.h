// The runtime's own files laid out for a test run: the path registry in the
// user's configuration folder, and a headset's lighthouse calibration.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/calibration_file.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {

// Paths from UTF-8 text and back: on Windows a path made from a plain
// std::string is read in the ANSI code page.
std::filesystem::path Utf8Path(const std::string &utf8);
std::string Utf8String(const std::filesystem::path &path);

struct RuntimeFiles {
	std::string config_dir;  // what the registry's "config" names (UTF-8)
	std::string runtime_dir; // what the registry's "runtime" names (UTF-8)
	std::string user_dir;    // the folder LOCALAPPDATA or XDG_CONFIG_HOME names (UTF-8)
	std::map<std::string, std::string> env; // what the driver needs to find the registry
};

// The folder names of a layout, as people name their profile and their
// Steam library; `escaped` writes what is not ASCII in the registry as \u
// escapes, as JSON writers may.
struct LayoutNames {
	std::string user = "user";
	std::string steam = "steam";
	bool escaped = false;
};

// Writes <scratch>/<user>/openvr/openvrpaths.vrpath (POSIX: found through
// XDG_CONFIG_HOME; Windows: through LOCALAPPDATA) naming <scratch>/<steam>
// folders, with paths written as the runtime writes them on each platform.
RuntimeFiles LayOutRuntime(const ScratchDir &scratch, const LayoutNames &names = {});

// Writes <config>/lighthouse/<lower-case serial>/config.json.
std::string WriteCalibration(const RuntimeFiles &files, const std::string &serial, const std::string &json);

inline constexpr const char *kSerial = "LHR-1A2B3C4D";

// A driver run with the runtime's files in place and the HMD known to the
// runtime by its serial and an IPD of 63.5 mm.
struct IpdRun {
	ScratchDir files_dir;
	RuntimeFiles files;
	std::string calibration;

	IpdRun(bool with_calibration = true, const Matrix34 &first = YawTransform(5, -0.032),
	       const Matrix34 &second = YawTransform(-5, 0.032), const LayoutNames &names = {})
		: files(LayOutRuntime(files_dir, names))
	{
		if (with_calibration)
			calibration = WriteCalibration(files, kSerial, CalibrationJson(first, second));
	}

	SimOptions Options(std::vector<std::string> args = {}, const std::string &settings = "") const
	{
		SimOptions options;
		// The headset's own driver added the HMD before ours was initialised.
		options.args = {"--hmd-frame", "0", "--hmd-prop", std::string("Prop_SerialNumber_String=") + kSerial,
		                "--hmd-prop", "Prop_UserIpdMeters_Float=0.0635"};
		options.args.insert(options.args.end(), args.begin(), args.end());
		options.env = files.env;
		options.settings_json = settings;
		return options;
	}

	std::string Scenario(const std::string &text) const
	{
		files_dir.Write("scenario.txt", text);
		return files_dir.File("scenario.txt");
	}
};

} // namespace zelvan::test
