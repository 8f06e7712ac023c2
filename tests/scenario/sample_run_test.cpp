// Whole runs of the installer on the sample installation, on winsim, with
// the real payload and the real patcher (its host twin).
#include <fstream>
#include <iterator>
#include <string>

#include "manifest/manifest.h"
#include "patcher/launch.h"
#include "staging/extract.h"
#include "staging/stage_copy.h"
#include "test_machine.h"

namespace {

const char kPatchDir[] = "C:\\Program Files\\Quenmark\\Wayfront\\PatchB2C";

std::string HostFile(const std::string &hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Name(UINT id) {
    char name[MAX_PATH];
    LoadManifestString(id, name, sizeof name);
    return name;
}

class SampleRunTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallSample();
        winsim::RegisterHostTwin("patch.exe", WF_PATCH_TWIN);
    }

    static std::string PatchDirFile(const std::string &name) {
        std::string bytes;
        EXPECT_TRUE(winsim::ReadWholeFile(std::string(kPatchDir) + "\\" + name, &bytes)) << name;
        return bytes;
    }
};

// The stages up to the patcher, as the driver runs them: the payload
// expanded byte for byte, the installed files staged, and the staged copies
// patched into the new version's files.
TEST_F(SampleRunTest, StagingAndPatchingMakeTheNewFiles) {
    CreateDirectoryA(kPatchDir, nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(kPatchDir));
    ASSERT_EQ(1, ExtractPayloads(kPatchDir));
    ASSERT_EQ(1, StageInstalledFiles(kSampleInstallDir, kPatchDir));
    ASSERT_EQ(1, RunPatcherFromManifest(STR_PATCHER_PROGRAM, STR_PATCHER_ARGUMENT, kPatchDir));

    EXPECT_EQ(HostFile(WF_PATCHER_EXE), PatchDirFile("patch.exe"));
    EXPECT_EQ(HostFile(SamplePath("patch.rtp")), PatchDirFile("patch.rtp"));
    for (UINT k = 3; k <= 14; ++k) {
        const std::string name = Name(1100 + k);
        EXPECT_EQ(HostFile(SamplePath("pe/new/" + name)), PatchDirFile(name)) << name;
    }
    for (UINT k = 1; k <= 5; ++k) {
        const std::string name = Name(2000 + k);
        EXPECT_EQ(HostFile(SamplePath("pe/new/" + name)), PatchDirFile(name)) << name << " not patched";
    }
    // Nothing else: no stored name, no temporary file, no PIF.
    EXPECT_EQ(19u, winsim::ListTree(kPatchDir).size());
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_EQ("C:\\PROGRA~1\\Quenmark\\Wayfront\\PatchB2C\\patch.exe patch.rtp",
              winsim::StartedProcesses()[0].file);
}

// A patcher that cannot patch (an installed file that is not the version
// the patch is for) fails the stage: message 204, nothing later runs.
TEST_F(SampleRunTest, AnInstalledFileOfAnotherVersionStopsThePatch) {
    const std::string changed = std::string(kSampleInstallDir) + "\\" + Name(2003);
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile(changed, &bytes));
    bytes[bytes.size() / 2] ^= 0x55;
    ASSERT_TRUE(winsim::WriteWholeFile(changed, bytes));
    CreateDirectoryA(kPatchDir, nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(kPatchDir));
    ASSERT_EQ(1, ExtractPayloads(kPatchDir));
    ASSERT_EQ(1, StageInstalledFiles(kSampleInstallDir, kPatchDir));
    EXPECT_EQ(0, RunPatcherFromManifest(STR_PATCHER_PROGRAM, STR_PATCHER_ARGUMENT, kPatchDir));
    EXPECT_EQ(bytes, PatchDirFile(Name(2003)));  // left as it was
}

}  // namespace
