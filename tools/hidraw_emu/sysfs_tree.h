// The sysfs entries the kernel makes for a USB HID device and its hidraw
// node, written into a tree that stands in for /sys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelvan::hidraw_emu {

struct DeviceIdentity {
	uint16_t vendor_id = 0;
	uint16_t product_id = 0;
	std::string manufacturer;
	std::string product;
	std::string serial;
	std::vector<uint8_t> report_descriptor;
};

// Adds the device (the class link, the hidraw node's folder and its HID, USB
// interface and USB device parents) under `root`, or takes it away again.
void AddDevice(const std::string &root, const DeviceIdentity &device);
void RemoveDevice(const std::string &root);
// The folders and class and bus links present with or without the device.
void CreateSkeleton(const std::string &root);

} // namespace zelvan::hidraw_emu
