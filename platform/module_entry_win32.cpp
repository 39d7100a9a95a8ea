// The module's load entry point on Windows: on process attach it switches
// off thread attach and detach notifications, and reports success for every
// reason.
#include <windows.h>

#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) platform::DisableThreadNotifications(module);
    return TRUE;
}
