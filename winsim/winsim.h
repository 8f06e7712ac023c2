// winsim: the simulated Windows machine the installer's code runs against on
// the host. The Win32 functions themselves are declared by
// src/platform/win32.h; this header is the tests' side: building a machine,
// scripting the user, injecting faults and reading back what happened.
//
// One machine per process at a time; Reset() starts a new one.
#ifndef WINSIM_WINSIM_H
#define WINSIM_WINSIM_H

#include "platform/win32.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

enum class Platform { Windows95, WindowsNT };

// A fresh machine: no drives but C:, mapped to hostRoot/c (created), current
// directory "C:\", Windows NT, code page 1252, no resources, no scripted
// answers, no faults, empty logs. hostRoot is created if missing.
void Reset(const std::string &hostRoot);
// Puts a machine image (a host folder holding drive_c/ and machine.reg, see
// formats/machine_image.h) on the machine: its files over drive C:'s, its
// registry imported. False with the reason in *error.
bool LoadMachineImage(const std::string &imageDir, std::string *error = nullptr);

// ---- Platform ------------------------------------------------------------
void SetPlatform(Platform platform);
Platform GetPlatform();
// 1252 (single-byte) or 932 (Shift-JIS lead bytes 0x81-0x9F and 0xE0-0xFC).
void SetCodePage(unsigned codePage);
unsigned GetCodePage();

// ---- Files (winsim/files.cpp) ---------------------------------------------
// Maps drive letter to a host folder (created if missing).
void MapDrive(char letter, const std::string &hostDir);
// The host path a Windows path resolves to, following existing entries
// case-insensitively; components that do not exist are appended as written.
// Empty when the drive is not mapped or the path is malformed.
std::string HostPath(const std::string &winPath);
// Free space that GetDiskFreeSpaceA reports for a drive. A drive without a
// geometry reports 8 sectors of 512 bytes, 65535 free of 65535 clusters.
struct DiskGeometry {
    bool answers = true;  // false: no medium, the query fails (ERROR_NOT_READY)
    DWORD sectorsPerCluster = 8;
    DWORD bytesPerSector = 512;
    DWORD freeClusters = 65535;
    DWORD totalClusters = 65535;
};
void SetDiskGeometry(char letter, const DiskGeometry &geometry);
// Turns 8.3 names on or off for a drive (on after Reset()). Off, as on NTFS
// with short names turned off or a network drive: GetShortPathNameA returns
// each name in its long form and "PROGRA~1" finds nothing.
void SetShortNames(char letter, bool enabled);
// How many bytes the files on a drive may still grow by, in all (no limit
// after Reset()); each write that grows a file uses it up, and nothing gives it
// back. A WriteFile past it writes what fits: Windows 95 then returns TRUE with
// the short count, as on a full FAT disk; NT fails with ERROR_DISK_FULL and
// writes nothing. GetDiskFreeSpaceA does not see it.
void SetRoomLeft(char letter, std::uint64_t bytes);
// Convenience for tests: write/read a whole file by Windows path.
bool WriteWholeFile(const std::string &winPath, const std::string &bytes);
bool ReadWholeFile(const std::string &winPath, std::string *bytes);
bool Exists(const std::string &winPath);
// Every file and directory under a Windows directory, as Windows paths
// relative to it ("a\b.txt"; directories end in "\"), sorted.
std::vector<std::string> ListTree(const std::string &winDir);

// ---- Resources (winsim/resources.cpp) --------------------------------------
// Loads the resources of a compiled .res file (as windres -O res writes it)
// into the module. Returns false when the file cannot be read or is malformed.
bool LoadResFile(const std::string &path);
// The resources of a PE program file (the installer patchbuild made) in
// place of everything the module held, as when that program is started.
// False, with the module unchanged, when the file is not a readable PE.
bool LoadProgramResources(const std::string &path);
// Sets or removes a single string of the string table.
void SetString(UINT id, const std::string &text);
void RemoveString(UINT id);
// Sets or removes a resource by integer type and id.
void SetResource(WORD type, WORD id, const std::string &bytes);
void RemoveResource(WORD type, WORD id);
// The raw bytes of a resource, if present.
bool GetResource(WORD type, WORD id, std::string *bytes);
// The module instance GetModuleHandleA(NULL) returns.
HINSTANCE ModuleInstance();

// A dialog template (DLGTEMPLATE, not the extended form), as parsed from a
// dialog resource; CreateDialogParamA uses the same parser.
struct DialogItem {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    WORD classAtom = 0;       // 0x0082 static, 0x0080 button ...; 0 if named
    std::string className;    // when the class is given by name
    std::string text;
};
struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    WORD pointSize = 0;
    std::string font;
    std::vector<DialogItem> items;
};
bool ParseDialogTemplate(const std::string &bytes, DialogTemplate *out);

