// The checksum that identifies the version-check file. It uses the lookup
// table of the reflected CRC-32 polynomial, but not the CRC-32 update: the
// running value is neither shifted nor inverted, so every checksum is one
// of the table's entries. The expected values in the manifest were computed
// this way; a CRC-32 in its place would refuse every installation.
//
// Why it can be fast. The table is linear (T[a ^ b] == T[a] ^ T[b]), so
// after any run of bytes the value is its start XOR T[s], s the XOR of every
// index looked up: one byte. The value's low byte is then the start's low
// byte c XOR the low byte of T[s], so s alone decides the next index:
//     s' = M(s) ^ b ^ c,   M(x) = x ^ lo(T[x]),
// and M is linear too. Unrolled, s is the XOR of M^e(b ^ c) over the bytes,
// e the number of bytes after b. The powers of M repeat, M^(n + 14) == M^n
// for n >= 2 (it holds for this table; the tests hold every result against
// the byte loop), so bytes 28 apart, with at least two bytes after them,
// come out alike: they can be XORed together first, a DWORD at a time, and
// only the 28 sums stepped through M, like bytes, followed by the bytes
// left (two or more). That moves the folded bytes by whole cycles, which
// changes nothing; and it leaves out c for them, which added up to nothing:
// over 28 bytes in a row c goes through each power in the cycle twice.
// Each step computes its table entry afresh: a call takes at most 57 steps,
// and the table costs no room in the program.
#include "install_check/checksum.h"
#include "common/bytes.h"

static const DWORD kReflectedPolynomial = 0xEDB88320u;
static const DWORD kGroup = 28;  // bytes folded together: twice the cycle of M, whole DWORDs

// Entry `index` (0 to 255) of the reflected CRC-32 table.
static DWORD TableEntry(DWORD index)
{
    for (int bit = 0; bit < 8; bit++)
        index = (index >> 1) ^ (kReflectedPolynomial & (0u - (index & 1)));
    return index;
}

// M: the step of s for a byte that is equal to c.
static DWORD Step(DWORD s)
{
    return (s ^ TableEntry(s)) & 0xFF;
}

DWORD ChecksumBytes(const BYTE *bytes, DWORD count, DWORD value)
{
    const DWORD low = value & 0xFF;
    DWORD s = 0;
    // Whole groups, leaving at least the last two bytes to the byte-wise
    // steps: their powers of M, 1 and 0, are outside the cycle.
    const DWORD groups = count >= kGroup + 2 ? (count - 2) / kGroup : 0;
    if (groups != 0) {
        DWORD sums[kGroup / 4];
        ZeroBytes(sums, sizeof(sums));
        for (DWORD n = groups; n != 0; n--, bytes += kGroup) {
            for (DWORD i = 0; i < kGroup / 4; i++) {
                const BYTE *word = bytes + (SIZE_T)4 * i;
                sums[i] ^= word[0] | (DWORD)word[1] << 8 | (DWORD)word[2] << 16 | (DWORD)word[3] << 24;
            }
        }
        for (DWORD i = 0; i < kGroup; i++)
            s = Step(s) ^ ((sums[i / 4] >> (8 * (i % 4))) & 0xFF);
        count -= groups * kGroup;
    }
    for (; count != 0; count--)
        s = Step(s) ^ *bytes++ ^ low;
    return value ^ TableEntry(s);
}

// The file is read in pieces of this buffer's size: a large file takes few
// ReadFile calls. It is zero-filled static storage rather than a local, which
// would make every call probe the stack page by page; FileChecksum is never
// running twice at once.
static BYTE g_readBuffer[65536];

DWORD FileChecksum(LPCSTR path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    // A size of all ones is a failure only when the last error says so.
    SetLastError(ERROR_SUCCESS);
    DWORD remaining = GetFileSize(file, NULL);
    DWORD value = 0;
    if (remaining == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        remaining = 0;
    while (remaining != 0) {
        DWORD wanted = remaining < sizeof(g_readBuffer) ? remaining : (DWORD)sizeof(g_readBuffer);
        DWORD got = 0;
        // A read that brings nothing before the end (the file shrank) ends
        // the loop like a failed read; one that claims more than was asked
        // for would make `remaining` wrap. (cppcheck 2.10 takes `wanted` to
        // be 0 here although `remaining` is not.)
        // cppcheck-suppress knownConditionTrueFalse
        if (!ReadFile(file, g_readBuffer, wanted, &got, NULL) || got == 0 || got > wanted) {
            value = 0;
            break;
        }
        value = ChecksumBytes(g_readBuffer, got, value);
        remaining -= got;
    }
    CloseHandle(file);
    return value;
}
