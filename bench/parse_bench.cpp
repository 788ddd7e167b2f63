// The driver's pure functions on realistic inputs: the detector's AddSample,
// the signature image parse, the registry scan and the calibration parse.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_rig.h"
#include "bench/benchmarks.h"
#include "ipd/json_scan.h"
#include "ipd/lighthouse_config.h"
#include "ipd/runtime_paths.h"
#include "sensor/proximity_algorithm.h"
#include "sensor/sensor_protocol.h"
#include "tests/support/fixtures.h"
#include "tools/sim_sensor/sim_sensor.h"

namespace zelvan::bench {
namespace {

// One sample into a window of N readings, worn, with sensor noise that never
// crosses the switching band (a flip would add a log line to the figure).
void BM_AddSample(benchmark::State &state)
{
	ProximityAlgorithm detector(static_cast<int32_t>(state.range(0)));
	detector.Reset(UserSignature{});
	std::array<uint16_t, 256> readings{};
	uint32_t noise = 12345;
	for (uint16_t &r : readings) {
		noise = noise * 1103515245u + 12345u;
		r = static_cast<uint16_t>(2350 + (noise >> 16) % 100);
	}
	for (int i = 0; i < 128; ++i)
		detector.AddSample(readings[static_cast<size_t>(i)]);
	size_t next = 0;
	for (auto _ : state) {
		detector.AddSample(readings[next]);
		next = (next + 1) & 255;
	}
	benchmark::DoNotOptimize(detector.IsPersonDetected());
	if (!detector.IsPersonDetected())
		state.SkipWithError("the detector should be on");
}

// The image a shipped sensor holds: six records, the end tag, erased flash.
std::vector<uint8_t> ShippedImage()
{
	std::vector<uint8_t> image(kSignatureSize);
	if (zelvan_sim_sensor_configure("cal 1234\nthresh 1500\nhyst 100\ntrim -25\n"
	                                "tracking_serial LHR-1A2B3C4D\nhmd_serial ZV2-00012345\n") == 0)
		image.resize(zelvan_sim_sensor_image(image.data(), image.size()));
	zelvan_sim_sensor_configure(nullptr);
	return image;
}

void BM_ParseUserSignature(benchmark::State &state)
{
	const std::vector<uint8_t> image = ShippedImage();
	if (image.size() != kSignatureSize) {
		state.SkipWithError("no image from the simulated sensor");
		return;
	}
	for (auto _ : state)
		benchmark::DoNotOptimize(ParseUserSignature(image.data(), image.size()));
	if (ParseUserSignature(image.data(), image.size()).proximity_threshold != 1500)
		state.SkipWithError("the image did not parse");
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * image.size()));
}

void BM_FindJsonStringValue(benchmark::State &state, std::string text, const char *key, PathStyle style)
{
	if (FindJsonStringValue(text, key, style).empty()) {
		state.SkipWithError("the key was not found");
		return;
	}
	for (auto _ : state)
		benchmark::DoNotOptimize(FindJsonStringValue(text, key, style));
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ParseEyeToHeadText(benchmark::State &state)
{
	const std::string text = RealisticCalibration();
	for (auto _ : state)
		benchmark::DoNotOptimize(ParseEyeToHeadText(text));
	if (!ParseEyeToHeadText(text).ok)
		state.SkipWithError("the calibration did not parse");
	state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// One matrix, from its "eye_to_head" key, as ParseEyeToHeadText calls it.
void BM_ParseMatrixRows(benchmark::State &state)
{
	const std::string text = RealisticCalibration();
	const size_t start = text.find("eye_to_head", text.find("tracking_to_eye_transform"));
	float out[9];
	for (auto _ : state) {
		benchmark::DoNotOptimize(ParseMatrixRows(text, start, out));
		benchmark::ClobberMemory();
	}
	if (!ParseMatrixRows(text, start, out))
		state.SkipWithError("the matrix did not parse");
}

} // namespace

void RegisterParserBenchmarks()
{
	benchmark::RegisterBenchmark("BM_AddSample", BM_AddSample)->ArgName("N")->Arg(1)->Arg(8)->Arg(64);
	benchmark::RegisterBenchmark("BM_ParseUserSignature", BM_ParseUserSignature);

	// Every real registry file, with the two keys the driver looks up, read
	// with the path style of the platform that wrote it.
	std::vector<std::filesystem::path> files;
	for (const auto &entry : std::filesystem::directory_iterator(test::FixturePath("")))
		if (entry.path().extension() == ".vrpath")
			files.push_back(entry.path());
	std::sort(files.begin(), files.end());
	for (const auto &file : files) {
		std::string text;
		ReadTextFile(file.string(), text);
		const std::string name = file.filename().string();
		const PathStyle style = name.find("windows") != std::string::npos ? PathStyle::Windows : PathStyle::Posix;
		for (const char *key : {"runtime", "config"})
			benchmark::RegisterBenchmark(("BM_FindJsonStringValue/" + name + "/" + key).c_str(), BM_FindJsonStringValue,
			                             text, key, style);
	}

	benchmark::RegisterBenchmark("BM_ParseEyeToHeadText", BM_ParseEyeToHeadText);
	benchmark::RegisterBenchmark("BM_ParseMatrixRows", BM_ParseMatrixRows);
}

} // namespace zelvan::bench
