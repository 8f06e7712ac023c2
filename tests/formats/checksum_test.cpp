// The installer's checksum, and the appended byte that gives the sample's
// version-check file the checksum the patch expects.
#include "formats/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

namespace formats {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(ChecksumTable, KnownEntries) {
  struct {
    int index;
    std::uint32_t value;
  } cases[] = {{0, 0}, {1, 0x77073096u}, {33, 1281953886u}, {128, 0xEDB88320u}, {255, 0x2D02EF8Du}};
  for (const auto& c : cases)
    EXPECT_EQ(ChecksumTableEntry(static_cast<std::uint8_t>(c.index)), c.value) << "entry " << c.index;
}

TEST(ChecksumBytes, KnownValues) {
  struct {
    std::vector<std::uint8_t> bytes;
    std::uint32_t expected;
    const char* what;
  } cases[] = {
      {Bytes("a"), 0x3AB551CEu, "\"a\" is entry 97"},
      {Bytes("abc"), 0x4FDFF252u, "\"abc\" is entry 163, not its CRC-32"},
      {std::vector<std::uint8_t>(100, 0), 0, "zero bytes keep the value 0"},
      {{}, 0, "no bytes"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChecksumBytes(c.bytes), c.expected) << c.what;
}

TEST(FileChecksum, StreamedFileMatchesOneCall) {
  std::vector<std::uint8_t> bytes(10000);
  std::mt19937 random(7);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  const auto path = std::filesystem::temp_directory_path() / "patchbuild_checksum_test.bin";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  EXPECT_EQ(FileChecksum(path), ChecksumBytes(bytes));
  std::filesystem::remove(path);
  EXPECT_EQ(FileChecksum(path), std::nullopt) << "a missing file has no checksum";
}

TEST(AppendChecksumByte, ReachesEveryTableEntryFromAnyState) {
  std::mt19937 random(11);
  for (int entry : {0, 1, 33, 128, 255}) {
    for (std::size_t size : {0u, 1u, 4097u}) {
      std::vector<std::uint8_t> bytes(size);
      for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
      const auto original = bytes;
      const std::uint32_t target = ChecksumTableEntry(static_cast<std::uint8_t>(entry));
      std::string why;
      ASSERT_TRUE(AppendChecksumByte(bytes, target, &why)) << "entry " << entry << ", size " << size << ": " << why;
      EXPECT_EQ(ChecksumBytes(bytes), target) << "entry " << entry << ", size " << size;
      EXPECT_EQ(bytes.size(), size + 1);
      EXPECT_TRUE(std::equal(original.begin(), original.end(), bytes.begin())) << "only appends";
    }
  }
}

TEST(AppendChecksumByte, RefusesAValueOutsideTheTable) {
  std::vector<std::uint8_t> bytes{1, 2, 3};
  std::string why;
  EXPECT_FALSE(AppendChecksumByte(bytes, 12345u, &why));
  EXPECT_NE(why.find("not an entry of the table"), std::string::npos) << why;
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace formats
