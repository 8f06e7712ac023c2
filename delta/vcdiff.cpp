// The VCDIFF decoder. See vcdiff.h for what it accepts.
//
// A delta is a header followed by windows. Each window rebuilds one stretch
// of the target from three sections: data (the bytes of ADDs and RUNs),
// instructions (opcodes and explicit sizes) and addresses (for COPYs). A
// COPY addresses one string made of the window's source segment followed by
// the part of this window's target decoded so far.
//
// Every offset into the delta and the buffers is checked against its end
// before use, and lengths are compared with what is left rather than added
// first, so no sum can pass 32 bits.
#include "vcdiff.h"

namespace {


// Header and window indicator bits.
const BYTE kHeaderSecondary = 0x01;   // a secondary compressor id follows
const BYTE kHeaderCodeTable = 0x02;   // a custom code table follows
const BYTE kHeaderAppData = 0x04;     // xdelta3: an application header follows
const BYTE kWindowSource = 0x01;      // the segment comes from the source
const BYTE kWindowTarget = 0x02;      // the segment comes from earlier target
const BYTE kWindowAdler32 = 0x04;     // xdelta3: the target's Adler-32 follows
const BYTE kDeltaCompressed = 0x07;   // any section secondary-compressed

enum { INST_NOOP, INST_ADD, INST_RUN, INST_COPY };

// Address cache sizes of the default code table.
const DWORD kNearSlots = 4;
const DWORD kSameSlots = 3 * 256;

// What a cursor that ran out means: a failed read, or `shortResult`. Out of
// line: its many callers are the rarest paths, and the patcher's size counts.
__attribute__((noinline)) int RanOut(const DeltaCursor *c, int shortResult) {
    return c->failed ? VCDIFF_READ_FAILED : shortResult;
}

// Reads a base-128 big-endian integer from the cursor: VCDIFF_OK, or
// `shortResult` when the cursor runs out, `badResult` for more than five
// bytes or a value above 32 bits, VCDIFF_READ_FAILED.
int ReadVarint(DeltaCursor *c, DWORD *value, int shortResult, int badResult) {
    DWORD v = 0;
    for (int i = 0; i < 5; ++i) {
        BYTE b;
        if (!DeltaCursorByte(c, &b)) return RanOut(c, shortResult);
        if (v > 0xFFFFFFFFu >> 7) return badResult;  // seven more bits would pass 32
        v = (v << 7) | (DWORD)(b & 0x7F);
        if ((b & 0x80) == 0) {
            *value = v;
            return VCDIFF_OK;
        }
    }
    return badResult;
}

struct Half {
    BYTE type;
    BYTE size;  // 0: the size follows in the instruction section
    BYTE mode;
};

// One entry of the default code table, worked out from its opcode.
void DefaultCode(BYTE op, Half *first, Half *second) {
    second->type = INST_NOOP;
    second->size = 0;
    second->mode = 0;
    first->mode = 0;
    if (op == 0) {
        first->type = INST_RUN;
        first->size = 0;
    } else if (op <= 18) {
        first->type = INST_ADD;
        first->size = (BYTE)(op - 1);
    } else if (op <= 162) {
        // Per mode: size 0, then sizes 4 to 18.
        DWORD k = op - 19;
        first->type = INST_COPY;
        first->mode = (BYTE)(k / 16);
        first->size = (BYTE)(k % 16 == 0 ? 0 : k % 16 + 3);
    } else if (op <= 234) {
        // Modes 0 to 5: ADD of 1 to 4, then COPY of 4 to 6.
        DWORD k = op - 163;
        first->type = INST_ADD;
        first->size = (BYTE)((k % 12) / 3 + 1);
        second->type = INST_COPY;
        second->size = (BYTE)(k % 3 + 4);
        second->mode = (BYTE)(k / 12);
    } else if (op <= 246) {
        // Modes 6 to 8: ADD of 1 to 4, then COPY of 4.
        DWORD k = op - 235;
        first->type = INST_ADD;
        first->size = (BYTE)(k % 4 + 1);
        second->type = INST_COPY;
        second->size = 4;
        second->mode = (BYTE)(6 + k / 4);
    } else {
        // COPY of 4 in modes 0 to 8, then ADD of 1.
        first->type = INST_COPY;
        first->size = 4;
        first->mode = (BYTE)(op - 247);
        second->type = INST_ADD;
        second->size = 1;
    }
}

struct AddressCache {
    DWORD nearAddr[kNearSlots];
    DWORD nextNear;
    DWORD sameAddr[kSameSlots];
};

void ResetCache(AddressCache *cache) {
    for (DWORD i = 0; i < kNearSlots; ++i) cache->nearAddr[i] = 0;
    cache->nextNear = 0;
    for (DWORD i = 0; i < kSameSlots; ++i) cache->sameAddr[i] = 0;
}

void UpdateCache(AddressCache *cache, DWORD addr) {
    cache->nearAddr[cache->nextNear] = addr;
    cache->nextNear = (cache->nextNear + 1) % kNearSlots;
    cache->sameAddr[addr % kSameSlots] = addr;
}

// Decodes one COPY address in `mode` from the address section. `here` is
// the length of source segment plus target decoded so far; the address must
// fall below it.
int DecodeAddress(DeltaCursor *addrs, AddressCache *cache, BYTE mode, DWORD here, DWORD *addr) {
    DWORD a;
    if (mode >= 2 + kNearSlots) {
        BYTE b;
        if (!DeltaCursorByte(addrs, &b)) return RanOut(addrs, VCDIFF_BAD_INSTRUCTION);
        a = cache->sameAddr[(mode - (2 + kNearSlots)) * 256 + b];
    } else {
        DWORD v;
        int r = ReadVarint(addrs, &v, VCDIFF_BAD_INSTRUCTION, VCDIFF_BAD_ADDRESS);
        if (r != VCDIFF_OK) return r;
        if (mode == 0) {
            a = v;
        } else if (mode == 1) {
            if (v > here) return VCDIFF_BAD_ADDRESS;
            a = here - v;
        } else {
            // Cached addresses lie below `here`, which only grows.
            DWORD nearAddr = cache->nearAddr[mode - 2];
            if (v >= here - nearAddr) return VCDIFF_BAD_ADDRESS;
            a = nearAddr + v;
        }
    }
    if (a >= here) return VCDIFF_BAD_ADDRESS;
    *addr = a;
    UpdateCache(cache, a);
    return VCDIFF_OK;
}

// Adler-32, sixteen bytes a step. Lane i adds up bytes i, i + 16, i + 32 ...
// (sums[i]) and, after every step, its running sum (runs[i]). Over a stretch
// of n bytes, the byte at lane i of step j counts n - 16 j - i times in b,
// which over the lanes is 16 runs[i] - i sums[i]. The lanes do not wait on
// one another as a, then b, do byte after byte, so they run side by side.
const DWORD kAdlerBase = 65521;
const DWORD kAdlerLanes = 16;
// Bytes between reductions. Over 4096 (256 steps) a lane's runs stay at most
// 255 * 256 * 257 / 2, so b + n a + the weighted sum stays below 2^32.
const DWORD kAdlerStretch = 4096;

DWORD Adler32(const BYTE *p, DWORD n) {
    DWORD a = 1, b = 0;
    while (n >= kAdlerLanes) {
        const DWORD steps = (n < kAdlerStretch ? n : kAdlerStretch) / kAdlerLanes;
        DWORD sums[kAdlerLanes], runs[kAdlerLanes];
        for (DWORD i = 0; i < kAdlerLanes; ++i) sums[i] = runs[i] = 0;
        for (DWORD k = steps; k > 0; --k, p += kAdlerLanes) {
            for (DWORD i = 0; i < kAdlerLanes; ++i) {
                sums[i] += p[i];
                runs[i] += sums[i];
            }
        }
        const DWORD length = steps * kAdlerLanes;
        DWORD total = 0, weighted = 0;
        for (DWORD i = 0; i < kAdlerLanes; ++i) {
            total += sums[i];
            weighted += kAdlerLanes * runs[i] - i * sums[i];
        }
        b = (b + length * a + weighted) % kAdlerBase;
        a = (a + total) % kAdlerBase;
        n -= length;
    }
    while (n-- > 0) {
        a += *p++;
        b += a;
    }
    return (b % kAdlerBase) << 16 | a % kAdlerBase;
}


// The window being decoded: its segment, its target and the sections.
struct Window {
    DeltaView segment;    // the source, or the target before this window
    DWORD segStart;       // where the segment starts in that file
    DWORD segLength;
    BYTE *out;            // the window's target, outLength bytes
    DWORD outLength;
    DWORD done;           // bytes of out decoded so far
    DeltaCursor data;
    DeltaCursor inst;
    DeltaCursor addrs;
};

// Bytes of a section not yet read.
DWORD Left(const DeltaCursor *c) { return c->end - DeltaCursorPos(c); }

int RunHalf(Window *w, AddressCache *cache, const Half *half) {
    DWORD size = half->size;
    if (size == 0) {
        int r = ReadVarint(&w->inst, &size, VCDIFF_BAD_INSTRUCTION, VCDIFF_BAD_INSTRUCTION);
        if (r != VCDIFF_OK) return r;
    }
    if (size > w->outLength - w->done) return VCDIFF_BAD_INSTRUCTION;
    BYTE *dst = w->out + w->done;

    if (half->type == INST_ADD) {
        if (size > Left(&w->data)) return VCDIFF_BAD_INSTRUCTION;
        if (!DeltaCursorCopy(&w->data, dst, size)) return RanOut(&w->data, VCDIFF_BAD_INSTRUCTION);
    } else if (half->type == INST_RUN) {
        BYTE b;
        if (!DeltaCursorByte(&w->data, &b)) return RanOut(&w->data, VCDIFF_BAD_INSTRUCTION);
        for (DWORD i = 0; i < size; ++i) dst[i] = b;
    } else {
        DWORD addr = 0;
        int r = DecodeAddress(&w->addrs, cache, half->mode, w->segLength + w->done, &addr);
        if (r != VCDIFF_OK) return r;
        DWORD n = size;
        while (addr < w->segLength && n > 0) {
            DWORD want = w->segLength - addr;
            if (want > n) want = n;
            DWORD got;
            const BYTE *src = DeltaViewAt(&w->segment, w->segStart + addr, want, &got);
            if (!src) return VCDIFF_READ_FAILED;
            DeltaCopyBytes(dst, src, got);
            dst += got;
            n -= got;
            addr += got;
        }
        // From this window's target: forwards, one byte at a time, so that a
        // copy overlapping its own output repeats the pattern.
        if (n > 0) {
            const BYTE *src = w->out + (addr - w->segLength);
            for (DWORD i = 0; i < n; ++i) dst[i] = src[i];
        }
    }
    w->done += size;
    return VCDIFF_OK;
}

// Reads a window's varint field before its encoding length is known: the
// delta running out means it was cut short.
int ReadHeaderField(DeltaCursor *c, DWORD *value, int badResult) {
    return ReadVarint(c, value, VCDIFF_TRUNCATED, badResult);
}

// The decode as a whole: the files, and how far the target has come.
struct Decode {
    const DeltaFile *source;
    const DeltaFile *delta;
    const DeltaTarget *target;
    DWORD written;
};

// Decodes the window that starts at the header cursor's position and
// appends it to the target. On VCDIFF_OK, *next is where the next window
// starts.
int DecodeWindow(Decode *d, DeltaCursor *header, DWORD *next) {
    const DeltaTarget *target = d->target;
    BYTE indicator;
    if (!DeltaCursorByte(header, &indicator)) return RanOut(header, VCDIFF_TRUNCATED);
    if (indicator & ~(kWindowSource | kWindowTarget | kWindowAdler32)) return VCDIFF_BAD_WINDOW;
    if ((indicator & kWindowSource) && (indicator & kWindowTarget)) return VCDIFF_BAD_WINDOW;

    Window w;
    // The target so far, for a segment taken from it: in memory, or on
    // disk behind the last window written.
    // (readBack is null for a target in memory.)
    DeltaFile earlier;
    earlier.whole = target->whole;
    earlier.size = d->written;
    earlier.readAt = target->readBack;
    earlier.context = target->context;
    DeltaViewOpen(&w.segment, (indicator & kWindowTarget) ? &earlier : d->source, target, 3);
    w.segStart = 0;
    w.segLength = 0;
    if (indicator & (kWindowSource | kWindowTarget)) {
        int r = ReadHeaderField(header, &w.segLength, VCDIFF_BAD_WINDOW);
        if (r != VCDIFF_OK) return r;
        r = ReadHeaderField(header, &w.segStart, VCDIFF_BAD_WINDOW);
        if (r != VCDIFF_OK) return r;
        if (w.segLength > w.segment.file->size || w.segStart > w.segment.file->size - w.segLength)
            return VCDIFF_BAD_WINDOW;
    }

    DWORD encodingLength;
    int r = ReadHeaderField(header, &encodingLength, VCDIFF_BAD_WINDOW);
    if (r != VCDIFF_OK) return r;
    DWORD p = DeltaCursorPos(header);
    if (encodingLength > d->delta->size - p) return VCDIFF_TRUNCATED;
    const DWORD end = p + encodingLength;

    // From here on the fields must fit the encoding length the window gave.
    DeltaCursorNarrow(header, end);
    DWORD lengths[4];  // target, data, instructions, addresses
    BYTE deltaIndicator = 0;
    for (int i = 0; i < 4; ++i) {
        int v = ReadVarint(header, &lengths[i], VCDIFF_BAD_WINDOW, VCDIFF_BAD_WINDOW);
        if (v != VCDIFF_OK) return v;
        if (i == 0 && !DeltaCursorByte(header, &deltaIndicator)) return RanOut(header, VCDIFF_BAD_WINDOW);
    }
    if (deltaIndicator & ~kDeltaCompressed) return VCDIFF_BAD_WINDOW;
    if (deltaIndicator != 0) return VCDIFF_UNSUPPORTED;

    DWORD expectedAdler = 0;
    if (indicator & kWindowAdler32) {
        for (int i = 0; i < 4; ++i) {
            BYTE b;
            if (!DeltaCursorByte(header, &b)) return RanOut(header, VCDIFF_BAD_WINDOW);
            expectedAdler = (expectedAdler << 8) | b;
        }
    }
    // The three sections fill the rest of the encoding exactly.
    DWORD rest = end - DeltaCursorPos(header);
    if (lengths[1] > rest || lengths[2] > rest - lengths[1] || lengths[3] != rest - lengths[1] - lengths[2])
        return VCDIFF_BAD_WINDOW;
    p = end - rest;

    w.outLength = lengths[0];
    // COPY addresses span segment and target together; keep them in 32 bits.
    if (w.outLength > 0xFFFFFFFF - w.segLength) return VCDIFF_BAD_WINDOW;
    if (w.outLength > target->capacity - d->written) return VCDIFF_TOO_LARGE;
    if (w.outLength > DELTA_WINDOW_MAX || (!DeltaTargetIsMemory(target) && w.outLength > target->windowSize))
        return VCDIFF_WINDOW_TOO_LARGE;
    w.out = DeltaTargetIsMemory(target) ? target->whole + d->written : target->window;
    w.done = 0;
    // The header's buffer is free now: the data section takes it over.
    DeltaCursorOpenIn(&w.data, d->delta, p, p + lengths[1], target, 0);
    p += lengths[1];
    DeltaCursorOpenIn(&w.inst, d->delta, p, p + lengths[2], target, 1);
    p += lengths[2];
    DeltaCursorOpenIn(&w.addrs, d->delta, p, end, target, 2);

    AddressCache cache;
    ResetCache(&cache);
    BYTE op;
    while (DeltaCursorByte(&w.inst, &op)) {
        Half halves[2];
        DefaultCode(op, &halves[0], &halves[1]);
        for (int i = 0; i < 2; ++i) {
            if (halves[i].type == INST_NOOP) continue;
            r = RunHalf(&w, &cache, &halves[i]);
            if (r != VCDIFF_OK) return r;
        }
    }
    if (w.inst.failed) return VCDIFF_READ_FAILED;
    // The instructions must fill the window and use up data and addresses.
    if (w.done != w.outLength || Left(&w.data) != 0 || Left(&w.addrs) != 0) return VCDIFF_BAD_WINDOW;
    if ((indicator & kWindowAdler32) && Adler32(w.out, w.outLength) != expectedAdler)
        return VCDIFF_BAD_CHECKSUM;
    if (!DeltaTargetIsMemory(target) && w.outLength > 0 && !target->write(target->context, w.out, w.outLength))
        return VCDIFF_WRITE_FAILED;

    d->written += w.outLength;
    *next = end;
    return VCDIFF_OK;
}

int DecodeAll(Decode *d) {
    static const BYTE kMagic[4] = {0xD6, 0xC3, 0xC4, 0x00};
    const DWORD deltaSize = d->delta->size;
    DeltaCursor header;
    DeltaCursorOpenIn(&header, d->delta, 0, deltaSize, d->target, 0);
    for (int i = 0; i < 4; ++i) {
        BYTE b;
        if (!DeltaCursorByte(&header, &b)) return RanOut(&header, VCDIFF_TRUNCATED);
        if (b != kMagic[i]) return VCDIFF_BAD_HEADER;
    }
    BYTE indicator;
    if (!DeltaCursorByte(&header, &indicator)) return RanOut(&header, VCDIFF_TRUNCATED);
    if (indicator & ~(kHeaderSecondary | kHeaderCodeTable | kHeaderAppData))
        return VCDIFF_BAD_HEADER;
    if (indicator & (kHeaderSecondary | kHeaderCodeTable)) return VCDIFF_UNSUPPORTED;
    DWORD p;
    if (indicator & kHeaderAppData) {
        DWORD length;
        int r = ReadHeaderField(&header, &length, VCDIFF_BAD_HEADER);
        if (r != VCDIFF_OK) return r;
        p = DeltaCursorPos(&header);
        if (length > deltaSize - p) return VCDIFF_TRUNCATED;
        p += length;
    } else {
        p = DeltaCursorPos(&header);
    }

    // An encoder always writes at least one window, even for an empty
    // target; a delta that stops after its header was cut short.
    if (p >= deltaSize) return VCDIFF_TRUNCATED;
    while (p < deltaSize) {
        DeltaCursorOpenIn(&header, d->delta, p, deltaSize, d->target, 0);
        int r = DecodeWindow(d, &header, &p);
        if (r != VCDIFF_OK) return r;
    }
    return VCDIFF_OK;
}

}  // namespace

