// Processes and the message queue: host twins started by ShellExecuteExA,
// waits that really take their time, exit codes, the PIF route, and the
// quit request that arrives while the installer waits for the patcher.
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "test_machine.h"

namespace {

namespace fs = std::filesystem;

const char kPatchDir[] = "C:\\Program Files\\Quenmark\\Wayfront\\PatchB2C";

class ProcessTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(winsim::WriteWholeFile(std::string(kPatchDir) + "\\patch.exe", "MZ"));
        ASSERT_TRUE(SetCurrentDirectoryA(kPatchDir));
    }

    // ShellExecuteExA as the patcher launch fills it in.
    static BOOL Launch(const std::string &file, SHELLEXECUTEINFOA *info, const char *parameters = nullptr) {
        std::memset(info, 0, sizeof *info);
        info->cbSize = sizeof *info;
        info->fMask = SEE_MASK_NOCLOSEPROCESS;
        info->lpFile = file.c_str();
        info->lpParameters = parameters;
        info->nShow = SW_SHOW;
        return ShellExecuteExA(info);
    }
    // Starts the patcher by its short path and argument; returns its handle.
    static HANDLE StartPatcher() {
        SHELLEXECUTEINFOA info;
        const std::string file = "C:\\PROGRA~1\\QUENMARK\\WAYFRONT\\PATCHB2C\\patch.exe";
        EXPECT_TRUE(Launch(file, &info, "patch.rtp")) << "error " << GetLastError();
        EXPECT_NE(nullptr, info.hProcess);
        return info.hProcess;
    }
    // The first line of a file in the patch directory once the twin has
    // written it whole (the file may exist before its line is complete).
    std::string WaitForHostFile(const std::string &name) const {
        const fs::path path = fs::path(winsim::HostPath(kPatchDir)) / name;
        std::string content;
        for (int i = 0; i < 5000; ++i) {
            std::ifstream in(path, std::ios::binary);
            content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!content.empty() && content.back() == '\n') break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return content.substr(0, content.find('\n'));
    }
    static long ElapsedMs(std::chrono::steady_clock::time_point since) {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - since)
                                     .count());
    }
};

TEST_F(ProcessTest, TwinRunsInTheCurrentDirectoryWithItsArgument) {
    winsim::RegisterShellTwin("PATCH.EXE", "echo \"$0|$*\" > args.txt; pwd -P > cwd.txt; exit 3");
    HANDLE process = StartPatcher();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, INFINITE));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(3u, code);
    EXPECT_TRUE(CloseHandle(process));

    EXPECT_EQ("PATCH.EXE|patch.rtp", WaitForHostFile("args.txt"));
    EXPECT_EQ(fs::canonical(winsim::HostPath(kPatchDir)).string(), WaitForHostFile("cwd.txt"));
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    const winsim::StartedProcess &started = winsim::StartedProcesses()[0];
    EXPECT_EQ(std::string(kPatchDir) + "\\patch.exe", started.program);
    EXPECT_EQ(std::vector<std::string>{"patch.rtp"}, started.arguments);
    EXPECT_EQ(static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS), started.mask);

    // A closed handle is gone.
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(CloseHandle(process));
}

TEST_F(ProcessTest, WaitTimesOutWhileTheTwinRuns) {
    winsim::RegisterShellTwin("patch.exe", "sleep 0.4");
    HANDLE process = StartPatcher();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process, 60));
    EXPECT_GE(ElapsedMs(start), 60);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(STILL_ACTIVE, code);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 5000));
    EXPECT_LT(ElapsedMs(start), 3000);
    EXPECT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(0u, code);
    // An ended process answers at once, however often it is asked.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 0));
    CloseHandle(process);
}

