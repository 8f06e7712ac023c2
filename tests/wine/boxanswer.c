/*
 * boxanswer: run a GUI program and answer its message boxes from a script.
 *
 *   boxanswer.exe <log> <timeout s> <caption> <answers> <program> [args...]
 *
 * <answers> is a comma list of button names (Yes, No, OK, Cancel, Abort,
 * Retry, Ignore, TryAgain, Continue), used in order, one per message box;
 * "-" means no box is expected at all.
 *
 * The program is started and its top-level windows are polled every 50 ms;
 * windows it shows are also picked up from show events as they happen, so
 * even a dialog that is up for a few tens of milliseconds is normally seen.
 * A message box is a visible "#32770" window with at least one visible
 * OK/Cancel/Yes/No button. The installer's progress dialog carries the same
 * caption but only a static control 101; its text is logged whenever it
 * changes. Boxes with another caption, and boxes beyond the end of the
 * script, are logged as unexpected and dismissed with the most harmless
 * button they have (Cancel, No, then OK), so a run cannot hang on them.
 *
 * The log gets one line per event, fields separated by '|' (in values '\',
 * '|', CR and LF are written as \\ \x7c \r \n), text always last:
 *
 *   start|pid=<pid>|cmd=<command line>
 *   box|<n>|caption=<c>|owner=<caption, "(class X)" or none>|buttons=<YESNO..>|answer=<NO>[|unexpected]|text=<t>
 *   status|text=<text of control 101>
 *   pings|answered=<n>|missed=<n>|text=<status>
 *   exit|<exit code>
 *   timeout
 *   unused|<answer>           script answers left over at the end
 *   error|<message>
 *
 * Exit code: 0 when the program ended by itself, 2 on timeout, 3 on a usage
 * or start-up error.
 *
 * Pings: when the environment variable BOXANSWER_PINGS is set, each poll
 * that finds the progress dialog's status unchanged also sends the dialog a
 * WM_NULL and waits up to 200 ms for it to be handled; when the status
 * changes or the dialog goes, a "pings" line says how many of those the
 * dialog answered during the status before and how many it missed. A
 * dialog whose thread pumps its messages answers all of them.
 *
 * Screenshots: when the environment variable BOXANSWER_SHOTS names a
 * directory (a Windows path), every box is captured before its button is
 * pressed, and the progress dialog each time its status text changes, as
 * 24-bit BMP files numbered in the order they were taken:
 *
 *   01-box-yesno.bmp, 02-status-extracting.bmp, ...
 *
 * (the buttons of the box; the first word of the status text). A shot that
 * cannot be taken is skipped silently.
 *
 * With boxhook.dll beside boxanswer.exe, the status shots do not depend on
 * polling: the hook holds the program's thread just before a status goes
 * (its text changes, or a box is created over the dialog) while the screen
 * at the dialog is captured, so every status is caught however short its
 * stage. Each such shot is judged by
 * its pixels and logged:
 *
 *   shot|<n>|held|ink=<pixels>|area=<hash>|text=<the status the dialog holds>
 *
 * where ink counts the pixels of the status control's area that differ
 * from the area's commonest colour (0 for an area never painted: uniform,
 * black under Wine; some hundreds for a line of text), and area hashes
 * which pixels those are, so that a shot still showing an earlier status's
 * text can be told from one showing its own. Polled shots are logged the
 * same way ("polled" for "held"), except while a box of the program is up
 * (it may cover the dialog); their text is the status the dialog held when
 * it was read, which the screen may not show yet. Otherwise the log
 * is the same with or without shots.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <ctype.h>
#include <wctype.h>
#include <wchar.h>

#define POLL_MS 50
#define STATUS_ID 101
#define MSGBOX_TEXT_ID 0xFFFF
#define MAX_TRACKED 256
#define MAX_ANSWERS 64

static FILE *g_log;

struct button { int id; const char *name; };

/* Order decides how the buttons= field spells a box: YESNO, OKCANCEL, ... */
static const struct button g_buttons[] = {
    { IDABORT, "ABORT" }, { IDRETRY, "RETRY" }, { IDIGNORE, "IGNORE" },
    { IDYES, "YES" },     { IDNO, "NO" },       { IDOK, "OK" },
    { IDCANCEL, "CANCEL" }, { IDTRYAGAIN, "TRYAGAIN" }, { IDCONTINUE, "CONTINUE" },
};
#define N_BUTTONS (sizeof g_buttons / sizeof g_buttons[0])

