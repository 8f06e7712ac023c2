#include "common/windows_version.h"
#include "platform/win32.h"

int IsWindowsNT(void)
{
    OSVERSIONINFOA info;
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwPlatformId = VER_PLATFORM_WIN32s;
    if (!GetVersionExA(&info))
        return 0;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
