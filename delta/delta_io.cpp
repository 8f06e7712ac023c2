// The decoders' reads and writes. See delta_io.h.
#include "delta_io.h"

void DeltaFileInMemory(DeltaFile *file, const BYTE *data, DWORD size)
{
    file->whole = data;
    file->size = data ? size : 0;
    file->readAt = 0;
    file->context = 0;
}

void DeltaTargetInMemory(DeltaTarget *target, BYTE *data, DWORD capacity)
{
    target->whole = data;
    target->capacity = data ? capacity : 0;
    target->write = 0;
    target->readBack = 0;
    target->context = 0;
    target->window = 0;
    target->windowSize = 0;
    target->buffers = 0;
    target->buffersSize = 0;
}

int DeltaDecodeInMemory(DeltaDecodeFiles decode, const BYTE *source, DWORD sourceSize,
                        const BYTE *delta, DWORD deltaSize, BYTE *target, DWORD capacity,
                        DWORD *targetSize)
{
    DeltaFile sourceFile, deltaFile;
    DeltaFileInMemory(&sourceFile, source, sourceSize);
    DeltaFileInMemory(&deltaFile, delta, deltaSize);
    DeltaTarget out;
    DeltaTargetInMemory(&out, target, capacity);
    return decode(&sourceFile, &deltaFile, &out, targetSize);
}

// One of the target's read buffers, `slot` of DELTA_READ_SLOTS.
static BYTE *ReadBuffer(const DeltaTarget *target, DWORD slot, DWORD *size)
{
    *size = target->buffers ? target->buffersSize / DELTA_READ_SLOTS : 0;
    DWORD offset = slot * *size;  // within buffersSize
    return target->buffers ? target->buffers + offset : 0;
}

void DeltaCursorOpen(DeltaCursor *c, const DeltaFile *file, DWORD pos, DWORD end, BYTE *buffer,
                     DWORD capacity)
{
    c->file = file;
    c->end = end;
    c->buffer = buffer;
    c->capacity = capacity;
    c->failed = FALSE;
    if (!file->readAt) {
        // Everything is at hand; there is nothing to refill.
        c->p = file->whole + pos;
        c->limit = file->whole + end;
        c->next = end;
    } else {
        c->p = c->limit = buffer;
        c->next = pos;
    }
}

void DeltaCursorNarrow(DeltaCursor *c, DWORD end)
{
    if (c->next > end) {
        c->limit -= c->next - end;
        c->next = end;
    }
    c->end = end;
}

void DeltaCursorOpenIn(DeltaCursor *c, const DeltaFile *file, DWORD pos, DWORD end,
                       const DeltaTarget *target, DWORD slot)
{
    DWORD capacity;
    BYTE *buffer = ReadBuffer(target, slot, &capacity);
    DeltaCursorOpen(c, file, pos, end, buffer, capacity);
}

BOOL DeltaCursorFill(DeltaCursor *c)
{
    if (c->p != c->limit)
        return TRUE;
    if (c->next >= c->end || !c->file->readAt || c->capacity == 0 || c->failed)
        return FALSE;
    DWORD length = c->end - c->next;
    if (length > c->capacity)
        length = c->capacity;
    if (!c->file->readAt(c->file->context, c->next, c->buffer, length)) {
        c->failed = TRUE;
        return FALSE;
    }
    c->p = c->buffer;
    c->limit = c->buffer + length;
    c->next += length;
    return TRUE;
}

BOOL DeltaCursorCopy(DeltaCursor *c, BYTE *out, DWORD length)
{
    while (length > 0) {
        if (!DeltaCursorFill(c))
            return FALSE;
        DWORD n = (DWORD)(c->limit - c->p);
        if (n > length)
            n = length;
        DeltaCopyBytes(out, c->p, n);
        c->p += n;
        out += n;
        length -= n;
    }
    return TRUE;
}

void DeltaViewOpen(DeltaView *v, const DeltaFile *file, const DeltaTarget *target, DWORD slot)
{
    v->file = file;
    v->buffer = ReadBuffer(target, slot, &v->capacity);
    v->at = 0;
    v->held = 0;
}

const BYTE *DeltaViewAt(DeltaView *v, DWORD offset, DWORD want, DWORD *got)
{
    *got = 0;
    if (offset >= v->file->size || want == 0)
        return 0;
    DWORD left = v->file->size - offset;
    if (want > left)
        want = left;
    if (!v->file->readAt) {
        *got = want;
        return v->file->whole + offset;
    }
    if (offset < v->at || offset - v->at >= v->held) {
        // Not held: read a buffer's worth from here on.
        DWORD length = left < v->capacity ? left : v->capacity;
        if (length == 0 || !v->file->readAt(v->file->context, offset, v->buffer, length)) {
            v->held = 0;
            return 0;
        }
        v->at = offset;
        v->held = length;
    }
    DWORD in = v->held - (offset - v->at);
    *got = want < in ? want : in;
    return v->buffer + (offset - v->at);
}

const char kDeltaTextApplied[] = "applied";
const char kDeltaTextCutShort[] = "it is cut short";
const char kDeltaTextTooLarge[] = "the file it makes is larger than expected";
const char kDeltaTextOutside[] = "it copies from outside the file";
const char kDeltaTextReadFailed[] = "a file could not be read";
const char kDeltaTextWriteFailed[] = "the new file could not be written";
const char kDeltaTextUnknown[] = "unknown fault";
