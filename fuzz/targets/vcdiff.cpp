// The VCDIFF decoder on any delta. The input is the source file's length
// (two bytes, little-endian, cut to what the input holds), the source, and
// then the delta.
//
// Besides never reading or writing outside its buffers, a decode must not
// depend on the room it is given beyond the size it reports: with exactly
// that room it decodes the same bytes, and with one byte less it reports
// VCDIFF_TOO_LARGE.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "vcdiff.h"

namespace {

const DWORD kCapacity = 1u << 18;

// Decodes into a heap buffer of exactly `capacity` bytes.
int Decode(const std::vector<BYTE> &source, const std::vector<BYTE> &delta, DWORD capacity,
           std::vector<BYTE> *out)
{
    std::unique_ptr<BYTE[]> target(capacity ? new BYTE[capacity] : nullptr);
    DWORD written = 0xFFFFFFFF;
    const int r = VcdiffDecode(source.empty() ? nullptr : source.data(), (DWORD)source.size(),
                               delta.empty() ? nullptr : delta.data(), (DWORD)delta.size(),
                               target.get(), capacity, &written);
    FUZZ_CHECK(VcdiffResultText(r) != nullptr, "no text for %d", r);
    if (r != VCDIFF_OK) {
        FUZZ_CHECK(written == 0, "result %d with %u bytes written", r, written);
        return r;
    }
    FUZZ_CHECK(written <= capacity, "%u bytes written into %u", written, capacity);
    out->assign(target.get(), target.get() + written);
    return r;
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
    const std::vector<BYTE> delta(bytes + 2 + sourceSize, bytes + size);

    std::vector<BYTE> first;
    if (Decode(source, delta, kCapacity, &first) != VCDIFF_OK)
        return 0;

    const DWORD decoded = (DWORD)first.size();
    std::vector<BYTE> second;
    const int exact = Decode(source, delta, decoded, &second);
    FUZZ_CHECK(exact == VCDIFF_OK && second == first,
               "with exactly %u bytes of room: result %d, %zu bytes", decoded, exact,
               second.size());
    if (decoded > 0) {
        std::vector<BYTE> third;
        const int shorter = Decode(source, delta, decoded - 1, &third);
        FUZZ_CHECK(shorter == VCDIFF_TOO_LARGE, "with %u bytes of room for %u: result %d",
                   decoded - 1, decoded, shorter);
    }
    return 0;
}
