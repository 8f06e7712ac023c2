#include "common/windows_version.h"
#include "platform/win32.h"

static int g_known;
static int g_isNT;

int IsWindowsNT(void)
{
    if (!g_known) {
        OSVERSIONINFOA info;
        info.dwOSVersionInfoSize = sizeof(info);
        info.dwPlatformId = VER_PLATFORM_WIN32s;
        if (!GetVersionExA(&info))
            info.dwPlatformId = VER_PLATFORM_WIN32s;
        g_known = 1;
        g_isNT = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    }
    return g_isNT;
}

void ForgetWindowsVersion(void) { g_known = 0; }
