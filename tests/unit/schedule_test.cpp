// Replacement scheduling and the commit: what is queued, what is refused
// before anything changes, where each new file waits, how each platform is
// told to finish the exchange at the restart, and what a failure undoes.
#include <functional>
#include <string>
#include <vector>

#include "commit/commit.h"
#include "commit/journal.h"
#include "common/pending_ops.h"
#include "commit/schedule.h"
#include "manifest/manifest.h"
#include "staging/extract.h"
#include "staging/stage_copy.h"
#include "test_machine.h"
#include "test_registry.h"

namespace {

const char kWininit[] = "C:\\WINDOWS\\WININIT.INI";

std::string Replacement(std::string path) {
    path.back() = 'X';
    return path;
}

class ScheduleTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallSample();
        CreateDirectoryA(kSamplePatchDir, nullptr);
        ASSERT_EQ(1, ExtractPayloads(kSamplePatchDir));
        ASSERT_EQ(1, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    }

    // The stage and, when it succeeds, the commit, as the driver runs them.
    static int Schedule(const char *sharedDir = kSampleSharedDir) {
        return ScheduleReplacements(kSamplePatchDir, kSampleInstallDir, sharedDir) &&
               CommitPatch(kSamplePatchDir, kSampleInstallDir) == 0;
    }

    // Files waiting beside their targets under a replacement name.
    static std::vector<std::string> Replacements() {
        std::vector<std::string> found;
        for (const char *dir : {kSampleInstallDir, kSampleSharedDir})
            for (const std::string &name : winsim::ListTree(dir))
                if (!name.empty() && name.back() == 'X') found.push_back(name);
        return found;
    }

    // NT's delayed operations as pairs "from|to".
    static std::vector<std::string> DelayedOperations() {
        std::vector<std::string> pairs;
        const std::string data = RegValue(SESSION_MANAGER_KEY, PENDING_RENAMES_VALUE);
        if (data == "-") return pairs;
        std::vector<std::string> strings;
        std::string current;
        for (char c : data) {
            if (c == '\0') {
                strings.push_back(current);
                current.clear();
            } else {
                current.push_back(c);
            }
        }
        for (size_t i = 0; i + 1 < strings.size(); i += 2) {
            if (strings[i].empty()) break;  // the list's end
            pairs.push_back(strings[i] + "|" + strings[i + 1]);
        }
        return pairs;
    }

    static std::string RenameSection() {
        char text[8192];
        DWORD n = GetPrivateProfileSectionA("Rename", text, sizeof text, kWininit);
        std::string lines(text, n);
        for (char &c : lines) c = c == '\0' ? '\n' : c;
        return lines;
    }

    static std::string Short(const std::string &path) {
        char out[MAX_PATH];
        DWORD n = GetShortPathNameA(path.c_str(), out, sizeof out);
        return n > 0 && n < sizeof out ? out : path;
    }
};

// NT: every replacement waits for the restart, registered with the marker
// that lets it replace the existing file; the patcher's files are deleted
// at once, the patch directory at the restart. The order is that of the
// list (BLOCK_SHARED_MOVES, then BLOCK_INSTALL_MOVES last entry first),
// except that the version-check file's replacement comes last of all.
TEST_F(ScheduleTest, WindowsNTRegistersEveryReplacementWithReplaceExisting) {
    ASSERT_EQ(1, Schedule());
    const std::vector<std::string> pairs = DelayedOperations();
    ASSERT_EQ(8u, pairs.size());  // the shared usage stage did not run here
    const std::string shared = InSharedDir(ManifestString(BLOCK_SHARED_MOVES + 1));
    EXPECT_EQ("\\??\\" + Short(Replacement(shared)) + "|!\\??\\" + shared, pairs[0]);
    for (UINT k = 6; k >= 2; --k) {
        const std::string target = InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + k));
        EXPECT_EQ("\\??\\" + Short(Replacement(target)) + "|!\\??\\" + target, pairs[7 - k]) << k;
        EXPECT_TRUE(winsim::Exists(Replacement(target)));
    }
    EXPECT_EQ("\\??\\" + std::string(kSamplePatchDir) + "|", pairs[6]);
    const std::string marker = InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + 1));
    EXPECT_EQ("\\??\\" + Short(Replacement(marker)) + "|!\\??\\" + marker, pairs[7]);
    EXPECT_FALSE(winsim::Exists(InPatchDir("patch.exe")));
    EXPECT_FALSE(winsim::Exists(InPatchDir("patch.rtp")));
    EXPECT_FALSE(winsim::Exists(InPatchDir(JOURNAL_NAME)));
    EXPECT_FALSE(winsim::Exists(kWininit));
    EXPECT_EQ(nullptr, FirstPendingOp());
}

TEST_F(ScheduleTest, WindowsNTDelaysTheDeletionOfAFileInUse) {
    winsim::HeldFile held = winsim::HoldOpen(InPatchDir("patch.exe"));
    ASSERT_TRUE(held.Held());
    ASSERT_EQ(1, Schedule());
    const std::vector<std::string> pairs = DelayedOperations();
    ASSERT_FALSE(pairs.empty());
    EXPECT_EQ("\\??\\" + InPatchDir("patch.exe") + "|", pairs[0]);  // deletions come first
}

