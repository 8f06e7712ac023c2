// The built sample product: the contract that the installer's scenario and
// Wine tests rely on (build/sample/before, build/sample/after and the
// generated manifest).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "formats/checksum.h"
#include "formats/pe_version.h"

namespace fs = std::filesystem;

namespace patchbuild {
namespace {

const fs::path kBuild = SAMPLE_BUILD_DIR;
const fs::path kInstall = "drive_c/Program Files/Quenmark/Wayfront";
const fs::path kShared = "drive_c/Quenmark/Shared";

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(Sample, VersionCheckFilePassesTheProbeBeforeAndNotAfter) {
  const fs::path before = kBuild / "before" / kInstall / "wayfront.exe";
  const fs::path after = kBuild / "after" / kInstall / "wayfront.exe";
  EXPECT_EQ(formats::FileVersionString(before, "ProductVersion"), std::optional<std::string>("VERSION 95.0.b"));
  EXPECT_EQ(formats::FileChecksum(before), std::optional<std::uint32_t>(1281953886u));
  EXPECT_EQ(formats::FileVersionString(after, "ProductVersion"), std::optional<std::string>("VERSION 95.0.C"));
  EXPECT_NE(formats::FileChecksum(after), std::optional<std::uint32_t>(1281953886u));
}

TEST(Sample, EveryFileHasAVersionResourceAndEveryChangeChangesBytes) {
  for (const char* side : {"before", "after"}) {
    for (const auto& entry : fs::recursive_directory_iterator(kBuild / side / "drive_c")) {
      if (!entry.is_regular_file()) continue;
      EXPECT_TRUE(formats::FileVersionString(entry.path(), "FileVersion").has_value()) << entry.path();
      EXPECT_TRUE(formats::FileVersionString(entry.path(), "ProductVersion").has_value()) << entry.path();
    }
  }
  for (const char* name : {"wayfront.exe", "wfcore.dll", "wfview.dll", "wfprint.dll", "wfnet.dll", "wfspell.dll"})
    EXPECT_NE(Read(kBuild / "before" / kInstall / name), Read(kBuild / "after" / kInstall / name)) << name;
  EXPECT_EQ(Read(kBuild / "before" / kInstall / "wfconv.dll"), Read(kBuild / "after" / kInstall / "wfconv.dll"));
}

TEST(Sample, SharedDirectoryAfterThePatch) {
  struct {
    const char* name;
    const char* before;  // FileVersion, "" for absent
    const char* after;
  } cases[] = {
      {"qmgfx32.dll", "", "2.1.0.7"},        {"qmfont32.dll", "3.0.0.9", "3.0.0.21"},
      {"qmimg32.dll", "1.5.0.0", "1.5.0.0"}, {"qmtext32.dll", "4.2.0.1", "4.2.0.1"},
      {"qmcomm.dll", "2.0.0.4", "2.0.0.5"},  {"qmlink.dll", "1.0.0.2", "1.1.0.0"},
      {"qmport.vxd", "", "4.0.0.3"},         {"qmzip32.dll", "", "1.0.0.1"},
      {"qmmeter.dll", "", "1.2.0.0"},        {"qmrun32.dll", "5.0.0.1", "5.0.0.2"},
      {"qmhelp32.dll", "", "2.0.0.0"},       {"qmdraw.dll", "1.0.0.3", ""},
      {"qmsound.dll", "1.1.0.0", "1.1.0.0"}, {"qmcalc.dll", "1.0.0.1", ""},
      {"qmprint.dll", "2.0.0.2", "2.0.0.2"}, {"qmdde.dll", "1.0.0.0", ""},
      {"qmdlg.dll", "1.3.0.0", ""},          {"qmhook.dll", "1.0.0.5", ""},
  };
  for (const auto& c : cases) {
    for (const auto& [side, expected] : {std::make_pair("before", c.before), std::make_pair("after", c.after)}) {
      const auto got = formats::FileVersionString(kBuild / side / kShared / c.name, "FileVersion");
      EXPECT_EQ(got.value_or(""), expected) << c.name << " " << side;
    }
  }
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator(kBuild / "after" / kShared)) count += entry.is_regular_file();
  EXPECT_EQ(count, 13u) << "no replacement name or stray file is left";
  EXPECT_FALSE(fs::exists(kBuild / "after" / kInstall / "PatchB2C"));
}

TEST(Sample, ManifestCarriesTheChecksumAndTheProductName) {
  const std::string rc = Read(SAMPLE_MANIFEST);
  for (const char* line : {"    102 \"1281953886 Checksum for Version check file in decimal\"\n",
                           "    1000 \"14 Count of files to extract\"\n",
                           "    2000 \"5 Count of files to copy from appdir to patch dir\"\n",
                           "    1015 \"empty\"\n", "    1115 \"empty\"\n", "    4003 \"wfspell.dll\"\n",
                           "    8000 \"Tolvane Wayfront\"\n"})
    EXPECT_NE(rc.find(line), std::string::npos) << "missing: " << line;
}

}  // namespace
}  // namespace patchbuild