// ---- Registry (winsim/registry.cpp) ---------------------------------------
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, empty after Reset().
// Imports a REGEDIT4 file (as regedit and Wine write it): "[key]" lines,
// "name"="text", @= for the default value, dword:, hex: and hex(7): (and
// hex(2):) values, "-" deletions. Returns false, with a message, on a line
// it cannot read.
bool ImportRegText(const std::string &text, std::string *error = nullptr);
bool ImportRegFile(const std::string &path, std::string *error = nullptr);
// Exports the given keys and everything below them in REGEDIT4 form, keys
// and values sorted case-insensitively, so that two machines compare equal
// exactly when their registries do. Keys are full paths such as
// "HKEY_LOCAL_MACHINE\Software\Quenmark". Missing keys are left out.
std::string ExportRegText(const std::vector<std::string> &keys);

// ---- User interface (winsim/ui.cpp) ----------------------------------------
// Answers for the next message boxes, in order. A box with no answer left
// gets IDOK for an OK box and IDNO for a Yes/No box.
void QueueAnswers(const std::vector<int> &answers);

// One entry per user-visible event, in the order they happened.
struct UiEvent {
    // Paint: a dialog item painted (UpdateWindow, or a dispatched WM_PAINT),
    // with the text the user sees from then on; one per item of the dialog.
    enum Kind { MessageBox, CreateDialog, SetItemText, Paint, DestroyDialog, ExitWindows } kind = MessageBox;
    HWND window = nullptr;   // box owner, or the dialog the event concerns
    std::string text;        // box text, item text
    std::string caption;     // box caption, dialog caption
    UINT type = 0;           // box type, ExitWindowsEx flags, dialog resource id
    int item = 0;            // dialog item id
    int answer = 0;          // button that answered the box
};
const std::vector<UiEvent> &UiEvents();
std::vector<UiEvent> MessageBoxes();
// Text of a dialog item as it stands (its template text until changed).
std::string DialogItemText(HWND dialog, int item);
// Dialogs currently alive.
int LiveDialogCount();

// ---- Security and restart (winsim/system.cpp) -------------------------------
// Whether the shutdown privilege was enabled on the process token before the
// first restart request, and the restart requests themselves.
bool ShutdownPrivilegeEnabled();

// ---- Processes and the shell (winsim/process.cpp) ----------------------------
// ShellExecuteExA runs a host twin in place of a Windows program: the program
// file's name (case-insensitive, "patch.exe") maps to a host executable,
// started with the call's arguments, or to a /bin/sh command line, which sees
// the file name as $0 and the arguments as $1... ("exit 3", "pwd > cwd.txt").
// The child's working directory is the host folder of the simulated current
// directory. Reset() forgets the twins and kills children still running.
void RegisterHostTwin(const std::string &exeNameLower, const std::string &hostExecutable);
void RegisterShellTwin(const std::string &exeName, const std::string &shellCommand);
// true: ShellExecuteExA succeeds without starting anything and returns no
// process handle, as when the shell hands the file to a running program.
void SetShellReturnsNoProcess(bool noProcess);
// Every launch ShellExecuteExA accepted, in order.
struct StartedProcess {
    std::string file;                    // lpFile as the call received it
    std::string program;                 // the program run, as a full Windows path
    std::vector<std::string> arguments;  // passed to the twin
    std::string directory;               // working directory, as a Windows path
    bool started = true;                 // false under SetShellReturnsNoProcess
    ULONG mask = 0;                      // fMask as the call gave it
    int show = 0;                        // nShow as the call gave it
};
// A launch that fails without SEE_MASK_FLAG_NO_UI shows the shell's own error
// box (in UiEvents, a MessageBox owned by the call's hwnd, usually none) before
// ShellExecuteExA returns.
const std::vector<StartedProcess> &StartedProcesses();

// ---- The thread's message queue (winsim/messages.cpp) ------------------------
// Posts a message to the thread, as PostThreadMessageA would.
void PostThreadMessageForTest(UINT message, WPARAM wParam, LPARAM lParam = 0);
// A message that arrives while the program waits: the next WaitForSingleObject
// that times out posts it to the queue before returning.
void PostDuringWait(UINT message, WPARAM wParam, LPARAM lParam = 0);
// Messages not yet removed, in the order PeekMessageA would return them; a
// quit request (PostQuitMessage) comes last as WM_QUIT with its exit code.
std::vector<MSG> PendingMessages();

// ---- Heap ------------------------------------------------------------------
struct HeapStats {
    std::uint64_t allocations = 0;
    std::uint64_t frees = 0;
    std::uint64_t liveBytes = 0;
    std::uint64_t peakBytes = 0;
};
HeapStats GetHeapStats();

