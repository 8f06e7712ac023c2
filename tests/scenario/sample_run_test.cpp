// Whole runs of the installer on the sample installation, on winsim, with
// the real payload and the real patcher (its host twin).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "app/run_patch.h"
#include "manifest/manifest.h"
#include "patcher/launch.h"
#include "staging/extract.h"
#include "staging/stage_copy.h"
#include "machine_state.h"
#include "test_machine.h"
#include "test_registry.h"

namespace {


class SampleRunTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallSample();
        winsim::RegisterHostTwin("patch.exe", WF_PATCH_TWIN);
    }

    static std::string PatchDirFile(const std::string &name) {
        std::string bytes;
        EXPECT_TRUE(winsim::ReadWholeFile(InPatchDir(name), &bytes)) << name;
        return bytes;
    }
};

// The stages up to the patcher, as the driver runs them: the payload
// expanded byte for byte, the installed files staged, and the staged copies
// patched into the new version's files.
TEST_F(SampleRunTest, StagingAndPatchingMakeTheNewFiles) {
    CreateDirectoryA(kSamplePatchDir, nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(kSamplePatchDir));
    ASSERT_EQ(1, ExtractPayloads(kSamplePatchDir));
    ASSERT_EQ(1, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    ASSERT_EQ(1, RunPatcherFromManifest(STR_PATCHER_PROGRAM, STR_PATCHER_ARGUMENT, kSamplePatchDir));

    EXPECT_EQ(HostFile(WF_PATCHER_EXE), PatchDirFile("patch.exe"));
    EXPECT_EQ(HostFile(SamplePath("patch.rtp")), PatchDirFile("patch.rtp"));
    for (UINT k = 3; k <= 14; ++k) {
        const std::string name = ManifestString(BLOCK_EXPANDED_NAMES + k);
        EXPECT_EQ(HostFile(SamplePath("pe/new/" + name)), PatchDirFile(name)) << name;
    }
    for (UINT k = 1; k <= 5; ++k) {
        const std::string name = ManifestString(BLOCK_STAGED_FILES + k);
        EXPECT_EQ(HostFile(SamplePath("pe/new/" + name)), PatchDirFile(name)) << name << " not patched";
    }
    // Nothing else: no stored name, no temporary file, no PIF.
    EXPECT_EQ(19u, winsim::ListTree(kSamplePatchDir).size());
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_EQ("C:\\PROGRA~1\\Quenmark\\Wayfront\\" PATCH_DIRECTORY_NAME "\\patch.exe",
              winsim::StartedProcesses()[0].file);
    EXPECT_EQ(std::vector<std::string>{"patch.rtp"}, winsim::StartedProcesses()[0].arguments);
}

// A patcher that cannot patch (an installed file that is not the version
// the patch is for) fails the stage: MSG_PATCH_FAILED, nothing later runs.
TEST_F(SampleRunTest, AnInstalledFileOfAnotherVersionStopsThePatch) {
    const std::string changed = InInstallDir(ManifestString(BLOCK_STAGED_FILES + 3));
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile(changed, &bytes));
    bytes[bytes.size() / 2] ^= 0x55;
    ASSERT_TRUE(winsim::WriteWholeFile(changed, bytes));
    CreateDirectoryA(kSamplePatchDir, nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(kSamplePatchDir));
    ASSERT_EQ(1, ExtractPayloads(kSamplePatchDir));
    ASSERT_EQ(1, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    EXPECT_EQ(0, RunPatcherFromManifest(STR_PATCHER_PROGRAM, STR_PATCHER_ARGUMENT, kSamplePatchDir));
    EXPECT_EQ(bytes, PatchDirFile(ManifestString(BLOCK_STAGED_FILES + 3)));  // left as it was
}

// ---- The whole run, through the restart ------------------------------------

const std::vector<std::string> kProductKeys = {
    "HKEY_LOCAL_MACHINE\\" SHARED_DLLS_KEY,
    "HKEY_LOCAL_MACHINE\\Software\\Quenmark"};

class WholeRunTest : public SampleRunTest, public ::testing::WithParamInterface<winsim::Platform> {
protected:
    void SetUp() override {
        SampleRunTest::SetUp();
        winsim::SetPlatform(GetParam());
    }

    std::vector<std::string> BoxTexts() {
        std::vector<std::string> texts;
        for (const winsim::UiEvent &box : winsim::MessageBoxes()) texts.push_back(box.text);
        return texts;
    }

    // Every file under a directory of drive C: equals the sample's "after"
    // tree, and no file is there that the tree does not have.
    void ExpectTreeAsAfter(const std::string &relative) {
        namespace fs = std::filesystem;
        const fs::path expectedRoot = fs::path(SamplePath("after/drive_c")) / relative;
        std::vector<std::string> expected;
        for (const auto &entry : fs::recursive_directory_iterator(expectedRoot)) {
            if (!entry.is_regular_file()) continue;
            std::string name = fs::relative(entry.path(), expectedRoot).string();
            for (char &c : name) c = c == '/' ? '\\' : c;
            expected.push_back(name);
            std::string winPath = "C:\\" + relative + "\\" + name;
            for (char &c : winPath) c = c == '/' ? '\\' : c;
            std::string actual;
            EXPECT_TRUE(winsim::ReadWholeFile(winPath, &actual)) << winPath << " missing";
            EXPECT_TRUE(actual == HostFile(entry.path().string())) << winPath << " differs";
        }
        std::string winDir = "C:\\" + relative;
        for (char &c : winDir) c = c == '/' ? '\\' : c;
        std::vector<std::string> actual;
        for (const std::string &p : winsim::ListTree(winDir))
            if (p.empty() || p.back() != '\\') actual.push_back(p);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, actual) << winDir;
    }
};

