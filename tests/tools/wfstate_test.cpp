// The state text both sides are reduced to: what is normalised, and that
// nothing else is.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "prepare.h"
#include "state.h"
#include "winsim.h"

namespace {

namespace fs = std::filesystem;

class TempTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "wfstate-test-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }
    void Write(const std::string &relative, const std::string &text) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative, std::ios::binary) << text;
    }
    std::string Read(const std::string &relative) {
        std::ifstream in(root_ / relative, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    fs::path root_;
};

// Names as Wine 8.0 showed them (GetShortPathNameA under Wine).
TEST(WineShortNameTest, AsWineMakesThem) {
    EXPECT_EQ("PROG~FBU", wfstate::WineShortName("Program Files"));
}

// Wine's drive C: has both "Program Files" and "ProgramData": a prefix
// alone cannot tell them apart, the hash can.
TEST_F(TempTree, ShortComponentsResolveToTheirLongNames) {
    Write("c/Program Files/Quenmark/Wayfront/wayfront.exe", "x");
    fs::create_directories(root_ / "c/ProgramData");
    const std::string c = (root_ / "c").string();
    EXPECT_EQ("!\\??\\C:\\Program Files\\Quenmark\\Wayfront\\wayfront.exe",
              wfstate::ExpandShortPath(c, "!\\??\\C:\\PROG~FBU\\Quenmark\\Wayfront\\wayfront.exe"));
    // A file that is gone keeps its name; the folders above it still resolve.
    EXPECT_EQ("C:\\Program Files\\QUENMARK\\wayfront.exX",
              wfstate::ExpandShortPath(c, "C:\\PROG~FBU\\QUENMARK\\wayfront.exX"));
    // Ambiguous by prefix: kept as written rather than guessed.
    EXPECT_EQ("C:\\PROGRA~1\\Quenmark", wfstate::ExpandShortPath(c, "C:\\PROGRA~1\\Quenmark"));
    fs::remove_all(root_ / "c/ProgramData");
    EXPECT_EQ("C:\\Program Files\\Quenmark", wfstate::ExpandShortPath(c, "C:\\PROGRA~1\\Quenmark"));
    EXPECT_EQ("NUL", wfstate::ExpandShortPath(c, "NUL"));
    EXPECT_EQ("D:\\PROG~FBU", wfstate::ExpandShortPath(c, "D:\\PROG~FBU"));
}

TEST_F(TempTree, FilesAreListedLowerCasedWithSizeAndCrc) {
    Write("c/Program Files/Quenmark/Wayfront/WAYFRONT.EXE", "123456789");
    Write("c/Program Files/Other/skip.dll", "no");
    Write("c/Quenmark/Shared/qmcomm.dlX", "");
    Write("c/windows/wininit.bak", "[Rename]\r\n");
    Write("c/windows/win.ini", "no");
    EXPECT_EQ("# files\n"
              "program files/quenmark/wayfront/wayfront.exe 9 cbf43926\n"
              "quenmark/shared/qmcomm.dlx 0 00000000\n"
              "windows/wininit.bak - -\n",
              wfstate::FilesSection((root_ / "c").string(), "WINDOWS"));
}

TEST_F(TempTree, WininitLinesHaveTheirPathsNormalised) {
    Write("c/Program Files/Quenmark/a.dll", "");
    Write("c/WINDOWS/WININIT.INI", "[Rename]\r\nNUL=C:\\PROG~FBU\\Quenmark\\b.dll\r\nC:\\PROG~FBU\\Quenmark\\A.DLL=C:\\x\r\n");
    const std::string c = (root_ / "c").string();
    auto expand = [&](const std::string &p) { return wfstate::ExpandShortPath(c, p); };
    EXPECT_EQ("# wininit\n[wininit.ini]\n[rename]\n"
              "nul=c:\\program files\\quenmark\\b.dll\n"
              "c:\\program files\\quenmark\\a.dll=c:\\x\n",
              wfstate::WininitSection(c, "windows", expand));
}

TEST(BoxLogTest, BoxesAreReadAsBoxanswerWritesThem) {
    const std::string log =
        "start|pid=1|cmd=Z:\\\\x.exe\n"
        "box|1|caption=Tolvane Wayfront Patch|owner=none|buttons=YESNO|answer=YES|text=Sure?\n"
        "status|text=Patching files, please wait...\n"
        "box|2|caption=Tolvane Wayfront Patch|owner=Tolvane Wayfront Patch|buttons=OK|answer=OK|text=a \\x7c b|text=c\n"
        "box|3|caption=Error|owner=none|buttons=OK|answer=OK|unexpected|text=File not found.\\r\\n\n"
        "exit|0\n";
    const std::vector<wfstate::Box> boxes = wfstate::ReadBoxLog(log);
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ("a \\x7c b|text=c", boxes[1].text);
    EXPECT_EQ("# boxes\n"
              "YESNO|none|Sure?|YES\n"
              "OK|dialog|a \\x7c b|text=c|OK\n"
              "OK|none|[Error] File not found.\\r\\n|OK\n",
              wfstate::BoxesSection(boxes, "Tolvane Wayfront Patch"));
    EXPECT_EQ("a\\\\b\\x7cc\\r\\n", wfstate::EscapeLogText("a\\b|c\r\n"));
}

class PrepareTest : public TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        winsim::Reset(root_.string());
    }
};

