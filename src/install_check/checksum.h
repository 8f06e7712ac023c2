// The version-check file's checksum.
#ifndef WF_INSTALL_CHECK_CHECKSUM_H
#define WF_INSTALL_CHECK_CHECKSUM_H

#include "platform/win32.h"

// Folds `count` bytes into the running value: for each byte b,
// value = value XOR T[(value XOR b) AND 0xFF], T the CRC-32 table.
DWORD ChecksumBytes(const BYTE *bytes, DWORD count, DWORD value);

// The checksum of a whole file, from 0, read in 64 KB pieces. 0 when
// the file cannot be opened or a read fails.
DWORD FileChecksum(LPCSTR path);

#endif
