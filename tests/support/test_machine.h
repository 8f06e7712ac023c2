// A fresh simulated machine for one test: its own host folder, the
// installer's compiled resources loaded, Windows NT, code page 1252.
#ifndef WF_TESTS_TEST_MACHINE_H
#define WF_TESTS_TEST_MACHINE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "winsim.h"

// Where the sample installation lies (see sample/wayfront.patch).
extern const char kSampleInstallDir[];
extern const char kSampleSharedDir[];
extern const char kSampleVersionFile[];  // full path of the version-check file
extern const char kSamplePatchDir[];     // where a run makes its patch directory

// `name` in the sample's install, shared and patch directories.
std::string InInstallDir(const std::string &name);
std::string InSharedDir(const std::string &name);
std::string InPatchDir(const std::string &name);

// The manifest's string `id` (up to 511 characters), empty when absent.
std::string ManifestString(UINT id);
// The texts of the progress dialog's status line that were painted, each
// once, in order: what a user could read. A text set and replaced before
// any paint is missing.
std::vector<std::string> PaintedStatusTexts();
// The bytes of a file on the simulated machine, empty when it is missing.
std::string SimFile(const std::string &winPath);
// The bytes of a file on the host.
std::string HostFile(const std::string &hostPath);

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Disarms any kill point and fault, frees the pending records a failed
    // run left, and removes the machine's folder; SetUp() calls it first.
    void TearDown() override;
    // The host folder behind drive C:.
    const std::string &Root() const { return root_; }
    // Puts the sample's installed product on drive C: and its registry in
    // place: the machine as a user has it before the patch.
    void InstallSample();
    // A file the build made for the tests (sample builds, version fixtures).
    static std::string SamplePath(const std::string &relative);
    static std::string FixturePath(const std::string &name);

private:
    std::string root_;
};

#endif
