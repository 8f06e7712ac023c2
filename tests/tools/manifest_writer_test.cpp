// The manifest strings written for a description.
#include "manifest_writer.h"

#include <gtest/gtest.h>

namespace patchbuild {
namespace {

TEST(ManifestWriter, SmallDescriptionGivesEveryString) {
  const char text[] = R"(product-name "Tolvane Wayfront"
registry-name "Tolvane \"W\""
version-check wf.exe
expected-version "VERSION 95.0.b"
new-version "95.0.C"
patcher patch.exe
patcher-data patch.rtp
block 1000 "2 Count of files to extract"
  patch.ex_ patch.exe
  patch.rt_ patch.rtp plain
  extra "empty" "empty"
block 2000 "1 Count of files to copy from appdir to patch dir"
  wf.exe
block 4000 "1 move"
  wf.exe
block 6000 "2 delete"
  patch.exe
  patch.rtp
)";
  Description d;
  std::vector<Diagnostic> diagnostics;
  ParseDescription(text, "dir/small.patch", d, diagnostics);
  ASSERT_TRUE(diagnostics.empty()) << diagnostics[0].Text();
  // Without an expected-checksum there is no string 102: the installer
  // then trusts the version string alone.
  const std::string withoutChecksum = WriteManifestRc(d);
  EXPECT_EQ(withoutChecksum.find("    102 "), std::string::npos);
  d = Description();
  ParseDescription("expected-checksum 4294967295\n" + std::string(text), "dir/small.patch", d, diagnostics);
  ASSERT_TRUE(diagnostics.empty()) << diagnostics[0].Text();
  EXPECT_EQ(WriteManifestRc(d),
            "// The manifest of the Tolvane Wayfront patch, written by patchbuild from\n"
            "// small.patch. Edit the description, not this file.\n"
            "STRINGTABLE\n"
            "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n"
            "BEGIN\n"
            "    100 \"wf.exe\"\n"
            "    101 \"VERSION 95.0.b\"\n"
            "    102 \"4294967295 Checksum for Version check file in decimal\"\n"
            "    1000 \"2 Count of files to extract\"\n"
            "    1001 \"patch.ex_\"\n"
            "    1002 \"patch.rt_\"\n"
            "    1003 \"empty\"\n"
            "    1101 \"patch.exe\"\n"
            "    1102 \"patch.rtp\"\n"
            "    1103 \"empty\"\n"
            "    2000 \"1 Count of files to copy from appdir to patch dir\"\n"
            "    2001 \"wf.exe\"\n"
            "    4000 \"1 move\"\n"
            "    4001 \"wf.exe\"\n"
            "    6000 \"2 delete\"\n"
            "    6001 \"patch.exe\"\n"
            "    6002 \"patch.rtp\"\n"
            "    7000 \"patch.exe\"\n"
            "    7001 \"patch.rtp\"\n"
            "    8000 \"Tolvane \"\"W\"\"\"\n"
            "END\n");
}

TEST(ManifestWriter, ChecksumStringAndQuoting) {
  EXPECT_EQ(ChecksumString(1281953886u), "1281953886 Checksum for Version check file in decimal");
  EXPECT_EQ(ChecksumString(0), "0 Checksum for Version check file in decimal");
  EXPECT_EQ(RcQuote("a\\b \"c\""), "\"a\\\\b \"\"c\"\"\"");
}

}  // namespace
}  // namespace patchbuild
