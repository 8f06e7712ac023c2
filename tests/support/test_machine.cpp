#include "test_machine.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/pending_ops.h"
#include "manifest/manifest.h"

// Tests that run several cases on fresh machines call SetUp again; the
// previous machine's folder goes first.
void MachineTest::SetUp() {
    TearDown();
    std::string pattern = (std::filesystem::temp_directory_path() / "winsim-XXXXXX").string();
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    root_ = pattern;
    winsim::Reset(root_);
    ASSERT_TRUE(winsim::LoadResFile(WF_RES_PATH)) << "cannot load " << WF_RES_PATH;
    SetPatchModule(winsim::ModuleInstance());
}

const char kSampleInstallDir[] = "C:\\Program Files\\Quenmark\\Wayfront";
const char kSampleSharedDir[] = "C:\\Quenmark\\Shared";
const char kSampleVersionFile[] = "C:\\Program Files\\Quenmark\\Wayfront\\wayfront.exe";
const char kSamplePatchDir[] = "C:\\Program Files\\Quenmark\\Wayfront\\" PATCH_DIRECTORY_NAME;

std::string InInstallDir(const std::string &name) { return std::string(kSampleInstallDir) + "\\" + name; }
std::string InSharedDir(const std::string &name) { return std::string(kSampleSharedDir) + "\\" + name; }
std::string InPatchDir(const std::string &name) { return std::string(kSamplePatchDir) + "\\" + name; }

std::string ManifestString(UINT id) {
    char text[512];
    LoadManifestString(id, text, sizeof text);
    return text;
}

std::vector<std::string> PaintedStatusTexts() {
    std::vector<std::string> painted;
    bool changed = true;  // the template's text, until the first paint
    for (const winsim::UiEvent &event : winsim::UiEvents()) {
        if (event.item != IDC_STATUS) continue;
        if (event.kind == winsim::UiEvent::SetItemText) changed = true;
        if (event.kind == winsim::UiEvent::Paint && changed) {
            painted.push_back(event.text);
            changed = false;
        }
    }
    return painted;
}

std::string SimFile(const std::string &winPath) {
    std::string bytes;
    winsim::ReadWholeFile(winPath, &bytes);
    return bytes;
}

std::string HostFile(const std::string &hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string MachineTest::SamplePath(const std::string &relative) { return std::string(WF_SAMPLE_DIR) + "/" + relative; }

std::string MachineTest::FixturePath(const std::string &name) { return std::string(WF_FIXTURE_DIR) + "/" + name; }

void MachineTest::InstallSample() {
    std::string message;
    ASSERT_TRUE(winsim::LoadMachineImage(SamplePath("before"), &message)) << message;
}

void MachineTest::TearDown() {
    // Nothing armed by a test (a kill point outlives Reset()) reaches the
    // next machine.
    winsim::KillAtCall(-1);
    winsim::ClearFaults();
    if (root_.empty()) return;
    // A failed run leaves its records in the process-wide list; they live on
    // this machine's heap, which the next Reset() frees.
    while (PendingFileOp *record = PopPendingOp()) FreePendingOp(record);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    root_.clear();
}