static int button_id(const wchar_t *name)
{
    char up[32];
    size_t i;
    for (i = 0; name[i] && i + 1 < sizeof up; i++)
        up[i] = (char)towupper(name[i]);
    up[i] = 0;
    for (i = 0; i < N_BUTTONS; i++)
        if (!strcmp(up, g_buttons[i].name))
            return g_buttons[i].id;
    return 0;
}

static const char *button_name(int id)
{
    size_t i;
    for (i = 0; i < N_BUTTONS; i++)
        if (g_buttons[i].id == id)
            return g_buttons[i].name;
    return "?";
}

/* Writes a wide string as escaped UTF-8. */
static void put_field(const wchar_t *s)
{
    char buf[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, buf, sizeof buf, NULL, NULL);
    const char *p;
    if (n <= 0)
        buf[0] = 0;
    for (p = buf; *p; p++) {
        switch (*p) {
        case '\\': fputs("\\\\", g_log); break;
        case '|':  fputs("\\x7c", g_log); break;
        case '\r': fputs("\\r", g_log); break;
        case '\n': fputs("\\n", g_log); break;
        default:   fputc(*p, g_log);
        }
    }
}

static void log_line(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(g_log, fmt, ap);
    va_end(ap);
    fputc('\n', g_log);
    fflush(g_log);
}

/* ---- command line ------------------------------------------------------ */

/* Appends one argument quoted so that CommandLineToArgvW gives it back. */
static void append_arg(wchar_t *out, size_t cap, const wchar_t *arg)
{
    size_t len = wcslen(out);
    int quote = !*arg || wcspbrk(arg, L" \t\"") != NULL;
    const wchar_t *p;

#define PUT(c) do { if (len + 1 < cap) out[len++] = (c); } while (0)
    if (len)
        PUT(L' ');
    if (!quote) {
        for (p = arg; *p; p++)
            PUT(*p);
    } else {
        PUT(L'"');
        for (p = arg; ; p++) {
            size_t slashes = 0;
            while (*p == L'\\') { slashes++; p++; }
            if (!*p) {
                while (slashes--) { PUT(L'\\'); PUT(L'\\'); }
                break;
            }
            if (*p == L'"') {
                while (slashes--) { PUT(L'\\'); PUT(L'\\'); }
                PUT(L'\\');
            } else {
                while (slashes--) PUT(L'\\');
            }
            PUT(*p);
        }
        PUT(L'"');
    }
    out[len] = 0;
#undef PUT
}

/* ---- windows of the program -------------------------------------------- */

/* A window already looked at: an answered box, or a progress dialog with
 * the status text last logged for it. */
struct tracked {
    HWND hwnd; int is_box; int reported; wchar_t status[1024];
    int answered, missed;                               /* pings during the status */
    int shot; DWORD shot_at; wchar_t shot_kind[64];    /* the status's screenshot */
};

static struct {
    DWORD pid;
    const wchar_t *caption;
    int answers[MAX_ANSWERS];
    int n_answers, next_answer;
    int boxes;
    struct tracked seen[MAX_TRACKED];
    int n_seen;
} g;

static struct tracked *find_seen(HWND hwnd)
{
    int i;
    for (i = 0; i < g.n_seen; i++)
        if (g.seen[i].hwnd == hwnd)
            return &g.seen[i];
    return NULL;
}

