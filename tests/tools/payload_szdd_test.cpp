// The SZDD packer, read back by libmspack.
#include "payload_szdd.h"

#include <gtest/gtest.h>

#include <string>

#include "libmspack_expand.h"

namespace patchbuild {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> Noise(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 24);
  }
  return v;
}

std::vector<std::uint8_t> Twice(std::vector<std::uint8_t> v) {
  const std::size_t n = v.size();
  v.insert(v.end(), v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
  return v;
}

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
      {"shorter than a match", Bytes("MZP"), 'l', 0},
      {"eight literals fill one flag byte exactly", Bytes("abcdefgh"), 'l', 0},
      {"blanks, what the window starts with", std::vector<std::uint8_t>(100, ' '), 'd', 0},
      {"a long run: matches that overlap their own output", std::vector<std::uint8_t>(10000, 'x'), 'l', 1300},
      {"zeros past a window", std::vector<std::uint8_t>(70000, 0), 'l', 8500},
      {"repeating text", Bytes(text), 'l', text.size() / 3},
      {"noise, nothing to match", Noise(70000, 7), 'l', 0},
      {"a repeat exactly one window less one back", Twice(Noise(4095, 3)), 'l', 4095 + 4095 / 2},
      {"a repeat a whole window back, out of reach", Twice(Noise(4096, 5)), 'l', 0},
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
