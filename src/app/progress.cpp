// The progress dialog. It has no buttons and no system menu; it is serviced
// only while the patcher runs, when the wait pumps the thread's messages.
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

void SetStatusText(UINT id)
{
    char text[512];
    if (LoadManifestString(id, text, sizeof(text)) && g_progress != NULL)
        SetDlgItemTextA(g_progress, IDC_STATUS, text);
}