static struct tracked *add_seen(HWND hwnd, int is_box)
{
    struct tracked *t;
    if (g.n_seen == MAX_TRACKED)
        return NULL;
    t = &g.seen[g.n_seen++];
    memset(t, 0, sizeof *t);
    t->hwnd = hwnd;
    t->is_box = is_box;
    return t;
}

static int g_pings;     /* BOXANSWER_PINGS is set */

/* The pings of the status a dialog held, if any were sent. */
static void log_pings(struct tracked *t)
{
    if (t->answered + t->missed == 0)
        return;
    fprintf(g_log, "pings|answered=%d|missed=%d|text=", t->answered, t->missed);
    put_field(t->status);
    log_line("");
    t->answered = t->missed = 0;
}

/* Forgets windows that are gone, so a recycled handle counts as new. */
static void prune_seen(void)
{
    int i = 0;
    while (i < g.n_seen) {
        if (!IsWindow(g.seen[i].hwnd)) {
            log_pings(&g.seen[i]);
            g.seen[i] = g.seen[--g.n_seen];
        } else {
            i++;
        }
    }
}

/* Visible buttons of a dialog as a bit set over g_buttons. */
static unsigned visible_buttons(HWND dlg)
{
    unsigned set = 0;
    size_t i;
    for (i = 0; i < N_BUTTONS; i++) {
        HWND b = GetDlgItem(dlg, g_buttons[i].id);
        wchar_t cls[32];
        if (b && IsWindowVisible(b) && GetClassNameW(b, cls, 32) && !_wcsicmp(cls, L"Button"))
            set |= 1u << i;
    }
    return set;
}

static int has_button(unsigned set, int id)
{
    size_t i;
    for (i = 0; i < N_BUTTONS; i++)
        if (g_buttons[i].id == id)
            return (set >> i) & 1;
    return 0;
}

static int is_box_window(HWND hwnd, unsigned set)
{
    wchar_t cls[64];
    if (!GetClassNameW(hwnd, cls, 64) || wcscmp(cls, L"#32770"))
        return 0;
    return has_button(set, IDOK) || has_button(set, IDCANCEL) ||
           has_button(set, IDYES) || has_button(set, IDNO);
}

/* ---- screenshots -------------------------------------------------------- */

static const wchar_t *g_shot_dir;   /* BOXANSWER_SHOTS, or NULL */
static int g_shots;

/* gdi32 is loaded only when shots are asked for, so the tool's link line
 * stays what it was. */
static struct {
    HDC (WINAPI *CreateCompatibleDC)(HDC);
    HBITMAP (WINAPI *CreateDIBSection)(HDC, const BITMAPINFO *, UINT, void **, HANDLE, DWORD);
    HGDIOBJ (WINAPI *SelectObject)(HDC, HGDIOBJ);
    BOOL (WINAPI *BitBlt)(HDC, int, int, int, int, HDC, int, int, DWORD);
    BOOL (WINAPI *GdiFlush)(void);
    BOOL (WINAPI *DeleteObject)(HGDIOBJ);
    BOOL (WINAPI *DeleteDC)(HDC);
} gdi;

static int load_gdi(void)
{
    HMODULE m = LoadLibraryW(L"gdi32.dll");
    if (!m)
        return 0;
#define GET(name) (*(FARPROC *)&gdi.name = GetProcAddress(m, #name)) != NULL
    return GET(CreateCompatibleDC) && GET(CreateDIBSection) && GET(SelectObject) &&
           GET(BitBlt) && GET(GdiFlush) && GET(DeleteObject) && GET(DeleteDC);
#undef GET
}

static int write_all(HANDLE f, const void *data, DWORD size)
{
    DWORD done = 0;
    return WriteFile(f, data, size, &done, NULL) && done == size;
}

/* Captures the window as it is on screen (frame included) to
 * <dir>\<nn>-<kind>.bmp. With `repaint` the window is asked to paint afresh
 * and given a moment first, so a box caught the instant it appears is not
 * captured blank. With `repaint` < 0 (a retake) a mostly black picture is
 * not written over the one taken before. */