// Windows 95: a replacement whose target exists becomes a [Rename] line,
// after the lines another program left there for the same restart.
TEST_F(ScheduleTest, Windows95AppendsToTheRenameSection) {
    winsim::SetPlatform(winsim::Platform::Windows95);
    ASSERT_TRUE(WritePrivateProfileSectionA("Rename", "C:\\OTHER\\LIB.DLL=C:\\OTHER\\LIB.NEW\0", kWininit));
    winsim::HeldFile held = winsim::HoldOpen(InPatchDir("patch.rtp"));
    ASSERT_EQ(1, Schedule());
    std::string expected = "C:\\OTHER\\LIB.DLL=C:\\OTHER\\LIB.NEW\n";
    expected += "NUL=" + Short(InPatchDir("patch.rtp")) + "\n";
    const std::string shared = InSharedDir(ManifestString(BLOCK_SHARED_MOVES + 1));
    expected += Short(shared) + "=" + Short(Replacement(shared)) + "\n";
    for (UINT k = 6; k >= 2; --k) {
        const std::string target = InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + k));
        expected += Short(target) + "=" + Short(Replacement(target)) + "\n";
    }
    const std::string marker = InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + 1));
    expected += Short(marker) + "=" + Short(Replacement(marker)) + "\n";
    EXPECT_EQ(expected, RenameSection());
    held.Release();
    EXPECT_EQ(-1, winsim::FindCall("MoveFileExA"));
}

// Windows 95 moves a new file into place at once where nothing is in the
// way; when everything could be done at once WININIT.INI is not touched.
TEST_F(ScheduleTest, Windows95MovesAtOnceWhereItCan) {
    winsim::SetPlatform(winsim::Platform::Windows95);
    winsim::SetString(BLOCK_INSTALL_MOVES, "1 Count");
    // wfspell.dll, moved away first
    winsim::SetString(BLOCK_INSTALL_MOVES + 1, ManifestString(BLOCK_INSTALL_MOVES + 3));
    ASSERT_TRUE(DeleteFileA(InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + 3)).c_str()));
    winsim::SetString(BLOCK_SHARED_MOVES, "0");
    ASSERT_EQ(1, Schedule());
    EXPECT_TRUE(winsim::Exists(InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + 3))));
    EXPECT_FALSE(winsim::Exists(Replacement(InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + 3)))));
    EXPECT_FALSE(winsim::Exists(kWininit));
}

TEST_F(ScheduleTest, WithNothingToDoNothingIsTouched) {
    for (UINT block : {BLOCK_INSTALL_MOVES, BLOCK_SHARED_MOVES, BLOCK_CLEANUP}) winsim::SetString(block, "0 Count");
    ASSERT_EQ(1, Schedule());
    EXPECT_EQ(-1, winsim::FindCall("GetVersionExA"));
    EXPECT_EQ(-1, winsim::FindCall("MoveFileA"));
    EXPECT_FALSE(winsim::Exists(kWininit));
}

// A missing source stops the stage before anything is moved: the first two
// entries are queued, BLOCK_SHARED_MOVES and BLOCK_CLEANUP are not read.
TEST_F(ScheduleTest, AMissingSourceFailsBeforeAnythingIsMoved) {
    ASSERT_TRUE(DeleteFileA(InPatchDir(ManifestString(BLOCK_INSTALL_MOVES + 3)).c_str()));
    EXPECT_EQ(0, Schedule());
    int queued = 0;
    for (PendingFileOp *r = FirstPendingOp(); r != nullptr; r = r->next) ++queued;
    EXPECT_EQ(2, queued);
    EXPECT_EQ(-1, winsim::FindCall("LoadStringA", std::to_string(BLOCK_SHARED_MOVES)));
    EXPECT_EQ(-1, winsim::FindCall("MoveFileA"));
    EXPECT_FALSE(winsim::Exists(Replacement(InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + 1)))));
}

TEST_F(ScheduleTest, AMissingEntryStringIsSkipped) {
    winsim::RemoveString(BLOCK_CLEANUP + 2);
    ASSERT_EQ(1, Schedule());
    EXPECT_FALSE(winsim::Exists(InPatchDir("patch.exe")));
    EXPECT_TRUE(winsim::Exists(InPatchDir("patch.rtp")));
}

// A replacement left by an earlier run is overwritten by a copy.
TEST_F(ScheduleTest, AnEarlierReplacementIsOverwritten) {
    const std::string target = InInstallDir(ManifestString(BLOCK_INSTALL_MOVES + 2));
    ASSERT_TRUE(winsim::WriteWholeFile(Replacement(target), "stale"));
    std::string fresh;
    ASSERT_TRUE(winsim::ReadWholeFile(InPatchDir(ManifestString(BLOCK_INSTALL_MOVES + 2)), &fresh));
    ASSERT_EQ(1, Schedule());
    std::string waiting;
    ASSERT_TRUE(winsim::ReadWholeFile(Replacement(target), &waiting));
    EXPECT_EQ(fresh, waiting);
    EXPECT_FALSE(winsim::Exists(InPatchDir(ManifestString(BLOCK_INSTALL_MOVES + 2))));
}

