// The patcher stage. The patcher runs in the patch directory, which the
// driver has made the current directory; the wait is the only time the
// progress dialog is serviced.
#include "patcher/launch.h"
#include "common/bytes.h"
#include "common/paths.h"
#include "manifest/manifest.h"
#include "patcher/dos_detect.h"
#include "patcher/pif.h"

#define WAIT_SLICE_MS 60

// Replaces `path` by its short form when one can be had; otherwise leaves it.
static void MakeShort(LPSTR path)
{
    char shortPath[MAX_PATH];
    ShortForm(path, shortPath);
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
// when the PIF is ready at `pifPath` (in its short form). A PIF this call
// wrote or reused but could not fill in (a program directory too long for
// its field) is deleted again, so it does not stay in the patch directory.
static int PreparePif(LPCSTR programPath, LPCSTR patchDir, LPSTR pifPath)
{
    char fullPath[MAX_PATH];
    LPSTR filePart = NULL;

    if (!JoinPath(pifPath, MAX_PATH, patchDir, PIF_FILE_NAME)) {
        pifPath[0] = '\0';
        return 0;
    }
    if (!WritePifTemplate(pifPath))
        return 0;
    DWORD length = GetFullPathNameA(programPath, sizeof(fullPath), fullPath, &filePart);
    int ready = length != 0 && length < sizeof(fullPath) && filePart != NULL && *filePart != '\0';
    if (ready) {
        char programName[MAX_PATH];
        lstrcpynA(programName, filePart, sizeof(programName));
        *filePart = '\0';  // what remains is the directory, with its "\"
        MakeShort(programName);  // resolved against the current directory
        MakeShort(fullPath);
        MakeShort(pifPath);
        ready = PatchPifFields(pifPath, fullPath, programName, NULL);
    }
    if (!ready)
        DeleteFileA(pifPath);
    return ready;
}

int RunAndWait(LPCSTR programPath, LPCSTR parameters, LPCSTR patchDir)
{
    char pifPath[MAX_PATH];
    LPCSTR launchTarget = programPath;
    LPCSTR arguments = parameters;
    int pifReady = 0;
    int result = 0;

    if (programPath == NULL || programPath[0] == '\0')
        return 0;
    pifPath[0] = '\0';

    int kind = 0;
    int detected = IsDosExecutable(programPath, &kind);
    if (detected && kind == EXECUTABLE_DOS && PreparePif(programPath, patchDir, pifPath)) {
        pifReady = 1;
        launchTarget = pifPath;
        arguments = NULL;  // the PIF carries none
    }

    SHELLEXECUTEINFOA request;
    ZeroBytes(&request, sizeof(request));
    request.cbSize = sizeof(request);
    // Without SEE_MASK_FLAG_NO_UI a failed launch shows the shell's own
    // box, owned by no window, before the stage's message.
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.lpFile = launchTarget;
    request.lpParameters = arguments;
    // The patcher's console stays minimized and does not take the focus:
    // shown, it covers the progress dialog, and when it closes Windows
    // leaves the dialog unpainted until its next message is handled.
    request.nShow = SW_SHOWMINNOACTIVE;
    if (ShellExecuteExA(&request)) {
        result = 1;
        WaitForProcess(request.hProcess);
        // A Windows program tells through its exit code whether it patched
        // its files; installing unpatched copies at the next restart would
        // be worse than stopping here. A DOS program's code is its DOS
        // session's, whether it ran through the PIF or was started directly
        // after the PIF failed, and says nothing about the patch.
        if (detected && kind == EXECUTABLE_WINDOWS && request.hProcess != NULL) {
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
    char programPath[MAX_PATH];

    if (!LoadManifestString(programId, program, sizeof(program)))
        return 1;
    if (!LoadManifestString(parameterId, parameter, sizeof(parameter)))
        parameter[0] = '\0';
    // The program is named by the short form of the patch directory. On a
    // volume without short names (NTFS with 8.3 names turned off, a network
    // drive) that is the long form, blanks and all; the program path and its
    // parameters go to the shell apart, so a blank never splits them.
    char shortDir[MAX_PATH];
    DWORD length = GetShortPathNameA(patchDir, shortDir, sizeof(shortDir));
    if (length == 0 || length >= sizeof(shortDir) || !JoinPath(programPath, sizeof(programPath), shortDir, program))
        return 0;
    return RunAndWait(programPath, parameter[0] != '\0' ? parameter : NULL, patchDir);
}