/* Mostly black: what Wine gives for a window whose picture is not there. */
static int is_dark(const BYTE *bits, DWORD size)
{
    DWORD i, dark = 0;
    for (i = 0; i < size; i++)
        dark += bits[i] < 16;
    return dark > size / 2;
}

static DWORD g_last_area;

/* Pixels of the rectangle (window coordinates, top-down) that differ from
 * its commonest colour, in a bottom-up 24-bit picture of width w, height h. */
static long ink_in(const BYTE *bits, int w, int h, DWORD stride, RECT area)
{
    static long counts[4096];
    long best = 0, ink = 0;
    int x, y, i;
    DWORD key;
    if (area.left < 0) area.left = 0;
    if (area.top < 0) area.top = 0;
    if (area.right > w) area.right = w;
    if (area.bottom > h) area.bottom = h;
    if (area.right <= area.left || area.bottom <= area.top)
        return -1;
    memset(counts, 0, sizeof counts);
    /* colours counted on 4 bits a channel, which is plenty to find the background */
#define KEY(p) ((DWORD)((p)[0] >> 4) | ((DWORD)((p)[1] >> 4) << 4) | ((DWORD)((p)[2] >> 4) << 8))
    for (y = area.top; y < area.bottom; y++)
        for (x = area.left; x < area.right; x++)
            counts[KEY(bits + (DWORD)(h - 1 - y) * stride + (DWORD)x * 3)]++;
    for (i = 1, key = 0; i < 4096; i++)
        if (counts[i] > counts[key])
            key = (DWORD)i;
    best = counts[key];
    ink = (long)(area.right - area.left) * (area.bottom - area.top) - best;
    /* which pixels are ink, as an FNV-1a hash: two shots showing the same
     * text hash alike, whatever status the dialog holds by then */
    g_last_area = 2166136261u;
    for (y = area.top; y < area.bottom; y++)
        for (x = area.left; x < area.right; x++)
            g_last_area = (g_last_area ^ (KEY(bits + (DWORD)(h - 1 - y) * stride + (DWORD)x * 3) != key)) * 16777619u;
#undef KEY
    return ink;
}

/* The ink of the last shot taken with a status control, -1 if none. */
static long g_last_ink;

static int take_shot(HWND hwnd, int number, const wchar_t *kind, int repaint)
{
    int written = 0;
    wchar_t path[MAX_PATH];
    RECT r;
    int w, h;
    HDC wdc, mdc;
    HBITMAP bmp;
    HGDIOBJ old;
    void *bits = NULL;
    BITMAPINFOHEADER bi;
    BITMAPFILEHEADER bf;
    DWORD stride, size;
    HANDLE f;
    DWORD_PTR unused;

    if (!g_shot_dir || !GetWindowRect(hwnd, &r))
        return 0;
    w = r.right - r.left;
    h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 4096 || h > 4096)
        return 0;
    if (repaint > 0) {
        /* a box waits in its own message loop: have it paint afresh */
        RedrawWindow(hwnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
        SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 500, &unused);
        Sleep(150);
    }
    /* The progress dialog is taken as it is: its thread may be busy and
     * waiting for it could miss the next status. */

    memset(&bi, 0, sizeof bi);
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;            /* bottom-up, as a BMP file stores it */
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    stride = ((DWORD)w * 3 + 3) & ~3u;
    size = stride * (DWORD)h;

    wdc = GetDC(NULL);
    if (!wdc)
        return 0;
    mdc = gdi.CreateCompatibleDC(wdc);
    bmp = mdc ? gdi.CreateDIBSection(wdc, (BITMAPINFO *)&bi, DIB_RGB_COLORS, &bits, NULL, 0) : NULL;
    if (!bmp || !bits) {
        if (mdc)
            gdi.DeleteDC(mdc);
        ReleaseDC(NULL, wdc);
        return 0;
    }
    old = gdi.SelectObject(mdc, bmp);
    gdi.BitBlt(mdc, 0, 0, w, h, wdc, r.left, r.top, SRCCOPY);
    gdi.GdiFlush();
    if (repaint < 0 && is_dark(bits, size))
        goto done;              /* a retake no better than what was kept */
    g_last_ink = -1;
    {
        HWND ctl = GetDlgItem(hwnd, STATUS_ID);
        RECT c;
        if (ctl && GetWindowRect(ctl, &c)) {
            OffsetRect(&c, -r.left, -r.top);
            g_last_ink = ink_in(bits, w, h, stride, c);
        }
    }

    _snwprintf(path, MAX_PATH, L"%ls\\%02d-%ls.bmp", g_shot_dir, number, kind);
    path[MAX_PATH - 1] = 0;
    f = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        memset(&bf, 0, sizeof bf);
        bf.bfType = 0x4D42;     /* "BM" */
        bf.bfOffBits = sizeof bf + sizeof bi;
        bf.bfSize = bf.bfOffBits + size;
        bi.biSizeImage = size;
        if (!write_all(f, &bf, sizeof bf) || !write_all(f, &bi, sizeof bi) ||
            !write_all(f, bits, size)) {
            CloseHandle(f);
            DeleteFileW(path);
        } else {
            CloseHandle(f);
            written = 1;
        }
    }
