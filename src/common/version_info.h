// Version strings from a file's version resource.
#ifndef WF_COMMON_VERSION_INFO_H
#define WF_COMMON_VERSION_INFO_H

#include "platform/win32.h"

// The ProductVersion (FileVersion) string of the file's first translation,
// copied into `out` (capacity characters, terminator included, cut to fit).
// Nonzero when a non-empty string was copied; zero otherwise, and then the
// buffer's content is not to be used.
int GetProductVersion(LPCSTR path, LPSTR out, int capacity);
int GetFileVersion(LPCSTR path, LPSTR out, int capacity);

#endif
