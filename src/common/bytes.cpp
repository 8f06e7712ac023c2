// Byte loops in place of the C runtime's. The build passes
// -fno-tree-loop-distribute-patterns, so the loop is not turned back into a
// call to memset.
#include "common/bytes.h"

void ZeroBytes(void *dest, DWORD count)
{
    BYTE *bytes = (BYTE *)dest;
    for (DWORD i = 0; i < count; i++)
        bytes[i] = 0;
}

DWORD ReadDword(const BYTE *bytes)
{
    DWORD value = 0;
    for (int i = 3; i >= 0; i--)
        value = value << 8 | bytes[i];
    return value;
}

void StoreDword(BYTE *bytes, DWORD value)
{
    for (int i = 0; i < 4; i++)
        bytes[i] = (BYTE)(value >> (8 * i));
}
