// Bounded string and path building. Every function here takes the capacity
// of its destination (characters, terminator included) and fails, returning
// 0, rather than write past it; on failure the destination is unchanged.
#ifndef WF_COMMON_PATHS_H
#define WF_COMMON_PATHS_H

#include "platform/win32.h"

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

// Replaces the last character of `path`, one byte or two, by `c`: the walk
// goes character by character in the system's code page, so a trail byte
// is never left behind to be read as a character of its own. 0 when the
// path is empty.
int ReplaceLastCharacter(LPSTR path, char c);

// The short form of a path into a MAX_PATH buffer, or the path itself where
// it has none (for instance because it does not exist, or its volume keeps
// no 8.3 names).
void ShortForm(LPCSTR path, LPSTR out);

#endif
