// CRC-32 as patch.rtp records it: the reflected polynomial 0xEDB88320,
// started at 0xFFFFFFFF and inverted at the end (the CRC of PKZIP and of
// Ethernet). Crc32(NULL, 0) is 0; "123456789" gives 0xCBF43926.
//
// One implementation for patch.exe (a PE without the C runtime, so plain C
// over the Win32 types) and for the host tools that record or check it.
#ifndef WF_FORMATS_CRC32_H
#define WF_FORMATS_CRC32_H

#include "platform/win32.h"

// Continues a running CRC over more bytes. Start with CRC32_START and finish
// with Crc32Finish, or use Crc32 for a whole buffer.
#define CRC32_START 0xFFFFFFFFu
DWORD Crc32Update(DWORD running, const BYTE *data, DWORD size);
inline DWORD Crc32Finish(DWORD running) { return running ^ 0xFFFFFFFFu; }

// The CRC-32 of a whole buffer.
DWORD Crc32(const BYTE *data, DWORD size);

#endif
