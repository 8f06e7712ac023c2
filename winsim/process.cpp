// Processes: ShellExecuteExA starts a real host process, WaitForSingleObject
// and GetExitCodeProcess follow it, CloseHandle lets go of it.
//
// A Windows program cannot run on the host, so each program file name is
// mapped to a host twin (RegisterHostTwin, RegisterShellTwin) that runs in its
// place, in the host folder of the simulated working directory. The shell's
// file associations are left out: a program runs when its name has a twin,
// and a PIF runs the program it names. Children still alive at Reset() or at
// exit are killed and reaped.
#include "internal.h"

#include "common/contract.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

extern char **environ;

namespace winsim {
namespace {

// What the shell reports in hInstApp on success: any value above 32.
const HINSTANCE kStarted = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(42));

struct Process {
    pid_t pid = -1;
    bool ended = false;
    DWORD exitCode = 0;
    std::string program;  // Windows path of the program, for the call log
};

struct Processes {
    std::map<std::string, std::vector<std::string>> twins;  // folded file name -> argv start
    std::map<HANDLE, Process> handles;
    std::vector<pid_t> unowned;  // started without a handle, or let go while running
    std::vector<StartedProcess> started;
    bool returnNoProcess = false;

    ~Processes() { KillAll(); }
    void KillAll() {
        for (auto &entry : handles)
            if (!entry.second.ended) unowned.push_back(entry.second.pid);
        handles.clear();
        for (pid_t pid : unowned) {
            ::kill(pid, SIGKILL);
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        unowned.clear();
    }
};

Processes &P() {
    static Processes processes;
    return processes;
}

// Process handles, never reused within the process, far from file handles.
HANDLE NewProcessHandle() {
    static std::uintptr_t next = 0x5000000;
    next += 4;
    return reinterpret_cast<HANDLE>(next);
}

// A host exit status as Windows would report it: the exit code, or 128 plus
// the signal for a process that a signal ended.
DWORD ExitCodeOf(int status) {
    if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<DWORD>(WTERMSIG(status));
    return 0;
}

// Whether the process has ended, collecting its status once.
bool HasEnded(Process *process) {
    if (process->ended) return true;
    int status = 0;
    const pid_t got = ::waitpid(process->pid, &status, WNOHANG);
    if (got == 0) return false;
    process->ended = true;
    process->exitCode = got == process->pid ? ExitCodeOf(status) : 0;
    return true;
}

void ReapUnowned() {
    std::vector<pid_t> &unowned = P().unowned;
    for (auto it = unowned.begin(); it != unowned.end();) {
        int status = 0;
        it = ::waitpid(*it, &status, WNOHANG) == 0 ? std::next(it) : unowned.erase(it);
    }
}

Process *FindProcess(HANDLE handle) {
    auto it = P().handles.find(handle);
    return it == P().handles.end() ? nullptr : &it->second;
}

// The program a process handle runs, for the call log; empty for no process.
std::string ProgramOf(HANDLE handle) {
    const Process *process = FindProcess(handle);
    return process ? process->program : std::string();
}

std::vector<std::string> SplitAtBlanks(const std::string &text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::string LastComponent(const std::string &winPath) {
    const size_t slash = winPath.find_last_of('\\');
    return slash == std::string::npos ? winPath : winPath.substr(slash + 1);
}

bool HasExtension(const std::string &winPath, const char *extension) {
    const std::string folded = detail::FoldCase(winPath);
    const std::string wanted = extension;
    return folded.size() >= wanted.size() &&
           folded.compare(folded.size() - wanted.size(), wanted.size(), wanted) == 0;
}

std::string Field(const std::string &bytes, size_t offset, size_t size) {
    std::string field = bytes.substr(offset, size);
    return field.substr(0, field.find('\0'));
}

struct Launch {
    detail::FileLookup program;
    std::string directory;  // Windows path of the working directory
    std::vector<std::string> arguments;
};

// Why a launch failed: the last error and the shell's SE_ERR_* value.
struct LaunchError {
    DWORD error = 0;
    int shellError = 0;
};

const LaunchError kFileNotFound{ERROR_FILE_NOT_FOUND, SE_ERR_FNF};
const LaunchError kPathNotFound{ERROR_PATH_NOT_FOUND, SE_ERR_PNF};
const LaunchError kBadFormat{ERROR_BAD_FORMAT, ERROR_BAD_FORMAT};

// Looks up an existing file (or, with wantDirectory, a directory).
bool LookUpExisting(const std::string &path, bool wantDirectory, detail::FileLookup *out,
                    LaunchError *error) {
    DWORD lookupError = 0;
    if (!detail::LookUpPath(path, out, &lookupError) || !out->exists) {
        const bool missingFile =
            !wantDirectory &&
            (lookupError ? lookupError : out->missingError) == ERROR_FILE_NOT_FOUND;
        *error = missingFile ? kFileNotFound : kPathNotFound;
        return false;
    }
    if (out->isDir != wantDirectory) {
        *error = wantDirectory ? kPathNotFound : LaunchError{ERROR_ACCESS_DENIED, 5};
        return false;
    }
    return true;
}

// The DOS route: the shell runs the program a PIF names, with the PIF's
// parameters, in its start-up directory (the current directory when the
// field is empty); a relative program name is looked up in that directory.
bool ReadPif(const detail::FileLookup &pif, Launch *launch, LaunchError *error) {
    std::ifstream in(pif.host, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < PIF_BASIC_SIZE) return *error = kBadFormat, false;
    const std::string name = Field(bytes, PIF_PROGRAM, PIF_PROGRAM_SIZE);
    const std::string directory = Field(bytes, PIF_DIRECTORY, PIF_DIRECTORY_SIZE);
    if (name.empty()) return *error = kFileNotFound, false;
    if (!directory.empty()) {
        detail::FileLookup dir;
        if (!LookUpExisting(directory, true, &dir, error)) return false;
        launch->directory = dir.winPath;
    }
    const bool relative = name.find(':') == std::string::npos && name[0] != '\\';
    std::string programPath = name;
    if (relative && !launch->directory.empty()) {
        programPath = launch->directory;
        if (programPath.back() != '\\') programPath += '\\';
        programPath += name;
    }
    if (!LookUpExisting(programPath, false, &launch->program, error)) return false;
    launch->arguments = SplitAtBlanks(Field(bytes, PIF_PARAMETERS, PIF_PARAMETERS_SIZE));
    return true;
}

constexpr UINT kIconError = 0x10;  // MB_ICONERROR

// The text of the shell's own error box, as Wine's shell words it.
std::string ShellErrorText(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return "File not found.\r\n";
    case ERROR_PATH_NOT_FOUND:
        return "Path not found.\r\n";
    case ERROR_ACCESS_DENIED:
        return "Access denied.\r\n";
    default:
        return "Error " + std::to_string(error) + ".\r\n";
    }
}

DWORD ErrorFromSpawn(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOEXEC:
        return ERROR_BAD_FORMAT;
    case ENOMEM:
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// Starts argv in hostDirectory with stdin from /dev/null. Returns 0 or errno.
int Spawn(const std::vector<std::string> &argv, const std::string &hostDirectory, pid_t *pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, hostDirectory.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    const int result = ::posix_spawnp(pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

}  // namespace

void RegisterHostTwin(const std::string &exeNameLower, const std::string &hostExecutable) {
    P().twins[detail::FoldCase(exeNameLower)] = {hostExecutable};
}

void RegisterShellTwin(const std::string &exeName, const std::string &shellCommand) {
    P().twins[detail::FoldCase(exeName)] = {"/bin/sh", "-c", shellCommand, exeName};
}

void SetShellReturnsNoProcess(bool noProcess) { P().returnNoProcess = noProcess; }

const std::vector<StartedProcess> &StartedProcesses() { return P().started; }

namespace detail {

void ResetProcesses() {
    P().KillAll();
    P().twins.clear();
    P().started.clear();
    P().returnNoProcess = false;
}

void WaitForChildren() {
    for (auto &entry : P().handles)
        if (!entry.second.ended) P().unowned.push_back(entry.second.pid);
    P().handles.clear();
    for (pid_t pid : P().unowned) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    P().unowned.clear();
}

bool CloseProcessHandle(HANDLE handle) {
    Process *process = FindProcess(handle);
    if (!process) return false;
    if (!HasEnded(process)) P().unowned.push_back(process->pid);
    P().handles.erase(handle);
    return true;
}

}  // namespace detail
}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// NT and 95 for programs and PIFs, the default verb only. lpFile is the
// file's name as a whole, blanks included: the shell does not take
// arguments out of it (Wine looks for a file named "patch.exe patch.rtp"
// and shows "File not found"); they come in lpParameters, split at blanks,
// without quoting. A PIF runs
// the program it names (ReadPif). The program must exist (ERROR_FILE_NOT_FOUND,
// hInstApp SE_ERR_FNF; a missing directory ERROR_PATH_NOT_FOUND, SE_ERR_PNF)
// and have a twin (else ERROR_BAD_FORMAT, as for a file that is no program).
// The child's working directory is lpDirectory, or the current directory.
// SEE_MASK_NOCLOSEPROCESS returns the process in hProcess. Without
// SEE_MASK_FLAG_NO_UI a refused launch first shows the shell's own box, owned
// by hwnd: a probe under Wine showed caption "Error", MB_ICONERROR and the
// error's text ("File not found.", "Path not found."), owner none for a NULL
// hwnd. A fault injected into the call itself shows nothing. With
// SetShellReturnsNoProcess the call succeeds after the lookups without
// starting anything and without a handle, as when the shell hands the file to
// a program that is already running.
BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA *pExecInfo) {
    if (Enter("ShellExecuteExA", pExecInfo && pExecInfo->lpFile ? pExecInfo->lpFile : ""))
        return FALSE;
    if (!pExecInfo) return SetError(ERROR_INVALID_PARAMETER), FALSE;
    SHELLEXECUTEINFOA &info = *pExecInfo;
    auto fail = [&info](const winsim::LaunchError &error) {
        info.hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(error.shellError));
        if (!(info.fMask & SEE_MASK_FLAG_NO_UI))
            winsim::detail::RecordSystemBox(info.hwnd, winsim::ShellErrorText(error.error), "Error",
                                            MB_OK | winsim::kIconError);
        SetError(error.error);
        return FALSE;
    };
    if (info.cbSize != sizeof(SHELLEXECUTEINFOA))
        return fail(winsim::LaunchError{ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED});
    info.hProcess = nullptr;

