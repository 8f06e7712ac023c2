// The payload builder: which file each entry carries and how, and the
// payload the sample installer is built with (generated/payload.rc).
#include "payload.h"

#include <gtest/gtest.h>

#include "good_description.h"

#include <fstream>
#include <iterator>
#include <map>
#include <regex>

#include "common/contract.h"
#include "libmspack_expand.h"
#include "payload_szdd.h"
#include "pif_template.h"

namespace fs = std::filesystem;

namespace patchbuild {
namespace {

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

const char kSmall[] = R"(product-name "Tolvane Wayfront"
registry-name "Tolvane Wayfront"
version-check wf.exe
expected-version "VERSION 95.0.b"
new-version "95.0.C"
patcher patch.exe
patcher-data patch.rtp
block 1000 "3 Count of files to extract"
  patch.ex_ patch.exe
  patch.rt_ patch.rtp plain
  qmport.vx_ qmport.vxd
  extra "empty" "empty"
block 2000 "1 Count of files to copy from appdir to patch dir"
  wf.exe
block 3000 "1 add"
  qmport.vxd
block 4000 "1 move"
  wf.exe
block 6000 "2 delete"
  patch.exe
  patch.rtp
)";

TEST(Payload, PlanGivesEachEntryItsResourceNamesAndFile) {
  const Description d = ParseGoodDescription(kSmall);
  std::vector<std::string> errors;
  const auto items = PlanPayload(
      d, [](const std::string& name) { return std::optional<fs::path>("/src/" + name); }, "/out", errors);
  EXPECT_TRUE(errors.empty());
  const struct {
    int id;
    const char* stored;
    const char* expanded;
    bool plain;
  } expected[] = {{ID_PAYLOAD_BASE + 1, "patch.ex_", "patch.exe", false},
                  {ID_PAYLOAD_BASE + 2, "patch.rt_", "patch.rtp", true},
                  {ID_PAYLOAD_BASE + 3, "qmport.vx_", "qmport.vxd", false}};
  ASSERT_EQ(items.size(), std::size(expected));
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(expected[i].expanded);
    EXPECT_EQ(items[i].resourceId, expected[i].id);
    EXPECT_EQ(items[i].stored, expected[i].stored);
    EXPECT_EQ(items[i].expanded, expected[i].expanded);
    EXPECT_EQ(items[i].plain, expected[i].plain);
    EXPECT_EQ(items[i].source, fs::path("/src") / expected[i].expanded);
    EXPECT_EQ(items[i].packed, fs::path("/out") / expected[i].stored);  // the "extra" strings carry nothing
  }
}

TEST(Payload, PlanNamesEveryEntryWithoutAFile) {
  const Description d = ParseGoodDescription(kSmall);
  std::vector<std::string> errors;
  PlanPayload(
      d, [](const std::string& name) { return name == "patch.exe" ? std::optional<fs::path>("/p") : std::nullopt; },
      "/out", errors);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], "payload entry 2 \"patch.rtp\": no file to carry");
  EXPECT_EQ(errors[1], "payload entry 3 \"qmport.vxd\": no file to carry");
}

