// The patch run: every stage in its fixed order, under the progress dialog.
#ifndef WF_APP_RUN_PATCH_H
#define WF_APP_RUN_PATCH_H

#include "common/paths.h"

// The program's only entry into its own logic. Runs the whole patch with the
// resources of `module`; the other arguments are not used. Returns 0,
// whatever happened: the user has been told by then.
int RunPatch(HINSTANCE module, HINSTANCE previous, LPSTR commandLine, int show);

// Free space the run needs on the install directory's drive: 5 MB.
#define REQUIRED_FREE_BYTES (5u * 1024u * 1024u)

#endif