    const std::string target = info.lpFile ? info.lpFile : "";
    if (target.empty()) return fail(winsim::kFileNotFound);
    winsim::LaunchError error;
    winsim::detail::FileLookup found;
    if (!winsim::LookUpExisting(target, false, &found, &error)) return fail(error);

    winsim::Launch launch;
    if (winsim::HasExtension(found.winPath, ".pif")) {
        if (!winsim::ReadPif(found, &launch, &error)) return fail(error);
    } else {
        launch.program = found;
    }
    if (info.lpParameters)
        for (const std::string &word : winsim::SplitAtBlanks(info.lpParameters))
            launch.arguments.push_back(word);
    if (info.lpDirectory && *info.lpDirectory) launch.directory = info.lpDirectory;
    winsim::detail::FileLookup directory;
    if (!winsim::LookUpExisting(launch.directory.empty() ? "." : launch.directory, true, &directory,
                                &error))
        return fail(error);

    const std::string name =
        winsim::detail::FoldCase(winsim::LastComponent(launch.program.winPath));
    auto twin = winsim::P().twins.find(name);
    if (twin == winsim::P().twins.end()) return fail(winsim::kBadFormat);

    winsim::P().started.push_back(winsim::StartedProcess{target, launch.program.winPath,
                                                         launch.arguments, directory.winPath,
                                                         !winsim::P().returnNoProcess, info.fMask, info.nShow});
    if (winsim::P().returnNoProcess) {
        info.hInstApp = winsim::kStarted;
        return TRUE;
    }
    winsim::ReapUnowned();
    std::vector<std::string> argv = twin->second;
    argv.insert(argv.end(), launch.arguments.begin(), launch.arguments.end());
    pid_t pid = -1;
    if (int spawnError = winsim::Spawn(argv, directory.host, &pid))
        return fail(winsim::LaunchError{winsim::ErrorFromSpawn(spawnError), SE_ERR_FNF});

