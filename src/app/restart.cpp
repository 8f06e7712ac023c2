// Windows NT refuses ExitWindowsEx with ERROR_PRIVILEGE_NOT_HELD unless the
// caller's token has the shutdown privilege enabled; interactive users hold
// it, disabled. Windows 95 has no tokens and restarts for anyone.
#include "app/restart.h"
#include "common/windows_version.h"
#include "platform/win32.h"

static void EnableShutdownPrivilege(void)
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(NULL, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
    CloseHandle(token);
}

void RestartWindows(void)
{
    if (IsWindowsNT())
        EnableShutdownPrivilege();
    ExitWindowsEx(EWX_REBOOT, 0);
}
