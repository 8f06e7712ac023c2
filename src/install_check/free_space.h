#ifndef WF_INSTALL_CHECK_FREE_SPACE_H
#define WF_INSTALL_CHECK_FREE_SPACE_H

#include "platform/win32.h"

// 1 when the drive of `path` has at least `requiredBytes` free, or the path
// names no drive letter; 0 when there is too little space, the drive cannot
// be asked, or there is no path.
int CheckFreeSpace(LPCSTR path, DWORD requiredBytes);

#endif
