// The patcher stage: the command line, the direct start and the PIF route,
// the wait with its message pump, and what is left afterwards. The patcher
// is a host twin: a shell command run in place of patch.exe.
#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "patcher/launch.h"
#include "test_machine.h"

namespace {

// The same directory as the patcher is started with: its short form.
const char kShortPatchDir[] = "C:\\PROGRA~1\\Quenmark\\Wayfront\\" PATCH_DIRECTORY_NAME;

// The stage as the driver runs it, with the manifest's patcher strings.
int RunPatcher(const char *patchDir = kSamplePatchDir) {
    return RunPatcherFromManifest(STR_PATCHER_PROGRAM, STR_PATCHER_ARGUMENT, patchDir);
}

std::string PeProgram() {
    std::string bytes(0x100, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[24] = 0x40;
    bytes[60] = static_cast<char>(0x80);
    bytes.replace(0x80, 4, std::string("PE\0\0", 4));
    return bytes;
}

std::string DosProgram() {
    std::string bytes(0x100, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[24] = 0x1C;
    return bytes;
}

class LaunchTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("patch.exe"), PeProgram()));
        ASSERT_TRUE(SetCurrentDirectoryA(kSamplePatchDir));
    }

};

TEST_F(LaunchTest, ThePatcherRunsDirectlyInThePatchDirectory) {
    winsim::RegisterShellTwin("patch.exe", "echo \"$@\" > args.txt; pwd > cwd.txt");
    EXPECT_EQ(1, RunPatcher());
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    // The short form holds no blank: the first blank is the argument's, and
    // the shell gets the program and its argument apart.
    EXPECT_EQ(std::string(kShortPatchDir) + "\\patch.exe", winsim::StartedProcesses()[0].file);
    EXPECT_EQ(std::vector<std::string>{"patch.rtp"}, winsim::StartedProcesses()[0].arguments);
    // A failed launch must not show the shell's own box before MSG_PATCH_FAILED.
    EXPECT_TRUE(winsim::StartedProcesses()[0].mask & SEE_MASK_FLAG_NO_UI);
    EXPECT_EQ(SW_SHOWMINNOACTIVE, winsim::StartedProcesses()[0].show);  // the dialog stays in view
    EXPECT_EQ("patch.rtp\n", SimFile(InPatchDir("args.txt")));
    EXPECT_EQ(winsim::HostPath(kSamplePatchDir) + "\n", SimFile(InPatchDir("cwd.txt")));
    EXPECT_FALSE(winsim::Exists(InPatchDir("pcpcwf.pif")));
    EXPECT_EQ(1, winsim::CallCount("GetExitCodeProcess"));
    EXPECT_NE(-1, winsim::FindCall("CloseHandle"));
}

// On a volume without 8.3 names the patch directory's "short" form is its
// long form, blanks and all; the program path still reaches the shell whole,
// not cut at its first blank into "C:\Program" (or a C:\Program.exe there).
TEST_F(LaunchTest, APatchDirectoryWithoutShortNamesIsNotCutAtItsBlanks) {
    winsim::SetShortNames('C', false);
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\Program.exe", PeProgram()));
    winsim::RegisterShellTwin("program.exe", "exit 0");
    winsim::RegisterShellTwin("patch.exe", "echo \"$@\" > args.txt");
    EXPECT_EQ(1, RunPatcher());
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_EQ(InPatchDir("patch.exe"), winsim::StartedProcesses()[0].file);
    EXPECT_EQ(std::vector<std::string>{"patch.rtp"}, winsim::StartedProcesses()[0].arguments);
    EXPECT_EQ("patch.rtp\n", SimFile(InPatchDir("args.txt")));
}

// The shell refuses a patcher that is not there; its own box must not
// appear before the stage's message.
TEST_F(LaunchTest, AMissingPatcherFailsWithoutTheShellsBox) {
    ASSERT_TRUE(DeleteFileA(InPatchDir("patch.exe").c_str()));
    EXPECT_EQ(0, RunPatcher());
    EXPECT_NE(-1, winsim::FindCall("ShellExecuteExA", "patch.exe"));
    EXPECT_EQ(0u, winsim::MessageBoxes().size());
}

TEST_F(LaunchTest, WithoutAPatcherNothingIsStarted) {
    for (bool empty : {false, true}) {
        SetUp();
        if (empty) winsim::SetString(STR_PATCHER_PROGRAM, "");
        else winsim::RemoveString(STR_PATCHER_PROGRAM);
        EXPECT_EQ(1, RunPatcher());
        EXPECT_EQ(0u, winsim::StartedProcesses().size());
        EXPECT_EQ(-1, winsim::FindCall("CreateFileA", "pcpcwf"));
    }
}