done:
    gdi.SelectObject(mdc, old);
    gdi.DeleteObject(bmp);
    gdi.DeleteDC(mdc);
    ReleaseDC(NULL, wdc);
    return written;
}

/* "box-yesno" for a box with Yes and No. */
static void box_shot(HWND hwnd, const char *buttons)
{
    wchar_t kind[64] = L"box-";
    size_t n = wcslen(kind);
    for (; *buttons && n + 1 < 64; buttons++)
        kind[n++] = (wchar_t)tolower((unsigned char)*buttons);
    kind[n] = 0;
    take_shot(hwnd, ++g_shots, kind, 1);
}

/* "status-extracting" for "Extracting files, please wait...". The dialog's
 * thread may not have painted the new text yet: while the text stays the
 * same, the shot is taken again on each look for STATUS_RETAKE_MS, so the
 * file ends with the dialog as it was shown. */
#define STATUS_RETAKE_MS 600

/* Whether another dialog of the program (a box, seen or not yet) is on
 * the screen beside `dialog`. */
static int box_up(HWND dialog)
{
    HWND w = NULL;
    DWORD pid;
    while ((w = FindWindowExW(NULL, w, L"#32770", NULL)) != NULL) {
        pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (w != dialog && pid == g.pid && IsWindowVisible(w))
            return 1;
    }
    return 0;
}

static void status_shot(HWND hwnd, struct tracked *t, int is_new)
{
    const wchar_t *text = t->status;
    size_t n;
    if (!g_shot_dir)
        return;
    if (is_new) {
        wcscpy(t->shot_kind, L"status");
        n = wcslen(t->shot_kind);
        while (*text && !iswalnum(*text))
            text++;
        if (*text)
            t->shot_kind[n++] = L'-';
        for (; *text && iswalnum(*text) && n + 1 < 24; text++)
            t->shot_kind[n++] = (wchar_t)towlower(*text);
        t->shot_kind[n] = 0;
        t->shot = ++g_shots;
        t->shot_at = GetTickCount();
    } else if (!t->shot || GetTickCount() - t->shot_at > STATUS_RETAKE_MS) {
        return;
    }
    if (box_up(hwnd))
        return;
    /* A polled shot is logged like a held one; each retake kept says so
     * again. With the hook it catches a status while its stage runs where
     * both held moments find the dialog covered (the patcher's console). */
    g_last_ink = -1;
    if (take_shot(hwnd, t->shot, t->shot_kind, is_new ? 0 : -1)) {
        fprintf(g_log, "shot|%d|polled|ink=%ld|area=%08lx|text=", t->shot, g_last_ink, (unsigned long)g_last_area);
        put_field(t->status);
        log_line("");
    }
}

