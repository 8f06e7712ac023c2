// The difference delta's decoder. See diff_delta.h for what it is and
// patch_data.md for the layout.
//
// The range decoder is the binary one of LZMA-style coders: a 32-bit range
// and code, one byte shifted in whenever the range drops below 2^24, so
// it reads exactly the bytes the encoder wrote. Past the end of the delta
// it reads zeros and remembers that it did; the main loop stops on that,
// so a damaged delta ends in DIFFDELTA_TRUNCATED rather than a long walk.
#include "diff_delta.h"

namespace {

const DWORD kTop = 1u << 24;
const DWORD kSizeField = 4;  // the new file's size, little-endian, first
const DWORD kCodeBytes = 4;  // the range coder's first bytes, read whole

// The literals stored as they are, when the delta has them so: the count
// follows the size, seven bits a byte, low bits first, the high bit set on
// every byte but the last; then the literals; then the coded stream.
struct RawLiterals {
    const BYTE *bytes;
    DWORD pos;
    DWORD count;  // 0: the literals are coded
};

// Reads the count of raw literals at delta[*pos]: DIFFDELTA_OK, or
// DIFFDELTA_TRUNCATED when it runs past `end`, DIFFDELTA_BAD_LENGTH past
// 32 bits.
int ReadRawCount(const BYTE *delta, DWORD end, DWORD *pos, DWORD *count) {
    DWORD value = 0;
    for (DWORD shift = 0; shift < 35; shift += 7) {
        if (*pos >= end) return DIFFDELTA_TRUNCATED;
        BYTE b = delta[(*pos)++];
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
    const BYTE *in;
    DWORD pos;
    DWORD end;
    DWORD range;
    DWORD code;
    BOOL overrun;
};

BYTE NextByte(RangeDecoder *rc) {
    if (rc->pos < rc->end) return rc->in[rc->pos++];
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

int DecodeAll(const BYTE *source, DWORD sourceSize, const BYTE *delta, DWORD deltaSize,
              BYTE *target, DWORD capacity, DWORD *written) {
    if (deltaSize < kSizeField) return DIFFDELTA_TRUNCATED;
    const DWORD size = (DWORD)delta[0] | ((DWORD)delta[1] << 8) | ((DWORD)delta[2] << 16) |
                       ((DWORD)delta[3] << 24);
    if (size > capacity) return DIFFDELTA_TOO_LARGE;
    DWORD at = kSizeField;
    RawLiterals raw;
    int r = ReadRawCount(delta, deltaSize, &at, &raw.count);
    if (r != DIFFDELTA_OK) return r;
    if (raw.count > deltaSize - at) return DIFFDELTA_TRUNCATED;
    raw.bytes = delta + at;
    raw.pos = 0;
    at += raw.count;
    if (deltaSize - at < kCodeBytes) return DIFFDELTA_TRUNCATED;

    RangeDecoder rc;
    rc.in = delta;
    rc.pos = at;
    rc.end = deltaSize;
    rc.range = 0xFFFFFFFF;
    rc.code = 0;
    rc.overrun = FALSE;
    for (DWORD i = 0; i < kCodeBytes; ++i) rc.code = (rc.code << 8) | NextByte(&rc);
    // The code lies inside the range from the start; every step keeps it so.
    if (rc.code == 0xFFFFFFFF) return DIFFDELTA_BAD_LENGTH;

    DiffDeltaModels *m = &g_models;
    DiffDeltaResetModels(m);
    DWORD newPos = 0, oldPos = 0;
    DWORD distance = 0;  // of the last repeat; none yet refers to no byte
    while (newPos < size) {
        // A stretch of the old file, with differences added.
        DWORD stretch;
        if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_STRETCH], &stretch)) return DIFFDELTA_BAD_LENGTH;
        if (stretch > size - newPos) return DIFFDELTA_BAD_LENGTH;
        if (stretch > sourceSize - oldPos) return DIFFDELTA_BAD_SOURCE;
        const BYTE *from = source + oldPos;
        BYTE *to = target + newPos;
        DWORD done = 0;
        while (done < stretch) {
            DWORD zeros;
            if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_ZEROS], &zeros)) return DIFFDELTA_BAD_LENGTH;
            if (zeros > stretch - done) return DIFFDELTA_BAD_LENGTH;
            for (DWORD i = 0; i < zeros; ++i) to[done + i] = from[done + i];
            done += zeros;
            if (done == stretch) break;
            // Differences right after one another are told apart from lone ones.
            DWORD context = zeros == 0 ? 1 : 0;
            to[done] = (BYTE)(from[done] + DecodeTree(&rc, m->difference[context], 8));
            ++done;
            if (rc.overrun) return DIFFDELTA_TRUNCATED;
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
                if (raw.count != 0) {
                    if (raw.pos == raw.count) return DIFFDELTA_BAD_LENGTH;
                    target[newPos++] = raw.bytes[raw.pos++];
                } else {
                    DWORD before = newPos > 0 ? target[newPos - 1] : 0;
                    target[newPos++] = (BYTE)DecodeTree(&rc, m->literal[before >> 5], 8);
                }
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
                // Forwards, byte by byte: a repeat may overlap its own bytes.
                const BYTE *earlier = target + newPos - distance;
                for (DWORD i = 0; i < length; ++i) target[newPos + i] = earlier[i];
                newPos += length;
                afterRepeat = 1;
            }
            if (rc.overrun) return DIFFDELTA_TRUNCATED;
        }
        if (newPos == size) break;

        // Where the next stretch starts in the old file.
        DWORD back = DecodeBit(&rc, &m->seekSign);
        DWORD seek;
        if (!DecodeNumber(&rc, &m->number[DIFFDELTA_NUM_SEEK], &seek)) return DIFFDELTA_BAD_LENGTH;
        if (back ? seek > oldPos : seek > sourceSize - oldPos) return DIFFDELTA_BAD_SOURCE;
        oldPos = back ? oldPos - seek : oldPos + seek;
        if (rc.overrun) return DIFFDELTA_TRUNCATED;
    }
    if (rc.overrun) return DIFFDELTA_TRUNCATED;
    if (rc.pos != rc.end || raw.pos != raw.count) return DIFFDELTA_TRAILING;
    *written = size;
    return DIFFDELTA_OK;
}

}  // namespace

