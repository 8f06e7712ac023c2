// The PIF template against a golden copy of its 967 bytes, both as built in
// memory and as the piftemplate tool wrote it for the installer
// (generated/pcpcwf.pif); and the fields the installer fills in
// (common/contract.h) against the layout of the format.
//
// data/pif_template.golden was written by `build/tools/piftemplate
// tests/tools/data/pif_template.golden` while the tool's output still matched,
// byte for byte, a field table written out by hand from the PIF format's
// tables. Regenerate it the same way only for a deliberate change of the
// template, after checking each changed byte (`cmp -l old new`) against the
// format.
#include "pif_template.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace piftemplate {
namespace {

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path << " is missing";
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> Golden() { return ReadBytes(std::filesystem::path(TEST_DATA_DIR) / "pif_template.golden"); }

// The offsets where two files differ, the first few with their bytes.
std::string Differences(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want) {
  std::string out;
  int shown = 0;
  for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
    if (got[i] == want[i]) continue;
    if (++shown > 8) return out + " ...";
    char line[48];
    std::snprintf(line, sizeof line, " [%zu] %02x, expected %02x;", i, got[i], want[i]);
    out += line;
  }
  return out;
}

void ExpectGolden(const std::vector<std::uint8_t>& pif) {
  const std::vector<std::uint8_t> golden = Golden();
  ASSERT_EQ(golden.size(), std::size_t{PIF_TEMPLATE_SIZE});
  ASSERT_EQ(pif.size(), golden.size());
  EXPECT_TRUE(pif == golden) << "differs from the golden file at" << Differences(pif, golden);
}

TEST(PifTemplate, BytesMatchTheGoldenFile) { ExpectGolden(BuildPifTemplate()); }

TEST(PifTemplate, TheFileTheInstallerIsBuiltWithIsTheTemplate) {
  ExpectGolden(ReadBytes(std::filesystem::path(GENERATED_DIR) / "pcpcwf.pif"));
}

// The golden file cannot tell where the installer writes: its fields are
// zero there. The format's offsets are stated here on purpose, apart from
// the contract, so that a wrong offset there fails.
TEST(PifTemplate, TheInstallerWritesItsFieldsWhereTheFormatHasThem) {
  const std::vector<std::uint8_t> pif = Golden();
  ASSERT_EQ(pif.size(), std::size_t{PIF_TEMPLATE_SIZE});
  const struct {
    const char* field;
    std::size_t offset, size, written;  // the contract's
    std::size_t formatOffset, formatSize;
  } fields[] = {
      {"program file name", PIF_PROGRAM, PIF_PROGRAM_SIZE, PIF_PROGRAM_WRITTEN, 36, 63},
      {"start-up directory", PIF_DIRECTORY, PIF_DIRECTORY_SIZE, PIF_DIRECTORY_WRITTEN, 101, 64},
      {"parameters", PIF_PARAMETERS, PIF_PARAMETERS_SIZE, PIF_PARAMETERS_WRITTEN, 165, 64},
      {"Windows 386 parameters", PIF_WIN386_PARAMETERS, PIF_WIN386_PARAMETERS_SIZE, PIF_WIN386_PARAMETERS_WRITTEN,
       453, 64},
  };
  for (const auto& f : fields) {
    SCOPED_TRACE(f.field);
    EXPECT_EQ(f.offset, f.formatOffset);
    EXPECT_EQ(f.size, f.formatSize);
    // The installer writes only the first `written` bytes and relies on the
    // rest of the field being zero already.
    for (std::size_t i = f.written; i < f.size; ++i) EXPECT_EQ(pif[f.offset + i], 0) << "byte " << i;
  }
  // The template's program name lies where the installer's does, and the
  // Windows 386 parameters lie 40 bytes into the data its heading points to.
  EXPECT_EQ(std::string(pif.begin() + PIF_PROGRAM, pif.begin() + PIF_PROGRAM + 10), std::string("PATCH.EXE\0", 10));
  const std::size_t win386 = pif[PIF_HEADING2 + PIF_HEADING_DATA_OFFSET] |
                             pif[PIF_HEADING2 + PIF_HEADING_DATA_OFFSET + 1] << 8;
  EXPECT_EQ(win386 + 40, std::size_t{PIF_WIN386_PARAMETERS});
}

}  // namespace
}  // namespace piftemplate
