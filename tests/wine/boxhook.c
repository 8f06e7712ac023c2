/*
 * boxhook.dll: boxanswer's window hook (WH_CALLWNDPROC), loaded into the
 * program boxanswer runs, so that each status of the progress dialog is
 * captured as it was shown while its stage ran, however short the stage.
 *
 * The program's thread is held once for each status, just before it goes
 * away: when the status line is sent a new text (the screen still shows
 * the old one, or nothing if it was never painted) and when a dialog-class
 * window (a message box, which covers the progress dialog) is created.
 * Not right after the paint: Wine puts a window's picture on the screen
 * only later (at the next look at the queue), so the screen there still
 * shows the status before. The end of the patcher's stage finds the
 * dialog just uncovered by the patcher's console window and not yet
 * repainted; boxanswer's polled shots see that status while it runs. A hold hands boxanswer the dialog through
 * the mapping "boxanswer-<pid>-shot", signals "boxanswer-<pid>-request" and
 * waits up to 5 s for "boxanswer-<pid>-done".
 *
 * A window hook, because Wine 8 raises no EVENT_OBJECT_NAMECHANGE for a
 * changed text and calls no in-context event hook in another process (both
 * seen with WINEDEBUG=+hook).
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <wchar.h>

#define STATUS_ID 101

struct shot_request { HWND dialog; wchar_t text[1024]; };

static HWND g_status;           /* the status line, once it was first set */
static int g_held;              /* the status it shows was captured already */

static HANDLE open_named(const wchar_t *what, int mapping)
{
    wchar_t name[64];
    _snwprintf(name, 64, L"boxanswer-%lu-%ls", GetCurrentProcessId(), what);
    name[63] = 0;
    return mapping ? OpenFileMappingW(FILE_MAP_WRITE, FALSE, name)
                   : OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
}

/* Hands the dialog, with the status it shows, to boxanswer and waits until
 * it has been captured. */
static void hold_for_shot(int *held)
{
    HANDLE map, request, done;
    struct shot_request *shared;
    if (!g_status || *held || !IsWindow(g_status) || !IsWindowVisible(GetParent(g_status)))
        return;
    *held = 1;
    map = open_named(L"shot", 1);
    request = open_named(L"request", 0);
    done = open_named(L"done", 0);
    shared = map ? MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, sizeof *shared) : NULL;
    if (shared && request && done) {
        shared->dialog = GetParent(g_status);
        shared->text[0] = 0;
        GetWindowTextW(g_status, shared->text, 1024);
        ResetEvent(done);       /* a late answer to an earlier hold */
        SetEvent(request);
        WaitForSingleObject(done, 5000);
    }
    if (shared)
        UnmapViewOfFile(shared);
    if (map)
        CloseHandle(map);
    if (request)
        CloseHandle(request);
    if (done)
        CloseHandle(done);
}

__declspec(dllexport) LRESULT CALLBACK BoxHookCallWndProc(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *m = (const CWPSTRUCT *)lParam;
    wchar_t cls[16];
    if (code == HC_ACTION && m) {
        if (m->message == WM_SETTEXT && GetDlgCtrlID(m->hwnd) == STATUS_ID && GetParent(m->hwnd)) {
            /* The first text replaces the template's, which no stage shows. */
            if (g_status == m->hwnd)
                hold_for_shot(&g_held);
            g_status = m->hwnd;
            g_held = 0;
        } else if (m->message == WM_NCCREATE && !(GetWindowLongW(m->hwnd, GWL_STYLE) & WS_CHILD) &&
                   GetClassNameW(m->hwnd, cls, 16) && !wcscmp(cls, L"#32770")) {
            hold_for_shot(&g_held);
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance; (void)reason; (void)reserved;
    return TRUE;
}
