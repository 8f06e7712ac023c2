// The patcher's work, entry by entry. See patch_apply.h for the order of
// checks and the temporary file.
//
// Memory: the old file, the patch data and the new file are each read or
// decoded whole into the process heap; the files this patches are a few
// megabytes at most.
#include "patch_apply.h"

#include "formats/crc32.h"
#include "patch_data.h"
#include "text_line.h"
#include "diff_delta.h"
#include "vcdiff.h"

// ReplaceWithNew takes either decoder's 0 as success.
static_assert(VCDIFF_OK == 0 && DIFFDELTA_OK == 0, "both decoders succeed with 0");

// Outcome of one entry.
enum EntryResult { ENTRY_DONE, ENTRY_FAILED };

struct Output {
    PatchOutput write;
    void *context;
};

static void Emit(const Output *out, const TextLine *line)
{
    out->write(line->text, out->context);
}

// "<name>: " to start an entry's line.
static void StartLine(TextLine *line, LPCSTR name)
{
    TextLineClear(line);
    TextLineAppend(line, name);
    TextLineAppend(line, ": ");
}

static void AppendError(TextLine *line, DWORD error)
{
    TextLineAppend(line, " (error ");
    TextLineAppendDecimal(line, error);
    TextLineAppend(line, ")");
}

static void AppendSizeAndCrc(TextLine *line, DWORD size, DWORD crc)
{
    TextLineAppendDecimal(line, size);
    TextLineAppend(line, " bytes, CRC-32 ");
    TextLineAppendHex8(line, crc);
}

static BYTE *Allocate(DWORD size)
{
    // HeapAlloc of 0 bytes is allowed but some heaps return NULL for it.
    return (BYTE *)HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

static void Release(BYTE *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

// Reads a whole file into a new heap block. Returns FALSE with *error set
// (a Win32 error) when the file cannot be opened or read, is 4 GB or more,
// or memory runs out.
static BOOL ReadWholeFile(LPCSTR name, BYTE **data, DWORD *size, DWORD *error)
{
    *data = NULL;
    *size = 0;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return FALSE;
    }
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetFileSize(file, &high);
    if ((length == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) || high != 0) {
        *error = high != 0 ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
        CloseHandle(file);
        return FALSE;
    }
    BYTE *block = Allocate(length);
    if (!block) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        CloseHandle(file);
        return FALSE;
    }
    DWORD done = 0;
    while (done < length) {
        DWORD got = 0;
        if (!ReadFile(file, block + done, length - done, &got, NULL)) {
            *error = GetLastError();
            Release(block);
            CloseHandle(file);
            return FALSE;
        }
        if (got == 0)
            break;  // the file shrank while we read it
        done += got;
    }
    CloseHandle(file);
    if (done != length) {
        *error = ERROR_READ_FAULT;
        Release(block);
        return FALSE;
    }
    *data = block;
    *size = length;
    return TRUE;
}

// Size and CRC-32 of a file, read through a small buffer. Returns FALSE with
// *error set when the file cannot be opened or read.
static BOOL FileSizeAndCrc(LPCSTR name, DWORD *size, DWORD *crc, DWORD *error)
{
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return FALSE;
    }
    BYTE chunk[2048];  // under the 4 KB that would call the stack probe
    DWORD total = 0;
    DWORD running = CRC32_START;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, NULL)) {
            *error = GetLastError();
            CloseHandle(file);
            return FALSE;
        }
        if (got == 0)
            break;
        running = Crc32Update(running, chunk, got);
        total += got;
    }
    CloseHandle(file);
    *size = total;
    *crc = Crc32Finish(running);
    return TRUE;
}

