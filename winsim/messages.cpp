// The thread's message queue: posted messages in order, and the quit request
// that PostQuitMessage sets. The program has one thread, so there is one
// queue. Nothing has a window procedure here: DispatchMessageA is logged, and
// a WM_PAINT it delivers paints the dialog (ui.cpp).
#include "internal.h"

#include <deque>

namespace winsim {
namespace {

struct Queue {
    std::deque<MSG> posted;
    bool quit = false;  // PostQuitMessage was called and WM_QUIT not yet removed
    int quitCode = 0;
    std::vector<MSG> duringWait;  // arrive at WaitForSingleObject's next timeout
};

Queue &Q() {
    static Queue queue;
    return queue;
}

MSG Make(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    return msg;
}

MSG QuitMessage() { return Make(nullptr, WM_QUIT, static_cast<WPARAM>(Q().quitCode), 0); }

// The filter of PeekMessageA: NULL takes every message of the thread,
// (HWND)-1 only those posted to no window; a range of 0, 0 takes all.
bool Matches(const MSG &msg, HWND window, UINT first, UINT last) {
    const HWND threadOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
    if (window == threadOnly ? msg.hwnd != nullptr : (window && msg.hwnd != window)) return false;
    return (first == 0 && last == 0) || (msg.message >= first && msg.message <= last);
}

}  // namespace

void PostThreadMessageForTest(UINT message, WPARAM wParam, LPARAM lParam) {
    Q().posted.push_back(Make(nullptr, message, wParam, lParam));
}

void PostDuringWait(UINT message, WPARAM wParam, LPARAM lParam) {
    Q().duringWait.push_back(Make(nullptr, message, wParam, lParam));
}

std::vector<MSG> PendingMessages() {
    std::vector<MSG> pending(Q().posted.begin(), Q().posted.end());
    if (Q().quit) pending.push_back(QuitMessage());
    return pending;
}

namespace detail {

void ResetMessages() { Q() = Queue(); }

void DeliverWaitMessages() {
    for (const MSG &msg : Q().duringWait) Q().posted.push_back(msg);
    Q().duringWait.clear();
}

}  // namespace detail
}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// NT and 95: posted messages first, in order, then WM_QUIT when a quit was
// requested, which is returned whatever the filter (as both systems do) and
// cleared by PM_REMOVE, then WM_PAINT for a window waiting to be painted.
// WM_PAINT is made up while the window needs it and PM_REMOVE does not take
// it away: only the paint (DispatchMessageA) does. No sent messages or input
// exist here. Returns FALSE, setting no error, when nothing matches.
BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
    if (Enter("PeekMessageA")) return FALSE;
    if (!lpMsg) return SetError(ERROR_NOACCESS), FALSE;
    winsim::Queue &queue = winsim::Q();
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (!winsim::Matches(*it, hWnd, wMsgFilterMin, wMsgFilterMax)) continue;
        *lpMsg = *it;
        if (wRemoveMsg & PM_REMOVE) queue.posted.erase(it);
        return TRUE;
    }
    if (queue.quit) {
        *lpMsg = winsim::QuitMessage();
        if (wRemoveMsg & PM_REMOVE) queue.quit = false;
        return TRUE;
    }
    HWND window = nullptr;
    const HWND threadOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));
    const bool paintWanted = (wMsgFilterMin == 0 && wMsgFilterMax == 0) ||
                             (WM_PAINT >= wMsgFilterMin && WM_PAINT <= wMsgFilterMax);
    if (hWnd == threadOnly || !paintWanted || !winsim::detail::NextPaint(hWnd, &window))
        return FALSE;
    *lpMsg = winsim::Make(window, WM_PAINT, 0, 0);
    return TRUE;
}

// No window has a procedure: the call is logged with the message number
// (decimal) and returns 0. WM_PAINT paints its dialog, as the dialog's
// default procedure and its controls would.
LRESULT WINAPI DispatchMessageA(const MSG *lpMsg) {
    if (Enter("DispatchMessageA", lpMsg ? std::to_string(lpMsg->message) : "")) return 0;
    if (lpMsg && lpMsg->message == WM_PAINT) winsim::detail::DeliverPaint(lpMsg->hwnd);
    return 0;
}

// NT and 95: sets the thread's quit request; a second call before WM_QUIT is
// removed only changes its exit code.
void WINAPI PostQuitMessage(int nExitCode) {
    if (Enter("PostQuitMessage", std::to_string(nExitCode))) return;
    winsim::Q().quit = true;
    winsim::Q().quitCode = nExitCode;
}
