/* A hidapi.dll with no devices, so that Windows builds of the driver load and
 * run under Wine where no real hidapi.dll is installed. */
#include <stddef.h>
#include <wchar.h>

#include <hidapi.h>

int HID_API_EXPORT hid_init(void) { return 0; }
int HID_API_EXPORT hid_exit(void) { return 0; }
hid_device *HID_API_EXPORT hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *serial)
{
	(void)vendor_id;
	(void)product_id;
	(void)serial;
	return NULL;
}
int HID_API_EXPORT hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds)
{
	(void)dev;
	(void)data;
	(void)length;
	(void)milliseconds;
	return -1;
}
int HID_API_EXPORT hid_send_feature_report(hid_device *dev, const unsigned char *data, size_t length)
{
	(void)dev;
	(void)data;
	(void)length;
	return -1;
}
const wchar_t *HID_API_EXPORT hid_error(hid_device *dev)
{
	(void)dev;
	return L"no device";
}
void HID_API_EXPORT hid_close(hid_device *dev) { (void)dev; }
