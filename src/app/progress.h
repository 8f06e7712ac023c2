// The modeless progress dialog and its status line.
#ifndef WF_APP_PROGRESS_H
#define WF_APP_PROGRESS_H

#include "platform/win32.h"

// Creates the dialog (no owner) and remembers it. Returns the dialog, or NULL
// when it could not be created; the run goes on without it.
HWND CreateProgressDialog(void);

// Destroys the dialog, if there is one, and forgets it.
void DestroyProgressDialog(void);

// The dialog, or NULL before it exists and after it is destroyed. Message
// boxes of the stages name it as their owner.
HWND GetProgressDialog(void);

// Shows manifest string `id` (up to 511 characters) in the status line and
// paints it at once, then dispatches the thread's pending messages (a quit
// request stays pending). Does nothing when the string is missing or there
// is no dialog.
void SetStatusText(UINT id);

#endif