TEST_P(WholeRunTest, APatchedMachineMatchesTheSampleAfterTheRestart) {
    const bool win95 = GetParam() == winsim::Platform::Windows95;
    if (win95) {
        // Another installer's replacement waiting for the same restart.
        ASSERT_TRUE(winsim::WriteWholeFile("C:\\OTHER\\LIB.DLL", "old"));
        ASSERT_TRUE(winsim::WriteWholeFile("C:\\OTHER\\LIB.NEW", "new"));
        ASSERT_TRUE(WritePrivateProfileSectionA("Rename", "C:\\OTHER\\LIB.DLL=C:\\OTHER\\LIB.NEW\0",
                                                "C:\\WINDOWS\\WININIT.INI"));
    }
    winsim::QueueAnswers({IDYES, IDNO});
    EXPECT_EQ(0, RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0));
    EXPECT_EQ((std::vector<std::string>{ManifestString(MSG_CONFIRM), ManifestString(MSG_RESTART_QUESTION)}), BoxTexts());
    // Every status could be read while its stage ran, not only the
    // patcher's, whose wait pumps the messages.
    EXPECT_EQ((std::vector<std::string>{ManifestString(STATUS_DISK_SPACE), ManifestString(STATUS_EXTRACTING),
                                        ManifestString(STATUS_COPYING), ManifestString(STATUS_PATCHING),
                                        ManifestString(STATUS_REGISTRY)}),
              PaintedStatusTexts());
    // Before the restart: the new version-check file waits beside the old
    // one, the patcher and the patch directory are gone.
    EXPECT_TRUE(winsim::Exists(InInstallDir("wayfront.exX")));
    EXPECT_FALSE(winsim::Exists(kSamplePatchDir));
    // Nothing installed or shared is deleted or overwritten before the
    // restart: a user who does not restart yet keeps a working product.
    const Tree now = SimTree();
    for (const auto &file : HostTree(SamplePath("before/drive_c"))) {
        const auto found = now.find(file.first);
        EXPECT_TRUE(found != now.end() && found->second == file.second) << file.first << " changed before the restart";
    }
    EXPECT_EQ(0u, winsim::GetHeapStats().liveBytes);

    // A second run before the restart refuses.
    winsim::QueueAnswers({IDOK});
    RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
    EXPECT_EQ(ManifestString(MSG_RESTART_PENDING), BoxTexts().back());

    winsim::Restart();
    ExpectTreeAsAfter("Program Files/Quenmark/Wayfront");
    ExpectTreeAsAfter("Quenmark/Shared");
    if (win95) {
        EXPECT_FALSE(winsim::Exists("C:\\WINDOWS\\WININIT.INI"));
        EXPECT_TRUE(winsim::Exists("C:\\WINDOWS\\WININIT.BAK"));
        std::string other;
        EXPECT_TRUE(winsim::ReadWholeFile("C:\\OTHER\\LIB.DLL", &other));
        EXPECT_EQ("new", other);
    }
    for (const std::string &line : winsim::RestartLog()) EXPECT_EQ(std::string::npos, line.find("failed")) << line;

    const std::string ours = winsim::ExportRegText(kProductKeys);
    EXPECT_NE(std::string::npos,
              winsim::ExportRegText({"HKEY_CURRENT_USER\\Software\\Quenmark"}).find("OIWin95Frame"));
    // After the restart the installed version is the new one.
    winsim::QueueAnswers({IDOK});
    RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
    EXPECT_EQ(
        "Incorrect version of Tolvane Wayfront installed ( VERSION 95.0.C ).  "
        "This patch can only be applied to VERSION 95.0.b.",
        BoxTexts().back());

    // The registry as the sample's model has it.
    winsim::Reset(Root() + "/expected");
    std::string error;
    ASSERT_TRUE(winsim::ImportRegFile(SamplePath("after/machine.reg"), &error)) << error;
    const std::string expected = winsim::ExportRegText(kProductKeys);
    EXPECT_EQ(expected, ours);
}

