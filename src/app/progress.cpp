// The progress dialog. It has no buttons and no system menu. Nothing pumps
// the thread's messages while the stages work (only the patcher's wait
// does), so each status is painted as it is set: without that, Windows
// shows the dialog's frame around an unpainted client area until the wait,
// and Wine a black rectangle.
#include "app/progress.h"
#include "manifest/manifest.h"

static HWND g_progress;

static INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)dialog;
    (void)wParam;
    (void)lParam;
    return message == WM_INITDIALOG;
}

HWND CreateProgressDialog(void)
{
    g_progress = CreateDialogParamA(GetPatchModule(), MAKEINTRESOURCEA(IDD_PROGRESS), NULL,
                                    ProgressDialogProc, 0);
    return g_progress;
}

void DestroyProgressDialog(void)
{
    if (g_progress != NULL)
        DestroyWindow(g_progress);
    g_progress = NULL;
}

HWND GetProgressDialog(void) { return g_progress; }

// Hands the thread's pending messages to their windows; a quit request is
// posted again so that it is still pending for whoever waits on it later.
// Under Wine this also carries the painted dialog to the screen: the X
// driver flushes a window's picture only when its thread looks at its
// queue and finds it empty.
static void DrainMessages(void)
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage((int)message.wParam);
            break;
        }
        DispatchMessageA(&message);
    }
}

void SetStatusText(UINT id)
{
    char text[STATUS_CAPACITY];
    if (!LoadManifestString(id, text, sizeof(text)) || g_progress == NULL)
        return;
    // The static control only invalidates itself: paint it now, before
    // the stage that follows keeps the thread busy.
    if (SetDlgItemTextA(g_progress, IDC_STATUS, text))
        UpdateWindow(g_progress);
    DrainMessages();
}