// The command line then ends in the blank, and the patcher gets no argument.
TEST_F(LaunchTest, AMissingArgumentPassesNone) {
    winsim::RegisterShellTwin("patch.exe", "exit 0");
    winsim::RemoveString(STR_PATCHER_ARGUMENT);
    EXPECT_EQ(1, RunPatcher());
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_EQ(std::string(kShortPatchDir) + "\\patch.exe", winsim::StartedProcesses()[0].file);
    EXPECT_EQ(std::vector<std::string>{}, winsim::StartedProcesses()[0].arguments);
}

// A patcher that could not patch its files says so through its exit code;
// going on would install the unpatched copies at the next restart.
TEST_F(LaunchTest, ADirectlyStartedPatcherThatFailsFailsTheStage) {
    winsim::RegisterShellTwin("patch.exe", "exit 3");
    EXPECT_EQ(0, RunPatcher());
    winsim::InjectFault({"GetExitCodeProcess", ""});
    winsim::RegisterShellTwin("patch.exe", "exit 0");
    EXPECT_EQ(0, RunPatcher());
}

TEST_F(LaunchTest, AShellThatReturnsNoProcessIsNotWaitedFor) {
    winsim::RegisterShellTwin("patch.exe", "exit 3");
    winsim::SetShellReturnsNoProcess(true);
    EXPECT_EQ(1, RunPatcher());
    EXPECT_EQ(1, winsim::CallCount("WaitForSingleObject"));
    EXPECT_EQ(-1, winsim::FindCall("GetExitCodeProcess"));
}

TEST_F(LaunchTest, AShellFailureFailsTheStage) {
    winsim::InjectFault({"ShellExecuteExA", "", 0, -1, ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(0, RunPatcher());
    EXPECT_EQ(0, RunAndWait("", nullptr, kSamplePatchDir));
    EXPECT_EQ(0, RunAndWait(nullptr, "patch.rtp", kSamplePatchDir));
}

// While the patcher runs the thread's messages are dispatched, but a quit
// request is kept for later, with exit code 1, and the wait goes on.
TEST_F(LaunchTest, AQuitRequestDuringTheWaitStaysPending) {
    winsim::RegisterShellTwin("patch.exe", "sleep 0.3; echo done > done.txt");
    winsim::PostDuringWait(WM_USER + 5, 0);
    winsim::PostDuringWait(WM_QUIT, 0);
    EXPECT_EQ(1, RunPatcher());
    EXPECT_EQ("done\n", SimFile(InPatchDir("done.txt")));
    EXPECT_GT(winsim::CallCount("WaitForSingleObject"), 2);
    EXPECT_NE(-1, winsim::FindCall("DispatchMessageA"));
    const std::vector<MSG> pending = winsim::PendingMessages();
    ASSERT_EQ(1u, pending.size());
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), pending[0].message);
    EXPECT_EQ(1u, pending[0].wParam);
}

// A DOS patcher goes through a PIF that names it, starts it in the patch
// directory and is gone once it has ended. Its exit code is the DOS
// session's and is not read.
TEST_F(LaunchTest, ADosPatcherIsStartedThroughAPif) {
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("patch.exe"), DosProgram()));
    winsim::RegisterShellTwin("patch.exe", "ls > seen.txt; exit 5");
    EXPECT_EQ(1, RunPatcher());
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_EQ(std::string(kShortPatchDir) + "\\pcpcwf.pif", winsim::StartedProcesses()[0].file);
    EXPECT_EQ(std::vector<std::string>{}, winsim::StartedProcesses()[0].arguments);
    EXPECT_NE(std::string::npos, SimFile(InPatchDir("seen.txt")).find("pcpcwf.pif"));
    EXPECT_FALSE(winsim::Exists(InPatchDir("pcpcwf.pif")));
    EXPECT_EQ(-1, winsim::FindCall("GetExitCodeProcess"));
}

TEST_F(LaunchTest, APifLeftByAnEarlierRunIsReusedAndDeleted) {
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("patch.exe"), DosProgram()));
    std::string old(PIF_TEMPLATE_SIZE, '\0');
    old.replace(0, 5, "OLDPF");
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("pcpcwf.pif"), old));
    winsim::RegisterShellTwin("patch.exe", "cp pcpcwf.pif seen.pif");
    EXPECT_EQ(1, RunPatcher());
    const std::string seen = SimFile(InPatchDir("seen.pif"));
    EXPECT_EQ("OLDPF", seen.substr(0, 5));  // not written again from the template
    EXPECT_EQ(std::string("patch.exe\0", 10), seen.substr(PIF_PROGRAM, 10));
    // The start-up directory: the program's own, short, with its "\".
    const std::string startup = std::string(kShortPatchDir) + "\\";
    EXPECT_EQ(startup + '\0', seen.substr(PIF_DIRECTORY, startup.size() + 1));
    EXPECT_FALSE(winsim::Exists(InPatchDir("pcpcwf.pif")));
}

