// Starting the external patcher and waiting for it.
#ifndef WF_PATCHER_LAUNCH_H
#define WF_PATCHER_LAUNCH_H

#include "platform/win32.h"

// Runs the patcher named by manifest string `programId`, in the patch
// directory (named by its short form where the volume has short names), with
// manifest string `parameterId` as its parameters, through RunAndWait. 1 when
// the manifest names no patcher; otherwise RunAndWait's result. 0 when the
// program path cannot be built.
int RunPatcherFromManifest(UINT programId, UINT parameterId, LPCSTR patchDir);

// Starts the program at `programPath` through the shell with `parameters`
// (NULL: none), or a DOS program through a PIF in the patch directory, and
// waits for its process to end, servicing the thread's window messages
// meanwhile. The path is never split at a blank. 1 when the program was
// started and, for a Windows program started with a process handle, ended
// with exit code 0; 0 otherwise. A DOS program's exit code is not read.
int RunAndWait(LPCSTR programPath, LPCSTR parameters, LPCSTR patchDir);

#endif
