// patch_twin, the host build of patch.exe, run as winsim will run it: a
// process of its own in the patch directory, with the patch data's name as
// its argument.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "patch_apply.h"
#include "patch_fixture.h"
#include "scratch_dir.h"
#include "test_machine.h"

namespace fs = std::filesystem;

namespace {

const char *kNames[] = {"wayfront.exe", "wfcore.dll", "wfview.dll", "wfprint.dll", "wfnet.dll"};

std::string SampleFile(const std::string &relative) { return std::string(WF_SAMPLE_BUILD_DIR) + "/" + relative; }

struct TwinRun {
    int exitCode = -1;
    std::string output;
};

// Runs the twin in `dir` with `arguments` (already quoted for the shell).
TwinRun RunTwin(const fs::path &dir, const std::string &arguments) {
    const std::string command = "cd '" + dir.string() + "' && '" WF_PATCH_TWIN "' " + arguments;
    TwinRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[256];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class PatchTwinTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = scratch_.Path();
        fs::copy_file(SampleFile("patch.rtp"), dir_ / "patch.rtp");
        for (const char *name : kNames)
            fs::copy_file(SampleFile(std::string("before/drive_c/Program Files/Quenmark/Wayfront/") + name),
                          dir_ / name);
    }
    void ExpectNewBuilds() const {
        for (const char *name : kNames)
            EXPECT_TRUE(HostFile((dir_ / name).string()) == HostFile(SampleFile(std::string("pe/new/") + name)))
                << name << " is not its 95.0.C build";
    }
    static std::string Lines(const char *status) {
        std::string text;
        for (const char *name : kNames) text += std::string(name) + ": " + status + "\n";
        return text;
    }
    ScratchDir scratch_{"patchtwin"};
    fs::path dir_;
};

TEST_F(PatchTwinTest, PatchesTheSampleAndARerunChangesNothing) {
    TwinRun first = RunTwin(dir_, "patch.rtp");
    EXPECT_EQ(PATCH_EXIT_OK, first.exitCode) << first.output;
    EXPECT_EQ(Lines("patched"), first.output);
    ExpectNewBuilds();
    TwinRun second = RunTwin(dir_, "patch.rtp");
    EXPECT_EQ(PATCH_EXIT_OK, second.exitCode) << second.output;
    EXPECT_EQ(Lines("already up to date"), second.output);
    ExpectNewBuilds();
    // Nothing but the files it was given.
    int count = 0;
    for (const auto &entry : fs::directory_iterator(dir_)) count += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(6, count);
}

TEST_F(PatchTwinTest, ExitCodes) {
    struct Case {
        const char *what;
        std::string arguments;
        int exitCode;
        std::string firstLine;
    } cases[] = {
        {"no argument", "", PATCH_EXIT_USAGE, "usage: patch.exe <patch data>"},
        {"two arguments", "patch.rtp patch.rtp", PATCH_EXIT_USAGE, "usage: patch.exe <patch data>"},
        {"missing data", "other.rtp", PATCH_EXIT_BAD_DATA, "other.rtp: cannot read the patch data (error 2)"},
        {"a file that is not patch data", "wfnet.dll", PATCH_EXIT_BAD_DATA,
         "wfnet.dll: damaged patch data: not patch data"},
    };
    for (const Case &c : cases) {
        TwinRun run = RunTwin(dir_, c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode) << c.what << ": " << run.output;
        EXPECT_EQ(c.firstLine, run.output.substr(0, run.output.find('\n'))) << c.what;
    }
    // A changed installed file fails its line and the run.
    {
        FILE *f = std::fopen((dir_ / "wfview.dll").string().c_str(), "ab");
        ASSERT_NE(f, nullptr);
        std::fputc('!', f);
        std::fclose(f);
    }
    TwinRun run = RunTwin(dir_, "patch.rtp");
    EXPECT_EQ(PATCH_EXIT_FAILED, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("wfview.dll: not the version this patch is for")) << run.output;
}

}  // namespace
