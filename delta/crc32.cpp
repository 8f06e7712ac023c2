// CRC-32, four bits at a time. The 16-entry table is constant data: the
// patcher has no C runtime to run a table-building constructor, and at a few
// megabytes per run the nibble loop is fast enough.
#include "crc32.h"

static const DWORD kNibbleTable[16] = {
    0x00000000u, 0x1DB71064u, 0x3B6E20C8u, 0x26D930ACu, 0x76DC4190u, 0x6B6B51F4u,
    0x4DB26158u, 0x5005713Cu, 0xEDB88320u, 0xF00F9344u, 0xD6D6A3E8u, 0xCB61B38Cu,
    0x9B64C2B0u, 0x86D3D2D4u, 0xA00AE278u, 0xBDBDF21Cu};

DWORD Crc32Update(DWORD running, const BYTE *data, DWORD size)
{
    for (DWORD i = 0; i < size; ++i) {
        running ^= data[i];
        running = (running >> 4) ^ kNibbleTable[running & 0x0F];
        running = (running >> 4) ^ kNibbleTable[running & 0x0F];
    }
    return running;
}

DWORD Crc32(const BYTE *data, DWORD size)
{
    return Crc32Finish(Crc32Update(CRC32_START, data, size));
}
