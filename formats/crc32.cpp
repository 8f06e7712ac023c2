// CRC-32, four bytes at a time ("slicing"): table k gives the CRC of a byte
// followed by k zero bytes, so four lookups consume a 32-bit word. The
// tables are built on first use into zero-initialised storage: the patcher
// has no C runtime to run a constructor, and 4 KiB of constant data would
// only make the program larger.
#include "formats/crc32.h"

static DWORD g_tables[4][256];
static int g_tablesBuilt;

static void BuildTables(void)
{
    for (DWORD n = 0; n < 256; ++n) {
        DWORD c = n;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        g_tables[0][n] = c;
    }
    for (DWORD n = 0; n < 256; ++n)
        for (int k = 1; k < 4; ++k)
            g_tables[k][n] = (g_tables[k - 1][n] >> 8) ^ g_tables[0][g_tables[k - 1][n] & 0xFF];
    g_tablesBuilt = 1;
}

DWORD Crc32Update(DWORD running, const BYTE *data, DWORD size)
{
    if (!g_tablesBuilt)
        BuildTables();
    DWORD i = 0;
    for (; i + 4 <= size; i += 4) {
        running ^= (DWORD)data[i] | ((DWORD)data[i + 1] << 8) | ((DWORD)data[i + 2] << 16) |
                   ((DWORD)data[i + 3] << 24);
        running = g_tables[3][running & 0xFF] ^ g_tables[2][(running >> 8) & 0xFF] ^
                  g_tables[1][(running >> 16) & 0xFF] ^ g_tables[0][running >> 24];
    }
    for (; i < size; ++i)
        running = (running >> 8) ^ g_tables[0][(running ^ data[i]) & 0xFF];
    return running;
}

DWORD Crc32(const BYTE *data, DWORD size)
{
    return Crc32Finish(Crc32Update(CRC32_START, data, size));
}
