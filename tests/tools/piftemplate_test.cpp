// The PIF template checked field by field against the installer's tables,
// both as built in memory and as the piftemplate tool wrote it for the
// installer (generated/pcpcwf.pif).
#include "pif_template.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace piftemplate {
namespace {

struct Expected {
  std::size_t offset;
  std::size_t size;
  std::uint32_t number;  // when text is null
  const char* text;      // zero-padded to size
};

// Every non-zero field, written out from the tables independently of the
// tool's own table.
const Expected kExpected[] = {
    {1, 1, 0x78, nullptr},
    {2, 30, 0, "PATCH                         "},
    {32, 2, 640, nullptr},
    {36, 63, 0, "PATCH.EXE"},
    {99, 1, 0x10, nullptr},
    {230, 1, 1, nullptr},
    {232, 1, 0xFF, nullptr},
    {233, 1, 25, nullptr},
    {234, 1, 80, nullptr},
    {237, 2, 7, nullptr},
    // headings: name, next, data offset, data length
    {369, 16, 0, "MICROSOFT PIFEX"},
    {385, 2, 391, nullptr},
    {387, 2, 0, nullptr},
    {389, 2, 369, nullptr},
    {391, 16, 0, "WINDOWS 386 3.0"},
    {407, 2, 517, nullptr},
    {409, 2, 413, nullptr},
    {411, 2, 104, nullptr},
    {517, 16, 0, "WINDOWS VMM 4.0"},
    {533, 2, 0xFFFF, nullptr},
    {535, 2, 539, nullptr},
    {537, 2, 428, nullptr},
    // WINDOWS 386 3.0 data
    {413, 2, 640, nullptr},
    {417, 2, 100, nullptr},
    {419, 2, 50, nullptr},
    {421, 2, 0xFFFF, nullptr},
    {425, 2, 0xFFFF, nullptr},
    {429, 4, 0x21002, nullptr},
    {433, 4, 0x1F, nullptr},
    // WINDOWS VMM 4.0 data (section offset + 539)
    {539 + 88, 11, 0, "PIFMGR.DLL"},
    {539 + 234, 9, 0, "Terminal"},
    {539 + 266, 12, 0, "Courier New"},
    {539 + 170, 2, 2, nullptr},
    {539 + 182, 2, 50, nullptr},
    {539 + 184, 2, 1, nullptr},
    {539 + 196, 2, 1, nullptr},
    {539 + 200, 2, 5, nullptr},
    {539 + 202, 2, 25, nullptr},
    {539 + 204, 2, 3, nullptr},
    {539 + 206, 2, 200, nullptr},
    {539 + 208, 2, 1000, nullptr},
    {539 + 210, 2, 2, nullptr},
    {539 + 212, 2, 10, nullptr},
    {539 + 214, 2, 1, nullptr},
    {539 + 222, 2, 28, nullptr},
    {539 + 300, 2, 3, nullptr},
    {539 + 316, 2, 22, nullptr},
    {539 + 426, 2, 1, nullptr},
};

std::string Hex(const std::vector<std::uint8_t>& pif, std::size_t offset, std::size_t size) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < size && offset + i < pif.size(); ++i) {
    std::snprintf(b, sizeof b, "%02x ", pif[offset + i]);
    s += b;
  }
  return s;
}

void CheckTemplate(const std::vector<std::uint8_t>& pif) {
  ASSERT_EQ(pif.size(), 967u);
  std::vector<bool> listed(pif.size(), false);
  for (const Expected& e : kExpected) {
    std::vector<std::uint8_t> want(e.size, 0);
    if (e.text != nullptr) {
      for (std::size_t i = 0; e.text[i] != '\0'; ++i) want[i] = static_cast<std::uint8_t>(e.text[i]);
    } else {
      for (std::size_t i = 0; i < e.size; ++i) want[i] = static_cast<std::uint8_t>(e.number >> (8 * i));
    }
    const std::vector<std::uint8_t> got(pif.begin() + static_cast<std::ptrdiff_t>(e.offset),
                                        pif.begin() + static_cast<std::ptrdiff_t>(e.offset + e.size));
    EXPECT_EQ(got, want) << "field at offset " << e.offset << ": got " << Hex(pif, e.offset, e.size)
                         << ", expected " << Hex(want, 0, e.size);
    for (std::size_t i = 0; i < e.size; ++i) listed[e.offset + i] = true;
  }
  for (std::size_t i = 0; i < pif.size(); ++i) {
    if (!listed[i]) {
      EXPECT_EQ(pif[i], 0) << "unlisted byte at offset " << i;
    }
  }
}

TEST(PifTemplate, BytesMatchTheTables) { CheckTemplate(BuildPifTemplate()); }

TEST(PifTemplate, FieldsTheInstallerFillsInLeaveZerosBeyondWhatItWrites) {
  // The installer writes 57, 47, 63 and 63 bytes into these fields and
  // relies on the rest of each field being zero already.
  const std::vector<std::uint8_t> pif = BuildPifTemplate();
  const struct {
    std::size_t offset, written, width;
  } fields[] = {{36, 57, 63}, {101, 47, 64}, {165, 63, 64}, {453, 63, 64}};
  for (const auto& f : fields)
    for (std::size_t i = f.written; i < f.width; ++i)
      EXPECT_EQ(pif[f.offset + i], 0) << "field at " << f.offset << ", byte " << i;
}

TEST(PifTemplate, TheFileTheInstallerIsBuiltWithIsTheTemplate) {
  std::ifstream in(std::filesystem::path(GENERATED_DIR) / "pcpcwf.pif", std::ios::binary);
  ASSERT_TRUE(in) << "generated/pcpcwf.pif is missing";
  CheckTemplate({std::istreambuf_iterator<char>(in), {}});
}

}  // namespace
}  // namespace piftemplate
