// The messages and the progress dialog: a replaced message, and the binary
// resources the builder encodes held against what windres made of the
// sample (build/wfpatch.res, compiled from generated/texts.rc and
// generated/manifest.rc). The refusals are in description_test.cpp; the
// sample's texts as the user reads them in tests/unit/resources_test.cpp.
#include "texts.h"

#include <gtest/gtest.h>

#include "good_description.h"

#include "formats/res_file.h"
#include "manifest_writer.h"

namespace patchbuild {
namespace {

constexpr std::uint16_t kRtDialog = 5, kRtString = 6;

const char kSmall[] = R"(product-name     "Tolvane Quayside"
registry-name    "Tolvane Quayside"
version-check    quayside.exe
expected-version "VERSION 3.1"
new-version      "3.2"
)"
    "message 209 \"Mettre {product} {version} \\\"{new-version}\\\" \xE0 jour ?\"\n"
    "message 201 \"{product} - Correctif\"\n"
    "message 200 \"Version %s trouv\xE9" "e, %s attendue.\"\n"
    R"(block 1000 "1 payload"
  qs.dl_ qs.dll
block 2000 "1 patched"
  quayside.exe
block 4000 "1 moved"
  quayside.exe
)";

TEST(Texts, ReplacedMessagesFillPlaceholdersAndLeaveTheRest) {
  const Description d = ParseGoodDescription(kSmall);
  const auto texts = MessageTexts(d);
  EXPECT_EQ(texts.at(MSG_CONFIRM), "Mettre Tolvane Quayside 3.1 \"3.2\" \xE0 jour ?");
  EXPECT_EQ(texts.at(MSG_WRONG_VERSION), "Version %s trouv\xE9" "e, %s attendue.");
  EXPECT_EQ(texts.at(MSG_NOT_ENGLISH), "Unable to find the English version of Tolvane Quayside");
  const DialogTexts dialog = ProgressDialogTexts(d);
  EXPECT_EQ(dialog.caption, "Tolvane Quayside - Correctif") << "the dialog's caption is message 201";
  EXPECT_EQ(dialog.status, "Searching for installation of Tolvane Quayside");
  const std::string rc = WriteTextsRc(d);
  EXPECT_NE(rc.find("    209 \"Mettre Tolvane Quayside 3.1 \"\"3.2\"\" \xE0 jour ?\"\n"), std::string::npos) << rc;
  EXPECT_NE(rc.find("CAPTION \"Tolvane Quayside - Correctif\"\n"), std::string::npos) << rc;
}

// windres reads the script's bytes as code page 1252 (observed with
// i686-w64-mingw32-windres on "\x80\x81\x9F\xE9"): the five bytes 1252
// leaves undefined keep their value.
TEST(Texts, Cp1252ToUtf16AsWindres) {
  EXPECT_EQ(Cp1252ToUtf16("a\x80\x81\x8D\x9F\xE9\xFF"), (std::u16string{u'a', 0x20AC, 0x81, 0x8D, 0x178, 0xE9, 0xFF}));
}

TEST(Texts, EncodersMatchWindresForTheSample) {
  Description d;
  std::vector<Diagnostic> diagnostics;
  ASSERT_TRUE(LoadDescription(SAMPLE_DESCRIPTION, d, diagnostics));
  std::vector<formats::ResEntry> res;
  ASSERT_TRUE(formats::ReadResFile(SAMPLE_RES_FILE, res)) << SAMPLE_RES_FILE;

  std::map<int, std::string> strings = ManifestStrings(d);
  for (const auto& [id, text] : MessageTexts(d)) strings[id] = text;
  const std::map<int, std::string> blocks = EncodeStringBlocks(strings);
  std::map<int, std::string> windresBlocks;
  std::string windresDialog;
  for (const formats::ResEntry& e : res) {
    if (e.type == kRtString) windresBlocks[e.id] = e.bytes;
    if (e.type == kRtDialog && e.id == IDD_PROGRESS) windresDialog = e.bytes;
  }
  ASSERT_EQ(blocks.size(), windresBlocks.size());
  for (const auto& [block, bytes] : windresBlocks) {
    ASSERT_TRUE(blocks.count(block)) << "block " << block;
    EXPECT_EQ(blocks.at(block), bytes) << "block " << block << " (strings " << (block - 1) * 16 << " to "
                                       << (block - 1) * 16 + 15 << ")";
  }
  EXPECT_EQ(EncodeProgressDialog(ProgressDialogTexts(d)), windresDialog);
}

}  // namespace
}  // namespace patchbuild