/* ---- boxhook.dll: status shots at the moments the program is held -------- */

struct shot_request { HWND dialog; wchar_t text[1024]; };

static struct {
    HMODULE dll;
    HHOOK hook;
    HANDLE map, request, done;
    struct shot_request *shared;
} g_hook;

static HANDLE named_event(const wchar_t *what)
{
    wchar_t name[64];
    _snwprintf(name, 64, L"boxanswer-%lu-%ls", g.pid, what);
    name[63] = 0;
    return CreateEventW(NULL, FALSE, FALSE, name);
}

/* Loads boxhook.dll from boxanswer's own directory and hooks the program
 * (started suspended, so before its first window). Nonzero when hooked. */
static int start_hook(DWORD tid)
{
    wchar_t path[MAX_PATH], name[64];
    wchar_t *slash;
    FARPROC proc;
    if (!g_shot_dir || !GetModuleFileNameW(NULL, path, MAX_PATH) || !(slash = wcsrchr(path, L'\\')))
        return 0;
    wcscpy(slash + 1, L"boxhook.dll");
    g_hook.dll = LoadLibraryW(path);
    proc = g_hook.dll ? GetProcAddress(g_hook.dll, "BoxHookCallWndProc@12") : NULL;
    if (!proc)
        return 0;
    _snwprintf(name, 64, L"boxanswer-%lu-shot", g.pid);
    name[63] = 0;
    g_hook.map = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                    sizeof(struct shot_request), name);
    g_hook.shared = g_hook.map ? MapViewOfFile(g_hook.map, FILE_MAP_WRITE, 0, 0, 0) : NULL;
    g_hook.request = named_event(L"request");
    g_hook.done = named_event(L"done");
    if (!g_hook.shared || !g_hook.request || !g_hook.done)
        return 0;
    g_hook.hook = SetWindowsHookExW(WH_CALLWNDPROC, (HOOKPROC)(void (*)(void))proc, g_hook.dll, tid);
    if (!g_hook.hook)
        log_line("error|SetWindowsHookEx (boxhook.dll) failed with %lu", GetLastError());
    return g_hook.hook != NULL;
}

/* The program is held: captures the dialog with the status it shows. */
static void serve_hook(void)
{
    wchar_t kind[64] = L"status";
    const wchar_t *text = g_hook.shared->text;
    size_t n = wcslen(kind);
    int number = ++g_shots;
    while (*text && !iswalnum(*text))
        text++;
    if (*text)
        kind[n++] = L'-';
    for (; *text && iswalnum(*text) && n + 1 < 24; text++)
        kind[n++] = (wchar_t)towlower(*text);
    kind[n] = 0;
    g_last_ink = -1;
    take_shot(g_hook.shared->dialog, number, kind, 0);
    fprintf(g_log, "shot|%d|held|ink=%ld|area=%08lx|text=", number, g_last_ink, (unsigned long)g_last_area);
    put_field(g_hook.shared->text);
    log_line("");
    SetEvent(g_hook.done);
}

static int hooked(void) { return g_hook.hook != NULL; }