// Both products' patches as patchbuild build made them, one after the
// other, each followed by a restart, in each order: the machine ends as the
// builder's model of the two patches in that order, files, counts, usage
// records and the viewer's dialog.
class ChainedRunTest : public SampleRunTest,
                       public ::testing::WithParamInterface<std::tuple<winsim::Platform, std::string>> {};

TEST_P(ChainedRunTest, BothPatchesEndAsTheModelOfThemInThatOrder) {
    winsim::SetPlatform(std::get<0>(GetParam()));
    const std::string order = std::get<1>(GetParam());
    for (char product : order) {
        const std::string installer = std::string(WF_DIST_DIR) + (product == 'w' ? "/wfpatch.exe" : "/qspatch.exe");
        ASSERT_TRUE(winsim::LoadProgramResources(installer)) << installer;
        const size_t shown = winsim::MessageBoxes().size();
        winsim::QueueAnswers({IDYES, IDNO});
        RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
        ASSERT_EQ(shown + 2, winsim::MessageBoxes().size()) << installer;
        EXPECT_EQ(ManifestString(MSG_RESTART_QUESTION), winsim::MessageBoxes().back().text) << installer;
        winsim::Restart();
    }
    const std::vector<std::string> keys = {"HKEY_LOCAL_MACHINE\\" SHARED_DLLS_KEY,
                                           "HKEY_LOCAL_MACHINE\\Software\\Quenmark",
                                           "HKEY_CURRENT_USER\\Software\\Quenmark"};
    const Tree files = SimTree();
    const std::string registry = winsim::ExportRegText(keys);
    const std::string model = SamplePath("after-" + order);
    EXPECT_TRUE(files == HostTree(model + "/drive_c")) << "the files are not the model's";
    winsim::Reset(Root() + "/expected");
    std::string error;
    ASSERT_TRUE(winsim::ImportRegFile(model + "/machine.reg", &error)) << error;
    EXPECT_EQ(winsim::ExportRegText(keys), registry);
}

INSTANTIATE_TEST_SUITE_P(Orders, ChainedRunTest,
                         ::testing::Combine(::testing::Values(winsim::Platform::WindowsNT,
                                                              winsim::Platform::Windows95),
                                            ::testing::Values(std::string("wq"), std::string("qw"))),
                         [](const ::testing::TestParamInfo<ChainedRunTest::ParamType> &info) {
                             return std::string(std::get<0>(info.param) == winsim::Platform::WindowsNT ? "NT_"
                                                                                                      : "Win95_") +
                                    std::get<1>(info.param);
                         });

