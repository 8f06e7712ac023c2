// Code page 932: paths and names with double-byte characters, whose trail
// byte may be 0x5C, the code of "\". The installer walks every such path
// with CharNextA/CharPrevA; these tests hold it to that, from a single join
// to a whole run in a directory whose name ends in such a character.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run_patch.h"
#include "common/pending_ops.h"
#include "commit/commit.h"
#include "commit/schedule.h"
#include "manifest/manifest.h"
#include "common/paths.h"
#include "test_machine.h"
#include "test_registry.h"

namespace {

// Shift-JIS: 0x95 0x5C is one character (a kanji) whose trail byte is "\";
// 0x83 0x45, 0x83 0x46, 0x83 0x43 are katakana with ordinary trail bytes.
const std::string kTable = "\x95\x5c";
const std::string kKana = "\x83\x45\x83\x46\x83\x43";
// The install directory of the double-byte runs: its last byte is 0x5C.
const std::string kDbcsInstallDir = "C:\\Program Files\\" + kKana + kTable;

std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "<";
            out += digits[c >> 4];
            out += digits[c & 15];
            out += ">";
        }
    }
    return out;
}

class DbcsTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        winsim::SetCodePage(932);
    }
};

// Joining a directory and a name: the "\" goes in exactly where the
// directory's last character is not one, whatever its trail byte.
TEST_F(DbcsTest, JoinPathSeparatesAfterADoubleByteCharacter) {
    struct Case {
        std::string directory, name, expected;
    };
    const Case cases[] = {
        {"C:\\" + kTable, "a.dll", "C:\\" + kTable + "\\a.dll"},              // trail byte 0x5C
        {"C:\\" + kTable + "\\", "a.dll", "C:\\" + kTable + "\\a.dll"},       // already has one
        {"C:\\" + kKana, "a.dll", "C:\\" + kKana + "\\a.dll"},                // ordinary trail bytes
        {"C:\\" + kKana + kTable, kTable, "C:\\" + kKana + kTable + "\\" + kTable},  // name too
    };
    for (const Case &c : cases) {
        char out[MAX_PATH];
        ASSERT_EQ(1, JoinPath(out, sizeof out, c.directory.c_str(), c.name.c_str())) << Hex(c.directory);
        EXPECT_EQ(Hex(c.expected), Hex(out)) << Hex(c.directory);
    }
    // The "\" the join adds counts against the capacity.
    const std::string directory = "C:\\" + std::string(253, 'd') + kTable;  // 258 bytes
    char out[MAX_PATH];
    EXPECT_EQ(1, JoinPath(out, sizeof out, directory.c_str(), ""));
    EXPECT_EQ(259u, std::string(out).size());
    EXPECT_EQ(0, JoinPath(out, sizeof out, directory.c_str(), "a"));
}

// The scheduler's replacement name (which the probe of a second run takes
// for its pending-restart marker, compared without case): the target's
// name with its last character made "X". A last character of two bytes is
// replaced whole; its trail byte must not stay behind, least of all a 0x5C
// that would turn the name into a directory path. Records are pushed as the
// shared usage stage pushes them, since winsim's string table holds only
// ASCII names in this code page.
TEST_F(DbcsTest, AReplacementNameReplacesTheWholeLastCharacter) {
    struct Case {
        const char *what;
        std::string name;         // the file replaced
        std::string replacement;  // where its new file waits
    };
    const Case cases[] = {
        {"ASCII", "wayfront.exe", "wayfront.exX"},
        {"ends in a trail byte 0x5C", "wayfront." + kTable, "wayfront.X"},
        {"ends in an ordinary double-byte character", "wayfront." + kKana, "wayfront." + kKana.substr(0, 4) + "X"},
        {"double-byte characters before an ASCII end", kTable + kKana + ".exe", kTable + kKana + ".exX"},
        {"a single double-byte character", kTable, "X"},
    };
    const std::string targetDir = "C:\\" + kKana + kTable;
    const std::string patchDir = "C:\\" PATCH_DIRECTORY_NAME;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        ASSERT_TRUE(CreateDirectoryA(patchDir.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(targetDir.c_str(), nullptr));
        const std::string target = targetDir + "\\" + c.name;
        ASSERT_TRUE(winsim::WriteWholeFile(target, "old"));
        ASSERT_TRUE(winsim::WriteWholeFile(patchDir + "\\" + c.name, "new"));
        ASSERT_EQ(1, PushPendingOp((patchDir + "\\" + c.name).c_str(), target.c_str(), Replace));
        for (UINT block : {BLOCK_INSTALL_MOVES, BLOCK_SHARED_MOVES, BLOCK_CLEANUP}) winsim::SetString(block, "0 Count");

        ASSERT_EQ(1, ScheduleReplacements(patchDir.c_str(), targetDir.c_str(), targetDir.c_str()));
        ASSERT_EQ(0u, CommitPatch(patchDir.c_str(), targetDir.c_str()));
        std::vector<std::string> files;
        for (const std::string &p : winsim::ListTree(targetDir)) files.push_back(Hex(p));
        std::vector<std::string> expected = {Hex(c.name), Hex(c.replacement)};
        std::sort(expected.begin(), expected.end());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(expected, files);
        EXPECT_EQ("new", SimFile(targetDir + "\\" + c.replacement));
        // The new file was placed under exactly that name, not under a
        // path that ends in "\".
        std::vector<std::string> placedAt;
        for (const winsim::Call &call : winsim::Calls())
            if (call.function == "GetShortPathNameA" && call.arg.rfind(targetDir, 0) == 0) placedAt.push_back(Hex(call.arg));
        EXPECT_EQ(std::vector<std::string>{Hex(targetDir + "\\" + c.replacement)}, placedAt);

        winsim::Restart();
        EXPECT_EQ("new", SimFile(target));
        std::vector<std::string> after;
        for (const std::string &p : winsim::ListTree(targetDir)) after.push_back(Hex(p));
        EXPECT_EQ(std::vector<std::string>{Hex(c.name)}, after);
    }
}

