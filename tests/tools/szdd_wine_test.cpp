// The SZDD packer's edge cases expanded by Wine's LZ expansion (LZOpenFileA
// and LZCopy, through Wine's expand.exe), the code the installer's lz32
// calls reach under Wine. The sample's payload takes matches a whole window
// back and across the window's end, but none from the blanks the window
// starts with; these files take all three. Runs on a copy of the Wine
// tests' template prefix (tests/wine/prefix.sh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "payload_szdd.h"
#include "scratch_dir.h"
#include "szdd_inputs.h"

namespace patchbuild {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// The path as Wine names a host path.
std::string WinePath(const std::filesystem::path& p) {
  std::string s = "Z:" + p.string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

TEST(SzddUnderWine, LzCopyExpandsThePackedEdgeCases) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> data;
  } cases[] = {
      {"blanks", std::vector<std::uint8_t>(100, ' ')},
      {"after-ab", Bytes("ab" + std::string(40, ' '))},
      {"window-back", Twice(Noise(4096, 5))},
      {"window-end", AcrossTheWindowEnd()},
      {"letters", FewLetters(5000, 23)},
  };
  ScratchDir dir("wf-szdd-wine");
  const std::string prefix = dir.File("prefix");
  ASSERT_EQ(std::system(("cp -a " + Quoted(WINE_TEMPLATE) + " " + Quoted(prefix)).c_str()), 0);
  const std::string wine = "env -u DISPLAY WINEDEBUG=-all WINEPREFIX=" + Quoted(prefix) + " wine expand.exe ";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string packed = dir.Put(std::string(c.name) + ".bi_", SzddCompress(c.data, 'n'));
    const std::filesystem::path expanded = dir.Path() / (std::string(c.name) + ".bin");
    EXPECT_EQ(std::system((wine + Quoted(WinePath(packed)) + " " + Quoted(WinePath(expanded)) + " >/dev/null").c_str()),
              0);
    std::ifstream f(expanded, std::ios::binary);
    const std::vector<std::uint8_t> got{std::istreambuf_iterator<char>(f), {}};
    EXPECT_TRUE(got == c.data) << "Wine expanded " << got.size() << " bytes, expected " << c.data.size();
  }
  std::system(("WINEPREFIX=" + Quoted(prefix) + " wineserver -k 2>/dev/null").c_str());
}

}  // namespace
}  // namespace patchbuild
