// The SZDD packer, read back by libmspack.
#include "payload_szdd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "libmspack_expand.h"
#include "szdd_inputs.h"

namespace patchbuild {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

struct Case {
  const char* what;
  std::vector<std::uint8_t> data;
  char last;
  std::size_t maxPacked;  // 0: no bound
};

TEST(PayloadSzdd, LibmspackExpandsEveryPackedFileToItsInput) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "Tide table line " + std::to_string(i % 17) + ": high water\r\n";
  const Case cases[] = {
      {"empty file", {}, 'e', 0},
      {"one byte", Bytes("M"), 'l', 0},
      {"two bytes", Bytes("MZ"), 'l', 0},
      {"three bytes, the shortest match, with nothing to match", Bytes("MZP"), 'l', 0},
      {"eight literals fill one flag byte exactly", Bytes("abcdefgh"), 'l', 0},
      // Six matches from the window's starting blanks: 102 bits. Without
      // them the first blank is a literal: 111 bits, 14 bytes.
      {"blanks, what the window starts with", std::vector<std::uint8_t>(100, ' '), 'd', 13},
      // Two literals and three matches from the starting blanks, 69 bits;
      // a literal blank first makes it 78 bits, 10 bytes.
      {"blanks after other bytes reach back into the starting blanks", Bytes("ab" + std::string(40, ' ')), 'd', 9},
      {"a long run: matches that overlap their own output", std::vector<std::uint8_t>(10000, 'x'), 'l', 1300},
      {"zeros past a window", std::vector<std::uint8_t>(70000, 0), 'l', 8500},
      {"repeating text", Bytes(text), 'l', text.size() / 3},
      {"noise, nothing to match", Noise(70000, 7), 'l', 0},
      {"a repeat exactly one window less one back", Twice(Noise(4095, 3)), 'l', 4095 + 4095 / 2},
      // The reader takes each byte before it writes one, so a source a
      // whole window back still holds it: 4096 literals and 228 matches.
      {"a repeat a whole window back, the farthest a match reaches", Twice(Noise(4096, 5)), 'l',
       (4096 * 9 + 228 * 17 + 7) / 8},
      {"a match whose source crosses the window's end", AcrossTheWindowEnd(), 'l', (30 * 9 + 17 + 7) / 8},
      {"a repeat further back than a window", Twice(Noise(5000, 9)), 'l', 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::uint8_t> packed = SzddCompress(c.data, c.last);
    const auto header = ReadSzddHeader(packed);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->method, 'A');
    EXPECT_EQ(header->lastCharacter, c.last);
    EXPECT_EQ(header->expandedSize, c.data.size());
    const auto expanded = ExpandWithLibmspack(packed);
    ASSERT_TRUE(expanded.has_value()) << "libmspack refused the file";
    EXPECT_EQ(expanded->missingChar, c.last);
    EXPECT_EQ(expanded->length, static_cast<std::int64_t>(c.data.size()));
    EXPECT_TRUE(expanded->expanded == c.data)
        << "expanded " << expanded->expanded.size() << " bytes, expected " << c.data.size() << " bytes";
    if (c.maxPacked != 0) {
      EXPECT_LE(packed.size(), kSzddHeaderSize + c.maxPacked) << "packed " << packed.size() << " bytes";
    }
  }
}

// The fewest bytes any SZDD file of `data` can have, by the format's own
// terms: each item is a literal (a flag bit and a byte) or a copy of 3 to
// 18 bytes from 1 to 4096 back in the reader's output, which starts behind
// 4096 blanks; every such copy the reader would expand to `data` is tried.
std::size_t SmallestPossibleSize(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> seen(4096, ' ');
  seen.insert(seen.end(), data.begin(), data.end());
  std::vector<std::size_t> bits(data.size() + 1, 0);
  for (std::size_t i = data.size(); i-- > 0;) {
    bits[i] = 9 + bits[i + 1];
    const std::size_t at = 4096 + i;
    for (std::size_t back = 1; back <= 4096; ++back) {
      for (std::size_t len = 1; len <= 18 && i + len <= data.size() && seen[at - back + len - 1] == seen[at + len - 1];
           ++len) {
        if (len >= 3) bits[i] = std::min(bits[i], 17 + bits[i + len]);
      }
    }
  }
  return kSzddHeaderSize + (bits[0] + 7) / 8;
}

TEST(PayloadSzdd, PacksToTheSmallestSizeTheFormatAllows) {
  // Taking the longest match at each step loses here: "abc" then
  // "defghijklmnopqrs" are two matches, 34 bits, where a literal "a" and
  // one match of "bcdefghijklmnopqrs" are 26. The first 23 bytes repeat
  // nothing, so they are 207 bits of literals; 233 bits in all, 30 bytes.
  const std::string greedyLoses = "abc#bcdefghijklmnopqrs#abcdefghijklmnopqrs";
  EXPECT_EQ(SzddCompress(Bytes(greedyLoses), 'x').size(), kSzddHeaderSize + 30);

  const struct {
    const char* what;
    std::vector<std::uint8_t> data;
  } cases[] = {
      {"a few letters", FewLetters(300, 21)},
      {"a few letters past a window", FewLetters(5000, 23)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::uint8_t> packed = SzddCompress(c.data, 'x');
    EXPECT_EQ(packed.size(), SmallestPossibleSize(c.data));
    const auto expanded = ExpandWithLibmspack(packed);
    ASSERT_TRUE(expanded.has_value()) << "libmspack refused the file";
    EXPECT_TRUE(expanded->expanded == c.data);
  }
}

TEST(PayloadSzdd, HeaderIsReadOnlyBehindTheWholeSignature) {
  std::vector<std::uint8_t> file = SzddCompress(Bytes("abc"), 'x');
  EXPECT_TRUE(ReadSzddHeader(file).has_value());
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
  } refused[] = {
      {"shorter than a header", std::vector<std::uint8_t>(file.begin(), file.begin() + 13)},
      {"SZDD with the wrong second half", {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x34, 'A', 'x', 3, 0, 0, 0}},
      {"a PE file", {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4, 0, 0, 0, 0xFF, 0xFF}},
  };
  for (const auto& r : refused) EXPECT_FALSE(ReadSzddHeader(r.bytes).has_value()) << r.what;
}

}  // namespace
}  // namespace patchbuild