TEST(Payload, PackStoresPlainEntriesAsTheyAreAndPacksTheRest) {
  const std::vector<std::uint8_t> packedAlready = SzddCompress(Bytes("data"), 'p');
  const struct {
    const char* what;
    bool plain;
    std::string expanded;
    std::vector<std::uint8_t> content;
    bool ok;
  } cases[] = {
      {"plain data", true, "patch.rtp", Bytes("RTP\x1a patch data"), true},
      {"plain but empty", true, "patch.rtp", {}, true},
      {"plain that looks packed: the installer would expand it", true, "patch.rtp", packedAlready, false},
      {"a program", false, "patch.exe", Bytes("MZ program"), true},
      {"a driver", false, "qmport.vxd", Bytes("MZ driver"), true},
      {"an already packed file is packed again", false, "x.dll", packedAlready, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PayloadItem item;
    item.resourceId = 102;
    item.plain = c.plain;
    item.expanded = c.expanded;
    item.source = "/src/" + c.expanded;
    std::string error;
    const auto packed = PackPayload(item, c.content, &error);
    ASSERT_EQ(packed.has_value(), c.ok) << error;
    if (!packed) {
      EXPECT_NE(error.find("/src/patch.rtp"), std::string::npos) << error;
      continue;
    }
    if (c.plain) {
      EXPECT_TRUE(*packed == c.content);
      continue;
    }
    const auto expanded = ExpandWithLibmspack(*packed);
    ASSERT_TRUE(expanded.has_value());
    EXPECT_EQ(expanded->missingChar, c.expanded.back());
    EXPECT_TRUE(expanded->expanded == c.content);
  }
}

// ---- The sample installer's payload ---------------------------------------

const fs::path kBuild = SAMPLE_BUILD_DIR;
const fs::path kGenerated = GENERATED_DIR;

struct RcLine {
  int id = 0;
  fs::path file;
  std::string comment;
};

std::vector<RcLine> ReadPayloadRc() {
  std::ifstream in(kGenerated / "payload.rc");
  std::vector<RcLine> lines;
  const std::regex rcdata(R"re(^(\d+) RCDATA "([^"]*)"\s*(//\s*(.*))?$)re");
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, rcdata)) lines.push_back({std::stoi(m[1]), m[2].str(), m[4].str()});
  }
  return lines;
}

std::map<int, std::string> ReadManifestStrings() {
  std::ifstream in(kGenerated / "manifest.rc");
  std::map<int, std::string> strings;
  const std::regex entry(R"re(^\s*(\d+) "(.*)"$)re");
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, entry)) strings[std::stoi(m[1])] = m[2];
  }
  return strings;
}

TEST(SamplePayload, ResourcesFollowTheManifestAndEveryEntryExpandsToItsFile) {
  const std::vector<RcLine> lines = ReadPayloadRc();
  std::map<int, std::string> manifest = ReadManifestStrings();
  const int count = std::atoi(manifest[BLOCK_PAYLOAD].c_str());
  ASSERT_EQ(count, 14) << manifest[BLOCK_PAYLOAD];
  ASSERT_EQ(lines.size(), 15u) << "RCDATA 101 to 114 and 116";

  for (int k = 1; k <= count; ++k) {
    const RcLine& line = lines[k - 1];
    const std::string stored = manifest[BLOCK_PAYLOAD + k], expanded = manifest[BLOCK_EXPANDED_NAMES + k];
    SCOPED_TRACE("entry " + std::to_string(k) + " " + expanded);
    EXPECT_EQ(line.id, ID_PAYLOAD_BASE + k);
    EXPECT_TRUE(line.file.is_absolute()) << line.file;
    EXPECT_EQ(line.file.filename().string(), stored);

    // Where the entry's file comes from: the new builds, but for the
    // patcher and its data, named in the comment.
    fs::path source = kBuild / "pe" / "new" / expanded;
    const std::string from = ", from ";
    const auto at = line.comment.find(from);
    ASSERT_NE(at, std::string::npos) << line.comment;
    const fs::path named = line.comment.substr(at + from.size());
    if (k <= 2) {
      EXPECT_EQ(named.filename().string(), expanded);
      source = named;
    } else {
      EXPECT_EQ(named, source);
    }
    const std::vector<std::uint8_t> original = ReadBytes(source);
    const std::vector<std::uint8_t> resource = ReadBytes(line.file);
    ASSERT_FALSE(original.empty()) << source;

    const auto header = ReadSzddHeader(resource);
    if (k == 2) {  // patch.rtp, stored plain
      EXPECT_FALSE(header.has_value());
      EXPECT_TRUE(resource == original) << "resource " << line.file << " differs from " << source;
      continue;
    }
    ASSERT_TRUE(header.has_value()) << line.file << " is not SZDD";
    EXPECT_EQ(header->method, 'A');
    EXPECT_EQ(header->lastCharacter, expanded.back());
    EXPECT_EQ(header->expandedSize, original.size());
    EXPECT_LT(resource.size(), original.size() + kSzddHeaderSize + original.size() / 8 + 1);
    const auto result = ExpandWithLibmspack(resource);
    ASSERT_TRUE(result.has_value()) << "libmspack refused " << line.file;
    EXPECT_TRUE(result->expanded == original)
        << line.file << " expands to " << result->expanded.size() << " bytes that differ from " << source;
  }

  const RcLine& pif = lines.back();
  EXPECT_EQ(pif.id, ID_PIF_TEMPLATE);
  EXPECT_TRUE(ReadBytes(pif.file) == piftemplate::BuildPifTemplate()) << pif.file;
}

}  // namespace
}  // namespace patchbuild
