// Fuzz target: ExecuteControlCommand with any message the control channel
// can deliver, on providers against the in-process fake runtime.
#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "control/control_channel.h"
#include "control/control_commands.h"
#include "core/driver_log.h"
#include "core/host_interfaces.h"
#include "driver/device_provider.h"
#include "tests/support/fake_runtime.h"

namespace {

zelvan::test::FakeRuntime *g_runtime = nullptr;

// "load_lh_config PATH" reads PATH whole: devices, pipes and /proc would
// block or never end, and say nothing about the driver's parsing.
bool NamesAPlainSmallFile(const char *text)
{
	constexpr char kPrefix[] = "load_lh_config ";
	if (std::strncmp(text, kPrefix, sizeof(kPrefix) - 1) != 0)
		return true;
	const char *path = text + sizeof(kPrefix) - 1;
	char resolved[PATH_MAX];
	if (realpath(path, resolved) == nullptr)
		return true; // nothing there: the driver's open fails
	for (const char *root : {"/dev/", "/proc/", "/sys/"})
		if (std::strncmp(resolved, root, std::strlen(root)) == 0)
			return false;
	struct stat info;
	return stat(resolved, &info) == 0 && (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && info.st_size <= (1 << 20)));
}

void Execute(zelvan::DeviceProvider &provider, const char *text)
{
	char reply[zelvan::kReplySize];
	zelvan::ExecuteControlCommand(provider.Targets(), text, reply);
	// Every message gets one terminated line that starts as clients expect.
	if (std::memchr(reply, '\0', sizeof(reply)) == nullptr)
		__builtin_trap();
	if (std::strncmp(reply, "OK", 2) != 0 && std::strncmp(reply, "ERR ", 4) != 0 &&
	    std::strncmp(reply, "proximity=", 10) != 0)
		__builtin_trap();
	if (std::strchr(reply, '\n') != nullptr)
		__builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	static zelvan::test::FakeRuntime runtime;
	g_runtime = &runtime;
	// What Init does first, without the reader thread and the channel: each
	// input then runs on its own fresh providers.
	zelvan::InitHostInterfaces(&runtime);
	zelvan::AttachDriverLog(&runtime.log);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// As the channel hands it over: at most 511 bytes, NUL-terminated.
	char text[zelvan::kMaxCommandBytes + 1];
	const size_t n = size < zelvan::kMaxCommandBytes ? size : zelvan::kMaxCommandBytes;
	std::memcpy(text, data, n);
	text[n] = '\0';
	if (!NamesAPlainSmallFile(text))
		return 0;

	{
		// As Init leaves it when no sensor was found: no reader, nothing known.
		zelvan::DeviceProvider fresh;
		Execute(fresh, text);
	}
	{
		// A second-model headset in use: reader, calibration and IPD known.
		zelvan::DeviceProvider running;
		running.reader = std::make_unique<zelvan::HidReader>(8, false);
		running.ipd.lh_config_loaded = true;
		running.ipd.eye_rotations.left[0] = running.ipd.eye_rotations.left[4] = running.ipd.eye_rotations.left[8] = 1.0f;
		running.ipd.eye_rotations.right[0] = running.ipd.eye_rotations.right[4] = running.ipd.eye_rotations.right[8] = 1.0f;
		running.ipd.current_ipd_m = running.ipd.initial_ipd_m = 0.0635f;
		running.presence.proximity_handle = 1000;
		running.presence.proximity_setup_done = true;
		running.ipd.model_decided = true;
		Execute(running, text);
	}
	{
		// The first model, on which the IPD commands are refused.
		zelvan::DeviceProvider first;
		first.ipd.first_model = true;
		first.ipd.model_decided = true;
		Execute(first, text);
	}

	// The fakes record every call; only this input's calls are kept.
	g_runtime->log.Clear();
	g_runtime->input.boolean_updates.clear();
	g_runtime->input.created.clear();
	g_runtime->host.eye_to_head.clear();
	g_runtime->properties.hmd.clear();
	g_runtime->settings.values.clear();
	g_runtime->settings.reads.clear();
	g_runtime->requested.clear();
	return 0;
}
