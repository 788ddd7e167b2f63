// The Windows driver folder as cmake --install lays it out, in the host
// simulator: the driver DLL must run with the hidapi.dll shipped beside it,
// never with the simulated sensor's that sits beside the simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

bool Has(const std::vector<std::string> &lines, const std::string &line)
{
	return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(InstalledFolder, DriverRunsWithTheShippedHidapiAndServesZelvanCtl)
{
	const std::string bin = std::string(ZELVAN_INSTALLED_FOLDER) + "/bin/win64/";
	// A sensor the simulated hidapi.dll would report present: had it been
	// loaded, the driver would open the device.
	RunningSim sim({.sensor = "level 0 300\n", .library = bin + "driver_ZelvanProximity.dll"});
	ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
	const RunResult status = RunProgram({bin + "zelvan-ctl.exe", "status"}, sim.ClientEnv(), std::chrono::seconds(30));
	const SimResult run = sim.Stop();

	EXPECT_EQ(status.exit_code, 0) << status.output;
	EXPECT_EQ(status.output.rfind("proximity=false hid=", 0), 0u) << status.output;
	EXPECT_EQ(status.output.find("hid=connected"), std::string::npos) << status.output;
	ASSERT_EQ(run.exit_code, 0) << run.output;
	EXPECT_EQ(run.trace["init_result"], 0);
	const auto log = run.Log();
	EXPECT_TRUE(Has(log, "Zelvan Proximity driver initialized successfully\n")) << run.output;
	// Wine lacks what hidapi's Windows backend needs; on Windows it starts.
	EXPECT_TRUE(Has(log, "HID: hid_init() failed\n") || Has(log, "HID: Starting reader thread (rate=200ms)\n"))
	        << run.output;
	EXPECT_FALSE(Has(log, "HID: Device opened/reconnected\n")) << "the simulated hidapi.dll was loaded";
	bool destroyed_in_cleanup = false;
	for (const auto &entry : run.Calls("Log"))
		if (entry.value("text", "") == "Pipe: Destroyed\n")
			destroyed_in_cleanup = entry.value("phase", "") == "cleanup";
	EXPECT_TRUE(destroyed_in_cleanup) << run.output;
}

} // namespace
} // namespace zelvan::test
