// The benchmark groups, registered by main in the order they run.
#pragma once

namespace zelvan::bench {

void RegisterParserBenchmarks();
void RegisterFrameBenchmarks();
void RegisterShutdownBenchmarks();
void RegisterPanelBenchmarks();

} // namespace zelvan::bench
