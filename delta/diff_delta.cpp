// The difference delta's decoder. See diff_delta.h for what it is and
// patch_data.md for the layout.
//
// The range decoder is the binary one of LZMA-style coders: a 32-bit range
// and code, one byte shifted in whenever the range drops below 2^24, so
// it reads exactly the bytes the encoder wrote. Past the end of the delta
// it reads zeros and remembers that it did; the main loop stops on that,
// so a damaged delta ends in DIFFDELTA_TRUNCATED rather than a long walk.
//
// Through files (delta_io.h) the old file and the delta are read through
// buffers, and the new file is kept in a window: see Output below.
#include "diff_delta.h"

namespace {

const DWORD kTop = 1u << 24;
const DWORD kSizeField = 4;  // the new file's size, little-endian, first
const DWORD kCodeBytes = 4;  // the range coder's first bytes, read whole

// Reads the count of literals stored as they are (the count follows the
// size, seven bits a byte, low bits first, the high bit set on every byte
// but the last): DIFFDELTA_OK, or DIFFDELTA_TRUNCATED when the delta ends
// first, DIFFDELTA_BAD_LENGTH past 32 bits, DIFFDELTA_READ_FAILED.
int ReadRawCount(DeltaCursor *c, DWORD *count) {
    DWORD value = 0;
    for (DWORD shift = 0; shift < 35; shift += 7) {
        BYTE b;
        if (!DeltaCursorByte(c, &b)) return c->failed ? DIFFDELTA_READ_FAILED : DIFFDELTA_TRUNCATED;
        if (shift == 28 && (b & 0xF0) != 0) return DIFFDELTA_BAD_LENGTH;
        value |= (DWORD)(b & 0x7F) << shift;
        if ((b & 0x80) == 0) {
            *count = value;
            return DIFFDELTA_OK;
        }
    }
    return DIFFDELTA_BAD_LENGTH;
}

DiffDeltaModels g_models;  // see diff_delta.h: too large for the stack

struct RangeDecoder {
    DeltaCursor in;
    DWORD range;
    DWORD code;
    BOOL overrun;
};

BYTE NextByte(RangeDecoder *rc) {
    BYTE b;
    if (DeltaCursorByte(&rc->in, &b)) return b;
    rc->overrun = TRUE;
    return 0;
}

void Normalize(RangeDecoder *rc) {
    while (rc->range < kTop) {
        rc->range <<= 8;
        rc->code = (rc->code << 8) | NextByte(rc);
    }
}

DWORD DecodeBit(RangeDecoder *rc, DiffDeltaProb *prob) {
    DWORD bound = (rc->range >> DIFFDELTA_PROB_BITS) * *prob;
    DWORD bit;
    if (rc->code < bound) {
        rc->range = bound;
        *prob = (DiffDeltaProb)(*prob + ((DIFFDELTA_PROB_ONE - *prob) >> DIFFDELTA_PROB_SHIFT));
        bit = 0;
    } else {
        rc->range -= bound;
        rc->code -= bound;
        *prob = (DiffDeltaProb)(*prob - (*prob >> DIFFDELTA_PROB_SHIFT));
        bit = 1;
    }
    Normalize(rc);
    return bit;
}

// A bit of even odds, without a model.
DWORD DecodeEvenBit(RangeDecoder *rc) {
    rc->range >>= 1;
    DWORD bit = 0;
    if (rc->code >= rc->range) {
        rc->code -= rc->range;
        bit = 1;
    }
    Normalize(rc);
    return bit;
}

// `bits` bits, most significant first, through a tree of 2^bits models.
DWORD DecodeTree(RangeDecoder *rc, DiffDeltaProb *tree, int bits) {
    DWORD node = 1;
    for (int i = 0; i < bits; ++i) node = (node << 1) | DecodeBit(rc, &tree[node]);
    return node - (1u << bits);
}

// A number: its bit length, then the bits below its top one, the first
// few modelled by length and the bits above them. Returns FALSE for a
// length over 32.
BOOL DecodeNumber(RangeDecoder *rc, DiffDeltaNumberModel *m, DWORD *value) {
    DWORD length = DecodeTree(rc, m->length, DIFFDELTA_NUMBER_LENGTH_BITS);
    if (length > 32) return FALSE;
    if (length == 0) {
        *value = 0;
        return TRUE;
    }
    DWORD v = 1;
    for (DWORD i = 1; i < length; ++i) {
        if (i <= DIFFDELTA_NUMBER_MODELLED)
            v = (v << 1) | DecodeBit(rc, &m->high[length][v]);
        else
            v = (v << 1) | DecodeEvenBit(rc);
    }
    *value = v;
    return TRUE;
}

// The new file as it is decoded: in memory, the whole of it; through a
// file, its last bytes, the window, the rest already written. When the
// window is full its older half is written and the newer half kept, for
// the repeats that reach back a short way; longer ones read the file back.
struct Output {
    const DeltaTarget *target;
    BYTE *buffer;
    DWORD capacity;
    DWORD start;   // the new file's offset of buffer[0]
    DWORD fill;    // bytes in the buffer: none only at the start, since
                   // every step that makes room then puts a byte in it
    int failure;   // DIFFDELTA_OK, or why the output stopped
};

// Makes room for at least one more byte; FALSE with o->failure set.
BOOL Slide(Output *o) {
    if (o->fill < o->capacity) return TRUE;
    if (DeltaTargetIsMemory(o->target) || o->capacity == 0) {
        o->failure = DIFFDELTA_TOO_LARGE;  // the size was checked: cannot happen
        return FALSE;
    }
    const DWORD keep = o->capacity / 2;
    const DWORD out = o->fill - keep;
    if (!o->target->write(o->target->context, o->buffer, out)) {
        o->failure = DIFFDELTA_WRITE_FAILED;
        return FALSE;
    }
    for (DWORD i = 0; i < keep; ++i) o->buffer[i] = o->buffer[out + i];
    o->start += out;
    o->fill = keep;
    return TRUE;
}

// The byte before the next one, 0 at the start.
BYTE Before(const Output *o) { return o->fill > 0 ? o->buffer[o->fill - 1] : 0; }

// Room in the window for up to `want` bytes: at least one, unless sliding failed.
DWORD Room(Output *o, DWORD want) {
    if (!Slide(o)) return 0;
    DWORD room = o->capacity - o->fill;
    return want < room ? want : room;
}

inline BOOL Put(Output *o, BYTE b) {
    if (o->fill == o->capacity && !Slide(o)) return FALSE;
    o->buffer[o->fill++] = b;
    return TRUE;
}

// `length` bytes of the old file from `from`, unchanged.
BOOL CopyOld(Output *o, DeltaView *old, DWORD from, DWORD length) {
    while (length > 0) {
        DWORD n = Room(o, length), got;
        if (n == 0) return FALSE;
        const BYTE *src = DeltaViewAt(old, from, n, &got);
        if (!src) {
            o->failure = DIFFDELTA_READ_FAILED;
            return FALSE;
        }
        DeltaCopyBytes(o->buffer + o->fill, src, got);
        o->fill += got;
        from += got;
        length -= got;
    }
    return TRUE;
}

// `length` bytes repeated from `distance` back, which the caller checked
// lies in the new file. Forwards, byte by byte: a repeat may overlap its
// own bytes. Bytes no longer in the window are read back from the file.
BOOL Repeat(Output *o, DWORD distance, DWORD length) {
    while (length > 0) {
        DWORD n = Room(o, length);
        if (n == 0) return FALSE;
        const DWORD here = o->start + o->fill;
        const DWORD from = here - distance;
        BYTE *dst = o->buffer + o->fill;
        if (from >= o->start) {
            const BYTE *src = dst - distance;
            for (DWORD i = 0; i < n; ++i) dst[i] = src[i];
        } else {
            if (n > o->start - from) n = o->start - from;
            if (!o->target->readBack(o->target->context, from, dst, n)) {
                o->failure = DIFFDELTA_READ_FAILED;
                return FALSE;
            }
        }
        o->fill += n;
        length -= n;
    }
    return TRUE;
}

// Why the coded stream ran out: a failed read, or a delta cut short.
int Overrun(const RangeDecoder *rc) { return rc->in.failed ? DIFFDELTA_READ_FAILED : DIFFDELTA_TRUNCATED; }

// Why the decode stopped where an output or old-file step failed.
int Stopped(const Output *o) { return o->failure != DIFFDELTA_OK ? o->failure : DIFFDELTA_READ_FAILED; }

int DecodeAll(const DeltaFile *source, const DeltaFile *delta, const DeltaTarget *target,
              DWORD *written) {
    DeltaCursor head;
    DeltaCursorOpenIn(&head, delta, 0, delta->size, target, 0);
    BYTE sizeField[kSizeField];
    if (!DeltaCursorCopy(&head, sizeField, kSizeField))
        return head.failed ? DIFFDELTA_READ_FAILED : DIFFDELTA_TRUNCATED;
    const DWORD size = (DWORD)sizeField[0] | ((DWORD)sizeField[1] << 8) |
                       ((DWORD)sizeField[2] << 16) | ((DWORD)sizeField[3] << 24);
    if (size > target->capacity) return DIFFDELTA_TOO_LARGE;
    DWORD rawCount;
    int r = ReadRawCount(&head, &rawCount);
    if (r != DIFFDELTA_OK) return r;
    DWORD at = DeltaCursorPos(&head);
    if (rawCount > delta->size - at) return DIFFDELTA_TRUNCATED;
    // The literals stored as they are (none: the literals are coded), and
    // the coded stream after them.
    DeltaCursor raw;
    DeltaCursorOpenIn(&raw, delta, at, at + rawCount, target, 0);
    at += rawCount;
    if (delta->size - at < kCodeBytes) return DIFFDELTA_TRUNCATED;

    RangeDecoder rc;
    DeltaCursorOpenIn(&rc.in, delta, at, delta->size, target, 1);
    rc.range = 0xFFFFFFFF;
    rc.code = 0;
    rc.overrun = FALSE;
    for (DWORD i = 0; i < kCodeBytes; ++i) rc.code = (rc.code << 8) | NextByte(&rc);
    if (rc.in.failed) return DIFFDELTA_READ_FAILED;
    // The code lies inside the range from the start; every step keeps it so.
    if (rc.code == 0xFFFFFFFF) return DIFFDELTA_BAD_LENGTH;

    DeltaView old;
    DeltaViewOpen(&old, source, target, 2);
    Output o;
    o.target = target;
    o.buffer = DeltaTargetIsMemory(target) ? target->whole : target->window;
    o.capacity = DeltaTargetIsMemory(target) ? target->capacity : target->windowSize;
    o.start = 0;
    o.fill = 0;
    o.failure = DIFFDELTA_OK;

    DiffDeltaModels *m = &g_models;
    DiffDeltaResetModels(m);
    DWORD newPos = 0, oldPos = 0;
    DWORD distance = 0;  // of the last repeat; none yet refers to no byte
    while (newPos < size) {
        // A stretch of the old file, with differences added.
        DWORD stretch;
        if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_STRETCH], &stretch)) return DIFFDELTA_BAD_LENGTH;
        if (stretch > size - newPos) return DIFFDELTA_BAD_LENGTH;
        if (stretch > source->size - oldPos) return DIFFDELTA_BAD_SOURCE;
        DWORD done = 0;
        while (done < stretch) {
            DWORD zeros;
            if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_ZEROS], &zeros)) return DIFFDELTA_BAD_LENGTH;
            if (zeros > stretch - done) return DIFFDELTA_BAD_LENGTH;
            if (!CopyOld(&o, &old, oldPos + done, zeros)) return Stopped(&o);
            done += zeros;
            if (done == stretch) break;
            // Differences right after one another are told apart from lone ones.
            DWORD context = zeros == 0 ? 1 : 0;
            const BYTE *from = DeltaViewByte(&old, oldPos + done);
            if (!from) return DIFFDELTA_READ_FAILED;
            if (!Put(&o, (BYTE)(*from + DecodeTree(&rc, m->difference[context], 8)))) return Stopped(&o);
            ++done;
            if (rc.overrun) return Overrun(&rc);
        }
        newPos += stretch;
        oldPos += stretch;

        // The new file's own bytes: literals, and repeats of its earlier bytes.
        DWORD extra;
        if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_EXTRA], &extra)) return DIFFDELTA_BAD_LENGTH;
        if (extra > size - newPos) return DIFFDELTA_BAD_LENGTH;
        const DWORD extraEnd = newPos + extra;
        DWORD afterRepeat = 0;
        while (newPos < extraEnd) {
            if (!DecodeBit(&rc, &m->repeat[afterRepeat])) {
                BYTE literal;
                if (rawCount != 0) {
                    if (!DeltaCursorByte(&raw, &literal))
                        return raw.failed ? DIFFDELTA_READ_FAILED : DIFFDELTA_BAD_LENGTH;
                } else {
                    literal = (BYTE)DecodeTree(&rc, m->literal[Before(&o) >> 5], 8);
                }
                if (!Put(&o, literal)) return Stopped(&o);
                ++newPos;
                afterRepeat = 0;
            } else {
                DWORD length;
                if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_LENGTH], &length)) return DIFFDELTA_BAD_LENGTH;
                if (extraEnd - newPos < DIFFDELTA_SHORTEST_REPEAT ||
                    length > extraEnd - newPos - DIFFDELTA_SHORTEST_REPEAT)
                    return DIFFDELTA_BAD_LENGTH;
                length += DIFFDELTA_SHORTEST_REPEAT;
                if (!DecodeBit(&rc, &m->sameDistance[afterRepeat])) {
                    if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_DISTANCE], &distance))
                        return DIFFDELTA_BAD_LENGTH;
                    if (distance == 0xFFFFFFFF) return DIFFDELTA_BAD_SOURCE;
                    ++distance;
                }
                if (distance == 0 || distance > newPos) return DIFFDELTA_BAD_SOURCE;
                if (!Repeat(&o, distance, length)) return Stopped(&o);
                newPos += length;
                afterRepeat = 1;
            }
            if (rc.overrun) return Overrun(&rc);
        }
        if (newPos == size) break;

        // Where the next stretch starts in the old file.
        DWORD back = DecodeBit(&rc, &m->seekSign);
        DWORD seek;
        if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_SEEK], &seek)) return DIFFDELTA_BAD_LENGTH;
        if (back ? seek > oldPos : seek > source->size - oldPos) return DIFFDELTA_BAD_SOURCE;
        oldPos = back ? oldPos - seek : oldPos + seek;
        if (rc.overrun) return Overrun(&rc);
    }
    if (rc.overrun) return Overrun(&rc);
    if (DeltaCursorPos(&rc.in) != delta->size || DeltaCursorPos(&raw) != raw.end) return DIFFDELTA_TRAILING;
    if (!DeltaTargetIsMemory(target) && o.fill > 0 && !target->write(target->context, o.buffer, o.fill))
        return DIFFDELTA_WRITE_FAILED;
    *written = size;
    return DIFFDELTA_OK;
}

}  // namespace