// Each stage failing on the sample: its message, owned by the progress
// dialog; the installed files never touched; the registry as it was, also
// where the commit had begun and was undone.
TEST_F(SampleRunTest, EachFailingStageLeavesTheInstallationIntact) {
    struct Case {
        const char *what;
        void (*arrange)();
        UINT message;
    };
    const Case cases[] = {
        {"too little free space",
         [] {
             winsim::DiskGeometry small;
             small.freeClusters = 10;
             winsim::SetDiskGeometry('C', small);
         },
         MSG_NO_DISK_SPACE},
        // The shared directory on a drive of its own with room to spare: the
        // check asks about the install directory's drive, which does not
        // answer, and the run stops there.
        {"the install directory's drive does not answer",
         [] {
             const std::string d = winsim::HostPath("C:\\") + "/../d";
             std::filesystem::create_directories(d + "/Quenmark/Shared");
             winsim::MapDrive('D', d);
             SetRegText(SHARED_USAGE_KEY, SHARED_LOCATION_VALUE, "D:\\Quenmark\\Shared");
             winsim::InjectFault({"GetDiskFreeSpaceA", "C:\\", 0, -1, ERROR_NOT_READY});
         },
         MSG_NO_DISK_SPACE},
        {"patch directory cannot be entered",
         [] { winsim::InjectFault({"SetCurrentDirectoryA", PATCH_DIRECTORY_NAME}); }, MSG_DIRECTORY_FAILED},
        {"expansion fails", [] { winsim::InjectFault({"LZCopy", "", 3, 1, ERROR_DISK_FULL}); }, MSG_EXTRACT_FAILED},
        {"a payload resource cannot be loaded", [] { winsim::InjectFault({"LoadResource", "", 0, 1}); },
         MSG_EXTRACT_FAILED},
        {"a payload resource cannot be locked", [] { winsim::InjectFault({"LockResource", "", 0, 1}); },
         MSG_EXTRACT_FAILED},
        {"an expansion source cannot be opened",
         [] { winsim::InjectFault({"LZOpenFileA", ManifestString(BLOCK_PAYLOAD + 2), 0, 1, ERROR_SHARING_VIOLATION}); },
         MSG_EXTRACT_FAILED},
        {"an installed file is missing",
         [] {
             const std::string path = InInstallDir(ManifestString(BLOCK_STAGED_FILES + 3));
             ASSERT_TRUE(DeleteFileA(path.c_str()));
         },
         MSG_STAGING_FAILED},
        {"a staged copy is refused by a sharing violation",
         [] { winsim::InjectFault({"CopyFileA", "-> C:\\Program Files", 1, 1, ERROR_SHARING_VIOLATION}); },
         MSG_STAGING_FAILED},
        {"a read-only leftover copy cannot be made writable",
         [] {
             const std::string leftover = std::string(kSamplePatchDir) + "\\" + ManifestString(BLOCK_STAGED_FILES + 2);
             ASSERT_TRUE(winsim::WriteWholeFile(leftover, "left by an earlier run"));
             ASSERT_TRUE(SetFileAttributesA(leftover.c_str(), FILE_ATTRIBUTE_READONLY));
             winsim::InjectFault({"SetFileAttributesA", ManifestString(BLOCK_STAGED_FILES + 2)});
         },
         MSG_STAGING_FAILED},
        {"the patch directory's short form cannot be had",
         [] { winsim::InjectFault({"GetShortPathNameA", PATCH_DIRECTORY_NAME}); }, MSG_PATCH_FAILED},
        {"an installed file is another version",
         [] {
             const std::string path = InInstallDir(ManifestString(BLOCK_STAGED_FILES + 4));
             std::string bytes;
             ASSERT_TRUE(winsim::ReadWholeFile(path, &bytes));
             bytes[bytes.size() / 3] ^= 0x20;
             ASSERT_TRUE(winsim::WriteWholeFile(path, bytes));
         },
         MSG_PATCH_FAILED},
        {"a shared count of another type",
         [] {
             SetRegValue(SHARED_DLLS_KEY, "C:\\Quenmark\\Shared\\qmsound.dll", REG_MULTI_SZ, std::string("2\0\0", 3));
         },
         MSG_REGISTRY_FAILED},
        {"a count cannot be written", [] { winsim::InjectFault({"RegSetValueExA", "qmfont32.dll", 0, 1}); },
         MSG_REGISTRY_FAILED},
        {"a new file cannot be placed",
         [] {
             // The move fails, and so does the copy that stands in for it.
             std::string replacement = ManifestString(BLOCK_INSTALL_MOVES + 5);
             replacement.back() = 'X';
             winsim::InjectFault({"MoveFileA", ManifestString(BLOCK_INSTALL_MOVES + 5)});
             winsim::InjectFault({"CopyFileA", replacement});
         },
         MSG_SCHEDULE_FAILED},
        {"a delayed rename is refused",
         [] { winsim::InjectFault({"MoveFileExA", ManifestString(BLOCK_INSTALL_MOVES + 3), 0, 1}); },
         MSG_SCHEDULE_FAILED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange();
        const std::string registry = winsim::ExportRegText({"HKEY_LOCAL_MACHINE\\Software"});
        std::vector<std::pair<std::string, std::string>> installed;
        for (const std::string &name : winsim::ListTree(kSampleInstallDir)) {
            std::string bytes;
            if (winsim::ReadWholeFile(InInstallDir(name), &bytes))
                installed.emplace_back(name, bytes);
        }

        winsim::QueueAnswers({IDYES});
        EXPECT_EQ(0, RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0));
        const std::vector<winsim::UiEvent> boxes = winsim::MessageBoxes();
        ASSERT_EQ(2u, boxes.size());
        EXPECT_EQ(ManifestString(c.message), boxes[1].text);

        EXPECT_NE(nullptr, boxes[1].window);
        EXPECT_EQ(-1, winsim::FindCall("GetDiskFreeSpaceA", "D:"));
        EXPECT_EQ(registry, winsim::ExportRegText({"HKEY_LOCAL_MACHINE\\Software"}));
        EXPECT_EQ(std::string::npos, winsim::ExportRegText({"HKEY_LOCAL_MACHINE"}).find("PendingFileRename"));

        // After a restart every installed file is what it was.
        winsim::Restart();
        for (const auto &file : installed) {
            std::string now;
            EXPECT_TRUE(winsim::ReadWholeFile(InInstallDir(file.first), &now)) << file.first;
            EXPECT_TRUE(now == file.second) << file.first << " changed";
        }
    }
}

