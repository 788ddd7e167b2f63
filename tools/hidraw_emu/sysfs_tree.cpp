// One USB HID device without numbered reports, laid out as Linux lays it out.
#include "sysfs_tree.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace zelvan::hidraw_emu {
namespace {

namespace fs = std::filesystem;

constexpr const char *kUsbDevice = "devices/pci0000:00/0000:00:14.0/usb1/1-1";
constexpr const char *kInterface = "1-1:1.0";
constexpr const char *kHidraw = "hidraw0";
constexpr int kHidrawMajor = 247;

void Write(const fs::path &file, const std::string &text)
{
	std::ofstream out(file, std::ios::binary | std::ios::trunc);
	out << text;
}

// A relative link, as sysfs has them.
void Link(const fs::path &target, const fs::path &link)
{
	fs::create_directory_symlink(target.lexically_relative(link.parent_path()), link);
}

std::string Hex4(unsigned value, bool upper)
{
	char text[8];
	std::snprintf(text, sizeof(text), upper ? "%04X" : "%04x", value & 0xFFFF);
	return text;
}

std::string HidName(const DeviceIdentity &d)
{
	return "0003:" + Hex4(d.vendor_id, true) + ":" + Hex4(d.product_id, true) + ".0001";
}

} // namespace

void CreateSkeleton(const std::string &root)
{
	for (const char *dir : {"class/hidraw", "bus/hid/devices", "bus/usb/devices", "devices/pci0000:00/0000:00:14.0/usb1"})
		fs::create_directories(fs::path(root) / dir);
}

void AddDevice(const std::string &root, const DeviceIdentity &d)
{
	const fs::path sys(root);
	const fs::path usb = sys / kUsbDevice;
	const fs::path intf = usb / kInterface;
	const fs::path hid = intf / HidName(d);
	const fs::path node = hid / "hidraw" / kHidraw;
	fs::create_directories(node);
	const std::string vid = Hex4(d.vendor_id, false);
	const std::string pid = Hex4(d.product_id, false);

	Write(usb / "uevent", "MAJOR=189\nMINOR=1\nDEVNAME=bus/usb/001/002\nDEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=" + vid.substr(vid.find_first_not_of('0')) +
	                          "/" + pid.substr(pid.find_first_not_of('0')) + "/100\nTYPE=0/0/0\nBUSNUM=001\nDEVNUM=002\n");
	Write(usb / "idVendor", vid + "\n");
	Write(usb / "idProduct", pid + "\n");
	Write(usb / "bcdDevice", "0100\n");
	Write(usb / "manufacturer", d.manufacturer + "\n");
	Write(usb / "product", d.product + "\n");
	Write(usb / "serial", d.serial + "\n");
	Write(usb / "busnum", "1\n");
	Write(usb / "devnum", "2\n");
	Link(sys / "bus/usb", usb / "subsystem");

	Write(intf / "uevent", "DEVTYPE=usb_interface\nDRIVER=usbhid\nINTERFACE=3/0/0\n");
	Write(intf / "bInterfaceNumber", "00\n");
	Write(intf / "bInterfaceClass", "03\n");
	Link(sys / "bus/usb", intf / "subsystem");

	Write(hid / "uevent", "DRIVER=hid-generic\nHID_ID=0003:0000" + Hex4(d.vendor_id, true) + ":0000" + Hex4(d.product_id, true) +
	                          "\nHID_NAME=" + d.manufacturer + " " + d.product + "\nHID_PHYS=usb-0000:00:14.0-1/input0\nHID_UNIQ=" +
	                          d.serial + "\nMODALIAS=hid:b0003g0001v0000" + Hex4(d.vendor_id, true) + "p0000" + Hex4(d.product_id, true) + "\n");
	Write(hid / "report_descriptor", std::string(d.report_descriptor.begin(), d.report_descriptor.end()));
	Link(sys / "bus/hid", hid / "subsystem");

	Write(node / "uevent", "MAJOR=" + std::to_string(kHidrawMajor) + "\nMINOR=0\nDEVNAME=" + kHidraw + "\n");
	Write(node / "dev", std::to_string(kHidrawMajor) + ":0\n");
	Link(sys / "class/hidraw", node / "subsystem");
	Link(hid, node / "device");

	Link(node, sys / "class/hidraw" / kHidraw);
	Link(hid, sys / "bus/hid/devices" / HidName(d));
	Link(usb, sys / "bus/usb/devices/1-1");
	Link(intf, sys / "bus/usb/devices" / kInterface);
}

void RemoveDevice(const std::string &root)
{
	const fs::path sys(root);
	std::error_code ignored;
	fs::remove(sys / "class/hidraw" / kHidraw, ignored);
	for (const char *dir : {"bus/hid/devices", "bus/usb/devices"})
		for (fs::directory_iterator it(sys / dir, ignored), end; !ignored && it != end; it.increment(ignored))
			fs::remove(it->path(), ignored);
	fs::remove_all(sys / kUsbDevice, ignored);
}

} // namespace zelvan::hidraw_emu
