#ifndef WF_PATCHER_LAUNCH_H
#define WF_PATCHER_LAUNCH_H

#include "platform/win32.h"

// Starts the external patcher named by the manifest in the patch directory
// and waits for its process to end. 1 when it was started (or the manifest
// names none), 0 when it could not be started.
int RunPatcherFromManifest(UINT programId, UINT parameterId, LPCSTR patchDir);

#endif