TEST_F(LaunchTest, AShellFailureStillDeletesAReadyPif) {
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("patch.exe"), DosProgram()));
    winsim::InjectFault({"ShellExecuteExA", "", 0, -1, ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(0, RunPatcher());
    EXPECT_NE(-1, winsim::FindCall("WriteFile", "pcpcwf"));
    EXPECT_FALSE(winsim::Exists(InPatchDir("pcpcwf.pif")));
}

// When the PIF cannot be prepared the DOS patcher is started directly; its
// exit code is still its DOS session's and is not read. A PIF that could not
// be filled in does not stay behind.
TEST_F(LaunchTest, AFailedPifPreparationFallsBackToADirectStart) {
    struct Case {
        const char *what;
        void (*arrange)();
    };
    const Case cases[] = {
        {"no template", [] { winsim::RemoveResource(10, ID_PIF_TEMPLATE); }},
        {"the program's full path cannot be had", [] { winsim::InjectFault({"GetFullPathNameA", "patch.exe"}); }},
        {"a field cannot be written", [] { winsim::InjectFault({"WriteFile", "pcpcwf", 1, 1, ERROR_DISK_FULL}); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("patch.exe"), DosProgram()));
        winsim::RegisterShellTwin("patch.exe", "exit 5");
        c.arrange();
        EXPECT_EQ(1, RunPatcher());
        ASSERT_EQ(1u, winsim::StartedProcesses().size());
        EXPECT_EQ(std::string(kShortPatchDir) + "\\patch.exe", winsim::StartedProcesses()[0].file);
        EXPECT_EQ(std::vector<std::string>{"patch.rtp"}, winsim::StartedProcesses()[0].arguments);
        EXPECT_EQ(-1, winsim::FindCall("GetExitCodeProcess"));
        EXPECT_FALSE(winsim::Exists(InPatchDir("pcpcwf.pif")));
    }
}

// The PIF's start-up directory holds 46 characters (PIF_DIRECTORY_WRITTEN
// with the terminator); a deeper program directory is refused, and the PIF
// written for it goes again.
TEST_F(LaunchTest, APifRefusedForALongProgramDirectoryIsDeleted) {
    const std::string deep = "C:\\Quenmark\\Wayfront\\Install\\Disk1\\Program\\" PATCH_DIRECTORY_NAME;  // 8.3 names
    ASSERT_TRUE(winsim::WriteWholeFile(deep + "\\patch.exe", DosProgram()));
    ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str()));
    ASSERT_GT(deep.size() + 1, PIF_DIRECTORY_WRITTEN - 1u);
    winsim::RegisterShellTwin("patch.exe", "exit 0");
    EXPECT_EQ(1, RunPatcher(deep.c_str()));
    EXPECT_NE(-1, winsim::FindCall("CreateFileA", "pcpcwf"));
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_EQ(deep + "\\patch.exe", winsim::StartedProcesses()[0].file);
    EXPECT_EQ(std::vector<std::string>{"patch.exe"}, winsim::ListTree(deep));
}

// The patch directory's short form is the program's path: without it the
// stage fails before anything is started (MSG_PATCH_FAILED).
TEST_F(LaunchTest, AShortPathThatCannotBeHadFailsTheStage) {
    winsim::RegisterShellTwin("patch.exe", "exit 0");
    winsim::InjectFault({"GetShortPathNameA", PATCH_DIRECTORY_NAME});
    EXPECT_EQ(0, RunPatcher());
    EXPECT_EQ(-1, winsim::FindCall("ShellExecuteExA"));
    EXPECT_EQ(0u, winsim::StartedProcesses().size());
}

TEST_F(LaunchTest, ANonProgramIsStartedDirectly) {
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("patch.exe"), "#!not a program"));
    winsim::RegisterShellTwin("patch.exe", "exit 0");
    EXPECT_EQ(1, RunAndWait("patch.exe", "patch.rtp", kSamplePatchDir));
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_EQ("patch.exe", winsim::StartedProcesses()[0].file);
    EXPECT_EQ(-1, winsim::FindCall("CreateFileA", "pcpcwf"));
}

}  // namespace
