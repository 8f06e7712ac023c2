// The patcher's work, entry by entry. See patch_apply.h for the order of
// checks and the temporary file.
//
// Memory: whatever the size of the files, the patcher holds one block of
// read buffers (DELTA_READ_BUFFERS) for the whole run, and for each entry
// one window of the new file, at most DELTA_WINDOW_MAX. The patch data, the
// old file and the delta are read at offsets; the new file is written to
// its temporary name as it is decoded, its CRC-32 taken on the way.
#include "patch_apply.h"

#include "formats/crc32.h"
#include "patch_data.h"
#include "text_line.h"
#include "delta_io.h"
#include "diff_delta.h"
#include "vcdiff.h"

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

// Ends an entry's line with `what`, then `name` when there is one and
// the error unless it is NO_ERROR_TEXT, and fails the entry.
#define NO_ERROR_TEXT 0xFFFFFFFF
static int Fail(TextLine *line, LPCSTR what, LPCSTR name, DWORD error)
{
    TextLineAppend(line, what);
    if (name)
        TextLineAppend(line, name);
    if (error != NO_ERROR_TEXT)
        AppendError(line, error);
    return ENTRY_FAILED;
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

// A file open for the decoders' reads, and the error of the last one that failed.
struct OpenedFile {
    HANDLE handle;
    DWORD error;
};

static BOOL SeekTo(OpenedFile *file, DWORD offset)
{
    // The high part makes the offset unsigned: a file may pass 2 GB.
    LONG high = 0;
    if (SetFilePointer(file->handle, (LONG)offset, &high, FILE_BEGIN) != offset || high != 0) {
        file->error = GetLastError();
        return FALSE;
    }
    return TRUE;
}

// DeltaReadAt for an open file: all `length` bytes at `offset`, or FALSE.
static BOOL ReadAt(void *context, DWORD offset, BYTE *buffer, DWORD length)
{
    OpenedFile *file = (OpenedFile *)context;
    if (!SeekTo(file, offset))
        return FALSE;
    DWORD done = 0;
    while (done < length) {
        DWORD got = 0;
        if (!ReadFile(file->handle, buffer + done, length - done, &got, NULL)) {
            file->error = GetLastError();
            return FALSE;
        }
        if (got == 0) {
            file->error = ERROR_HANDLE_EOF;  // the file shrank under us
            return FALSE;
        }
        done += got;
    }
    return TRUE;
}

// Opens a file to read, letting others read it but nobody change it, as
// a DeltaFile of its size read through ReadAt.
static BOOL OpenToRead(LPCSTR name, OpenedFile *file, DeltaFile *view)
{
    file->error = 0;
    file->handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (file->handle == INVALID_HANDLE_VALUE) {
        file->error = GetLastError();
        return FALSE;
    }
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    view->whole = NULL;
    view->size = GetFileSize(file->handle, &high);
    view->readAt = ReadAt;
    view->context = file;
    if (high != 0)
        file->error = ERROR_FILE_TOO_LARGE;  // 4 GB or more: no entry has that size
    else if (view->size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        file->error = GetLastError();
    else
        return TRUE;
    CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
    return FALSE;
}

// Size and CRC-32 of a file by name. FALSE with *error set when it cannot
// be opened or read.
static BOOL FileSizeAndCrc(LPCSTR name, BYTE *buffer, DWORD *size, DWORD *crc, DWORD *error)
{
    OpenedFile file;
    DeltaFile view;
    if (!OpenToRead(name, &file, &view)) {
        *error = file.error;
        return FALSE;
    }
    BOOL ok = DeltaFileCrc32(&view, 0, buffer, DELTA_READ_BUFFERS, crc);
    CloseHandle(file.handle);
    *size = view.size;
    *error = file.error;
    return ok;
}

// The new file as the decoder writes it under its temporary name: appended
// in order, read back for repeats from further back than the window.
struct NewFile {
    OpenedFile file;
    DWORD written;
    DWORD running;  // CRC-32 of the bytes written so far
};

static BOOL AppendNew(void *context, const BYTE *data, DWORD length)
{
    NewFile *out = (NewFile *)context;
    // A read back may have moved the file pointer.
    if (!SeekTo(&out->file, out->written))
        return FALSE;
    DWORD done = 0;
    while (done < length) {
        DWORD put = 0;
        SetLastError(ERROR_SUCCESS);
        if (!WriteFile(out->file.handle, data + done, length - done, &put, NULL) || put == 0) {
            // A short write without an error is a full disk on FAT.
            out->file.error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_DISK_FULL;
            return FALSE;
        }
        done += put;
    }
    out->running = Crc32Update(out->running, data, length);
    out->written += length;
    return TRUE;
}

static BOOL ReadBackNew(void *context, DWORD offset, BYTE *buffer, DWORD length)
{
    NewFile *out = (NewFile *)context;
    return ReadAt(&out->file, offset, buffer, length);
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

// What one run lends every entry: the read buffers.
struct Run {
    BYTE *buffers;
};

// The name is missing. If a run stopped between deleting the old file and
// renaming the new one, the temporary file is the checked new file: finish
// the rename. Anything else under the temporary name is a leftover.
static int FinishInterruptedReplace(const Run *run, const PatchEntry *entry, LPCSTR temporary,
                                    TextLine *line)
{
    DWORD size = 0, crc = 0, error = 0;
    if (FileSizeAndCrc(temporary, run->buffers, &size, &crc, &error)) {
        if (size == entry->newSize && crc == entry->newCrc) {
            if (!MoveFileA(temporary, entry->name))
                return Fail(line, "cannot rename ", temporary, GetLastError());
            TextLineAppend(line, "patched (finished an interrupted replacement)");
            return ENTRY_DONE;
        }
        DeleteFileA(temporary);
    }
    return Fail(line, "not found", NULL, NO_ERROR_TEXT);
}

// Part of a file from `base` on, as a file of its own: an entry's delta.
struct Slice {
    const DeltaFile *file;
    DWORD base;
};

static BOOL ReadSlice(void *context, DWORD offset, BYTE *buffer, DWORD length)
{
    const Slice *slice = (const Slice *)context;
    return slice->file->readAt(slice->file->context, slice->base + offset, buffer, length);
}

// Decodes the entry's delta against the old file into the temporary file,
// through one window of the new file. Returns the decoder's result (0 when
// it succeeded) and its text.
static int DecodeToFile(const Run *run, const PatchEntry *entry, const DeltaFile *patchData,
                        const DeltaFile *source, NewFile *out, BYTE *window, DWORD windowSize, LPCSTR *why)
{
    // The delta is read where it lies in the patch data.
    Slice slice = {patchData, entry->deltaOffset};
    DeltaFile delta;
    delta.whole = NULL;
    delta.size = entry->deltaSize;
    delta.readAt = ReadSlice;
    delta.context = &slice;
    DeltaTarget target;
    target.whole = NULL;
    target.capacity = entry->newSize;
    target.write = AppendNew;
    target.readBack = ReadBackNew;
    target.context = out;
    target.window = window;
    target.windowSize = windowSize;
    target.buffers = run->buffers;
    target.buffersSize = DELTA_READ_BUFFERS;
    DWORD decoded = 0;
    int result;
    if (entry->kind == PATCH_DELTA_DIFFERENCE) {
        result = DiffDeltaDecodeFiles(source, &delta, &target, &decoded);
        *why = DiffDeltaResultText(result);
    } else {
        result = VcdiffDecodeFiles(source, &delta, &target, &decoded);
        *why = VcdiffResultText(result);
    }
    return result;
}

// Decodes into the temporary file, checks it, and puts it in place of the
// old file, which `old` holds open, already checked against the entry.
// Closes `old`.
static int ReplaceWithNew(const Run *run, const PatchEntry *entry, const DeltaFile *patchData,
                          OpenedFile *old, const DeltaFile *oldFile, LPCSTR temporary, TextLine *line)
{
    // One window of the new file, no more than the file itself.
    DWORD windowSize = entry->newSize < DELTA_WINDOW_MAX ? entry->newSize : DELTA_WINDOW_MAX;
    BYTE *window = Allocate(windowSize);
    if (!window) {
        CloseHandle(old->handle);
        return Fail(line, "not enough memory", NULL, NO_ERROR_TEXT);
    }
    NewFile out;
    out.written = 0;
    out.running = CRC32_START;
    out.file.error = 0;
    out.file.handle = CreateFileA(temporary, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
    LPCSTR why = NULL;
    int result = out.file.handle == INVALID_HANDLE_VALUE
                     ? -1
                     : DecodeToFile(run, entry, patchData, oldFile, &out, window, windowSize, &why);
    DWORD error = GetLastError();
    Release(window);
    CloseHandle(old->handle);
    if (result == -1)
        return Fail(line, "cannot write ", temporary, error);
    // Closing flushes; a failure here loses data as surely as a failed write.
    if (!CloseHandle(out.file.handle) && result == 0) {
        result = VCDIFF_WRITE_FAILED;
        out.file.error = GetLastError();
    }
    DWORD crc = Crc32Finish(out.running), size = 0;
    LPCSTR what;
    error = NO_ERROR_TEXT;
    // Both decoders' success is 0, and a failed read or write is one, whichever decoder saw it.
    if (result == VCDIFF_WRITE_FAILED || result == DIFFDELTA_WRITE_FAILED) {
        what = "cannot write ";
        why = temporary;
        error = out.file.error;
    } else if (result == VCDIFF_READ_FAILED || result == DIFFDELTA_READ_FAILED) {
        // The old file, the patch data or the new file read back: whichever failed.
        what = "cannot read";
        why = NULL;
        error = old->error ? old->error : ((OpenedFile *)patchData->context)->error;
        if (!error)
            error = out.file.error;
    } else if (result != 0) {
        what = "the patch data does not apply: ";
    } else if (out.written != entry->newSize || crc != entry->newCrc) {
        DeleteFileA(temporary);
        TextLineAppend(line, "the patched file does not check (");
        AppendSizeAndCrc(line, out.written, crc);
        return Fail(line, ")", NULL, NO_ERROR_TEXT);
    } else if (!FileSizeAndCrc(temporary, run->buffers, &size, &crc, &error) ||
               size != entry->newSize || crc != entry->newCrc) {
        // Read back: what counts is what the disk holds.
        DeleteFileA(temporary);
        TextLineAppend(line, "the written file ");
        TextLineAppend(line, temporary);
        return Fail(line, " does not check", NULL, NO_ERROR_TEXT);
    } else if (!DeleteFileA(entry->name)) {
        // Windows 95 has no MoveFileExA, and MoveFileA does not replace an
        // existing file: delete, then rename. A stop in between is finished
        // by the next run (FinishInterruptedReplace).
        what = "cannot replace the old file";
        why = NULL;
        error = GetLastError();
    } else if (!MoveFileA(temporary, entry->name)) {
        // The checked new file stays under its temporary name for a rerun.
        return Fail(line, "cannot rename ", temporary, GetLastError());
    } else {
        TextLineAppend(line, "patched");
        return ENTRY_DONE;
    }
    DeleteFileA(temporary);
    return Fail(line, what, why, error);
}

static int ApplyEntry(const Run *run, const PatchEntry *entry, const DeltaFile *patchData,
                      TextLine *line)
{
    StartLine(line, entry->name);
    CHAR temporary[MAX_PATH];
    if (!PatchTemporaryName(entry->name, temporary, sizeof temporary))
        return Fail(line, "the name is too long", NULL, NO_ERROR_TEXT);
    // Held open, others may read but not change it, until it is replaced.
    OpenedFile old;
    DeltaFile oldFile;
    DWORD crc = 0;
    if (!OpenToRead(entry->name, &old, &oldFile)) {
        if (old.error == ERROR_FILE_NOT_FOUND)
            return FinishInterruptedReplace(run, entry, temporary, line);
        return Fail(line, "cannot read", NULL, old.error);
    }
    if (!DeltaFileCrc32(&oldFile, 0, run->buffers, DELTA_READ_BUFFERS, &crc)) {
        CloseHandle(old.handle);
        return Fail(line, "cannot read", NULL, old.error);
    }
    const DWORD oldSize = oldFile.size;
    if (oldSize == entry->newSize && crc == entry->newCrc) {
        // Already the new version: a leftover temporary file is all there is to do.
        CloseHandle(old.handle);
        if (FileExists(temporary))
            DeleteFileA(temporary);
        TextLineAppend(line, "already up to date");
        return ENTRY_DONE;
    }
    if (oldSize != entry->oldSize || crc != entry->oldCrc) {
        CloseHandle(old.handle);
        TextLineAppend(line, "not the version this patch is for (");
        AppendSizeAndCrc(line, oldSize, crc);
        TextLineAppend(line, "; expected ");
        AppendSizeAndCrc(line, entry->oldSize, entry->oldCrc);
        return Fail(line, ")", NULL, NO_ERROR_TEXT);
    }
    return ReplaceWithNew(run, entry, patchData, &old, &oldFile, temporary, line);
}

int ApplyPatchData(LPCSTR patchFile, PatchOutput output, void *context)
{
    Output out = {output, context};
    TextLine line;
    OpenedFile data;
    DeltaFile patchData;
    Run run;
    run.buffers = NULL;
    int check = PATCHDATA_READ_FAILED;
    DWORD count = 0;
    if (OpenToRead(patchFile, &data, &patchData)) {
        run.buffers = Allocate(DELTA_READ_BUFFERS);
        if (!run.buffers)
            data.error = ERROR_NOT_ENOUGH_MEMORY;
        else  // every entry is checked before the first file is touched
            check = PatchDataCheckFile(&patchData, run.buffers, DELTA_READ_BUFFERS, &count);
    }
    int exitCode = PATCH_EXIT_BAD_DATA;
    if (check == PATCHDATA_OK) {
        exitCode = PATCH_EXIT_OK;
        DWORD offset = PATCH_HEADER_SIZE;
        PatchEntry entry;
        for (DWORD i = 0; i < count && check == PATCHDATA_OK; ++i) {
            // Read once already: only a failing read stops this.
            check = PatchDataNextEntryFile(&patchData, &offset, &entry);
            if (check != PATCHDATA_OK || ApplyEntry(&run, &entry, &patchData, &line) != ENTRY_DONE)
                exitCode = PATCH_EXIT_FAILED;
            if (check == PATCHDATA_OK)
                Emit(&out, &line);
        }
    }
    if (check != PATCHDATA_OK) {
        StartLine(&line, patchFile);
        if (check == PATCHDATA_READ_FAILED)
            Fail(&line, "cannot read the patch data", NULL, data.error);
        else
            Fail(&line, "damaged patch data: ", PatchDataResultText(check), NO_ERROR_TEXT);
        Emit(&out, &line);
    }
    Release(run.buffers);
    if (data.handle != INVALID_HANDLE_VALUE)
        CloseHandle(data.handle);
    return exitCode;
}
