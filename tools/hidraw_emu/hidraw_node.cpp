// Each open file gets its own handle on the simulated sensor and a thread
// that moves its reports into the file's queue, as the kernel buffers input
// reports per reader; read, poll and the ioctls are then served the way
// drivers/hid/hidraw.c serves them.
#include "hidraw_node.h"

#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <hidapi.h>

#include "sim_sensor.h"

namespace zelvan::hidraw_emu {
namespace {

using namespace std::chrono_literals;

constexpr size_t kQueueLimit = 64; // the kernel's per-reader buffer; newer reports are dropped
constexpr int kPumpTimeoutMs = 50;
constexpr const char *kNodeName = "hidraw0";

// A vendor-defined collection: 64-byte input and feature reports, no IDs.
const unsigned char kReportDescriptor[] = {
	0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
	0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0xB1, 0x02, 0xC0,
};

struct OpenFile {
	hid_device *device = nullptr;
	bool nonblocking = false;
	std::mutex lock;
	std::condition_variable changed;
	std::deque<std::vector<unsigned char>> queue;
	bool gone = false;         // unplugged: the handle never works again
	bool read_failing = false; // the device answers reads with an error
	fuse_pollhandle *poller = nullptr;
	std::atomic<bool> closing{false};
	std::thread pump;
};

void (*g_unplug_hook)() = nullptr;

OpenFile *FileOf(const fuse_file_info *fi)
{
	return reinterpret_cast<OpenFile *>(fi->fh);
}

// The errno hidraw would give for a failure the simulated library describes
// with hidapi's text (which ends in strerror of that errno).
int ErrnoOf(hid_device *device)
{
	const wchar_t *text = hid_error(device);
	const std::wstring why = text != nullptr ? text : L"";
	if (why.find(L"disconnected") != std::wstring::npos)
		return ENODEV;
	for (int e : {EPIPE, ENODEV, EIO, EACCES}) {
		const char *name = std::strerror(e);
		const std::wstring wide(name, name + std::strlen(name));
		if (why.size() >= wide.size() && why.compare(why.size() - wide.size(), wide.size(), wide) == 0)
			return e;
	}
	return EIO;
}

// Wakes a poll that is waiting; called with the file's lock held.
void Notify(OpenFile &file)
{
	file.changed.notify_all();
	if (file.poller != nullptr) {
		fuse_notify_poll(file.poller);
		fuse_pollhandle_destroy(file.poller);
		file.poller = nullptr;
	}
}

void Pump(OpenFile *file)
{
	std::vector<unsigned char> buffer(4096);
	while (!file->closing.load()) {
		const int n = hid_read_timeout(file->device, buffer.data(), buffer.size(), kPumpTimeoutMs);
		const bool gone = n < 0 && ErrnoOf(file->device) == ENODEV;
		if (gone && g_unplug_hook != nullptr)
			g_unplug_hook();
		{
			std::lock_guard<std::mutex> guard(file->lock);
			if (n > 0) {
				file->read_failing = false;
				if (file->queue.size() < kQueueLimit)
					file->queue.emplace_back(buffer.begin(), buffer.begin() + n);
				Notify(*file);
			} else if (gone) {
				file->gone = true;
				Notify(*file);
				return;
			} else if (n < 0 && !file->read_failing) {
				file->read_failing = true;
				Notify(*file);
			}
		}
		if (n < 0) // a device whose reads fail does so at once
			std::this_thread::sleep_for(20ms);
	}
}

void *Init(fuse_conn_info *, fuse_config *config)
{
	config->direct_io = 1;
	config->attr_timeout = 0;
	config->entry_timeout = 0;
	config->negative_timeout = 0;
	return nullptr;
}

bool IsNode(const char *path)
{
	return path[0] == '/' && std::strcmp(path + 1, kNodeName) == 0;
}

int GetAttr(const char *path, struct stat *st, fuse_file_info *)
{
	std::memset(st, 0, sizeof(*st));
	if (std::strcmp(path, "/") == 0) {
		st->st_mode = S_IFDIR | 0755;
		st->st_nlink = 2;
		return 0;
	}
	if (!IsNode(path))
		return -ENOENT;
	// Without the udev rule the node belongs to root alone.
	st->st_mode = S_IFREG | (zelvan_sim_sensor_refuses_open() ? 0600 : 0666);
	st->st_nlink = 1;
	return 0;
}

int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *, fuse_readdir_flags)
{
	if (std::strcmp(path, "/") != 0)
		return -ENOTDIR;
	for (const char *name : {".", "..", kNodeName})
		fill(buffer, name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
	return 0;
}

int Access(const char *path, int mask)
{
	if (IsNode(path) && mask != F_OK && zelvan_sim_sensor_refuses_open())
		return -EACCES;
	return 0;
}

int Open(const char *path, fuse_file_info *fi)
{
	if (!IsNode(path))
		return -ENOENT;
	hid_device_info *info = hid_enumerate(0, 0);
	if (info == nullptr)
		return -ENOENT;
	const unsigned short vendor_id = info->vendor_id;
	const unsigned short product_id = info->product_id;
	hid_free_enumeration(info);
	hid_device *device = hid_open(vendor_id, product_id, nullptr);
	if (device == nullptr)
		return zelvan_sim_sensor_refuses_open() ? -EACCES : -ENOENT;
	auto *file = new OpenFile;
	file->device = device;
	file->nonblocking = (fi->flags & O_NONBLOCK) != 0;
	file->pump = std::thread(Pump, file);
	fi->fh = reinterpret_cast<uint64_t>(file);
	fi->direct_io = 1;
	fi->nonseekable = 1;
	return 0;
}

int Release(const char *, fuse_file_info *fi)
{
	OpenFile *file = FileOf(fi);
	file->closing.store(true);
	file->pump.join();
	hid_close(file->device);
	if (file->poller != nullptr)
		fuse_pollhandle_destroy(file->poller);
	delete file;
	return 0;
}

int Read(const char *, char *out, size_t size, off_t, fuse_file_info *fi)
{
	OpenFile *file = FileOf(fi);
	std::unique_lock<std::mutex> lock(file->lock);
	for (;;) {
		if (!file->queue.empty()) {
			const std::vector<unsigned char> report = std::move(file->queue.front());
			file->queue.pop_front();
			const size_t n = std::min(size, report.size());
			std::memcpy(out, report.data(), n);
			return static_cast<int>(n);
		}
		if (file->gone || file->read_failing)
			return -EIO;
		if (file->nonblocking || (fi->flags & O_NONBLOCK) != 0)
			return -EAGAIN;
		if (fuse_interrupted())
			return -EINTR;
		file->changed.wait_for(lock, 100ms);
	}
}

int Write(const char *, const char *data, size_t size, off_t, fuse_file_info *fi)
{
	OpenFile *file = FileOf(fi);
	if (file->gone)
		return -EIO;
	const int n = hid_write(file->device, reinterpret_cast<const unsigned char *>(data), size);
	return n >= 0 ? n : -ErrnoOf(file->device);
}

int CopyText(const char *text, void *data, unsigned size)
{
	const size_t n = std::min<size_t>(std::strlen(text) + 1, size);
	std::memcpy(data, text, n);
	static_cast<char *>(data)[n - 1] = '\0';
	return static_cast<int>(n);
}

int Ioctl(const char *, unsigned int cmd, void *, fuse_file_info *fi, unsigned int flags, void *data)
{
	if ((flags & FUSE_IOCTL_COMPAT) != 0)
		return -ENOSYS;
	if (_IOC_TYPE(cmd) != 'H')
		return -ENOTTY;
	OpenFile *file = FileOf(fi);
	{
		std::lock_guard<std::mutex> guard(file->lock);
		if (file->gone)
			return -ENODEV;
	}
	const unsigned size = _IOC_SIZE(cmd);
	switch (_IOC_NR(cmd)) {
	case _IOC_NR(HIDIOCGRDESCSIZE):
		*static_cast<int *>(data) = sizeof(kReportDescriptor);
		return 0;
	case _IOC_NR(HIDIOCGRDESC): {
		auto *descriptor = static_cast<hidraw_report_descriptor *>(data);
		descriptor->size = sizeof(kReportDescriptor);
		std::memcpy(descriptor->value, kReportDescriptor, sizeof(kReportDescriptor));
		return 0;
	}
	case _IOC_NR(HIDIOCGRAWINFO): {
		auto *info = static_cast<hidraw_devinfo *>(data);
		hid_device_info *listed = hid_enumerate(0, 0);
		info->bustype = 3; // BUS_USB
		info->vendor = static_cast<__s16>(listed != nullptr ? listed->vendor_id : 0);
		info->product = static_cast<__s16>(listed != nullptr ? listed->product_id : 0);
		hid_free_enumeration(listed);
		return 0;
	}
	case 0x04: return CopyText("Zelvan Zelvan Proximity Sensor", data, size); // HIDIOCGRAWNAME(len)
	case 0x05: return CopyText("usb-0000:00:14.0-1/input0", data, size);      // HIDIOCGRAWPHYS(len)
	case 0x06: { // HIDIOCSFEATURE(len)
		const int n = hid_send_feature_report(file->device, static_cast<unsigned char *>(data), size);
		return n >= 0 ? n : -ErrnoOf(file->device);
	}
	case 0x07: { // HIDIOCGFEATURE(len)
		const int n = hid_get_feature_report(file->device, static_cast<unsigned char *>(data), size);
		return n >= 0 ? n : -EPIPE;
	}
	default: return -EINVAL;
	}
}

int Poll(const char *, fuse_file_info *fi, fuse_pollhandle *poller, unsigned *revents)
{
	OpenFile *file = FileOf(fi);
	std::lock_guard<std::mutex> guard(file->lock);
	if (poller != nullptr) {
		if (file->poller != nullptr)
			fuse_pollhandle_destroy(file->poller);
		file->poller = poller;
	}
	*revents = POLLOUT | POLLWRNORM;
	if (!file->queue.empty() || file->read_failing)
		*revents |= POLLIN | POLLRDNORM;
	if (file->gone)
		*revents |= POLLERR | POLLHUP;
	return 0;
}

} // namespace

void SetUnplugHook(void (*hook)())
{
	g_unplug_hook = hook;
}

std::vector<uint8_t> ReportDescriptor()
{
	return {std::begin(kReportDescriptor), std::end(kReportDescriptor)};
}

fuse_operations NodeOperations()
{
	fuse_operations ops{};
	ops.init = Init;
	ops.getattr = GetAttr;
	ops.readdir = ReadDir;
	ops.access = Access;
	ops.open = Open;
	ops.release = Release;
	ops.read = Read;
	ops.write = Write;
	ops.ioctl = Ioctl;
	ops.poll = Poll;
	return ops;
}

} // namespace zelvan::hidraw_emu
