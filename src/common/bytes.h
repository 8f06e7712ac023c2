// Byte-level helpers the stages share. The Windows build has no C runtime,
// so these stand where memset and friends would.
#ifndef WF_COMMON_BYTES_H
#define WF_COMMON_BYTES_H

#include "platform/win32.h"

// Sets `count` bytes at `dest` to zero: structures handed to the system,
// fields written to a file, tables of sums.
void ZeroBytes(void *dest, DWORD count);

// The 32-bit little-endian number in the four bytes at `bytes`, which need
// not be aligned (registry data, file headers).
DWORD ReadDword(const BYTE *bytes);

// Stores `value` in the four bytes at `bytes`, little-endian.
void StoreDword(BYTE *bytes, DWORD value);

#endif
