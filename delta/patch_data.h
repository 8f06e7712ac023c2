// patch.rtp, the patcher's data: a header, then one entry per file the
// patch changes. patch_data.md beside this file describes the layout; the
// builder (tools/patchbuild/patch_data_writer.cpp) writes it from the same
// constants.
//
// The reader takes the whole file as one buffer, or reads it from its file a
// field at a time, and never reads outside it: every length is checked
// against what is left of the data before use.
#ifndef WF_DELTA_PATCH_DATA_H
#define WF_DELTA_PATCH_DATA_H

#include "delta_io.h"
#include "platform/win32.h"

// Header: signature, format version, entry count, CRC-32 of the rest.
#define PATCH_DATA_SIGNATURE_0 'R'
#define PATCH_DATA_SIGNATURE_1 'T'
#define PATCH_DATA_SIGNATURE_2 'P'
#define PATCH_DATA_SIGNATURE_3 0x1A
// Version 1 has VCDIFF deltas only; version 2 names each entry's kind of
// delta where version 1 had a reserved field. The builder writes version 1
// when every delta is VCDIFF, so the patch reads on either patcher.
#define PATCH_DATA_VERSION_VCDIFF 1
#define PATCH_DATA_VERSION 2

// An entry's kind of delta (version 2).
enum PatchDeltaKind {
    PATCH_DELTA_VCDIFF = 0,      // VCDIFF (vcdiff.h)
    PATCH_DELTA_DIFFERENCE = 1,  // the difference delta (diff_delta.h)
    PATCH_DELTA_KINDS
};

enum PatchDataLayout {
    PATCH_HEADER_SIGNATURE = 0,  // 4 bytes
    PATCH_HEADER_VERSION = 4,    // WORD
    PATCH_HEADER_COUNT = 6,      // WORD, entries that follow
    PATCH_HEADER_CRC = 8,        // DWORD, CRC-32 of every byte after the header
    PATCH_HEADER_SIZE = 12,

    PATCH_ENTRY_OLD_SIZE = 0,    // DWORD
    PATCH_ENTRY_OLD_CRC = 4,     // DWORD
    PATCH_ENTRY_NEW_SIZE = 8,    // DWORD
    PATCH_ENTRY_NEW_CRC = 12,    // DWORD
    PATCH_ENTRY_DELTA_SIZE = 16, // DWORD
    PATCH_ENTRY_NAME_LENGTH = 20,// WORD, without a terminator
    PATCH_ENTRY_KIND = 22,       // WORD: version 1, zero; version 2, a PatchDeltaKind
    PATCH_ENTRY_FIXED_SIZE = 24  // then the name, then the delta
};

// Longest name: it must fit the patcher's MAX_PATH buffers with room for
// nothing else, since names are bare file names in the current directory.
#define PATCH_NAME_MAX 255

enum PatchDataResult {
    PATCHDATA_OK = 0,
    PATCHDATA_TOO_SHORT,       // shorter than the header
    PATCHDATA_BAD_SIGNATURE,   // not patch data
    PATCHDATA_BAD_VERSION,     // a format version this patcher does not know
    PATCHDATA_BAD_CRC,         // the bytes after the header are damaged
    PATCHDATA_TRUNCATED,       // an entry runs past the end of the data
    PATCHDATA_BAD_NAME,        // empty, too long, not a bare ASCII name, or ends in '~'
    PATCHDATA_BAD_ENTRY,       // an entry's kind of delta is unknown (version 1: not zero)
    PATCHDATA_TRAILING_BYTES,  // bytes left after the last entry
    PATCHDATA_READ_FAILED      // reading the file failed
};

// One entry as read. `name` is terminated; the delta is `deltaSize` bytes at
// `deltaOffset`, and `delta` points to them when the data is in memory.
struct PatchEntry {
    CHAR name[PATCH_NAME_MAX + 1];
    DWORD oldSize;
    DWORD oldCrc;
    DWORD newSize;
    DWORD newCrc;
    DWORD kind;  // a PatchDeltaKind
    const BYTE *delta;
    DWORD deltaOffset;
    DWORD deltaSize;
};

// Checks the header and every entry of `data`. On PATCHDATA_OK, *count holds
// the number of entries and PatchDataNextEntry will read each of them.
int PatchDataCheck(const BYTE *data, DWORD size, DWORD *count);

// Reads the entry at *offset (start with PATCH_HEADER_SIZE) and moves
// *offset past it. Returns PATCHDATA_OK or why the entry is unusable.
// The format version comes from the header, which PatchDataCheck checked.
int PatchDataNextEntry(const BYTE *data, DWORD size, DWORD *offset, PatchEntry *entry);

// The same for patch data read from its file: the CRC-32 is taken through
// `buffer` (capacity bytes), the entries a field at a time.
int PatchDataCheckFile(const DeltaFile *file, BYTE *buffer, DWORD capacity, DWORD *count);
int PatchDataNextEntryFile(const DeltaFile *file, DWORD *offset, PatchEntry *entry);

// The CRC-32 of `file` from `offset` to its end, read through `buffer`
// (capacity bytes). FALSE when a read fails.
BOOL DeltaFileCrc32(const DeltaFile *file, DWORD offset, BYTE *buffer, DWORD capacity, DWORD *crc);

// Whether `name` may be a file name in patch data (see PATCHDATA_BAD_NAME).
BOOL PatchNameIsValid(LPCSTR name, DWORD length);

// Little-endian fields, for the reader and the writer alike.
inline DWORD ReadLe32(const BYTE *p)
{
    return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}
inline WORD ReadLe16(const BYTE *p) { return (WORD)(p[0] | (p[1] << 8)); }

// A short English text for a result, for the patcher's messages.
LPCSTR PatchDataResultText(int result);

#endif
