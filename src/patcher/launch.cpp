// The patcher stage. The patcher runs in the patch directory, which the
// driver has made the current directory; the wait is the only time the
// progress dialog is serviced.
#include "patcher/launch.h"
#include "manifest/manifest.h"
#include "manifest/paths.h"
#include "patcher/dos_detect.h"
#include "patcher/pif.h"

#define WAIT_SLICE_MS 60

// Replaces `path` by its short form when one can be had; otherwise leaves it.
static void MakeShort(LPSTR path)
{
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof(shortPath));
    if (length != 0 && length < sizeof(shortPath))
        lstrcpynA(path, shortPath, MAX_PATH);
}

// Waits for the process in slices, dispatching the thread's messages. A quit
// request is not obeyed now: it is posted again (exit code 1), so it is
// still pending when the patcher has ended. A handle that cannot be waited
// on (none at all, when the shell started no new process) ends the wait.
static void WaitForProcess(HANDLE process)
{
    while (WaitForSingleObject(process, WAIT_SLICE_MS) == WAIT_TIMEOUT) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(1);
                break;
            }
            DispatchMessageA(&message);
        }
    }
}

// The PIF route for a DOS program: the PIF names the program by its file
// name, starts it in its own directory and passes no parameters. Nonzero
// when the PIF is ready at `pifPath` (in its short form).
static int PreparePif(LPCSTR programPath, LPCSTR patchDir, LPSTR pifPath)
{
    char fullPath[MAX_PATH];
    char programName[MAX_PATH];
    LPSTR filePart = NULL;

    // The patch directory never ends in "\", so the name is joined plainly.
    if (!CopyString(pifPath, MAX_PATH, patchDir) || !AppendString(pifPath, MAX_PATH, "\\") ||
        !AppendString(pifPath, MAX_PATH, PIF_FILE_NAME)) {
        pifPath[0] = '\0';
        return 0;
    }
    if (!WritePifTemplate(pifPath))
        return 0;
    DWORD length = GetFullPathNameA(programPath, sizeof(fullPath), fullPath, &filePart);
    if (length == 0 || length >= sizeof(fullPath) || filePart == NULL || *filePart == '\0')
        return 0;
    lstrcpynA(programName, filePart, sizeof(programName));
    *filePart = '\0';  // what remains is the directory, with its "\"
    MakeShort(programName);  // resolved against the current directory
    MakeShort(fullPath);
    MakeShort(pifPath);
    return PatchPifFields(pifPath, fullPath, programName, NULL);
}

int RunAndWait(LPCSTR commandLine, LPCSTR patchDir)
{
    char programPath[MAX_PATH];
    char pifPath[MAX_PATH];
    LPCSTR launchTarget = programPath;
    LPCSTR arguments = NULL;
    int pifReady = 0;
    int result = 0;

    if (commandLine == NULL || commandLine[0] == '\0')
        return 0;
    if (!CopyString(programPath, sizeof(programPath), commandLine))
        return 0;
    pifPath[0] = '\0';
    // The program path ends at the first blank; what follows is its
    // argument. The shell takes them apart: handed the whole command line as
    // the file to start, it looks for a file of that name.
    for (LPSTR p = programPath; *p != '\0'; p = CharNextA(p)) {
        if (*p == ' ') {
            *p = '\0';
            arguments = commandLine + (p - programPath) + 1;
            break;
        }
    }

    int kind = 0;
    if (IsDosExecutable(programPath, &kind) && kind == EXECUTABLE_DOS &&
        PreparePif(programPath, patchDir, pifPath)) {
        pifReady = 1;
        launchTarget = pifPath;
        arguments = NULL;  // the PIF carries none
    }

    SHELLEXECUTEINFOA request;
    BYTE *raw = (BYTE *)&request;
    for (DWORD i = 0; i < sizeof(request); i++)
        raw[i] = 0;
    request.cbSize = sizeof(request);
    request.fMask = SEE_MASK_NOCLOSEPROCESS;
    request.lpFile = launchTarget;
    request.lpParameters = arguments;
    request.nShow = SW_SHOW;
    if (ShellExecuteExA(&request)) {
        result = 1;
        WaitForProcess(request.hProcess);
        // A patcher started directly tells through its exit code whether it
        // patched its files; installing unpatched copies at the next restart
        // would be worse than stopping here. Through a PIF the code is the
        // DOS session's, not the patcher's, and is not read.
        if (!pifReady && request.hProcess != NULL) {
            DWORD exitCode = 1;
            if (!GetExitCodeProcess(request.hProcess, &exitCode) || exitCode != 0)
                result = 0;
        }
        if (request.hProcess != NULL)
            CloseHandle(request.hProcess);
    }
    if (pifReady)
        DeleteFileA(pifPath);
    return result;
}

int RunPatcherFromManifest(UINT programId, UINT parameterId, LPCSTR patchDir)
{
    char program[MAX_PATH];
    char parameter[MAX_PATH];
    char commandLine[MAX_PATH];

    if (!LoadManifestString(programId, program, sizeof(program)))
        return 1;
    LoadManifestString(parameterId, parameter, sizeof(parameter));
    // The short form holds no blank, so the first blank of the command line
    // is the one before the parameter. Without it the command line cannot
    // be built safely.
    DWORD length = GetShortPathNameA(patchDir, commandLine, sizeof(commandLine));
    if (length == 0 || length >= sizeof(commandLine))
        return 0;
    if (!AppendBackslash(commandLine, sizeof(commandLine)) ||
        !AppendString(commandLine, sizeof(commandLine), program) ||
        !AppendString(commandLine, sizeof(commandLine), " ") ||
        !AppendString(commandLine, sizeof(commandLine), parameter))
        return 0;
    return RunAndWait(commandLine, patchDir);
}
