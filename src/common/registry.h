// Direct registry writes. The commit's planned changes, their undo and the
// viewer dialog's key all create keys and set values the same way.
#ifndef WF_COMMON_REGISTRY_H
#define WF_COMMON_REGISTRY_H

#include "platform/win32.h"

// Opens key `path` under `root` with KEY_ALL_ACCESS, creating it (without a
// class, non-volatile) where it is missing. 1 with *key open for the caller
// to close; 0 when it can be neither opened nor created.
int CreateKeyForWriting(HKEY root, LPCSTR path, HKEY *key);

// Sets value `name` of the open `key` ("" is the default value). 1 on
// success.
int SetRegistryValue(HKEY key, LPCSTR name, DWORD type, const BYTE *data, DWORD size);

// Sets a REG_SZ value: the text and its terminator. 1 on success.
int SetRegistryText(HKEY key, LPCSTR name, LPCSTR text);

#endif