// ---- A whole run in a double-byte directory, through the restart ----------

class DbcsRunTest : public DbcsTest, public ::testing::WithParamInterface<winsim::Platform> {
protected:
    void SetUp() override {
        DbcsTest::SetUp();
        winsim::SetPlatform(GetParam());
        InstallSample();
        winsim::RegisterHostTwin("patch.exe", WF_PATCH_TWIN);
        // The sample installed into the double-byte directory instead.
        std::error_code error;
        std::filesystem::rename(winsim::HostPath(kSampleInstallDir), winsim::HostPath(kDbcsInstallDir), error);
        ASSERT_FALSE(error) << error.message();
        SetRegText(INSTALLED_APPS_KEY, "Tolvane Wayfront", kDbcsInstallDir);
    }

    // Every file under `winDir` is the sample's "after" file of the same
    // name, and no other file is there.
    static void ExpectFilesAsAfter(const std::string &winDir, const std::string &afterRelative) {
        namespace fs = std::filesystem;
        const fs::path afterRoot = fs::path(SamplePath("after/drive_c")) / afterRelative;
        std::vector<std::string> expected;
        for (const auto &entry : fs::recursive_directory_iterator(afterRoot)) {
            if (!entry.is_regular_file()) continue;
            const std::string name = entry.path().filename().string();
            expected.push_back(name);
            EXPECT_TRUE(SimFile(winDir + "\\" + name) == HostFile(entry.path().string()))
                << Hex(winDir) << "\\" << name << " is not the new file";
        }
        std::vector<std::string> actual;
        for (const std::string &p : winsim::ListTree(winDir))
            if (!p.empty() && p.back() != '\\') actual.push_back(p);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, actual) << Hex(winDir);
    }
};

TEST_P(DbcsRunTest, APatchInADirectoryEndingInTrailByte5CSucceedsThroughTheRestart) {
    winsim::QueueAnswers({IDYES, IDNO});
    EXPECT_EQ(0, RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0));
    std::vector<std::string> texts;
    for (const winsim::UiEvent &box : winsim::MessageBoxes()) texts.push_back(box.text);
    ASSERT_EQ((std::vector<std::string>{ManifestString(MSG_CONFIRM), ManifestString(MSG_RESTART_QUESTION)}), texts);
    // The patch directory was made inside the directory, not beside it
    // under a name run together with the directory's.
    EXPECT_NE(-1, winsim::FindCall("CreateDirectoryA", kDbcsInstallDir + "\\" PATCH_DIRECTORY_NAME));
    EXPECT_FALSE(winsim::Exists(kDbcsInstallDir + "\\" PATCH_DIRECTORY_NAME));
    EXPECT_TRUE(winsim::Exists(kDbcsInstallDir + "\\wayfront.exX"));

    // A second run before the restart finds the marker.
    winsim::QueueAnswers({IDOK});
    RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
    EXPECT_EQ(ManifestString(MSG_RESTART_PENDING), winsim::MessageBoxes().back().text);

    winsim::Restart();
    for (const std::string &line : winsim::RestartLog()) EXPECT_EQ(std::string::npos, line.find("failed")) << Hex(line);
    ExpectFilesAsAfter(kDbcsInstallDir, "Program Files/Quenmark/Wayfront");
    ExpectFilesAsAfter(kSampleSharedDir, "Quenmark/Shared");
    EXPECT_EQ(std::vector<std::string>{}, winsim::ListTree(kSampleInstallDir));
}

INSTANTIATE_TEST_SUITE_P(BothPlatforms, DbcsRunTest,
                         ::testing::Values(winsim::Platform::WindowsNT, winsim::Platform::Windows95),
                         [](const ::testing::TestParamInfo<winsim::Platform> &info) {
                             return info.param == winsim::Platform::WindowsNT ? "NT" : "Win95";
                         });

}  // namespace
