// Reading patch.rtp. Offsets are compared with what is left of the buffer,
// never added to a length first, so no sum can wrap.
#include "patch_data.h"

#include "formats/crc32.h"

// The layout is read field by field, but the offsets must still add up.
static_assert(PATCH_HEADER_CRC + 4 == PATCH_HEADER_SIZE, "header fields fill the header");
static_assert(PATCH_ENTRY_KIND + 2 == PATCH_ENTRY_FIXED_SIZE, "entry fields fill the entry");
static_assert(PATCH_NAME_MAX < MAX_PATH - 1, "a name and its temporary name fit MAX_PATH");

BOOL PatchNameIsValid(LPCSTR name, DWORD length)
{
    if (length == 0 || length > PATCH_NAME_MAX)
        return FALSE;
    // Printable ASCII only, so the patcher can step through a name byte by
    // byte in any code page and make its temporary name by replacing the
    // last byte. No separators or drive letters: names are bare.
    for (DWORD i = 0; i < length; ++i) {
        BYTE c = (BYTE)name[i];
        if (c < 0x20 || c > 0x7E)
            return FALSE;
        if (c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
            c == '<' || c == '>' || c == '|')
            return FALSE;
    }
    // "." and ".." are directories; a trailing '~' is the temporary name's mark.
    if (name[length - 1] == '.' || name[length - 1] == '~' || name[length - 1] == ' ')
        return FALSE;
    return TRUE;
}

int PatchDataNextEntry(const BYTE *data, DWORD size, DWORD *offset, PatchEntry *entry)
{
    DWORD at = *offset;
    if (size < PATCH_HEADER_SIZE || at > size || size - at < PATCH_ENTRY_FIXED_SIZE)
        return PATCHDATA_TRUNCATED;
    const BYTE *fixed = data + at;
    DWORD nameLength = ReadLe16(fixed + PATCH_ENTRY_NAME_LENGTH);
    DWORD deltaSize = ReadLe32(fixed + PATCH_ENTRY_DELTA_SIZE);
    // Version 1's reserved field is version 2's kind, and zero is VCDIFF
    // in both: only version 2 may name another kind.
    DWORD kind = ReadLe16(fixed + PATCH_ENTRY_KIND);
    DWORD kinds = ReadLe16(data + PATCH_HEADER_VERSION) == PATCH_DATA_VERSION ? PATCH_DELTA_KINDS : 1;
    if (kind >= kinds)
        return PATCHDATA_BAD_ENTRY;
    at += PATCH_ENTRY_FIXED_SIZE;
    if (size - at < nameLength)
        return PATCHDATA_TRUNCATED;
    if (!PatchNameIsValid((LPCSTR)(data + at), nameLength))
        return PATCHDATA_BAD_NAME;
    for (DWORD i = 0; i < nameLength; ++i)
        entry->name[i] = (CHAR)data[at + i];
    entry->name[nameLength] = 0;
    at += nameLength;
    if (size - at < deltaSize)
        return PATCHDATA_TRUNCATED;
    entry->oldSize = ReadLe32(fixed + PATCH_ENTRY_OLD_SIZE);
    entry->oldCrc = ReadLe32(fixed + PATCH_ENTRY_OLD_CRC);
    entry->newSize = ReadLe32(fixed + PATCH_ENTRY_NEW_SIZE);
    entry->newCrc = ReadLe32(fixed + PATCH_ENTRY_NEW_CRC);
    entry->kind = kind;
    entry->delta = data + at;
    entry->deltaSize = deltaSize;
    *offset = at + deltaSize;
    return PATCHDATA_OK;
}

int PatchDataCheck(const BYTE *data, DWORD size, DWORD *count)
{
    *count = 0;
    if (size < PATCH_HEADER_SIZE)
        return PATCHDATA_TOO_SHORT;
    if (data[0] != PATCH_DATA_SIGNATURE_0 || data[1] != PATCH_DATA_SIGNATURE_1 ||
        data[2] != PATCH_DATA_SIGNATURE_2 || data[3] != PATCH_DATA_SIGNATURE_3)
        return PATCHDATA_BAD_SIGNATURE;
    DWORD version = ReadLe16(data + PATCH_HEADER_VERSION);
    if (version != PATCH_DATA_VERSION_VCDIFF && version != PATCH_DATA_VERSION)
        return PATCHDATA_BAD_VERSION;
    if (Crc32(data + PATCH_HEADER_SIZE, size - PATCH_HEADER_SIZE) != ReadLe32(data + PATCH_HEADER_CRC))
        return PATCHDATA_BAD_CRC;
    DWORD entries = ReadLe16(data + PATCH_HEADER_COUNT);
    DWORD offset = PATCH_HEADER_SIZE;
    PatchEntry scratch;
    for (DWORD i = 0; i < entries; ++i) {
        int result = PatchDataNextEntry(data, size, &offset, &scratch);
        if (result != PATCHDATA_OK)
            return result;
    }
    if (offset != size)
        return PATCHDATA_TRAILING_BYTES;
    *count = entries;
    return PATCHDATA_OK;
}

LPCSTR PatchDataResultText(int result)
{
    switch (result) {
    case PATCHDATA_OK: return "no fault";
    case PATCHDATA_TOO_SHORT: return "shorter than its header";
    case PATCHDATA_BAD_SIGNATURE: return "not patch data";
    case PATCHDATA_BAD_VERSION: return "unknown format version";
    case PATCHDATA_BAD_CRC: return "CRC-32 does not match";
    case PATCHDATA_TRUNCATED: return "an entry runs past the end";
    case PATCHDATA_BAD_NAME: return "an entry's file name is not valid";
    case PATCHDATA_BAD_ENTRY: return "an entry's kind of delta is unknown";
    case PATCHDATA_TRAILING_BYTES: return "bytes after the last entry";
    }
    return "unknown fault";
}
