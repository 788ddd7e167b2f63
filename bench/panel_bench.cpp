// The panel's page as the browser fetches it: GET / and each embedded asset
// through an in-process PanelServer, over one kept-alive connection, with the
// page's bytes as a counter. The driver is a stand-in: serving the page asks
// it nothing.
#include <benchmark/benchmark.h>

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/benchmarks.h"
#include "tools/zelvan_ctl/panel/page_files.h"
#include "tools/zelvan_ctl/panel/panel_server.h"

namespace zelvan::bench {
namespace {

using ctl::Exchange;
using ctl::Outcome;

// "/" stands for /index.html, as the browser asks for it.
std::vector<std::string> PagePaths()
{
	std::vector<std::string> paths;
	for (size_t i = 0; i < ctl::kPageFileCount; ++i) {
		const std::string path = ctl::kPageFiles[i].path;
		paths.push_back(path == "/index.html" ? "/" : path);
	}
	return paths;
}

size_t PageBytes()
{
	size_t bytes = 0;
	for (size_t i = 0; i < ctl::kPageFileCount; ++i)
		bytes += ctl::kPageFiles[i].size;
	return bytes;
}

void BM_PanelServePage(benchmark::State &state)
{
	const ctl::PanelKeys keys{std::string(64, 'a'), std::string(64, 'b')};
	const ctl::SendToDriver send = [](const std::string &) { return Exchange{Outcome::Replied, "OK", -1}; };
	ctl::PanelServer server(ctl::PanelApi(send, "bench", std::chrono::milliseconds(500)), keys);
	std::string error;
	if (!server.Bind(0, error)) {
		state.SkipWithError(error.c_str());
		return;
	}
	std::thread runner([&server] { server.Run(); });

	httplib::Client client("127.0.0.1", server.Port());
	client.set_keep_alive(true);
	// As a browser does: its own writes are never held back.
	client.set_tcp_nodelay(true);
	const httplib::Headers cookie = {{"Cookie", "zelvan_panel=" + keys.session}};
	const std::vector<std::string> paths = PagePaths();
	size_t served = 0;
	for (auto _ : state) {
		for (const std::string &path : paths) {
			const auto reply = client.Get(path, cookie);
			if (!reply || reply->status != 200) {
				state.SkipWithError(("GET " + path + " was not served").c_str());
				break;
			}
			served += reply->body.size();
		}
	}
	server.Stop();
	runner.join();

	const double requests = static_cast<double>(paths.size());
	state.counters["page_bytes"] = static_cast<double>(PageBytes());
	state.counters["files"] = requests;
	state.counters["per_request"] =
	    benchmark::Counter(requests, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
	state.SetBytesProcessed(static_cast<int64_t>(served));
}

} // namespace

void RegisterPanelBenchmarks()
{
	benchmark::RegisterBenchmark("BM_PanelServePage", BM_PanelServePage)->UseRealTime();
}

} // namespace zelvan::bench
