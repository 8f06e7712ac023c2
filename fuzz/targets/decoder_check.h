// What the two delta decoders' fuzz targets share: the input split into a
// source and the rest, and the checks every decode must pass. A decoder
// never reads or writes outside its buffers (the sanitizers see to that),
// names every result, writes nothing on a failure, and does not depend on
// the room it is given beyond the size it reports: with exactly that room
// it decodes the same bytes, and with one byte less it reports that the
// result is too large. Through files, with a small window and read buffers
// of a few bytes, it comes to the same result and bytes.
#ifndef WF_FUZZ_DECODER_CHECK_H
#define WF_FUZZ_DECODER_CHECK_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "file_route.h"
#include "fuzz_check.h"
#include "platform/win32.h"

struct Decoder {
    int (*decode)(const BYTE *source, DWORD sourceSize, const BYTE *delta, DWORD deltaSize, BYTE *target,
                  DWORD capacity, DWORD *targetSize);
    LPCSTR (*resultText)(int result);
    int ok;
    int tooLarge;
    DeltaDecodeFiles throughFiles;
    DWORD window;  // 0: a window of the whole room, as VCDIFF's windows need
};

// The input as the source's length (two bytes, little-endian, cut to what
// the input holds), the source, and the rest. False for an input too short
// or too long to try.
inline bool SplitSourceAndRest(const uint8_t *bytes, size_t size, std::vector<BYTE> *source,
                               std::vector<BYTE> *rest)
{
    if (size < 2 || size > (1u << 20))
        return false;
    size_t sourceSize = bytes[0] | (bytes[1] << 8);
    if (sourceSize > size - 2)
        sourceSize = size - 2;
    source->assign(bytes + 2, bytes + 2 + sourceSize);
    rest->assign(bytes + 2 + sourceSize, bytes + size);
    return true;
}

// Decodes into a heap buffer of exactly `capacity` bytes.
inline int DecodeInto(const Decoder &decoder, const std::vector<BYTE> &source, const std::vector<BYTE> &delta,
                      DWORD capacity, std::vector<BYTE> *out)
{
    std::unique_ptr<BYTE[]> target(capacity ? new BYTE[capacity] : nullptr);
    DWORD written = 0xFFFFFFFF;
    const int r = decoder.decode(source.empty() ? nullptr : source.data(), (DWORD)source.size(),
                                 delta.empty() ? nullptr : delta.data(), (DWORD)delta.size(), target.get(),
                                 capacity, &written);
    FUZZ_CHECK(decoder.resultText(r) != nullptr, "no text for %d", r);
    FileRoute route;
    route.window = decoder.window ? decoder.window : capacity;
    route.buffers = 4 * 3;
    const RouteResult files = DecodeThroughFiles(decoder.throughFiles, source, delta, capacity, route);
    FUZZ_CHECK(files.result == r && !files.outOfBounds, "through files: result %d, in memory %d", files.result, r);
    FUZZ_CHECK(r != decoder.ok || (files.size == written && files.written == std::vector<BYTE>(target.get(), target.get() + written)),
               "through files: other bytes");
    if (r != decoder.ok) {
        FUZZ_CHECK(written == 0, "result %d with %u bytes written", r, written);
        return r;
    }
    FUZZ_CHECK(written <= capacity, "%u bytes written into %u", written, capacity);
    out->assign(target.get(), target.get() + written);
    return r;
}

// Decodes with `capacity` bytes of room and, when that works, again with
// exactly the room the result needs and with one byte less.
inline void CheckDecoder(const Decoder &decoder, const std::vector<BYTE> &source, const std::vector<BYTE> &delta,
                         DWORD capacity)
{
    std::vector<BYTE> first;
    if (DecodeInto(decoder, source, delta, capacity, &first) != decoder.ok)
        return;
    const DWORD decoded = (DWORD)first.size();
    std::vector<BYTE> second;
    const int exact = DecodeInto(decoder, source, delta, decoded, &second);
    FUZZ_CHECK(exact == decoder.ok && second == first, "with exactly %u bytes of room: result %d, %zu bytes",
               decoded, exact, second.size());
    if (decoded > 0) {
        std::vector<BYTE> third;
        const int shorter = DecodeInto(decoder, source, delta, decoded - 1, &third);
        FUZZ_CHECK(shorter == decoder.tooLarge, "with %u bytes of room for %u: result %d", decoded - 1, decoded,
                   shorter);
    }
}

#endif
