// The patch description: what a good one reads as, and every refusal with
// the file and line it names.
#include "description.h"

#include <gtest/gtest.h>

namespace patchbuild {
namespace {

const char kGood[] = R"(# a small patch
product-name     "Tolvane Wayfront"
registry-name    "Tolvane Wayfront"
version-check    wayfront.exe
expected-version "VERSION 95.0.b"
new-version      "95.0.C"
patcher          patch.exe
patcher-data     patch.rtp

block 1000 "3 Count of files to extract"
  patch.ex_  patch.exe
  patch.rt_  patch.rtp  plain
  qmfont32.dl_ qmfont32.dll
  extra "empty" "empty"
block 2000 2 Count of files to copy
  wayfront.exe
  wfcore.dll
block 3000 "1 added"
  qmfont32.dll
block 3100 "1 removed"
  qmold.dll
block 4000 "2 to the install directory"
  wayfront.exe
  wfcore.dll
block 6000 "2 to delete"
  patch.exe
  patch.rtp
)";

std::vector<Diagnostic> Parse(const std::string& text, Description* out = nullptr) {
  Description d;
  std::vector<Diagnostic> diagnostics;
  ParseDescription(text, "test.patch", d, diagnostics);
  if (out) *out = d;
  return diagnostics;
}

std::string All(const std::vector<Diagnostic>& diagnostics) {
  std::string s;
  for (const auto& d : diagnostics) s += "  " + d.Text() + "\n";
  return s.empty() ? "  (none)\n" : s;
}

int LineOf(const std::string& text, const std::string& needle) {
  const std::size_t at = text.find(needle);
  if (at == std::string::npos) return -1;
  int line = 1;
  for (std::size_t i = 0; i < at; ++i) line += text[i] == '\n';
  return line;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at == std::string::npos) return "(test error: \"" + from + "\" not in the description)";
  return text.replace(at, from.size(), to);
}

TEST(Description, GoodOneReadsAsWritten) {
  Description d;
  const auto diagnostics = Parse(kGood, &d);
  ASSERT_TRUE(diagnostics.empty()) << All(diagnostics);
  EXPECT_EQ(d.registryName.value, "Tolvane Wayfront");
  EXPECT_EQ(d.expectedVersion.value, "VERSION 95.0.b");
  EXPECT_FALSE(d.expectedChecksum.Given());
  const Block* payload = d.FindBlock(BLOCK_PAYLOAD);
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(payload->countText, "3 Count of files to extract");
  ASSERT_EQ(payload->entries.size(), 3u);
  EXPECT_EQ(payload->entries[1].stored, "patch.rt_");
  EXPECT_EQ(payload->entries[1].name, "patch.rtp");
  EXPECT_TRUE(payload->entries[1].plain);
  EXPECT_FALSE(payload->entries[0].plain);
  ASSERT_EQ(payload->extras.size(), 1u);
  EXPECT_EQ(payload->extras[0].expandedText, "empty");
  EXPECT_EQ(d.FindBlock(BLOCK_STAGED_FILES)->countText, "2 Count of files to copy") << "unquoted words are joined";
  EXPECT_EQ(d.FindBlock(BLOCK_SHARED_MOVES), nullptr);
}

TEST(Description, QuotedNamesMayHoldBlanks) {
  const std::string text = Replace(Replace(kGood, "  wfcore.dll\nblock 3000", "  \"core \\\"x\\\".dll\"\nblock 3000"),
                                   "  wfcore.dll\nblock 6000", "  \"core \\\"x\\\".dll\"\nblock 6000");
  Description d;
  const auto diagnostics = Parse(text, &d);
  // A quote cannot stand in a Windows file name: read, then refused twice.
  ASSERT_EQ(diagnostics.size(), 2u) << All(diagnostics);
  EXPECT_EQ(d.FindBlock(BLOCK_STAGED_FILES)->entries[1].name, "core \"x\".dll");
  const std::string blanks = Replace(Replace(kGood, "  wfcore.dll\nblock 3000", "  \"wf core.dll\"\nblock 3000"),
                                     "  wfcore.dll\nblock 6000", "  \"wf core.dll\"\nblock 6000");
  EXPECT_TRUE(Parse(blanks).empty()) << All(Parse(blanks));
}

struct Refusal {
  const char* what;
  std::string from, to;  // the change to the good description
  std::string lineOf;    // text on the line the message must name; "" for the file as a whole
  std::string message;   // part of the expected message
};

