// The benchmark program: private runtime folders, then every group in order.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench/benchmarks.h"
#include "tests/support/sim_run.h"

int main(int argc, char **argv)
{
	// The control channel has a name of this run's own, and the runtime's
	// registry stays inside a folder of this run: nothing of the user's is
	// read or replaced.
	const zelvan::test::ScratchDir scratch;
	setenv("ZELVAN_TEST_CHANNEL", scratch.path().filename().c_str(), 1);
	setenv("XDG_CONFIG_HOME", scratch.File("config").c_str(), 1);

	zelvan::bench::RegisterParserBenchmarks();
	zelvan::bench::RegisterFrameBenchmarks();
	zelvan::bench::RegisterShutdownBenchmarks();
	zelvan::bench::RegisterPanelBenchmarks();
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;
	benchmark::RunSpecifiedBenchmarks();
	benchmark::Shutdown();
	return 0;
}