// ---- Fault injection and the call log --------------------------------------
// Makes a call fail. `function` is the Win32 name ("CreateDirectoryA").
// `argContains` (case-insensitive) must occur in the call's main argument
// (the path, the string, the resource id as decimal) when not empty. The
// first `skip` matching calls go through; then `times` calls fail (-1: every
// later call). `error` becomes the last error of the failing call.
struct Fault {
    std::string function;
    std::string argContains;
    int skip = 0;
    int times = -1;
    DWORD error = ERROR_ACCESS_DENIED;
};
void InjectFault(const Fault &fault);
void ClearFaults();

// Every Win32 call made, with its main argument, in order.
struct Call {
    std::string function;
    std::string arg;
};
const std::vector<Call> &Calls();
int CallCount(const std::string &function);
// Index of the first call of `function` whose argument contains
// `argContains` (case-insensitive), or -1.
int FindCall(const std::string &function, const std::string &argContains = "");

// ---- Console programs (winsim/console.cpp) --------------------------------
// For a host twin of a Windows console program: a fresh machine as after
// Reset(), except that drive C: is `hostDir` itself (no "c" folder under it)
// and the current directory is "C:\". Relative names then resolve in
// hostDir, as they would in the program's real current directory.
void AttachToHostDirectory(const std::string &hostDir);


// ---- The Windows directory, delayed file operations and restart -------------
// (winsim/restart.cpp, winsim/movefile.cpp, winsim/profile.cpp)
// The directory GetWindowsDirectoryA reports, "C:\WINDOWS" after Reset().
// Setting it creates it; the default is created the first time it is asked
// for (GetWindowsDirectoryA, a profile file without a directory, Restart()).
void SetWindowsDirectory(const std::string &winPath);

// Keeps a file open as another program would (read access, sharing read and
// write), so that DeleteFileA and MoveFileA fail on it with
// ERROR_SHARING_VIOLATION until the token is released or destroyed, or the
// machine restarts.
class HeldFile {
public:
    HeldFile() = default;
    explicit HeldFile(HANDLE handle) : handle_(handle) {}
    HeldFile(HeldFile &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    HeldFile &operator=(HeldFile &&other) noexcept;
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;
    ~HeldFile() { Release(); }
    // Whether the file is still held open (false after a restart).
    bool Held() const;
    void Release();

private:
    HANDLE handle_ = nullptr;
};
// An empty token (Held() false) when the file does not exist or cannot be
// opened. Neither logged nor subject to faults; the last error is kept.
HeldFile HoldOpen(const std::string &winPath);

// A new boot of the same machine. Files held with HoldOpen are closed (file
// handles the program left open stay open), then Windows NT
// carries out PendingFileRenameOperations in order and deletes the value, as
// its session manager does; Windows 95 carries out the [Rename] section of
// <Windows directory>\WININIT.INI line by line and renames the file to
// WININIT.BAK, as its WININIT does. What each leaves alone (a directory, a
// read-only file, a malformed value, an empty section) follows wineboot -r;
// restart.cpp lists it. Faults and the call log are untouched.
void Restart();
// What the last Restart() did, one line per operation with its outcome
// ("rename C:\A~1.DLX -> C:\A.DLL: done", "... : failed, target exists").
const std::vector<std::string> &RestartLog();


// ---- The program's process killed (winsim/kill.cpp) ---------------------------
// Thrown by the Win32 call KillAtCall chose, in place of the call: the process
// ends just before that call takes effect. Nothing in the program catches it.
struct ProcessKilled {
    int index = -1;        // the call's index in Calls()
    std::string function;  // and what it was
    std::string arg;
};
// Arms the kill: the call that gets index `index` in Calls() is logged, then
// throws ProcessKilled. It fires once; -1 disarms. Reset() does not disarm
// it, so a test that may not reach the call disarms it itself.
void KillAtCall(int index);
// The same for the `occurrence`-th call from now (1 is the next) whose
// function and argument are exactly these: a point that stays put when the
// number of calls before it varies, as a wait's polls do.
void KillAtCall(const std::string &function, const std::string &arg, int occurrence);
// What is left once the killed process is gone, as Windows cleans up after
// it: the files, LZ files, registry keys and tokens it held open are closed,
// its heap, dialogs and message queue are gone, the answers scripted for its
// boxes are dropped, and the children it started run to their end (a patcher
// outlives the program that started it) and are let go. Disk, registry
// contents, files that HoldOpen holds, faults and the logs are untouched.
// The program's own statics are the test's business.
void EndProcess();

}  // namespace winsim

#endif  // WINSIM_WINSIM_H
