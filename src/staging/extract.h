#ifndef WF_STAGING_EXTRACT_H
#define WF_STAGING_EXTRACT_H

#include "platform/win32.h"

// Writes every payload file, expanded, into the patch directory under its
// manifest name. 1 on success or an empty payload, 0 at the first failure.
int ExtractPayloads(LPCSTR patchDir);

#endif