static void handle_box(HWND hwnd, const wchar_t *caption, unsigned set)
{
    wchar_t text[4096], owner_caption[512];
    HWND owner = GetWindow(hwnd, GW_OWNER);
    char names[128] = "";
    int answer = 0, unexpected = 0;
    size_t i;

    text[0] = 0;
    GetDlgItemTextW(hwnd, MSGBOX_TEXT_ID, text, 4096);
    for (i = 0; i < N_BUTTONS; i++)
        if ((set >> i) & 1)
            strcat(names, g_buttons[i].name);

    if (wcscmp(caption, g.caption)) {
        unexpected = 1;
    } else if (g.next_answer < g.n_answers) {
        answer = g.answers[g.next_answer++];
        if (!has_button(set, answer))
            unexpected = 1;     /* scripted button is not on this box */
    } else {
        unexpected = 1;
    }
    if (!answer || !has_button(set, answer))
        answer = has_button(set, IDCANCEL) ? IDCANCEL
               : has_button(set, IDNO) ? IDNO : IDOK;

    g.boxes++;
    fprintf(g_log, "box|%d|caption=", g.boxes);
    put_field(caption);
    fputs("|owner=", g_log);
    if (owner) {
        owner_caption[0] = 0;
        GetWindowTextW(owner, owner_caption, 512);
        if (!owner_caption[0]) {
            /* untitled owner: name its class so it never reads as "none" */
            wcscpy(owner_caption, L"(class ");
            GetClassNameW(owner, owner_caption + 7, 500);
            wcscat(owner_caption, L")");
        }
        put_field(owner_caption);
    } else {
        fputs("none", g_log);
    }
    fprintf(g_log, "|buttons=%s|answer=%s%s|text=", names, button_name(answer),
            unexpected ? "|unexpected" : "");
    put_field(text);
    log_line("");

    box_shot(hwnd, names);
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 (LPARAM)GetDlgItem(hwnd, answer));
}

static void handle_status(HWND hwnd, struct tracked *t)
{
    wchar_t text[1024];
    HWND ctl = GetDlgItem(hwnd, STATUS_ID);
    text[0] = 0;
    GetWindowTextW(ctl, text, 1024);
    if (!IsWindow(ctl))
        return;                 /* torn down while we read it */
    if (t->reported && !wcscmp(text, t->status)) {
        DWORD_PTR unused;
        if (g_pings) {
            if (SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 200, &unused))
                t->answered++;
            else
                t->missed++;
        }
        status_shot(hwnd, t, 0);
        return;
    }
    log_pings(t);
    wcscpy(t->status, text);
    t->reported = 1;
    fputs("status|text=", g_log);
    put_field(text);
    log_line("");
    status_shot(hwnd, t, 1);
}

static BOOL CALLBACK visit_window(HWND hwnd, LPARAM unused)
{
    DWORD pid = 0;
    wchar_t caption[512];
    struct tracked *t;
    unsigned set;
    (void)unused;

    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != g.pid || !IsWindowVisible(hwnd))
        return TRUE;
    caption[0] = 0;
    GetWindowTextW(hwnd, caption, 512);
    t = find_seen(hwnd);
    if (t && t->is_box == 1)
        return TRUE;            /* answered already, still closing */

    set = visible_buttons(hwnd);
    if (is_box_window(hwnd, set)) {
        if (t)
            t->is_box = 1;
        else
            add_seen(hwnd, 1);
        handle_box(hwnd, caption, set);
    } else if (!wcscmp(caption, g.caption) && GetDlgItem(hwnd, STATUS_ID)) {
        if (!t)
            t = add_seen(hwnd, 0);
        if (t)
            handle_status(hwnd, t);
    }
    return TRUE;
}

/* Shown windows are also reported as they appear, so a progress dialog that
 * is up for less than one poll interval still gets seen. The callback can
 * run inside any cross-process call (while a WM_GETTEXT is pending, say), so
 * it only queues the window; the main loop looks at it afterwards. */
static HWND g_shown[64];
static int g_n_shown;

static void CALLBACK on_show(HWINEVENTHOOK hook, DWORD event, HWND hwnd, LONG obj,
                             LONG child, DWORD thread, DWORD time)
{
    (void)hook; (void)event; (void)thread; (void)time;
    if (obj == OBJID_WINDOW && child == CHILDID_SELF && hwnd &&
        g_n_shown < 64 && GetAncestor(hwnd, GA_ROOT) == hwnd)
        g_shown[g_n_shown++] = hwnd;
}

static void visit_shown(void)
{
    int i;
    for (i = 0; i < g_n_shown; i++)
        visit_window(g_shown[i], 0);
    g_n_shown = 0;
}

/* Looks at all top-level windows bottom-up in z-order: an owner (the
 * progress dialog) then gets logged before the box it carries. */
static HWND g_all[1024];
static int g_n_all;

