// The exported C functions: hidapi's interface and the control interface,
// both served by the one simulated sensor.
#if !defined(_WIN32)
// Built with hidden visibility; hidapi's own prototypes must stay exported.
#pragma GCC visibility push(default)
#endif
#include <hidapi.h>
#if !defined(_WIN32)
#pragma GCC visibility pop
#endif

#include <algorithm>
#include <cstring>
#include <string>

#include "sim_device.h"
#include "sim_sensor.h"

using zelvan::sim::SimSensor;

namespace {

size_t CopyOut(const std::string &text, char *out, size_t capacity)
{
	if (out != nullptr && capacity > 0) {
		const size_t n = std::min(text.size(), capacity - 1);
		std::memcpy(out, text.data(), n);
		out[n] = '\0';
	}
	return text.size();
}

} // namespace

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
	return SimSensor::Instance().Init();
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
	return SimSensor::Instance().Exit();
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
	return SimSensor::Instance().Enumerate(vendor_id, product_id);
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
	zelvan::sim::FreeDeviceInfo(devs);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial_number)
{
	return SimSensor::Instance().Open(vendor_id, product_id, serial_number);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
	return SimSensor::Instance().OpenPath(path);
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
	(void)data;
	(void)length;
	return SimSensor::Instance().Refuse(dev, L"hid_write: the sensor has no output report");
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds)
{
	return SimSensor::Instance().Read(dev, data, length, milliseconds);
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device *dev, unsigned char *data, size_t length)
{
	SimSensor &sensor = SimSensor::Instance();
	return sensor.Read(dev, data, length, sensor.IsNonblocking(dev) ? 0 : -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device *dev, int nonblock)
{
	return SimSensor::Instance().SetNonblocking(dev, nonblock != 0);
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device *dev, const unsigned char *data, size_t length)
{
	return SimSensor::Instance().SendFeature(dev, data, length);
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device *dev, unsigned char *data, size_t length)
{
	(void)data;
	(void)length;
	return SimSensor::Instance().Refuse(dev, L"hid_get_feature_report: the sensor answers through input reports");
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device *dev, unsigned char *data, size_t length)
{
	(void)data;
	(void)length;
	return SimSensor::Instance().Refuse(dev, L"hid_get_input_report: not supported by the sensor");
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
	SimSensor::Instance().Close(dev);
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
	return SimSensor::Instance().GetText(dev, SimSensor::Text::Manufacturer, string, maxlen);
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
	return SimSensor::Instance().GetText(dev, SimSensor::Text::Product, string, maxlen);
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
	return SimSensor::Instance().GetText(dev, SimSensor::Text::Serial, string, maxlen);
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_get_device_info(hid_device *dev)
{
	return SimSensor::Instance().DeviceInfo(dev);
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device *dev, int string_index, wchar_t *string, size_t maxlen)
{
	(void)string_index;
	(void)string;
	(void)maxlen;
	return SimSensor::Instance().Refuse(dev, L"hid_get_indexed_string: not supported by the sensor");
}

HID_API_EXPORT const wchar_t *HID_API_CALL hid_error(hid_device *dev)
{
	return SimSensor::Instance().Error(dev);
}

HID_API_EXPORT const struct hid_api_version *HID_API_CALL hid_version(void)
{
	static const hid_api_version version = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
	return &version;
}

HID_API_EXPORT const char *HID_API_CALL hid_version_str(void)
{
	return HID_API_VERSION_STR;
}

// ---- control ----------------------------------------------------------------

int zelvan_sim_sensor_configure(const char *text)
{
	return SimSensor::Instance().Configure(text);
}

size_t zelvan_sim_sensor_errors(char *out, size_t capacity)
{
	return CopyOut(SimSensor::Instance().Errors(), out, capacity);
}

void zelvan_sim_sensor_plug(int present)
{
	SimSensor::Instance().Plug(present != 0);
}

void zelvan_sim_sensor_set_level(unsigned raw)
{
	SimSensor::Instance().SetLevel(raw <= 65535 ? std::optional<unsigned>(raw) : std::nullopt);
}

size_t zelvan_sim_sensor_events(char *out, size_t capacity)
{
	return CopyOut(SimSensor::Instance().Events(), out, capacity);
}

void zelvan_sim_sensor_clear_events(void)
{
	SimSensor::Instance().ClearEvents();
}

int zelvan_sim_sensor_open_count(void)
{
	return SimSensor::Instance().OpenCount();
}

unsigned long long zelvan_sim_sensor_read_count(void)
{
	return SimSensor::Instance().ReadCount();
}

int zelvan_sim_sensor_fail_init(int fail)
{
	return SimSensor::Instance().FailInit(fail != 0) ? 1 : 0;
}

int zelvan_sim_sensor_refuses_open(void)
{
	return SimSensor::Instance().RefusesOpen() ? 1 : 0;
}

unsigned zelvan_sim_sensor_period_ms(void)
{
	return SimSensor::Instance().PeriodMs();
}

size_t zelvan_sim_sensor_image(unsigned char *out, size_t capacity)
{
	const auto image = SimSensor::Instance().CurrentImage();
	if (!image)
		return 0;
	if (out != nullptr)
		std::memcpy(out, image->data(), std::min(capacity, image->size()));
	return image->size();
}

unsigned char zelvan_sim_sensor_crc8(const unsigned char *data, size_t length)
{
	return zelvan::sim::RecordCrc8(data, length);
}
