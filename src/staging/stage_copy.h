#ifndef WF_STAGING_STAGE_COPY_H
#define WF_STAGING_STAGE_COPY_H

#include "platform/win32.h"

// Copies the installed files that the patcher changes from the install
// directory into the patch directory. 1 on success, 0 at the first failure.
int StageInstalledFiles(LPCSTR installDir, LPCSTR patchDir);

#endif
