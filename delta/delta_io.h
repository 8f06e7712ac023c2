// Where the delta decoders read the old file and the delta, and where they
// put the new file: whole blocks in memory (the builder, the tests), or
// files read at offsets and written in order through buffers the caller
// lends (the patcher), so that the patcher's memory stays within one
// window and a few read buffers whatever the size of the files.
//
// Written in the installer's own style: plain structures and functions, no
// allocation. Every view and copy is bounded by the file's size and the
// buffer's capacity.
#ifndef WF_DELTA_DELTA_IO_H
#define WF_DELTA_DELTA_IO_H

#include "platform/win32.h"

// The largest stretch of the new file a decoder holds at once: a VCDIFF
// window's target, or the difference delta's bytes kept for its repeats.
// A VCDIFF window larger than this is refused in memory and on disk
// alike, so the builder keeps no delta the patcher would refuse. It is
// xdelta3's default window; the builder's own windows are 256 KB.
#define DELTA_WINDOW_MAX (8u << 20)

// Reads `length` bytes at `offset`, all of them, or returns FALSE.
typedef BOOL (*DeltaReadAt)(void *context, DWORD offset, BYTE *buffer, DWORD length);
// Appends `length` bytes to the new file, or returns FALSE.
typedef BOOL (*DeltaWrite)(void *context, const BYTE *data, DWORD length);

// A file a decoder reads: in memory (`whole`, when `readAt` is null), or
// through `readAt`.
struct DeltaFile {
    const BYTE *whole;
    DWORD size;
    DeltaReadAt readAt;
    void *context;
};

// The new file: decoded straight into `whole` (capacity bytes) when `write`
// is null, or through a window buffer appended to the file with `write`,
// its earlier bytes read back with `readBack`. `capacity` is then the most
// it may grow to.
struct DeltaTarget {
    BYTE *whole;
    DWORD capacity;
    DeltaWrite write;
    DeltaReadAt readBack;
    void *context;
    BYTE *window;        // for `write`: the decoder's window of the new file
    DWORD windowSize;    // at most DELTA_WINDOW_MAX
    BYTE *buffers;       // for `readAt` and `readBack`: the decoder's read buffers
    DWORD buffersSize;   // DELTA_READ_BUFFERS bytes, or less to test the edges
};

// The read buffers a decode through files is lent, shared out among the
// inputs it reads at once (the delta's sections, the old file, the new
// file read back).
#define DELTA_READ_BUFFERS (128u << 10)
#define DELTA_READ_SLOTS 4

void DeltaFileInMemory(DeltaFile *file, const BYTE *data, DWORD size);
void DeltaTargetInMemory(DeltaTarget *target, BYTE *data, DWORD capacity);

// A decoder's route through files: VcdiffDecodeFiles, DiffDeltaDecodeFiles.
typedef int (*DeltaDecodeFiles)(const DeltaFile *source, const DeltaFile *delta,
                                const DeltaTarget *target, DWORD *targetSize);
// Runs `decode` on blocks in memory: the decoders' VcdiffDecode and
// DiffDeltaDecode.
int DeltaDecodeInMemory(DeltaDecodeFiles decode, const BYTE *source, DWORD sourceSize,
                        const BYTE *delta, DWORD deltaSize, BYTE *target, DWORD capacity,
                        DWORD *targetSize);

inline BOOL DeltaTargetIsMemory(const DeltaTarget *target) { return target->write == 0; }

// Copies `n` bytes that do not overlap. (A count of its own, which no
// store through `to` can change, lets the compiler copy in wide steps.)
inline void DeltaCopyBytes(BYTE *to, const BYTE *from, DWORD n)
{
    for (DWORD i = 0; i < n; ++i)
        to[i] = from[i];
}

// A sequential reader over [pos, end) of a file: bytes at hand in p..limit,
// refilled through its buffer; in memory, all of them at once.
struct DeltaCursor {
    const BYTE *p;
    const BYTE *limit;
    DWORD next;   // the file offset just past `limit`
    DWORD end;
    const DeltaFile *file;
    BYTE *buffer;
    DWORD capacity;
    BOOL failed;  // a read failed: not the same as reaching `end`
};

void DeltaCursorOpen(DeltaCursor *c, const DeltaFile *file, DWORD pos, DWORD end, BYTE *buffer,
                     DWORD capacity);
// The same through one of the target's read buffers, `slot` of DELTA_READ_SLOTS.
void DeltaCursorOpenIn(DeltaCursor *c, const DeltaFile *file, DWORD pos, DWORD end,
                       const DeltaTarget *target, DWORD slot);
// Ends the cursor at `end`, which is not before its position: bytes at hand
// beyond it are given up.
void DeltaCursorNarrow(DeltaCursor *c, DWORD end);
// Brings more bytes to hand. FALSE at `end` or when a read fails.
BOOL DeltaCursorFill(DeltaCursor *c);
// The file offset of the next byte.
inline DWORD DeltaCursorPos(const DeltaCursor *c) { return c->next - (DWORD)(c->limit - c->p); }
inline BOOL DeltaCursorByte(DeltaCursor *c, BYTE *b)
{
    if (c->p == c->limit && !DeltaCursorFill(c))
        return FALSE;
    *b = *c->p++;
    return TRUE;
}
// Copies `length` bytes to `out`; FALSE when the cursor runs out first.
BOOL DeltaCursorCopy(DeltaCursor *c, BYTE *out, DWORD length);

// Random reads of a file through one buffer that keeps the last stretch read.
struct DeltaView {
    const DeltaFile *file;
    BYTE *buffer;
    DWORD capacity;
    DWORD at;      // the file offset of buffer[0]
    DWORD held;    // bytes of the file in buffer
};

// Through one of the target's read buffers, `slot` of DELTA_READ_SLOTS.
void DeltaViewOpen(DeltaView *v, const DeltaFile *file, const DeltaTarget *target, DWORD slot);
// Up to `want` bytes at `offset` (inside the file): at least one, unless
// `want` is 0 or a read fails (NULL). Valid until the next call.
const BYTE *DeltaViewAt(DeltaView *v, DWORD offset, DWORD want, DWORD *got);
// The byte at `offset`, most often already held.
inline const BYTE *DeltaViewByte(DeltaView *v, DWORD offset)
{
    if (v->file->readAt && offset - v->at < v->held)
        return v->buffer + (offset - v->at);
    DWORD got;
    return DeltaViewAt(v, offset, 1, &got);
}

// Texts for the results both decoders have, phrased to follow "the patch
// data does not apply: ".
// NOLINTBEGIN(bugprone-dynamic-static-initializers): declarations only; the
// definitions in delta_io.cpp are string literals, constant from the start.
extern const char kDeltaTextApplied[];
extern const char kDeltaTextCutShort[];
extern const char kDeltaTextTooLarge[];
extern const char kDeltaTextOutside[];
extern const char kDeltaTextReadFailed[];
extern const char kDeltaTextWriteFailed[];
extern const char kDeltaTextUnknown[];
// NOLINTEND(bugprone-dynamic-static-initializers)

#endif
