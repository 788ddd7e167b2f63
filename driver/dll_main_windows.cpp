// The Windows loader's entry point for the driver DLL.
#include <windows.h>

// The provider is built by static initialisation, not here; thread start and
// end notifications would only cost the runtime's threads a call into us.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
	if (reason == DLL_PROCESS_ATTACH)
		DisableThreadLibraryCalls(instance);
	return TRUE;
}
