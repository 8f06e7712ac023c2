// Reading patch.rtp, in memory or from its file a field at a time. Offsets
// are compared with what is left of the data, never added to a length
// first, so no sum can wrap.
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

// Reads `length` bytes at `offset` of the patch data, all of them.
// PATCHDATA_TRUNCATED when the data ends first, PATCHDATA_READ_FAILED when
// a read fails.
static int ReadField(const DeltaFile *file, DWORD offset, BYTE *out, DWORD length)
{
    if (offset > file->size || file->size - offset < length)
        return PATCHDATA_TRUNCATED;
    // Read straight into `out`: the cursor's buffer is `out` itself.
    DeltaCursor c;
    DeltaCursorOpen(&c, file, offset, offset + length, out, length);
    return DeltaCursorCopy(&c, out, length) ? PATCHDATA_OK : PATCHDATA_READ_FAILED;
}

int PatchDataNextEntryFile(const DeltaFile *file, DWORD *offset, PatchEntry *entry)
{
    BYTE header[PATCH_HEADER_SIZE];
    BYTE fixed[PATCH_ENTRY_FIXED_SIZE];
    DWORD at = *offset;
    int result = ReadField(file, 0, header, sizeof header);
    if (result == PATCHDATA_OK)
        result = ReadField(file, at, fixed, sizeof fixed);
    if (result != PATCHDATA_OK)
        return result;
    DWORD nameLength = ReadLe16(fixed + PATCH_ENTRY_NAME_LENGTH);
    DWORD deltaSize = ReadLe32(fixed + PATCH_ENTRY_DELTA_SIZE);
    // Version 1's reserved field is version 2's kind, and zero is VCDIFF
    // in both: only version 2 may name another kind.
    DWORD kind = ReadLe16(fixed + PATCH_ENTRY_KIND);
    DWORD kinds = ReadLe16(header + PATCH_HEADER_VERSION) == PATCH_DATA_VERSION ? PATCH_DELTA_KINDS : 1;
    if (kind >= kinds)
        return PATCHDATA_BAD_ENTRY;
    at += PATCH_ENTRY_FIXED_SIZE;
    if (nameLength > PATCH_NAME_MAX) {
        // Too long for a name, and for the buffer: refused unread, unless
        // the data ends first.
        return file->size - at < nameLength ? PATCHDATA_TRUNCATED : PATCHDATA_BAD_NAME;
    }
    result = ReadField(file, at, (BYTE *)entry->name, nameLength);
    if (result != PATCHDATA_OK)
        return result;
    if (!PatchNameIsValid(entry->name, nameLength))
        return PATCHDATA_BAD_NAME;
    entry->name[nameLength] = 0;
    at += nameLength;
    if (file->size - at < deltaSize)
        return PATCHDATA_TRUNCATED;
    entry->oldSize = ReadLe32(fixed + PATCH_ENTRY_OLD_SIZE);
    entry->oldCrc = ReadLe32(fixed + PATCH_ENTRY_OLD_CRC);
    entry->newSize = ReadLe32(fixed + PATCH_ENTRY_NEW_SIZE);
    entry->newCrc = ReadLe32(fixed + PATCH_ENTRY_NEW_CRC);
    entry->kind = kind;
    entry->deltaOffset = at;
    entry->delta = file->readAt ? 0 : file->whole + at;
    entry->deltaSize = deltaSize;
    *offset = at + deltaSize;
    return PATCHDATA_OK;
}

BOOL DeltaFileCrc32(const DeltaFile *file, DWORD offset, BYTE *buffer, DWORD capacity, DWORD *crc)
{
    DeltaCursor c;
    DeltaCursorOpen(&c, file, offset, file->size, buffer, capacity);
    DWORD running = CRC32_START;
    while (DeltaCursorFill(&c)) {
        running = Crc32Update(running, c.p, (DWORD)(c.limit - c.p));
        c.p = c.limit;
    }
    *crc = Crc32Finish(running);
    // A failed read, or no buffer to read through, leaves bytes unread.
    return DeltaCursorPos(&c) == file->size;
}

int PatchDataCheckFile(const DeltaFile *file, BYTE *buffer, DWORD capacity, DWORD *count)
{
    *count = 0;
    BYTE header[PATCH_HEADER_SIZE];
    if (file->size < PATCH_HEADER_SIZE)
        return PATCHDATA_TOO_SHORT;
    int result = ReadField(file, 0, header, sizeof header);
    if (result != PATCHDATA_OK)
        return result;
    if (header[0] != PATCH_DATA_SIGNATURE_0 || header[1] != PATCH_DATA_SIGNATURE_1 ||
        header[2] != PATCH_DATA_SIGNATURE_2 || header[3] != PATCH_DATA_SIGNATURE_3)
        return PATCHDATA_BAD_SIGNATURE;
    DWORD version = ReadLe16(header + PATCH_HEADER_VERSION);
    if (version != PATCH_DATA_VERSION_VCDIFF && version != PATCH_DATA_VERSION)
        return PATCHDATA_BAD_VERSION;
    DWORD crc;
    if (!DeltaFileCrc32(file, PATCH_HEADER_SIZE, buffer, capacity, &crc))
        return PATCHDATA_READ_FAILED;
    if (crc != ReadLe32(header + PATCH_HEADER_CRC))
        return PATCHDATA_BAD_CRC;
    DWORD entries = ReadLe16(header + PATCH_HEADER_COUNT);
    DWORD offset = PATCH_HEADER_SIZE;
    PatchEntry scratch;
    for (DWORD i = 0; i < entries; ++i) {
        result = PatchDataNextEntryFile(file, &offset, &scratch);
        if (result != PATCHDATA_OK)
            return result;
    }
    if (offset != file->size)
        return PATCHDATA_TRAILING_BYTES;
    *count = entries;
    return PATCHDATA_OK;
}

int PatchDataNextEntry(const BYTE *data, DWORD size, DWORD *offset, PatchEntry *entry)
{
    DeltaFile file;
    DeltaFileInMemory(&file, data, size);
    return PatchDataNextEntryFile(&file, offset, entry);
}

int PatchDataCheck(const BYTE *data, DWORD size, DWORD *count)
{
    DeltaFile file;
    DeltaFileInMemory(&file, data, size);
    return PatchDataCheckFile(&file, 0, 0, count);
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
    case PATCHDATA_READ_FAILED: return "it could not be read";
    }
    return "unknown fault";
}