TEST_F(ProcessTest, RefusedLaunchesAndBadHandles) {
    winsim::RegisterShellTwin("patch.exe", "exit 0");
    ASSERT_TRUE(winsim::WriteWholeFile(std::string(kPatchDir) + "\\readme.txt", ""));
    struct Case {
        const char *file;
        DWORD error;
        intptr_t shellError;
    } cases[] = {
        {"C:\\PatchB2C\\patch.exe", ERROR_PATH_NOT_FOUND, SE_ERR_PNF},
        {"missing.exe", ERROR_FILE_NOT_FOUND, SE_ERR_FNF},
        // The whole string is the file's name; arguments go in lpParameters.
        {"patch.exe patch.rtp", ERROR_FILE_NOT_FOUND, SE_ERR_FNF},
        {"", ERROR_FILE_NOT_FOUND, SE_ERR_FNF},
        {"readme.txt", ERROR_BAD_FORMAT, ERROR_BAD_FORMAT},  // no twin
    };
    for (const Case &c : cases) {
        SHELLEXECUTEINFOA info;
        SetLastError(0xDEAD);
        EXPECT_FALSE(Launch(c.file, &info)) << c.file;
        EXPECT_EQ(c.error, GetLastError()) << c.file;
        EXPECT_EQ(c.shellError, reinterpret_cast<intptr_t>(info.hInstApp)) << c.file;
        EXPECT_EQ(nullptr, info.hProcess) << c.file;
    }
    EXPECT_TRUE(winsim::StartedProcesses().empty());
    // Each refusal showed the shell's own box, owned by no window, as a probe
    // under Wine showed; with SEE_MASK_FLAG_NO_UI none.
    const std::vector<winsim::UiEvent> boxes = winsim::MessageBoxes();
    ASSERT_EQ(std::size(cases), boxes.size());
    EXPECT_EQ("Path not found.\r\n", boxes[0].text);
    EXPECT_EQ("File not found.\r\n", boxes[1].text);
    EXPECT_EQ("Error", boxes[0].caption);
    EXPECT_EQ(nullptr, boxes[0].window);
    SHELLEXECUTEINFOA quiet;
    std::memset(&quiet, 0, sizeof quiet);
    quiet.cbSize = sizeof quiet;
    quiet.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    quiet.lpFile = "missing.exe";
    EXPECT_FALSE(ShellExecuteExA(&quiet));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(boxes.size(), winsim::MessageBoxes().size());

    HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x1234));
    for (HANDLE handle : {HANDLE(nullptr), bogus}) {
        SetLastError(0);
        EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(handle, 60));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
}

TEST_F(ProcessTest, ShellWithoutProcessStartsNothing) {
    winsim::RegisterShellTwin("patch.exe", "exit 0");
    winsim::SetShellReturnsNoProcess(true);
    SHELLEXECUTEINFOA info;
    EXPECT_TRUE(Launch("patch.exe", &info, "patch.rtp"));
    EXPECT_EQ(nullptr, info.hProcess);
    EXPECT_GT(reinterpret_cast<intptr_t>(info.hInstApp), 32);
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_FALSE(winsim::StartedProcesses()[0].started);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(info.hProcess, 60));
}

