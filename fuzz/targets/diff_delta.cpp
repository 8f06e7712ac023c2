// The difference delta's decoder on any delta, and its encoder on any pair.
// The input is the old file's length (two bytes, little-endian, cut to
// what the input holds), the old file, and then the rest.
//
// The rest, as a delta: the decoder must never read or write outside its
// buffers, and must not depend on the room it is given beyond the size it
// reports: with exactly that room it decodes the same bytes, and with one
// byte less it reports DIFFDELTA_TOO_LARGE.
// The rest, as a new file (when it and the old file are 4 KB at most, to
// keep the runs quick): the builder's encoder makes a delta that decodes to
// exactly it.
#include <memory>
#include <string>
#include <vector>

#include "diff_delta.h"
#include "diff_delta_encode.h"
#include "fuzz_check.h"

namespace {

const DWORD kCapacity = 1u << 16;  // a random size field rarely asks for less
const size_t kLargestEncoded = 1u << 12;

// Decodes into a heap buffer of exactly `capacity` bytes.
int Decode(const std::vector<BYTE> &source, const std::vector<BYTE> &delta, DWORD capacity,
           std::vector<BYTE> *out)
{
    std::unique_ptr<BYTE[]> target(capacity ? new BYTE[capacity] : nullptr);
    DWORD written = 0xFFFFFFFF;
    const int r = DiffDeltaDecode(source.empty() ? nullptr : source.data(), (DWORD)source.size(),
                                  delta.empty() ? nullptr : delta.data(), (DWORD)delta.size(),
                                  target.get(), capacity, &written);
    FUZZ_CHECK(DiffDeltaResultText(r) != nullptr, "no text for %d", r);
    if (r != DIFFDELTA_OK) {
        FUZZ_CHECK(written == 0, "result %d with %u bytes written", r, written);
        return r;
    }
    FUZZ_CHECK(written <= capacity, "%u bytes written into %u", written, capacity);
    out->assign(target.get(), target.get() + written);
    return r;
}

void CheckDecoder(const std::vector<BYTE> &source, const std::vector<BYTE> &delta)
{
    std::vector<BYTE> first;
    if (Decode(source, delta, kCapacity, &first) != DIFFDELTA_OK)
        return;
    const DWORD decoded = (DWORD)first.size();
    std::vector<BYTE> second;
    const int exact = Decode(source, delta, decoded, &second);
    FUZZ_CHECK(exact == DIFFDELTA_OK && second == first,
               "with exactly %u bytes of room: result %d, %zu bytes", decoded, exact, second.size());
    if (decoded > 0) {
        std::vector<BYTE> third;
        const int shorter = Decode(source, delta, decoded - 1, &third);
        FUZZ_CHECK(shorter == DIFFDELTA_TOO_LARGE, "with %u bytes of room for %u: result %d",
                   decoded - 1, decoded, shorter);
    }
}

void CheckEncoder(const std::vector<BYTE> &source, const std::vector<BYTE> &target)
{
    std::vector<BYTE> delta;
    std::string error;
    FUZZ_CHECK(diffdelta::Encode(source, target, &delta, &error), "encoder refused: %s", error.c_str());
    std::vector<BYTE> back;
    const int r = Decode(source, delta, (DWORD)target.size(), &back);
    FUZZ_CHECK(r == DIFFDELTA_OK && back == target, "round trip of %zu bytes: result %d, %zu bytes",
               target.size(), r, back.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 2 || size > (1u << 20))
        return 0;
    size_t sourceSize = bytes[0] | (bytes[1] << 8);
    if (sourceSize > size - 2)
        sourceSize = size - 2;
    const std::vector<BYTE> source(bytes + 2, bytes + 2 + sourceSize);
    const std::vector<BYTE> rest(bytes + 2 + sourceSize, bytes + size);
    CheckDecoder(source, rest);
    if (source.size() <= kLargestEncoded && rest.size() <= kLargestEncoded)
        CheckEncoder(source, rest);
    return 0;
}
