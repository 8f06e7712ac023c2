// Not built yet: the installation probe. Until it is, the run takes the
// current directory as both the install and the shared directory, so the
// stages after it can be exercised on any machine.
#include "install_check/probe.h"

int ProbeInstallation(LPSTR installDir, int installCapacity, LPSTR sharedDir, int sharedCapacity)
{
    if (installDir == NULL || sharedDir == NULL || installCapacity <= 0 || sharedCapacity <= 0)
        return 0;
    DWORD length = GetCurrentDirectoryA((DWORD)installCapacity, installDir);
    if (length == 0 || length >= (DWORD)installCapacity || (int)length >= sharedCapacity)
        return 0;
    lstrcpynA(sharedDir, installDir, sharedCapacity);
    return 1;
}