TEST_F(ProcessTest, PifRunsTheProgramItNames) {
    winsim::RegisterShellTwin("patch.exe", "pwd -P > pif_cwd.txt; echo \"$#\" > pif_args.txt");
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    // The basic section of a PIF: program name at 0x24, start-up directory at
    // 0x65, parameters at 0xA5 (left empty, as the launch writes them).
    std::string pif(967, '\0');
    const std::string program = "PATCH.EXE";
    const std::string directory = "C:\\PROGRA~1\\QUENMARK\\WAYFRONT\\PATCHB2C\\";
    pif.replace(0x24, program.size(), program);
    pif.replace(0x65, directory.size(), directory);
    ASSERT_TRUE(winsim::WriteWholeFile(std::string(kPatchDir) + "\\pcpcwf.pif", pif));

    SHELLEXECUTEINFOA info;
    ASSERT_TRUE(Launch("C:\\PROGRA~1\\QUENMARK\\WAYFRONT\\PATCHB2C\\PCPCWF.PIF", &info))
        << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, INFINITE));
    CloseHandle(info.hProcess);
    EXPECT_EQ(fs::canonical(winsim::HostPath(kPatchDir)).string(), WaitForHostFile("pif_cwd.txt"));
    EXPECT_EQ("0", WaitForHostFile("pif_args.txt"));
    ASSERT_EQ(1u, winsim::StartedProcesses().size());
    EXPECT_EQ("C:\\PROGRA~1\\QUENMARK\\WAYFRONT\\PATCHB2C\\PCPCWF.PIF",
              winsim::StartedProcesses()[0].file);
    EXPECT_EQ(std::string(kPatchDir) + "\\patch.exe", winsim::StartedProcesses()[0].program);
    EXPECT_NE(-1, winsim::FindCall("ShellExecuteExA", "PCPCWF.PIF"));

    // A PIF naming a program that is not there.
    pif.replace(0x24, 9, "GONE.EXE\0", 9);
    ASSERT_TRUE(winsim::WriteWholeFile(std::string(kPatchDir) + "\\pcpcwf.pif", pif));
    EXPECT_FALSE(Launch(std::string(kPatchDir) + "\\pcpcwf.pif", &info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(ProcessTest, ResetKillsChildrenStillRunning) {
    winsim::RegisterShellTwin("patch.exe", "echo $$ > pid.txt; exec sleep 30");
    HANDLE process = StartPatcher();
    ASSERT_NE(nullptr, process);
    const std::string pidText = WaitForHostFile("pid.txt");
    ASSERT_FALSE(pidText.empty());
    const pid_t pid = static_cast<pid_t>(std::stol(pidText));
    ASSERT_EQ(0, ::kill(pid, 0));
    winsim::Reset(Root());
    EXPECT_EQ(-1, ::kill(pid, 0));
    EXPECT_EQ(ESRCH, errno);
}

TEST_F(ProcessTest, QueueReturnsPostedMessagesBeforeTheQuitRequest) {
    const UINT kApp = 0x8001;
    PostQuitMessage(4);
    winsim::PostThreadMessageForTest(kApp, 1);
    winsim::PostThreadMessageForTest(kApp + 1, 2);
    MSG msg{};
    // Filtered to the second message; WM_QUIT would pass any filter but waits
    // behind posted messages.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, kApp + 1, kApp + 1, PM_REMOVE));
    EXPECT_EQ(kApp + 1, msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(kApp, msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(kApp, msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 1, 2, PM_REMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), msg.message);
    EXPECT_EQ(4u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(winsim::PendingMessages().empty());
}

// The launch's wait: 60-ms slices, pumping between them; a WM_QUIT that
// arrives is posted again with exit code 1 and stays pending.
TEST_F(ProcessTest, QuitDuringTheWaitStaysPending) {
    winsim::RegisterShellTwin("patch.exe", "sleep 0.3");
    HANDLE process = StartPatcher();
    winsim::PostDuringWait(0x8001, 7);
    winsim::PostDuringWait(WM_QUIT, 0);
    int slices = 0, dispatched = 0, quits = 0;
    while (WaitForSingleObject(process, 60) == WAIT_TIMEOUT) {
        ++slices;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                ++quits;
                PostQuitMessage(1);
                break;
            }
            DispatchMessageA(&msg);
            ++dispatched;
        }
    }
    CloseHandle(process);
    EXPECT_GE(slices, 2);
    EXPECT_EQ(1, dispatched);
    EXPECT_GE(quits, 2);  // taken again in every later slice
    EXPECT_EQ(quits, winsim::CallCount("PostQuitMessage"));
    EXPECT_NE(-1, winsim::FindCall("DispatchMessageA", std::to_string(0x8001)));
    const std::vector<MSG> pending = winsim::PendingMessages();
    ASSERT_EQ(1u, pending.size());
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), pending[0].message);
    EXPECT_EQ(1u, pending[0].wParam);
}

}  // namespace
