#include "test_machine.h"

#include <cstdlib>
#include <filesystem>

#include "commit/windows_version.h"
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
    ForgetWindowsVersion();
}

void MachineTest::TearDown() {
    if (root_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    root_.clear();
}
