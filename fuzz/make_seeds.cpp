// Writes the fuzz targets' seed corpora from the project's own generators:
// signature images from the simulated sensor, calibration files, headset
// configurations from the console stand-in, the real registry files.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/calibration_file.h"
#include "tests/support/fixtures.h"
#include "tools/console_standin/config_text.h"
#include "tools/sim_sensor/sim_sensor.h"

namespace fs = std::filesystem;

namespace {

fs::path g_root;

void Write(const std::string &target, const std::string &name, const std::string &bytes)
{
	const fs::path dir = g_root / target;
	fs::create_directories(dir);
	std::ofstream(dir / name, std::ios::binary) << bytes;
}

std::string Image(const char *config)
{
	std::string image(512, '\0');
	if (zelvan_sim_sensor_configure(config) != 0) {
		std::fprintf(stderr, "make_seeds: the simulated sensor refused: %s\n", config);
		std::exit(1);
	}
	image.resize(zelvan_sim_sensor_image(reinterpret_cast<unsigned char *>(image.data()), image.size()));
	zelvan_sim_sensor_configure(nullptr);
	return image;
}

std::string Report(std::vector<int> bytes, size_t length)
{
	std::string out(length, '\0');
	for (size_t i = 0; i < bytes.size() && i < length; ++i)
		out[i] = static_cast<char>(bytes[i]);
	return out;
}

void SignatureImages()
{
	Write("user_signature", "shipped.bin",
	      Image("cal 1234\nthresh 1500\nhyst 100\ntrim -25\ntracking_serial LHR-1A2B3C4D\nhmd_serial ZV2-00012345\n"));
	Write("user_signature", "first_model.bin", Image("thresh 1600\nhyst 80\ntracking_serial LHR-00AA11\nhmd_serial QK1-0042\n"));
	Write("user_signature", "erased.bin", Image(""));
	Write("user_signature", "bad_crc.bin", Image("thresh 1700\nrecord_bad_crc 11 DC 05\nhyst 50\n"));
	Write("user_signature", "lying_lengths.bin", Image("raw 0B 09 DC\nrecord 0x22 01 02 03\nimage_fill 0x00\nend_marker no\n"));
	Write("user_signature", "long_serial.bin",
	      Image("tracking_serial LHR-0123456789ABCDEF0123456789ABCDE\nhmd_serial \"ZV2 with blanks\"\n"));
}

void SensorReports()
{
	Write("sensor_reports", "sample.bin", Report({'#', 0, 0, 7, 0x09, 0x60}, 64));
	Write("sensor_reports", "sample_short.bin", Report({'#', 0, 0, 7, 0x01, 0x2C}, 5));
	std::vector<int> block = {'U', 32, 0x06, 0x02, 0xD2, 0x04};
	Write("sensor_reports", "block.bin", Report(block, 34));
	Write("sensor_reports", "block_long_length.bin", Report({'U', 40, 0x0B, 0x02, 0xDC, 0x05}, 64));
	Write("sensor_reports", "block_cut_short.bin", Report({'U', 32, 0x0B, 0x02}, 12));
	Write("sensor_reports", "rate_accepted.bin", Report({'$', 0x00, 0xC8}, 64));
	Write("sensor_reports", "error.bin", Report({'E', 'U', 3}, 64));
}

void RegistryFiles()
{
	for (const auto &entry : fs::directory_iterator(zelvan::test::FixturePath("")))
		if (entry.is_regular_file() && entry.path().extension() != ".md")
			fs::copy_file(entry.path(), g_root / "json_scan" / entry.path().filename(), fs::copy_options::overwrite_existing);
}

void CalibrationFiles()
{
	using zelvan::test::CalibrationJson;
	using zelvan::test::YawTransform;
	const auto left = YawTransform(5.0, -0.0315);
	const auto right = YawTransform(-5.0, 0.0315);
	// "calibration.json" is also the file that load_lh_config seeds name.
	Write("lighthouse_config", "calibration.json", CalibrationJson(left, right));
	Write("lighthouse_config", "calibration_swapped_tabs_crlf.json", CalibrationJson(right, left, {true, true, false}));
	// Nearly straight eyes: their tiny terms are written with an exponent.
	Write("lighthouse_config", "calibration_upper_exponent.json",
	      CalibrationJson(YawTransform(0.003, -0.0315), YawTransform(-0.003, 0.0315), {false, false, true}));
}

void HeadsetConfigs()
{
	using namespace zelvan::console_standin;
	const std::string config = DefaultConfigText("LHR-1A2B3C4D", "63.5");
	Write("default_mm", "headset.json", config);
	Write("default_mm", "headset_exponent.json", DefaultConfigText("LHR-1A2B3C4D", "6.35e1"));
	Write("default_mm", "headset_without_default_mm.json", WithoutDefaultMm(config));
	Write("default_mm", "headset_quoted_default_mm.json", WithQuotedDefaultMm(config));
	Write("default_mm", "crlf.json", "{\r\n   \"default_mm\" : 63.5\r\n}\r\n");
	Write("default_mm", "no_colon.json", "\"default_mm\" 63.5");
	Write("default_mm", "negative.json", "\"default_mm\": -1.5,");
}

void Commands()
{
	const char *commands[] = {
		"status", "proximity on", "proximity off", "proximity auto", "ipd 63.5", "ipd 63.5mm", "ipd 80", "ipd?",
		"ipd nan", "ipd -inf", "ipd 1e400", "ipd  +6.35e1", "load_lh_config calibration.json",
		"load_lh_config missing.json", "test_handle 1000 1", "test_handle 18446744073709551615 -1", "test_handle x",
		"statusx", "",
	};
	int i = 0;
	for (const char *command : commands) {
		char name[32];
		std::snprintf(name, sizeof(name), "command_%02d.txt", i++);
		Write("control_command", name, command);
	}
}

} // namespace

int main(int argc, char **argv)
{
	g_root = argc > 1 ? fs::path(argv[1]) : fs::path(ZELVAN_FUZZ_CORPUS_DIR);
	fs::create_directories(g_root / "json_scan");
	SignatureImages();
	SensorReports();
	RegistryFiles();
	CalibrationFiles();
	HeadsetConfigs();
	Commands();
	std::printf("make_seeds: corpora written under %s\n", g_root.string().c_str());
	return 0;
}