static BOOL CALLBACK collect_window(HWND hwnd, LPARAM unused)
{
    (void)unused;
    if (g_n_all < 1024)
        g_all[g_n_all++] = hwnd;
    return TRUE;
}

static void visit_all(void)
{
    g_n_all = 0;
    EnumWindows(collect_window, 0);
    while (g_n_all > 0)
        visit_window(g_all[--g_n_all], 0);
}

/* ---- main --------------------------------------------------------------- */

static void parse_answers(const wchar_t *list)
{
    const wchar_t *p = list;
    if (!wcscmp(list, L"-"))
        return;
    while (*p) {
        wchar_t name[32];
        size_t n = wcscspn(p, L",");
        int id;
        if (n >= 32)
            n = 31;
        wcsncpy(name, p, n);
        name[n] = 0;
        id = button_id(name);
        if (!id) {
            fprintf(stderr, "boxanswer: unknown answer '%ls'\n", name);
            exit(3);
        }
        if (g.n_answers < MAX_ANSWERS)
            g.answers[g.n_answers++] = id;
        p += wcscspn(p, L",");
        if (*p == L',')
            p++;
    }
}

int wmain(int argc, wchar_t **argv)
{
    static wchar_t cmd[32768];
    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    DWORD deadline, code = 0;
    double timeout;
    int i;

    if (argc < 6) {
        fprintf(stderr, "usage: boxanswer <log> <timeout s> <caption> <answers> <program> [args...]\n");
        return 3;
    }
    g_log = _wfopen(argv[1], L"wb");
    if (!g_log) {
        fprintf(stderr, "boxanswer: cannot write %ls\n", argv[1]);
        return 3;
    }
    timeout = wcstod(argv[2], NULL);
    g.caption = argv[3];
    parse_answers(argv[4]);
    g_pings = _wgetenv(L"BOXANSWER_PINGS") != NULL;
    g_shot_dir = _wgetenv(L"BOXANSWER_SHOTS");
    if (g_shot_dir && (!*g_shot_dir || !load_gdi()))
        g_shot_dir = NULL;

    for (i = 5; i < argc; i++)
        append_arg(cmd, sizeof cmd / sizeof cmd[0], argv[i]);

    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessW(NULL, cmd, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &si, &pi)) {
        log_line("error|CreateProcess failed with %lu", GetLastError());
        fclose(g_log);
        return 3;
    }
    g.pid = pi.dwProcessId;
    fprintf(g_log, "start|pid=%lu|cmd=", pi.dwProcessId);
    put_field(cmd);
    log_line("");
    if (!SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, NULL, on_show,
                         pi.dwProcessId, 0, WINEVENT_OUTOFCONTEXT))
        log_line("error|SetWinEventHook failed with %lu", GetLastError());
    start_hook(pi.dwThreadId);
    ResumeThread(pi.hThread);

    deadline = GetTickCount() + (DWORD)(timeout * 1000.0);
    for (;;) {
        MSG msg;
        HANDLE waits[2] = { pi.hProcess, g_hook.request };
        DWORD w = MsgWaitForMultipleObjects(hooked() ? 2 : 1, waits, FALSE, POLL_MS, QS_ALLINPUT);
        if (hooked() && w == WAIT_OBJECT_0 + 1)
            serve_hook();
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        visit_shown();
        if (w == WAIT_OBJECT_0)
            break;
        prune_seen();
        visit_all();
        visit_shown();
        if ((LONG)(GetTickCount() - deadline) >= 0) {
            log_line("timeout");
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            for (i = g.next_answer; i < g.n_answers; i++)
                log_line("unused|%s", button_name(g.answers[i]));
            fclose(g_log);
            return 2;
        }
    }

    GetExitCodeProcess(pi.hProcess, &code);
    log_line("exit|%lu", code);
    for (i = g.next_answer; i < g.n_answers; i++)
        log_line("unused|%s", button_name(g.answers[i]));
    fclose(g_log);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}
