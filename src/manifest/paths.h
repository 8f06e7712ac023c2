// Bounded string and path building. Every function here takes the capacity
// of its destination (characters, terminator included) and fails, returning
// 0, rather than write past it; on failure the destination is unchanged.
#ifndef WF_MANIFEST_PATHS_H
#define WF_MANIFEST_PATHS_H

#include "platform/win32.h"

// Name of the work directory made inside the install directory.
#define PATCH_DIRECTORY_NAME "PatchB2C"

// Appends "\" unless the path is empty or its last character already is
// one. The last character is found by walking the string in the system's
// code page, so a double-byte character whose trail byte is "\" still gets
// its "\". Returns 0 when there is no room for it.
int AppendBackslash(LPSTR path, int capacity);

// dest = source. Returns 0 when source does not fit.
int CopyString(LPSTR dest, int capacity, LPCSTR source);

// dest += source. Returns 0 when the result does not fit.
int AppendString(LPSTR dest, int capacity, LPCSTR source);

// dest = directory, AppendBackslash, name: how every stage joins a directory
// and a manifest file name. Returns 0 when the path does not fit.
int JoinPath(LPSTR dest, int capacity, LPCSTR directory, LPCSTR name);

#endif
