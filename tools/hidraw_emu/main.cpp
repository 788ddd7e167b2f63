// zelvan-hidraw-emu --sys DIR --link PATH MOUNTPOINT: serves the simulated
// sensor (configured by ZELVAN_SIM_SENSOR, as for libzelvan_sim_hidapi) as a
// hidraw node, MOUNTPOINT/hidraw0, and while the sensor is plugged in keeps
// its sysfs entries under DIR and the link PATH to the node. Meant to run in
// a private mount namespace with DIR a tmpfs over /sys and PATH /dev/hidraw0
// in a private /dev (scripts/with-hidraw.sh sets that up): the node comes and
// goes as the kernel's does, which is how Wine notices an unplug.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <hidapi.h>

#include "hidraw_node.h"
#include "sysfs_tree.h"

namespace {

using namespace std::chrono_literals;
namespace emu = zelvan::hidraw_emu;

std::string Narrow(const wchar_t *text)
{
	std::string out;
	for (; text != nullptr && *text != L'\0'; ++text)
		out += *text < 0x80 ? static_cast<char>(*text) : '?';
	return out;
}

struct Presence {
	std::mutex lock;
	std::string sys, link, node;
	bool shown = false;
};
Presence g_presence;

// Brings sysfs and the link in line with the sensor, as the kernel adds and
// removes the device's entries when it is plugged in or unplugged.
void UpdatePresence()
{
	std::lock_guard<std::mutex> guard(g_presence.lock);
	hid_device_info *info = hid_enumerate(0, 0);
	const bool present = info != nullptr;
	if (present != g_presence.shown) {
		try {
			if (present) {
				emu::DeviceIdentity identity;
				identity.vendor_id = info->vendor_id;
				identity.product_id = info->product_id;
				identity.manufacturer = Narrow(info->manufacturer_string);
				identity.product = Narrow(info->product_string);
				identity.serial = Narrow(info->serial_number);
				identity.report_descriptor = emu::ReportDescriptor();
				emu::AddDevice(g_presence.sys, identity);
				std::filesystem::create_symlink(g_presence.node, g_presence.link);
			} else {
				std::error_code ignored;
				std::filesystem::remove(g_presence.link, ignored);
				emu::RemoveDevice(g_presence.sys);
			}
			std::fprintf(stderr, "hidraw-emu: sensor %s\n", present ? "plugged in" : "unplugged");
			g_presence.shown = present;
		} catch (const std::exception &e) {
			std::fprintf(stderr, "hidraw-emu: sysfs: %s\n", e.what());
		}
	}
	hid_free_enumeration(info);
}

// Scheduled plugging and unplugging, and new configurations, show up here.
void WatchPresence()
{
	for (;;) {
		UpdatePresence();
		std::this_thread::sleep_for(10ms);
	}
}

} // namespace

int main(int argc, char **argv)
{
	if (argc != 6 || std::strcmp(argv[1], "--sys") != 0 || std::strcmp(argv[3], "--link") != 0) {
		std::fprintf(stderr, "usage: zelvan-hidraw-emu --sys DIR --link PATH MOUNTPOINT\n");
		return 2;
	}
	const std::string sys = argv[2];
	g_presence.sys = sys;
	g_presence.link = argv[4];
	g_presence.node = std::string(argv[5]) + "/hidraw0";
	try {
		emu::CreateSkeleton(sys);
	} catch (const std::exception &e) {
		std::fprintf(stderr, "hidraw-emu: cannot lay out %s: %s\n", sys.c_str(), e.what());
		return 1;
	}
	if (hid_init() != 0) {
		std::fprintf(stderr, "hidraw-emu: the simulated sensor did not start\n");
		return 1;
	}
	emu::SetUnplugHook(UpdatePresence);
	std::thread(WatchPresence).detach();
	std::vector<char *> args = {argv[0], const_cast<char *>("-f"), const_cast<char *>("-o"),
	                            const_cast<char *>("fsname=zelvan-hidraw,subtype=hidraw"), argv[5]};
	const fuse_operations ops = emu::NodeOperations();
	return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
