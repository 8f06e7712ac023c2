#ifndef WF_COMMIT_SHARED_USAGE_H
#define WF_COMMIT_SHARED_USAGE_H

#include "platform/win32.h"

// Updates the use counts of the shared files the patch adds and stops
// using, and queues the shared files to replace or delete. 1 on success.
int UpdateSharedUsage(LPCSTR patchDir, LPCSTR installDir, LPCSTR sharedDir);

#endif
