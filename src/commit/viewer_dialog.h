// The viewer dialog description that the product's file-dialog feature
// reads from the current user's registry.
#ifndef WF_COMMIT_VIEWER_DIALOG_H
#define WF_COMMIT_VIEWER_DIALOG_H

#include "platform/win32.h"

// Writes the five values of the outside viewer's file-open dialog. 1 when
// the key was created or opened and every value was written.
int RegisterViewerDialog(void);

#endif
