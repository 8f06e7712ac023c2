// CRC-32 as patch.rtp records it: values checked against the reflected
// CRC-32 every zip tool computes (the check value of "123456789" is the
// one published with the algorithm).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "formats/crc32.h"

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

// Four bytes a step, then the rest one by one: every length and start
// (aligned or not) of random data gives what the bit-at-a-time definition
// gives, from any running value.
TEST(Crc32Test, AgreesWithTheBitwiseDefinitionOnRandomData) {
    auto bitwise = [](DWORD running, const BYTE *data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            running ^= data[i];
            for (int bit = 0; bit < 8; ++bit) running = (running & 1) ? (running >> 1) ^ 0xEDB88320u : running >> 1;
        }
        return running;
    };
    std::mt19937 random(20261208);
    std::vector<BYTE> data(4096 + 8);
    for (BYTE &b : data) b = static_cast<BYTE>(random());
    for (size_t start = 0; start < 8; ++start) {
        for (size_t size : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 31u, 255u, 1024u, 4093u, 4096u}) {
            const DWORD seed = static_cast<DWORD>(random());
            EXPECT_EQ(bitwise(seed, data.data() + start, size),
                      Crc32Update(seed, data.data() + start, static_cast<DWORD>(size)))
                << "start " << start << ", " << size << " bytes";
        }
    }
}

}  // namespace