TEST_F(PrepareTest, EachStepChangesTheMachine) {
    Write("c/Quenmark/Shared/qmcomm.dll", "x");
    std::string error;
    EXPECT_TRUE(wfstate::ApplyPrepareStep("remove:C:\\QUENMARK\\Shared\\qmcomm.dll", &error)) << error;
    EXPECT_FALSE(fs::exists(root_ / "c/Quenmark/Shared/qmcomm.dll"));
    EXPECT_FALSE(wfstate::ApplyPrepareStep("remove:C:\\Quenmark\\Shared\\qmcomm.dll", &error));

    EXPECT_TRUE(wfstate::ApplyPrepareStep("mkdir:C:\\Program Files\\Quenmark\\Wayfront\\PatchB2C", &error));
    EXPECT_TRUE(fs::is_directory(root_ / "c/Program Files/Quenmark/Wayfront/PatchB2C"));
    EXPECT_TRUE(wfstate::ApplyPrepareStep("file:C:\\Quenmark\\Quayside\\qs.new=a=b", &error));
    EXPECT_EQ("a=b", Read("c/Quenmark/Quayside/qs.new"));

    EXPECT_TRUE(wfstate::ApplyPrepareStep("add-rename-line:C:\\A.DLL=C:\\A.NEW", &error));
    EXPECT_TRUE(wfstate::ApplyPrepareStep("add-rename-line:NUL=C:\\B.DLL", &error));
    EXPECT_EQ("[Rename]\r\nC:\\A.DLL=C:\\A.NEW\r\nNUL=C:\\B.DLL\r\n", Read("c/WINDOWS/WININIT.INI"));

    // A directory moved with what it holds; never over something there.
    EXPECT_TRUE(wfstate::ApplyPrepareStep("move:C:\\Quenmark\\Quayside=C:\\Long name\\Quayside", &error)) << error;
    EXPECT_EQ("a=b", Read("c/Long name/Quayside/qs.new"));
    EXPECT_FALSE(fs::exists(root_ / "c/Quenmark/Quayside"));
    EXPECT_FALSE(wfstate::ApplyPrepareStep("move:C:\\Quenmark\\Shared=C:\\Long name", &error));
    EXPECT_FALSE(wfstate::ApplyPrepareStep("move:C:\\Nothing=C:\\Else", &error));

    EXPECT_TRUE(wfstate::ApplyPrepareStep("reg-sz:HKLM\\Software\\Quenmark\\InstalledApps|Tolvane Wayfront=C:\\a=b",
                                          &error)) << error;
    EXPECT_NE(std::string::npos, winsim::ExportRegText({"HKEY_LOCAL_MACHINE\\Software\\Quenmark"})
                                     .find("\"Tolvane Wayfront\"=\"C:\\\\a=b\""));

    EXPECT_FALSE(wfstate::ApplyPrepareStep("rename:C:\\A", &error));
    EXPECT_FALSE(wfstate::ApplyPrepareStep("remove", &error));
}

// A read-only WININIT.INI must refuse the installer's [Rename] lines, as it
// does under Wine, until the user makes it writable again.
TEST_F(PrepareTest, ReadOnlyRefusesProfileWritesUntilMadeWritable) {
    Write("c/WINDOWS/WININIT.INI", "[Rename]\r\n");
    std::string error;
    ASSERT_TRUE(wfstate::ApplyPrepareStep("readonly:C:\\windows\\WININIT.INI", &error)) << error;
    EXPECT_FALSE(WritePrivateProfileSectionA("Rename", "NUL=C:\\A.DLL\0", "C:\\WINDOWS\\WININIT.INI"));
    EXPECT_EQ("[Rename]\r\n", Read("c/WINDOWS/WININIT.INI"));
    ASSERT_TRUE(wfstate::ApplyPrepareStep("writable:C:\\windows\\WININIT.INI", &error)) << error;
    EXPECT_TRUE(WritePrivateProfileSectionA("Rename", "NUL=C:\\A.DLL\0", "C:\\WINDOWS\\WININIT.INI"));
    EXPECT_FALSE(wfstate::ApplyPrepareStep("readonly:C:\\WINDOWS\\NOFILE.INI", &error));
}

TEST_F(PrepareTest, RegDwordReplacesTheValueWithItsNumber) {
    const char key[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
    const char name[] = "C:\\Quenmark\\Shared\\qmsound.dll";
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &handle, nullptr));
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>("2"), 2);
    std::string error;
    ASSERT_TRUE(wfstate::ApplyPrepareStep(std::string("reg-dword:HKLM\\") + key + "|" + name + "=4000000000",
                                          &error)) << error;
    DWORD type = 0, value = 0, size = sizeof value;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size));
    RegCloseKey(handle);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4000000000u, value);

    for (const char *bad : {"reg-dword:HKLM\\Software\\Quenmark=1", "reg-dword:HKLM\\Software|v=x",
                            "reg-dword:HKLM\\Software|v=4294967296", "reg-dword:HKCR\\Software|v=1"})
        EXPECT_FALSE(wfstate::ApplyPrepareStep(bad, &error)) << bad;
}

}  // namespace
