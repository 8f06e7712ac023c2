// CRC-32 as patch.rtp records it: values checked against the reflected
// CRC-32 every zip tool computes (the check value of "123456789" is the
// one published with the algorithm).
#include <gtest/gtest.h>

#include <string>

#include "crc32.h"

namespace {

DWORD CrcOf(const std::string &text) {
    return Crc32(reinterpret_cast<const BYTE *>(text.data()), static_cast<DWORD>(text.size()));
}

TEST(Crc32Test, KnownValues) {
    struct Case {
        std::string text;
        DWORD crc;
    } cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},                                    // the check value
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},  // as zlib's crc32()
        {std::string(1, '\0'), 0xD202EF8Du},
        {std::string(4, '\xFF'), 0xFFFFFFFFu},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.crc, CrcOf(c.text)) << "text \"" << c.text << "\" (" << c.text.size() << " bytes)";
}

// The patcher reads files through a small buffer: the running CRC over
// pieces must equal the CRC of the whole, wherever the pieces are cut.
TEST(Crc32Test, PiecesGiveTheCrcOfTheWhole) {
    const std::string text = "Tolvane Wayfront 95.0.C, chart drawing and tide tables";
    const DWORD whole = CrcOf(text);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        DWORD running = Crc32Update(CRC32_START, reinterpret_cast<const BYTE *>(text.data()),
                                    static_cast<DWORD>(cut));
        running = Crc32Update(running, reinterpret_cast<const BYTE *>(text.data()) + cut,
                              static_cast<DWORD>(text.size() - cut));
        EXPECT_EQ(whole, Crc32Finish(running)) << "cut at " << cut;
    }
}

}  // namespace
