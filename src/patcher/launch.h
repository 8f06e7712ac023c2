// Starting the external patcher and waiting for it.
#ifndef WF_PATCHER_LAUNCH_H
#define WF_PATCHER_LAUNCH_H

#include "platform/win32.h"

// Builds the patcher's command line from manifest strings `programId` and
// `parameterId` and the short form of the patch directory, and runs it with
// RunAndWait. 1 when the manifest names no patcher; otherwise RunAndWait's
// result. 0 when the command line cannot be built.
int RunPatcherFromManifest(UINT programId, UINT parameterId, LPCSTR patchDir);

// Starts `commandLine` through the shell, the program path (up to the first
// blank) as the file and the rest as its parameters, or a DOS program
// through a PIF in the patch directory, and waits for its process to end, servicing the thread's
// window messages meanwhile. 1 when the program was started and, where its
// exit code can be read (a direct start with a process handle), ended with
// 0; 0 otherwise.
int RunAndWait(LPCSTR commandLine, LPCSTR patchDir);

#endif