// What the commit cannot do is refused before anything changes, or undone:
// either way no replacement waits, nothing is registered for the restart,
// the section of others stays, and no journal is left.
TEST_F(ScheduleTest, ARefusalOrAFailureLeavesNothingBehind) {
    struct Case {
        const char *what;
        winsim::Platform platform;
        std::function<void()> arrange;
        const char *sharedDir;
    };
    const std::string manyLines = [] {
        std::string lines;
        for (int i = 0; lines.size() < 7900; ++i) lines += "C:\\OTHER\\F" + std::to_string(i) + ".DLL=NUL" + '\0';
        return lines;
    }();
    const Case cases[] = {
        {"a placement fails: undone", winsim::Platform::WindowsNT,
         [] {
             winsim::InjectFault({"MoveFileA", ManifestString(BLOCK_INSTALL_MOVES + 4)});
             winsim::InjectFault({"CopyFileA", ManifestString(BLOCK_INSTALL_MOVES + 4)});
         },
         kSampleSharedDir},
        {"NT refuses a delayed rename: undone", winsim::Platform::WindowsNT,
         [] { winsim::InjectFault({"MoveFileExA", "", 3, 1}); }, kSampleSharedDir},
        {"the delayed operations may not be changed", winsim::Platform::WindowsNT,
         [] { winsim::InjectFault({"RegOpenKeyExA", "Session Manager", 0, 1}); }, kSampleSharedDir},
        {"[Rename] has no room for this run's lines", winsim::Platform::Windows95,
         [&manyLines] { ASSERT_TRUE(WritePrivateProfileSectionA("Rename", manyLines.c_str(), kWininit)); },
         kSampleSharedDir},
        {"WININIT.INI is read-only", winsim::Platform::Windows95,
         [] {
             ASSERT_TRUE(WritePrivateProfileSectionA("Rename", "C:\\OTHER\\A.DLL=C:\\OTHER\\A.NEW\0", kWininit));
             ASSERT_TRUE(SetFileAttributesA(kWininit, FILE_ATTRIBUTE_READONLY));
         },
         kSampleSharedDir},
        {"the shared directory's drive is full", winsim::Platform::WindowsNT,
         [this] {
             winsim::MapDrive('D', Root() + "/d");
             ASSERT_TRUE(CreateDirectoryA("D:\\Shared", nullptr));
             winsim::DiskGeometry full;
             full.freeClusters = 1;
             winsim::SetDiskGeometry('D', full);
         },
         "D:\\Shared"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        winsim::SetPlatform(c.platform);
        c.arrange();
        const std::string section = RenameSection();
        EXPECT_EQ(0, Schedule(c.sharedDir));
        winsim::ClearFaults();
        EXPECT_EQ(std::vector<std::string>{}, Replacements());
        EXPECT_EQ(std::vector<std::string>{}, DelayedOperations());
        EXPECT_EQ(section, RenameSection());
        EXPECT_FALSE(winsim::Exists(InPatchDir(JOURNAL_NAME)));
        SetFileAttributesA(kWininit, FILE_ATTRIBUTE_NORMAL);
    }
}

// A shared file whose last use goes and which the run installs anew is
// replaced, not deleted: not at once, which would leave it missing until the
// restart, and not at the restart either, where a deletion put off because
// the file is in use would come after the replacement and delete the new
// copy.
TEST_F(ScheduleTest, ASharedFileDeletedAndReplacedEndsUpReplaced) {
    for (winsim::Platform platform : {winsim::Platform::WindowsNT, winsim::Platform::Windows95}) {
        SCOPED_TRACE(platform == winsim::Platform::WindowsNT ? "NT" : "95");
        SetUp();
        winsim::SetPlatform(platform);
        const std::string shared = InSharedDir("qmlink.dll");
        std::string before, fresh;
        ASSERT_TRUE(winsim::ReadWholeFile(shared, &before));
        ASSERT_TRUE(winsim::ReadWholeFile(InPatchDir("qmlink.dll"), &fresh));
        ASSERT_NE(before, fresh);
        // As the shared usage stage leaves them: the deletion, then the
        // replacement.
        ASSERT_EQ(1, PushPendingOp(shared.c_str(), nullptr, Delete));
        ASSERT_EQ(1, PushPendingOp(InPatchDir("qmlink.dll").c_str(), shared.c_str(), Replace));
        winsim::HeldFile held = winsim::HoldOpen(shared);
        ASSERT_EQ(1, Schedule());
        std::string waiting;
        ASSERT_TRUE(winsim::ReadWholeFile(shared, &waiting));
        EXPECT_EQ(before, waiting);  // the old copy serves until the restart
        winsim::Restart();
        std::string after;
        ASSERT_TRUE(winsim::ReadWholeFile(shared, &after));
        EXPECT_EQ(fresh, after);
        EXPECT_FALSE(winsim::Exists(Replacement(shared)));
    }
}

}  // namespace