int VcdiffDecodeFiles(const DeltaFile *source, const DeltaFile *delta, const DeltaTarget *target,
                      DWORD *targetSize) {
    Decode d;
    d.source = source;
    d.delta = delta;
    d.target = target;
    d.written = 0;
    int r = DecodeAll(&d);
    if (targetSize) *targetSize = r == VCDIFF_OK ? d.written : 0;
    return r;
}

int VcdiffDecode(const BYTE *source, DWORD sourceSize, const BYTE *delta, DWORD deltaSize,
                 BYTE *target, DWORD capacity, DWORD *targetSize) {
    return DeltaDecodeInMemory(VcdiffDecodeFiles, source, sourceSize, delta, deltaSize, target, capacity, targetSize);
}

LPCSTR VcdiffResultText(int result) {
    static const LPCSTR kTexts[] = {
        kDeltaTextApplied,                                         // VCDIFF_OK
        kDeltaTextCutShort,                                        // VCDIFF_TRUNCATED
        "it is not VCDIFF",                                        // VCDIFF_BAD_HEADER
        "it uses compression or a code table this patcher lacks", // VCDIFF_UNSUPPORTED
        "a window is inconsistent",                                // VCDIFF_BAD_WINDOW
        "an instruction runs past its data",                       // VCDIFF_BAD_INSTRUCTION
        kDeltaTextOutside,                                         // VCDIFF_BAD_ADDRESS
        kDeltaTextTooLarge,                                        // VCDIFF_TOO_LARGE
        "a window's checksum does not match",                      // VCDIFF_BAD_CHECKSUM
        "a window is larger than this patcher takes",              // VCDIFF_WINDOW_TOO_LARGE
        kDeltaTextReadFailed,                                      // VCDIFF_READ_FAILED
        kDeltaTextWriteFailed,                                     // VCDIFF_WRITE_FAILED
    };
    static_assert(sizeof kTexts / sizeof *kTexts == VCDIFF_WRITE_FAILED + 1, "a text for every result");
    return result >= 0 && result <= VCDIFF_WRITE_FAILED ? kTexts[result] : kDeltaTextUnknown;
}