void DiffDeltaResetModels(DiffDeltaModels *models) {
    DiffDeltaProb *p = (DiffDeltaProb *)models;
    const DWORD count = sizeof *models / sizeof *p;
    for (DWORD i = 0; i < count; ++i) p[i] = DIFFDELTA_PROB_ONE / 2;
}

int DiffDeltaDecodeFiles(const DeltaFile *source, const DeltaFile *delta, const DeltaTarget *target,
                         DWORD *targetSize) {
    DWORD written = 0;
    int r = DecodeAll(source, delta, target, &written);
    if (targetSize) *targetSize = r == DIFFDELTA_OK ? written : 0;
    return r;
}

int DiffDeltaDecode(const BYTE *source, DWORD sourceSize, const BYTE *delta, DWORD deltaSize,
                    BYTE *target, DWORD capacity, DWORD *targetSize) {
    return DeltaDecodeInMemory(DiffDeltaDecodeFiles, source, sourceSize, delta, deltaSize, target, capacity, targetSize);
}

LPCSTR DiffDeltaResultText(int result) {
    static const LPCSTR kTexts[] = {
        kDeltaTextApplied,                            // DIFFDELTA_OK
        kDeltaTextCutShort,                           // DIFFDELTA_TRUNCATED
        kDeltaTextTooLarge,                           // DIFFDELTA_TOO_LARGE
        "a stretch runs past the new file",           // DIFFDELTA_BAD_LENGTH
        kDeltaTextOutside,                            // DIFFDELTA_BAD_SOURCE
        "it goes on after the new file is complete",  // DIFFDELTA_TRAILING
        kDeltaTextReadFailed,                         // DIFFDELTA_READ_FAILED
        kDeltaTextWriteFailed,                        // DIFFDELTA_WRITE_FAILED
    };
    static_assert(sizeof kTexts / sizeof *kTexts == DIFFDELTA_WRITE_FAILED + 1, "a text for every result");
    return result >= 0 && result <= DIFFDELTA_WRITE_FAILED ? kTexts[result] : kDeltaTextUnknown;
}