// The viewer's dialog settings are a convenience for another program: when
// they cannot be written the patch is still complete, and the run still
// ends with the restart question; the restart installs the new version.
TEST_P(WholeRunTest, AViewerRegistrationThatFailsStillEndsWithTheRestartQuestion) {
    const winsim::Fault faults[] = {
        {"RegCreateKeyExA", "Snapdesk"},        // the key cannot be made
        {"RegSetValueExA", "DriveNameCtrlId"},  // a value cannot be written
    };
    winsim::Reset(Root() + "/expected");
    std::string error;
    ASSERT_TRUE(winsim::ImportRegFile(SamplePath("after/machine.reg"), &error)) << error;
    const std::string expected = winsim::ExportRegText(kProductKeys);
    for (const winsim::Fault &fault : faults) {
        SCOPED_TRACE(fault.function);
        SetUp();
        winsim::InjectFault(fault);
        winsim::QueueAnswers({IDYES, IDNO});
        EXPECT_EQ(0, RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0));
        EXPECT_EQ((std::vector<std::string>{ManifestString(MSG_CONFIRM), ManifestString(MSG_RESTART_QUESTION)}),
                  BoxTexts());
        EXPECT_NE(-1, winsim::FindCall(fault.function, fault.argContains));
        EXPECT_FALSE(winsim::Exists(kSamplePatchDir));
        winsim::Restart();
        ExpectTreeAsAfter("Program Files/Quenmark/Wayfront");
        ExpectTreeAsAfter("Quenmark/Shared");
        EXPECT_EQ(expected, winsim::ExportRegText(kProductKeys));
        EXPECT_EQ(std::string::npos,
                  winsim::ExportRegText({"HKEY_CURRENT_USER\\Software\\Quenmark"}).find("FileNameCtrlId"));
    }
}

// A product installed from a CD-ROM: every installed file read-only. The
// staged copies are made writable for the patcher, and the restart replaces
// the read-only files all the same.
TEST_P(WholeRunTest, AReadOnlyInstallationIsPatchedThroughTheRestart) {
    for (const std::string &name : winsim::ListTree(kSampleInstallDir)) {
        if (name.back() != '\\') {
            ASSERT_TRUE(SetFileAttributesA(InInstallDir(name).c_str(),
                                           FILE_ATTRIBUTE_READONLY));
        }
    }
    winsim::QueueAnswers({IDYES, IDNO});
    EXPECT_EQ(0, RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0));
    EXPECT_EQ((std::vector<std::string>{ManifestString(MSG_CONFIRM), ManifestString(MSG_RESTART_QUESTION)}), BoxTexts());
    EXPECT_FALSE(winsim::Exists(kSamplePatchDir));
    winsim::Restart();
    ExpectTreeAsAfter("Program Files/Quenmark/Wayfront");
    ExpectTreeAsAfter("Quenmark/Shared");
    for (const std::string &line : winsim::RestartLog()) EXPECT_EQ(std::string::npos, line.find("failed")) << line;
}

INSTANTIATE_TEST_SUITE_P(BothPlatforms, WholeRunTest,
                         ::testing::Values(winsim::Platform::WindowsNT, winsim::Platform::Windows95),
                         [](const ::testing::TestParamInfo<winsim::Platform> &info) {
                             return info.param == winsim::Platform::WindowsNT ? "NT" : "Win95";
                         });

}  // namespace
