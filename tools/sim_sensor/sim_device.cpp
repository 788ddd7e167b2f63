// The simulated sensor's behaviour behind the hidapi calls: enumerating, opening, reading, feature reports.
#include "sim_device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

namespace zelvan::sim {
namespace {

constexpr const char *kDevicePath = "sim:zelvan-proximity";
constexpr const wchar_t *kManufacturer = L"Zelvan";
constexpr const wchar_t *kProduct = L"Zelvan Proximity Sensor (simulated)";
constexpr const wchar_t *kSerial = L"ZPS-SIM-0001";
// A wait is never longer than this; the loop around it simply waits again.
constexpr auto kLongestWait = std::chrono::minutes(10);

std::string Hex(const unsigned char *data, size_t length)
{
	static const char digits[] = "0123456789ABCDEF";
	std::string out;
	for (size_t i = 0; i < length; ++i) {
		if (i > 0)
			out += ' ';
		out += digits[data[i] >> 4];
		out += digits[data[i] & 0xF];
	}
	return out;
}

wchar_t *CopyText(const wchar_t *text)
{
	const size_t n = std::wcslen(text) + 1;
	auto *copy = static_cast<wchar_t *>(std::malloc(n * sizeof(wchar_t)));
	if (copy != nullptr)
		std::wmemcpy(copy, text, n);
	return copy;
}

char *CopyText(const char *text)
{
	const size_t n = std::strlen(text) + 1;
	auto *copy = static_cast<char *>(std::malloc(n));
	if (copy != nullptr)
		std::memcpy(copy, text, n);
	return copy;
}

hid_device_info *NewInfo(const SensorConfig &config)
{
	auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
	if (info == nullptr)
		return nullptr;
	info->path = CopyText(kDevicePath);
	info->vendor_id = config.vendor_id;
	info->product_id = config.product_id;
	info->serial_number = CopyText(kSerial);
	info->release_number = 0x0100;
	info->manufacturer_string = CopyText(kManufacturer);
	info->product_string = CopyText(kProduct);
	info->usage_page = 0xFF00;
	info->usage = 0x0001;
	info->interface_number = 0;
	info->bus_type = HID_API_BUS_USB;
	return info;
}

void FreeInfo(hid_device_info *info)
{
	while (info != nullptr) {
		hid_device_info *next = info->next;
		std::free(info->path);
		std::free(info->serial_number);
		std::free(info->manufacturer_string);
		std::free(info->product_string);
		std::free(info);
		info = next;
	}
}

} // namespace

void FreeDeviceInfo(hid_device_info *info)
{
	FreeInfo(info);
}

SimSensor &SimSensor::Instance()
{
	static SimSensor *instance = new SimSensor;
	return *instance;
}

void SimSensor::SetError(hid_device *device, const wchar_t *why)
{
	(device != nullptr ? device->error : global_error_) = why;
}

// ---- hidapi -----------------------------------------------------------------

int SimSensor::Init()
{
	Lock lock(mutex_);
	const Clock::time_point now = Clock::now();
	ReloadFromEnvironment(now);
	if (fail_init_ || (config_ && config_->fail_init)) {
		Event("init failed", now);
		global_error_ = L"hid_init failed (simulated)";
		return -1;
	}
	initialised_ = true;
	Event("init", now);
	return 0;
}

int SimSensor::Exit()
{
	Lock lock(mutex_);
	initialised_ = false;
	Event("exit", Clock::now());
	return 0;
}

hid_device *SimSensor::Open(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial)
{
	Lock lock(mutex_);
	const Clock::time_point now = Clock::now();
	ReloadFromEnvironment(now);
	initialised_ = true; // as hidapi does on first use
	Advance(now);
	if (!Present(now) || vendor_id != config_->vendor_id || product_id != config_->product_id ||
	    (serial != nullptr && std::wcscmp(serial, kSerial) != 0)) {
		global_error_ = L"No HID devices with requested VID/PID found in the system.";
		Event("open failed", now);
		return nullptr;
	}
	if (config_->refuse_open) {
		global_error_ = L"Failed to open a device with path '" + std::wstring(kDevicePath, kDevicePath + std::strlen(kDevicePath)) +
		                L"': Permission denied";
		Event("open refused", now);
		return nullptr;
	}
	if (!scenario_start_)
		scenario_start_ = now;
	auto *device = new hid_device_;
	device->incarnation = incarnation_;
	device->anchor = now;
	handles_.insert(device);
	++open_count_;
	global_error_.clear();
	Event("open", now);
	return device;
}

hid_device *SimSensor::OpenPath(const char *path)
{
	unsigned short vendor_id = 0;
	unsigned short product_id = 0;
	{
		Lock lock(mutex_);
		ReloadFromEnvironment(Clock::now());
		if (config_) {
			vendor_id = config_->vendor_id;
			product_id = config_->product_id;
		}
	}
	if (path == nullptr || std::strcmp(path, kDevicePath) != 0) {
		Lock lock(mutex_);
		global_error_ = L"hid_open_path: no such device";
		return nullptr;
	}
	return Open(vendor_id, product_id, nullptr);
}

void SimSensor::Close(hid_device *device)
{
	if (device == nullptr)
		return;
	Lock lock(mutex_);
	if (handles_.erase(device) == 0)
		return;
	Event("close", Clock::now());
	FreeInfo(device->info);
	delete device;
}

int SimSensor::Read(hid_device *device, unsigned char *data, size_t length, int timeout_ms)
{
	Lock lock(mutex_);
	if (device == nullptr || data == nullptr) {
		SetError(device, L"hid_read: invalid argument");
		return -1;
	}
	++read_count_;
	const Clock::time_point start = Clock::now();
	if (config_ && config_->reads_do_not_wait)
		timeout_ms = 0;
	const bool forever = timeout_ms < 0;
	const Clock::time_point deadline = start + std::chrono::milliseconds(forever ? 0 : timeout_ms);
	const auto deliver = [&](const std::vector<uint8_t> &report) {
		const size_t n = std::min(length, report.size());
		std::memcpy(data, report.data(), n);
		return static_cast<int>(n);
	};
	for (;;) {
		const Clock::time_point now = Clock::now();
		Advance(now);
		if (Stale(device)) {
			SetError(device, L"hid_read_timeout: unexpected poll error (device disconnected)");
			return -1;
		}
		if (config_->fail_reads) {
			SetError(device, L"Input/output error");
			return -1;
		}
		if (!device->replies.empty() && device->replies.front().ready <= now) {
			const std::vector<uint8_t> report = std::move(device->replies.front().bytes);
			device->replies.pop_front();
			return deliver(report);
		}
		if (const std::optional<int64_t> k = DueSample(device, now))
			return deliver(SampleReport(device->anchor + *k * Period()));
		if (!forever && now >= deadline)
			return 0;

		Clock::time_point wake = now + kLongestWait;
		if (!forever)
			wake = std::min(wake, deadline);
		wake = std::min(wake, NextSample(device));
		if (!device->replies.empty())
			wake = std::min(wake, device->replies.front().ready);
		for (size_t i = 0; i < config_->unplugs.size(); ++i)
			if (!unplug_started_[i])
				wake = std::min(wake, At(config_->unplugs[i].start_ms));
		changed_.wait_until(lock, wake);
	}
}

int SimSensor::SendFeature(hid_device *device, const unsigned char *data, size_t length)
{
	Lock lock(mutex_);
	const Clock::time_point now = Clock::now();
	Advance(now);
	if (device == nullptr || data == nullptr) {
		SetError(device, L"hid_send_feature_report: invalid argument");
		return -1;
	}
	if (Stale(device)) {
		SetError(device, L"ioctl (SFEATURE): No such device");
		return -1;
	}
	if (config_->fail_features) {
		SetError(device, L"ioctl (SFEATURE): Input/output error");
		return -1;
	}
	if (length < 2 || data[0] != 0) {
		SetError(device, L"hid_send_feature_report: the sensor has one unnumbered feature report");
		return -1;
	}
	// The event shows the bytes up to the last non-zero one (at least four).
	size_t shown = length;
	while (shown > 4 && data[shown - 1] == 0)
		--shown;
	std::string event = "feature ";
	if (length != 65)
		event += "len=" + std::to_string(length) + " ";
	Event(event + Hex(data, shown), now);

	if (data[1] == 'R' && stall_next_rate_) {
		stall_next_rate_ = false;
		Event("stall R", now);
		SetError(device, L"ioctl (SFEATURE): Broken pipe");
		return -1;
	}
	unsigned char params[2] = {length > 2 ? data[2] : uint8_t{0}, length > 3 ? data[3] : uint8_t{0}};
	switch (data[1]) {
	case 'R': RateCommand(device, params, now); break;
	case 'U': BlockCommand(device, params[0], now); break;
	default:
		Event("reply E " + Hex(data + 1, 1), now);
		Queue(device, {'E', data[1]}, 0, false, now);
		break;
	}
	return static_cast<int>(length);
}

int SimSensor::Refuse(hid_device *device, const wchar_t *why)
{
	Lock lock(mutex_);
	SetError(device, why);
	return -1;
}

int SimSensor::SetNonblocking(hid_device *device, bool nonblocking)
{
	if (device == nullptr)
		return -1;
	Lock lock(mutex_);
	device->nonblocking = nonblocking;
	return 0;
}

bool SimSensor::IsNonblocking(hid_device *device)
{
	Lock lock(mutex_);
	return device != nullptr && device->nonblocking;
}

const wchar_t *SimSensor::Error(hid_device *device)
{
	Lock lock(mutex_);
	const std::wstring &error = device != nullptr ? device->error : global_error_;
	return error.empty() ? L"Success" : error.c_str();
}

hid_device_info *SimSensor::Enumerate(unsigned short vendor_id, unsigned short product_id)
{
	Lock lock(mutex_);
	const Clock::time_point now = Clock::now();
	ReloadFromEnvironment(now);
	initialised_ = true;
	Advance(now);
	if (!Present(now) || (vendor_id != 0 && vendor_id != config_->vendor_id) ||
	    (product_id != 0 && product_id != config_->product_id))
		return nullptr;
	return NewInfo(*config_);
}

hid_device_info *SimSensor::DeviceInfo(hid_device *device)
{
	if (device == nullptr)
		return nullptr;
	Lock lock(mutex_);
	if (device->info == nullptr && config_)
		device->info = NewInfo(*config_);
	return device->info;
}

int SimSensor::GetText(hid_device *device, Text which, wchar_t *out, size_t capacity)
{
	Lock lock(mutex_);
	if (device == nullptr || out == nullptr || capacity == 0) {
		SetError(device, L"invalid argument");
		return -1;
	}
	if (Stale(device)) {
		SetError(device, L"the device has been disconnected");
		return -1;
	}
	const wchar_t *text = which == Text::Manufacturer ? kManufacturer : which == Text::Product ? kProduct : kSerial;
	std::wcsncpy(out, text, capacity - 1);
	out[capacity - 1] = L'\0';
	return 0;
}

} // namespace zelvan::sim
