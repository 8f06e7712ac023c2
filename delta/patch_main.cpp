// patch.exe's entry point in the Windows build. No C runtime starts us: the
// linker names PatcherEntry as the image's entry, and it ends the process
// itself with the patcher's exit code.
//
//   patch.exe <patch data>
//
// run with the directory of the files to patch as the current directory.
#include "command_line.h"
#include "patch_apply.h"

// One line to standard output. Nothing to do when there is no console or
// the output is closed: the exit code still tells the caller.
static void WriteConsoleLine(LPCSTR line, void *context)
{
    HANDLE out = *(HANDLE *)context;
    if (out == NULL || out == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(out, line, (DWORD)lstrlenA(line), &written, NULL);
    WriteFile(out, "\r\n", 2, &written, NULL);
}

extern "C" void __stdcall PatcherEntry(void)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CHAR patchFile[MAX_PATH];
    UINT exitCode;
    if (!PatchArgument(GetCommandLineA(), patchFile, sizeof patchFile)) {
        WriteConsoleLine("usage: patch.exe <patch data>", &out);
        exitCode = PATCH_EXIT_USAGE;
    } else {
        exitCode = (UINT)ApplyPatchData(patchFile, WriteConsoleLine, &out);
    }
    ExitProcess(exitCode);
}
