/* Test only: the device-interface list and the interface's instance ID,
 * which hidapi's Windows backend reads through cfgmgr32, built on SetupDi
 * for Wine 8 (its cfgmgr32 stubs the list and lacks the property call). */
// Defined so that the header declares these for export, not import.
#define _CFGMGR32_
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <wchar.h>

static const DEVPROPKEY kInstanceId = {
	{0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};

/* Writes the present interfaces' paths of `guid` as a double-NUL list into
 * `out` (when not NULL) and returns the length it needs, in characters. */
static ULONG InterfaceList(const GUID *guid, WCHAR *out, ULONG capacity)
{
	HDEVINFO set = SetupDiGetClassDevsW(guid, NULL, NULL, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
	ULONG used = 0;
	if (set != INVALID_HANDLE_VALUE) {
		SP_DEVICE_INTERFACE_DATA data;
		ZeroMemory(&data, sizeof(data));
		data.cbSize = sizeof(data);
		for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, NULL, guid, i, &data); ++i) {
			BYTE buffer[2048];
			SP_DEVICE_INTERFACE_DETAIL_DATA_W *detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W *)buffer;
			detail->cbSize = sizeof(*detail);
			if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof(buffer), NULL, NULL))
				continue;
			const ULONG n = (ULONG)wcslen(detail->DevicePath) + 1;
			if (out != NULL && used + n < capacity)
				memcpy(out + used, detail->DevicePath, n * sizeof(WCHAR));
			used += n;
		}
		SetupDiDestroyDeviceInfoList(set);
	}
	if (out != NULL && used < capacity)
		out[used] = L'\0';
	return used + 1;
}

CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG length, LPGUID guid, DEVINSTID_W device, ULONG flags)
{
	(void)device;
	(void)flags;
	if (length == NULL || guid == NULL)
		return CR_INVALID_POINTER;
	*length = InterfaceList(guid, NULL, 0);
	return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID guid, DEVINSTID_W device, PZZWSTR buffer, ULONG length, ULONG flags)
{
	(void)device;
	(void)flags;
	if (guid == NULL || buffer == NULL)
		return CR_INVALID_POINTER;
	return InterfaceList(guid, buffer, length) <= length ? CR_SUCCESS : CR_BUFFER_SMALL;
}

CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(LPCWSTR path, const DEVPROPKEY *key, DEVPROPTYPE *type, PBYTE buffer,
                                                   PULONG size, ULONG flags)
{
	(void)flags;
	if (path == NULL || key == NULL || type == NULL || size == NULL)
		return CR_INVALID_POINTER;
	if (memcmp(key, &kInstanceId, sizeof(kInstanceId)) != 0)
		return CR_NO_SUCH_VALUE;
	HDEVINFO set = SetupDiCreateDeviceInfoList(NULL, NULL);
	if (set == INVALID_HANDLE_VALUE)
		return CR_FAILURE;
	SP_DEVICE_INTERFACE_DATA data;
	SP_DEVINFO_DATA device;
	ZeroMemory(&data, sizeof(data));
	ZeroMemory(&device, sizeof(device));
	data.cbSize = sizeof(data);
	device.cbSize = sizeof(device);
	BYTE detail_buffer[2048];
	SP_DEVICE_INTERFACE_DETAIL_DATA_W *detail = (SP_DEVICE_INTERFACE_DETAIL_DATA_W *)detail_buffer;
	detail->cbSize = sizeof(*detail);
	WCHAR id[512];
	CONFIGRET result = CR_NO_SUCH_DEVICE_INTERFACE;
	if (SetupDiOpenDeviceInterfaceW(set, path, 0, &data) &&
	    SetupDiGetDeviceInterfaceDetailW(set, &data, detail, sizeof(detail_buffer), NULL, &device) &&
	    SetupDiGetDeviceInstanceIdW(set, &device, id, sizeof(id) / sizeof(id[0]), NULL)) {
		const ULONG bytes = (ULONG)(wcslen(id) + 1) * sizeof(WCHAR);
		*type = DEVPROP_TYPE_STRING;
		if (buffer == NULL || *size < bytes) {
			result = CR_BUFFER_SMALL;
		} else {
			memcpy(buffer, id, bytes);
			result = CR_SUCCESS;
		}
		*size = bytes;
	}
	SetupDiDestroyDeviceInfoList(set);
	return result;
}