    info.hInstApp = winsim::kStarted;
    if (info.fMask & SEE_MASK_NOCLOSEPROCESS) {
        HANDLE handle = winsim::NewProcessHandle();
        winsim::P().handles[handle] = winsim::Process{pid, false, 0, launch.program.winPath};
        info.hProcess = handle;
    } else {
        winsim::P().unowned.push_back(pid);
    }
    return TRUE;
}

// NT and 95 for process handles, the only waitable objects here. Polls the
// child every millisecond until it ends (WAIT_OBJECT_0) or the time is up
// (WAIT_TIMEOUT, which first delivers the messages PostDuringWait scheduled).
// A handle that is no process fails with WAIT_FAILED and ERROR_INVALID_HANDLE.
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (Enter("WaitForSingleObject", winsim::ProgramOf(hHandle))) return WAIT_FAILED;
    winsim::Process *process = winsim::FindProcess(hHandle);
    if (!process) return SetError(ERROR_INVALID_HANDLE), WAIT_FAILED;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(dwMilliseconds);
    for (;;) {
        if (winsim::HasEnded(process)) return WAIT_OBJECT_0;
        if (dwMilliseconds != INFINITE && Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    winsim::detail::DeliverWaitMessages();
    return WAIT_TIMEOUT;
}

// NT and 95: STILL_ACTIVE while the process runs, then its exit code.
BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    if (Enter("GetExitCodeProcess", winsim::ProgramOf(hProcess))) return FALSE;
    winsim::Process *process = winsim::FindProcess(hProcess);
    if (!process) return SetError(ERROR_INVALID_HANDLE), FALSE;
    if (!lpExitCode) return SetError(ERROR_NOACCESS), FALSE;
    *lpExitCode = winsim::HasEnded(process) ? process->exitCode : STILL_ACTIVE;
    return TRUE;
}