TEST(Description, RefusalsNameFileAndLine) {
  const std::string longName(260, 'a');
  const std::string longCount = "5" + std::string(130, 'x');
  // Blocks one entry past what the installer can hold: 16 payload files
  // (the 16th would be the PIF template's resource; the block keeps its
  // last two), 100 removed files.
  std::string payload16 = "block 1000 \"16 Count of files to extract\"\n  patch.ex_  patch.exe\n";
  for (int i = 0; i < 13; ++i) payload16 += "  x" + std::to_string(i) + ".dl_ x" + std::to_string(i) + ".dll\n";
  std::string removed100 = "block 3100 \"100 removed\"\n";
  for (int i = 0; i < 100; ++i) removed100 += "  old" + std::to_string(i) + ".dll\n";
  // Message lines stand among the settings, before the first block.
  const std::string settings = "patcher-data     patch.rtp";
  auto message = [&](const std::string& line) { return settings + "\n" + line; };
  const Refusal cases[] = {
      {"unknown file in 3000", "  qmfont32.dll\nblock 3100", "  qmfnt32.dll\nblock 3100", "qmfnt32.dll",
       "unknown file \"qmfnt32.dll\" in block 3000"},
      {"unknown file in 4000", "  wfcore.dll\nblock 6000", "  wfcore.dll\n  wfview.dll\nblock 6000", "wfview.dll",
       "unknown file \"wfview.dll\" in block 4000"},
      {"unknown patcher", "patcher          patch.exe", "patcher          patch32.exe", "patch32.exe",
       "unknown file \"patch32.exe\""},
      {"name over 259 characters", "  qmold.dll", "  " + longName, longName, "260 characters long"},
      {"name with a directory", "  qmold.dll", "  sub\\qmold.dll", "sub\\qmold.dll", "holds '\\'"},
      {"version-check name too long for 128", "version-check    wayfront.exe",
       "version-check    " + std::string(128, 'v') + ".exe", "version-check", "must be 1 to 127"},
      {"count string too long for 128", "block 3100 \"1 removed\"", "block 3100 \"1" + std::string(127, 'x') + "\"",
       "block 3100", "128-character buffer"},
      {"16 payload files", "block 1000 \"3 Count of files to extract\"\n  patch.ex_  patch.exe\n",
       payload16, "block 1000", "lists 16 entries; it may hold at most 15"},
      {"100 entries in a block", "block 3100 \"1 removed\"\n  qmold.dll\n", removed100, "block 3100",
       "lists 100 entries; it may hold at most 99"},
      {"duplicate in a block", "  qmold.dll", "  qmold.dll\n  QMOLD.DLL", "QMOLD.DLL", "duplicate file \"QMOLD.DLL\""},
      {"duplicate payload name", "  qmfont32.dl_ qmfont32.dll", "  qmfont32.dl_ qmfont32.dll\n  QMFONT32.DL_ qmfont32.dll",
       "QMFONT32.DL_", "duplicate name \"QMFONT32.DL_\""},
      {"duplicate setting", "patcher          patch.exe", "patcher          patch.exe\npatcher patch.exe",
       "patcher patch.exe", "duplicate \"patcher\""},
      {"duplicate block", "block 6000", "block 3100 \"0 again\"\nblock 6000", "block 3100 \"0 again\"",
       "duplicate block 3100"},
      {"missing count", "block 2000 2 Count of files to copy", "block 2000", "block 2000", "block 2000 has no count"},
      {"count without digits", "block 3000 \"1 added\"", "block 3000 \"one added\"", "block 3000", "has no count"},
      {"count that disagrees", "block 3000 \"1 added\"", "block 3000 \"2 added\"", "block 3000",
       "says 2 entries but lists 1"},
      {"count over nine digits", "block 3000 \"1 added\"", "block 3000 \"0000000001 added\"", "block 3000",
       "says 0000000001 entries"},
      {"stored name off the convention", "  qmfont32.dl_ qmfont32.dll", "  qmfont32.dlz qmfont32.dll",
       "qmfont32.dlz", "should be \"qmfont32.dl_\""},
      {"stored name equal to expanded", "  qmfont32.dl_ qmfont32.dll", "  qmfont32.dll qmfont32.dll",
       "qmfont32.dll qmfont32.dll", "are both"},
      {"payload line without expanded name", "  qmfont32.dl_ qmfont32.dll", "  qmfont32.dl_", "qmfont32.dl_\n",
       "stored-name expanded-name"},
      {"two names on an entry line", "  qmold.dll", "  qmold.dll qmnew.dll", "qmold.dll qmnew.dll",
       "one file name per line"},
      {"unterminated quote", "\"3 Count of files to extract\"", "\"3 Count of files to extract", "block 1000",
       "unterminated"},
      {"unknown setting", "patcher-data", "patcher-dat", "patcher-dat", "unknown setting \"patcher-dat\""},
      {"setting inside a block", "block 6000", "patcher-data x\nblock 6000", "patcher-data x", "before the first block"},
      {"block 1100", "block 6000", "block 1100 \"1\"\nblock 6000", "block 1100", "written from block 1000"},
      {"unknown block", "block 6000", "block 7000 \"0\"\nblock 6000", "block 7000", "unknown block \"7000\""},
      {"entry after extra", "  extra \"empty\" \"empty\"", "  extra \"empty\" \"empty\"\n  qmx.dl_ qmx.dll",
       "qmx.dl_", "entry after an \"extra\""},
      {"version-check not first of 2000", "version-check    wayfront.exe", "version-check    wfcore.dll",
       "version-check", "must be the first entry of block 2000"},
      {"patched file never moved", "block 4000 \"2 to the install directory\"\n  wayfront.exe\n  wfcore.dll",
       "block 4000 \"1 to the install directory\"\n  wayfront.exe", "  wfcore.dll\nblock 3000",
       "\"wfcore.dll\" is never moved"},
      {"checksum not a number", "patcher          patch.exe", "patcher          patch.exe\nexpected-checksum 12ab",
       "expected-checksum", "not a 32-bit unsigned decimal"},
      {"checksum over 32 bits", "patcher          patch.exe", "patcher          patch.exe\nexpected-checksum 4294967296",
       "expected-checksum", "not a 32-bit"},
      {"missing setting", "registry-name    \"Tolvane Wayfront\"\n", "", "", "missing setting \"registry-name\""},
      {"missing new-version", "new-version      \"95.0.C\"\n", "", "", "missing setting \"new-version\""},
      {"message id of a manifest string", settings, message("message 100 \"x\""), "message 100",
       "\"100\" is not a message id"},
      {"message id not a number", settings, message("message two \"x\""), "message two", "\"two\" is not a message id"},
      {"duplicate message", settings, message("message 209 \"a\"\nmessage 209 \"b\""), "message 209 \"b\"",
       "duplicate message 209 (first given on line"},
      {"message inside a block", "block 6000", "message 209 \"a\"\nblock 6000", "message 209",
       "before the first block"},
      {"empty message", settings, message("message 217 \"\""), "message 217", "message 217 is empty"},
      {"message over its 256-character buffer", settings, message("message 201 \"" + std::string(256, 'x') + "\""),
       "message 201", "message 201 is 256 characters"},
      {"status over its 512-character buffer", settings, message("message 212 \"" + std::string(512, 'x') + "\""),
       "message 212", "512-character buffer (at most 511)"},
      {"product name that overflows a default text", "product-name     \"Tolvane Wayfront\"",
       "product-name     \"" + std::string(100, 'p') + "\"", "product-name", "message 219 is"},
      {"format losing a %s", settings, message("message 200 \"only %s\""), "message 200",
       "has 1 %s conversions; the original has 2"},
      {"%s in a plain message", settings, message("message 209 \"%s?\""), "message 209",
       "has 1 %s conversions; the original has 0"},
      {"conversion other than %s", settings, message("message 200 \"%d %s\""), "message 200", "holds \"%d\""},
      {"'%' in the product name", "product-name     \"Tolvane Wayfront\"", "product-name     \"Tolvane 100%\"",
       "product-name", "product-name holds '%'"},
      {"missing block 2000", "block 2000 2 Count of files to copy\n  wayfront.exe\n  wfcore.dll\n", "", "",
       "missing block 2000"},
  };
  for (const Refusal& c : cases) {
    const std::string text = Replace(kGood, c.from, c.to);
    const auto diagnostics = Parse(text);
    const int line = c.lineOf.empty() ? 0 : LineOf(text, c.lineOf);
    ASSERT_NE(line, -1) << c.what << ": test error, line text not found";
    const std::string expected = line ? "test.patch:" + std::to_string(line) + ": " : "test.patch: ";
    bool found = false;
    for (const auto& d : diagnostics) {
      const std::string t = d.Text();
      found = found || (t.rfind(expected, 0) == 0 && t.find(c.message) != std::string::npos);
    }
    EXPECT_TRUE(found) << c.what << "\n expected: " << expected << "..." << c.message << "...\n got:\n"
                       << All(diagnostics);
  }
}

TEST(BareNameFault, AcceptsOrdinaryNamesRefusesTheRest) {
  struct {
    std::string name;
    bool ok;
  } cases[] = {{"wfcore.dll", true},        {"Wayfront Help.hlp", true}, {std::string(259, 'a'), true},
               {std::string(260, 'a'), false}, {"", false},             {"a/b", false},
               {"c:x", false},              {"a?b", false},             {"tab\there", false},
               {"..", false},               {"name.", false}};
  for (const auto& c : cases)
    EXPECT_EQ(BareNameFault(c.name).empty(), c.ok) << "\"" << c.name.substr(0, 20) << "\" (" << c.name.size()
                                                   << " chars): " << BareNameFault(c.name);
}

}  // namespace
}  // namespace patchbuild
