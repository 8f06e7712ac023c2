// What winsim's API families share: the call log, fault checks, the last
// error and the code page. Not for tests; they use winsim.h.
#ifndef WINSIM_INTERNAL_H
#define WINSIM_INTERNAL_H

#include "winsim.h"

#include <string>
#include <vector>

namespace winsim {
namespace detail {

// Records the call and tells whether an injected fault fails it; when it
// does, the fault's error is already the last error.
bool Enter(const char *function, const std::string &arg);
// The same, for a call without a useful argument.
inline bool Enter(const char *function) { return Enter(function, std::string()); }

void SetError(DWORD error);

// The result of a call that copies a string out, as the path and directory
// calls do: a buffer (or none) without room for the text and its terminator
// is left alone and the size needed, terminator included, is returned;
// otherwise the text is copied with its terminator and its length returned.
DWORD CopyOutOrSizeNeeded(const std::string &text, LPSTR buffer, DWORD size);

// Lead byte test of the machine's code page.
bool IsLeadByte(unsigned char c);
// ASCII-only case folding that steps over double-byte characters, so a
// trail byte is never folded.
std::string FoldCase(const std::string &text);

// Handles that are not files (process tokens, later processes): CloseHandle
// offers each handle here first; true when it was one and is now closed.
bool CloseNonFileHandle(HANDLE handle);

// A restart that Windows carried out (ui.cpp logs it with the other events).
void RecordRestart(UINT flags);
// A box the system shows on its own (the shell's error box), logged with the
// program's boxes; it takes no scripted answer and is answered OK.
void RecordSystemBox(HWND owner, const std::string &text, const std::string &caption, UINT type);

// Per-family resets, called by Reset().
void ResetFiles(const std::string &hostRoot);
void ResetResources();
void ResetUi();
void ResetSystem();
void ResetRegistry();
void ResetLz();
void ResetProcesses();
void ResetMessages();
void ResetRestart();  // restart.cpp: the Windows directory, the restart log, held files

// ---- For families whose calls use files themselves (files.cpp) --------------
// A Windows path as the file family resolves it (aliases and case followed).
struct FileLookup {
    std::string host;     // host path; missing components as written
    std::string winPath;  // full Windows path in its on-disk spelling
    bool exists = false;
    bool isDir = false;
    DWORD attributes = 0;  // as GetFileAttributesA reports them, when it exists
    DWORD missingError = ERROR_FILE_NOT_FOUND;  // the error for a missing path
};
// False, with the Win32 error in *error, for a malformed path or an unmapped drive.
bool LookUpPath(const std::string &path, FileLookup *out, DWORD *error);
// CreateFileA without the call log and faults (an API's own inner open);
// INVALID_HANDLE_VALUE with the last error set on failure.
HANDLE OpenFileQuietly(const std::string &path, DWORD access, DWORD share, DWORD disposition);
// The host descriptor of a file handle, or -1; reads and writes through it
// bypass the handle's file pointer.
int HostDescriptor(HANDLE file);
std::string PathOfFileHandle(HANDLE file);
// GetFullPathNameA's result without the call log and faults (an API's own
// inner use); 0 with the Win32 error in *error for a path it refuses.
bool FullPathQuietly(const std::string &path, std::string *full, DWORD *error);
bool CloseFileQuietly(HANDLE file);

// ---- Processes and the message queue ------------------------------------------
// A process handle of process.cpp: closes it (CloseNonFileHandle asks).
bool CloseProcessHandle(HANDLE handle);
// WaitForSingleObject's timeout: the messages PostDuringWait scheduled arrive.
void DeliverWaitMessages();
// ui.cpp: a live dialog (the one given, or any for NULL) waiting to be
// painted, for PeekMessageA's WM_PAINT; and the paint DispatchMessageA
// delivers for it.
bool NextPaint(HWND filter, HWND *window);
void DeliverPaint(HWND window);

// ---- Delayed file operations, profiles and the restart ------------------------
// The Windows directory as a full path ("C:\WINDOWS"), created if missing.
std::string WindowsDirectory();
// PendingFileRenameOperations under the session manager's key, read and
// written without the call log (movefile.cpp). Read gives false when absent.
bool ReadPendingRenames(std::string *multiSz);
void WritePendingRenames(const std::string &multiSz);
void DeletePendingRenames();
// Closes the files HoldOpen keeps open (a restart drops them).
void DropHeldFiles();
// The lines of an INI section as GetPrivateProfileSectionA returns them
// (profile.cpp), without the call log; false when the file cannot be read.
bool ReadProfileSection(const std::string &file, const std::string &section,
                        std::vector<std::string> *lines);


// ---- The process killed (kill.cpp) ---------------------------------------------
// Enter's hook: throws ProcessKilled when the call at `index` is the armed one.
void CheckKill(size_t index);
// EndProcess's parts, each in the family that owns the state.
bool IsHeldFile(HANDLE file);   // movefile.cpp: one of HoldOpen's handles
void EndProcessFiles();         // files.cpp: every file handle but the held ones
                                // closed, the current directory back to "C:\"
void CloseProcessKeys();        // registry.cpp: every key handle but the roots
void EndProcessUi();            // ui.cpp: dialogs gone, answers dropped
void WaitForChildren();         // process.cpp: children run to their end, let go

}  // namespace detail
}  // namespace winsim

#endif  // WINSIM_INTERNAL_H
