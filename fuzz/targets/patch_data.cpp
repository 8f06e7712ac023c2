// patch.rtp as the patcher reads it: the header and entry checks on any
// bytes, then the same bytes with a correct CRC-32 so that mutations reach
// the entries, and each entry's delta through the VCDIFF decoder as the
// patcher would apply it.
#include <cstring>
#include <vector>

#include "formats/crc32.h"
#include "fuzz_check.h"
#include "patch_data.h"
#include "vcdiff.h"

namespace {

void CheckEntries(const BYTE *data, DWORD size, DWORD count)
{
    DWORD offset = PATCH_HEADER_SIZE;
    for (DWORD i = 0; i < count; ++i) {
        PatchEntry entry;
        const DWORD before = offset;
        const int r = PatchDataNextEntry(data, size, &offset, &entry);
        FUZZ_CHECK(r == PATCHDATA_OK, "entry %u of %u: %s after a passed check", i, count,
                   PatchDataResultText(r));
        FUZZ_CHECK(offset > before && offset <= size, "entry %u: offset %u -> %u of %u", i, before,
                   offset, size);
        const size_t nameLength = std::strlen(entry.name);
        FUZZ_CHECK(nameLength >= 1 && nameLength <= PATCH_NAME_MAX &&
                       PatchNameIsValid(entry.name, (DWORD)nameLength),
                   "entry %u: name of %zu characters", i, nameLength);
        FUZZ_CHECK(entry.delta >= data && entry.deltaSize <= size &&
                       (DWORD)(entry.delta - data) <= size - entry.deltaSize,
                   "entry %u: delta outside the data", i);
        FUZZ_CHECK((DWORD)(entry.delta - data) + entry.deltaSize == offset,
                   "entry %u: the next entry does not follow the delta", i);

        // The patcher's next step: the delta against the old file, into a
        // buffer of the new size. Sizes are the entry's claim, so only
        // modest ones are tried.
        if (entry.oldSize <= (1u << 16) && entry.newSize <= (1u << 16)) {
            std::vector<BYTE> old(entry.oldSize, 0x5A);
            std::vector<BYTE> target(entry.newSize);
            DWORD written = 0xFFFFFFFF;
            const int v = VcdiffDecode(old.data(), entry.oldSize, entry.delta, entry.deltaSize,
                                       target.data(), entry.newSize, &written);
            FUZZ_CHECK(v == VCDIFF_OK ? written <= entry.newSize : written == 0,
                       "entry %u: decode %d wrote %u", i, v, written);
        }
    }
    FUZZ_CHECK(offset == size, "entries end at %u of %u", offset, size);
}

void CheckData(const BYTE *data, DWORD size)
{
    DWORD count = 12345;
    const int r = PatchDataCheck(data, size, &count);
    FUZZ_CHECK(PatchDataResultText(r) != nullptr, "no text for %d", r);
    if (r != PATCHDATA_OK) {
        FUZZ_CHECK(count == 0, "count %u after %s", count, PatchDataResultText(r));
        return;
    }
    FUZZ_CHECK(count == ReadLe16(data + PATCH_HEADER_COUNT), "count %u", count);
    CheckEntries(data, size, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size > (1u << 20))
        return 0;
    // An exact-size copy, so that any read past the end is caught.
    std::vector<BYTE> data(bytes, bytes + size);
    CheckData(data.data(), (DWORD)size);

    // The same bytes with the CRC-32 the header should hold.
    if (size >= PATCH_HEADER_SIZE) {
        const DWORD crc = Crc32(data.data() + PATCH_HEADER_SIZE, (DWORD)size - PATCH_HEADER_SIZE);
        for (int i = 0; i < 4; ++i)
            data[PATCH_HEADER_CRC + i] = (BYTE)(crc >> (8 * i));
        CheckData(data.data(), (DWORD)size);
    }
    return 0;
}
