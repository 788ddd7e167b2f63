// Shared helpers for the simulated sensor's tests: configuring it, talking
// to it through hidapi the way a host does, and reading its event log.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <hidapi.h>

#include "sim_sensor.h"

namespace zelvan::sim::test {

using Bytes = std::vector<uint8_t>;
using Ms = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

constexpr unsigned short kVid = 0x35BD;
constexpr unsigned short kPid = 0x0101;
constexpr const char *kEnv = "ZELVAN_SIM_SENSOR";

inline void SetEnv(const char *name, const std::string &value)
{
#if defined(_WIN32)
	_putenv_s(name, value.c_str());
#else
	if (value.empty())
		unsetenv(name);
	else
		setenv(name, value.c_str(), 1);
#endif
}

inline std::string Events()
{
	std::string text(zelvan_sim_sensor_events(nullptr, 0), '\0');
	zelvan_sim_sensor_events(text.data(), text.size() + 1);
	return text;
}

inline std::string Errors()
{
	std::string text(zelvan_sim_sensor_errors(nullptr, 0), '\0');
	zelvan_sim_sensor_errors(text.data(), text.size() + 1);
	return text;
}

inline Bytes Image()
{
	Bytes image(512);
	image.resize(zelvan_sim_sensor_image(image.data(), image.size()));
	return image;
}

struct Report {
	int n = 0;
	Bytes data;
	uint8_t code() const { return n > 0 ? data[0] : 0; }
	unsigned raw() const { return static_cast<unsigned>(data[4] << 8 | data[5]); }
};

// The buffer has one guard byte beyond `capacity`, to catch overruns.
inline Report Read(hid_device *dev, int timeout_ms, size_t capacity = 65)
{
	Report r;
	r.data.assign(capacity + 1, 0xEE);
	r.n = hid_read_timeout(dev, r.data.data(), capacity, timeout_ms);
	return r;
}

inline int SendCommand(hid_device *dev, char letter, uint8_t p1, uint8_t p2 = 0)
{
	uint8_t report[65] = {0, static_cast<uint8_t>(letter), p1, p2};
	return hid_send_feature_report(dev, report, sizeof(report));
}

inline int SendRate(hid_device *dev, unsigned period_ms)
{
	return SendCommand(dev, 'R', static_cast<uint8_t>(period_ms >> 8), static_cast<uint8_t>(period_ms));
}

// The next report that is not a sample (a time-out or error included).
inline Report ReadReply(hid_device *dev, int timeout_ms = 1000)
{
	Report r;
	for (int i = 0; i < 50; ++i) {
		r = Read(dev, timeout_ms);
		if (r.code() != '#')
			break;
	}
	return r;
}

// Each test starts with no device, no environment file and hid_init working.
class SimSensorTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		SetEnv(kEnv, "");
		zelvan_sim_sensor_fail_init(0);
		zelvan_sim_sensor_configure(nullptr);
	}
	void TearDown() override
	{
		for (hid_device *dev : opened_)
			hid_close(dev);
		zelvan_sim_sensor_configure(nullptr);
		SetEnv(kEnv, "");
	}

	void Configure(const std::string &text)
	{
		ASSERT_EQ(zelvan_sim_sensor_configure(text.c_str()), 0) << Errors();
	}

	// Closed at the end of the test.
	hid_device *Open()
	{
		hid_device *dev = hid_open(kVid, kPid, nullptr);
		if (dev != nullptr)
			opened_.push_back(dev);
		return dev;
	}

	void Close(hid_device *dev)
	{
		std::erase(opened_, dev);
		hid_close(dev);
	}

private:
	std::vector<hid_device *> opened_;
};

} // namespace zelvan::sim::test
