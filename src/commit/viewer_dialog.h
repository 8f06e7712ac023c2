#ifndef WF_COMMIT_VIEWER_DIALOG_H
#define WF_COMMIT_VIEWER_DIALOG_H

#include "platform/win32.h"

// Records the viewer dialog description for the product's file dialogs.
// 1 when every value was written.
int RegisterViewerDialog(void);

#endif