// Creates (or overwrites) `name` with `size` bytes. On failure the partial
// file is deleted and *error says why.
static BOOL WriteNewFile(LPCSTR name, const BYTE *data, DWORD size, DWORD *error)
{
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return FALSE;
    }
    DWORD done = 0;
    BOOL ok = TRUE;
    while (ok && done < size) {
        DWORD put = 0;
        SetLastError(ERROR_SUCCESS);
        if (!WriteFile(file, data + done, size - done, &put, NULL) || put == 0) {
            // A short write without an error is a full disk on FAT.
            *error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_DISK_FULL;
            ok = FALSE;
        }
        done += put;
    }
    // Closing flushes; a failure here loses data as surely as a failed write.
    if (!CloseHandle(file) && ok) {
        *error = GetLastError();
        ok = FALSE;
    }
    if (!ok)
        DeleteFileA(name);
    return ok;
}

static BOOL FileExists(LPCSTR name)
{
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

BOOL PatchTemporaryName(LPCSTR name, LPSTR buffer, int capacity)
{
    int length = lstrlenA(name);
    if (length == 0 || length >= capacity)
        return FALSE;
    lstrcpynA(buffer, name, capacity);
    buffer[length - 1] = '~';
    return TRUE;
}

// The name is missing. If a run stopped between deleting the old file and
// renaming the new one, the temporary file is the checked new file: finish
// the rename. Anything else under the temporary name is a leftover.
static int FinishInterruptedReplace(const PatchEntry *entry, LPCSTR temporary, TextLine *line)
{
    DWORD size = 0, crc = 0, error = 0;
    if (FileSizeAndCrc(temporary, &size, &crc, &error)) {
        if (size == entry->newSize && crc == entry->newCrc) {
            if (!MoveFileA(temporary, entry->name)) {
                TextLineAppend(line, "cannot rename ");
                TextLineAppend(line, temporary);
                AppendError(line, GetLastError());
                return ENTRY_FAILED;
            }
            TextLineAppend(line, "patched (finished an interrupted replacement)");
            return ENTRY_DONE;
        }
        DeleteFileA(temporary);
    }
    TextLineAppend(line, "not found");
    return ENTRY_FAILED;
}

// Decodes, writes, checks and puts the new file in place. `oldData` is the
// old file, already checked against the entry.
static int ReplaceWithNew(const PatchEntry *entry, const BYTE *oldData, DWORD oldSize,
                          LPCSTR temporary, TextLine *line)
{
    BYTE *newData = Allocate(entry->newSize);
    if (!newData) {
        TextLineAppend(line, "not enough memory");
        return ENTRY_FAILED;
    }
    DWORD decoded = 0;
    int result;
    LPCSTR why;
    if (entry->kind == PATCH_DELTA_DIFFERENCE) {
        result = DiffDeltaDecode(oldData, oldSize, entry->delta, entry->deltaSize, newData,
                                 entry->newSize, &decoded);
        why = DiffDeltaResultText(result);
    } else {
        result = VcdiffDecode(oldData, oldSize, entry->delta, entry->deltaSize, newData,
                              entry->newSize, &decoded);
        why = VcdiffResultText(result);
    }
    // Both decoders' success is 0.
    if (result != 0) {
        TextLineAppend(line, "the patch data does not apply: ");
        TextLineAppend(line, why);
        Release(newData);
        return ENTRY_FAILED;
    }
    DWORD crc = Crc32(newData, decoded);
    if (decoded != entry->newSize || crc != entry->newCrc) {
        TextLineAppend(line, "the patched file does not check (");
        AppendSizeAndCrc(line, decoded, crc);
        TextLineAppend(line, ")");
        Release(newData);
        return ENTRY_FAILED;
    }
    DWORD error = 0;
    BOOL written = WriteNewFile(temporary, newData, decoded, &error);
    Release(newData);
    if (!written) {
        TextLineAppend(line, "cannot write ");
        TextLineAppend(line, temporary);
        AppendError(line, error);
        return ENTRY_FAILED;
    }
    // Read it back: what counts is what the disk holds.
    DWORD size = 0;
    if (!FileSizeAndCrc(temporary, &size, &crc, &error) || size != entry->newSize ||
        crc != entry->newCrc) {
        DeleteFileA(temporary);
        TextLineAppend(line, "the written file ");
        TextLineAppend(line, temporary);
        TextLineAppend(line, " does not check");
        return ENTRY_FAILED;
    }
    // Windows 95 has no MoveFileExA, and MoveFileA does not replace an
    // existing file: delete, then rename. A stop in between is finished by
    // the next run (FinishInterruptedReplace).
    if (!DeleteFileA(entry->name)) {
        error = GetLastError();
        DeleteFileA(temporary);
        TextLineAppend(line, "cannot replace the old file");
        AppendError(line, error);
        return ENTRY_FAILED;
    }
    if (!MoveFileA(temporary, entry->name)) {
        // The checked new file stays under its temporary name for a rerun.
        TextLineAppend(line, "cannot rename ");
        TextLineAppend(line, temporary);
        AppendError(line, GetLastError());
        return ENTRY_FAILED;
    }
    TextLineAppend(line, "patched");
    return ENTRY_DONE;
}

static int ApplyEntry(const PatchEntry *entry, TextLine *line)
{
    StartLine(line, entry->name);
    CHAR temporary[MAX_PATH];
    if (!PatchTemporaryName(entry->name, temporary, sizeof temporary)) {
        TextLineAppend(line, "the name is too long");
        return ENTRY_FAILED;
    }
    BYTE *oldData = NULL;
    DWORD oldSize = 0, error = 0;
    if (!ReadWholeFile(entry->name, &oldData, &oldSize, &error)) {
        if (error == ERROR_FILE_NOT_FOUND)
            return FinishInterruptedReplace(entry, temporary, line);
        TextLineAppend(line, "cannot read");
        AppendError(line, error);
        return ENTRY_FAILED;
    }
    DWORD crc = Crc32(oldData, oldSize);
    int result;
    if (oldSize == entry->newSize && crc == entry->newCrc) {
        // Already the new version: a leftover temporary file is all there is to do.
        if (FileExists(temporary))
            DeleteFileA(temporary);
        TextLineAppend(line, "already up to date");
        result = ENTRY_DONE;
    } else if (oldSize != entry->oldSize || crc != entry->oldCrc) {
        TextLineAppend(line, "not the version this patch is for (");
        AppendSizeAndCrc(line, oldSize, crc);
        TextLineAppend(line, "; expected ");
        AppendSizeAndCrc(line, entry->oldSize, entry->oldCrc);
        TextLineAppend(line, ")");
        result = ENTRY_FAILED;
    } else {
        result = ReplaceWithNew(entry, oldData, oldSize, temporary, line);
    }
    Release(oldData);
    return result;
}

int ApplyPatchData(LPCSTR patchFile, PatchOutput output, void *context)
{
    Output out = {output, context};
    TextLine line;
    BYTE *data = NULL;
    DWORD size = 0, error = 0;
    if (!ReadWholeFile(patchFile, &data, &size, &error)) {
        StartLine(&line, patchFile);
        TextLineAppend(&line, "cannot read the patch data");
        AppendError(&line, error);
        Emit(&out, &line);
        return PATCH_EXIT_BAD_DATA;
    }
    // Every entry is checked before the first file is touched.
    DWORD count = 0;
    int check = PatchDataCheck(data, size, &count);
    if (check != PATCHDATA_OK) {
        StartLine(&line, patchFile);
        TextLineAppend(&line, "damaged patch data: ");
        TextLineAppend(&line, PatchDataResultText(check));
        Emit(&out, &line);
        Release(data);
        return PATCH_EXIT_BAD_DATA;
    }
    int exitCode = PATCH_EXIT_OK;
    DWORD offset = PATCH_HEADER_SIZE;
    PatchEntry entry;
    for (DWORD i = 0; i < count; ++i) {
        if (PatchDataNextEntry(data, size, &offset, &entry) != PATCHDATA_OK)
            break;  // cannot happen: PatchDataCheck read the same entries
        if (ApplyEntry(&entry, &line) != ENTRY_DONE)
            exitCode = PATCH_EXIT_FAILED;
        Emit(&out, &line);
    }
    Release(data);
    return exitCode;
}