void DiffDeltaResetModels(DiffDeltaModels *models) {
    DiffDeltaProb *p = (DiffDeltaProb *)models;
    const DWORD count = sizeof *models / sizeof *p;
    for (DWORD i = 0; i < count; ++i) p[i] = DIFFDELTA_PROB_ONE / 2;
}

int DiffDeltaDecode(const BYTE *source, DWORD sourceSize, const BYTE *delta, DWORD deltaSize,
                    BYTE *target, DWORD capacity, DWORD *targetSize) {
    if (!source) sourceSize = 0;
    if (!delta) deltaSize = 0;
    if (!target) capacity = 0;
    DWORD written = 0;
    int r = DecodeAll(source, sourceSize, delta, deltaSize, target, capacity, &written);
    if (targetSize) *targetSize = r == DIFFDELTA_OK ? written : 0;
    return r;
}

LPCSTR DiffDeltaResultText(int result) {
    switch (result) {
    case DIFFDELTA_OK: return "The patch data was applied.";
    case DIFFDELTA_TRUNCATED: return "The patch data is cut short.";
    case DIFFDELTA_TOO_LARGE: return "The patched file is larger than expected.";
    case DIFFDELTA_BAD_LENGTH: return "The patch data has a stretch that runs past the patched file.";
    case DIFFDELTA_BAD_SOURCE: return "The patch data copies from outside the file.";
    case DIFFDELTA_TRAILING: return "The patch data goes on after the patched file is complete.";
    default: return "Unknown patch data error.";
    }
}
