// The user interface: message boxes answered from a script, modeless dialogs
// built from their templates, dialog item text, painting, and restart
// requests. Nothing is drawn, but what would be is: a dialog is shown with
// its client area still to be painted, and a changed item text waits for
// the next paint, as on Windows, where the screen keeps what was last
// painted until the window's update region is painted (UpdateWindow, or a
// WM_PAINT that PeekMessageA hands out and DispatchMessageA delivers). Every
// event goes to one log in the order it happened, so tests can check what
// the user saw and when.
#include "internal.h"

#include <deque>
#include <map>

namespace winsim {
namespace {

struct Dialog {
    UINT templateId = 0;
    std::string caption;
    std::map<int, std::string> items;  // id -> text
    bool alive = true;
    bool needsPaint = true;  // shown (WS_VISIBLE) and not painted since, or changed
};

struct Ui {
    std::deque<int> answers;
    std::vector<UiEvent> events;
    std::map<HWND, Dialog> dialogs;
    uintptr_t nextWindow = 0x10010;
};

Ui &U() {
    static Ui ui;
    return ui;
}

Dialog *LiveDialog(HWND window) {
    auto it = U().dialogs.find(window);
    if (it == U().dialogs.end() || !it->second.alive) return nullptr;
    return &it->second;
}

// What the user now sees of the dialog: one Paint event per item, with the
// text it shows from here on.
void Paint(HWND window, Dialog *dialog) {
    for (const auto &item : dialog->items) {
        UiEvent event;
        event.kind = UiEvent::Paint;
        event.window = window;
        event.item = item.first;
        event.text = item.second;
        U().events.push_back(event);
    }
    dialog->needsPaint = false;
}

}  // namespace

void QueueAnswers(const std::vector<int> &answers) {
    U().answers.insert(U().answers.end(), answers.begin(), answers.end());
}

const std::vector<UiEvent> &UiEvents() { return U().events; }

std::vector<UiEvent> MessageBoxes() {
    std::vector<UiEvent> boxes;
    for (const UiEvent &event : U().events)
        if (event.kind == UiEvent::MessageBox) boxes.push_back(event);
    return boxes;
}

std::string DialogItemText(HWND dialog, int item) {
    auto it = U().dialogs.find(dialog);
    if (it == U().dialogs.end()) return std::string();
    auto text = it->second.items.find(item);
    return text == it->second.items.end() ? std::string() : text->second;
}

int LiveDialogCount() {
    int count = 0;
    for (const auto &entry : U().dialogs) count += entry.second.alive ? 1 : 0;
    return count;
}

namespace detail {
void ResetUi() { U() = Ui(); }
void EndProcessUi() {
    for (auto &entry : U().dialogs) entry.second.alive = false;
    U().answers.clear();
}
bool NextPaint(HWND filter, HWND *window) {
    for (const auto &entry : U().dialogs) {
        if (!entry.second.alive || !entry.second.needsPaint) continue;
        if (filter && filter != entry.first) continue;
        *window = entry.first;
        return true;
    }
    return false;
}
void DeliverPaint(HWND window) {
    Dialog *dialog = LiveDialog(window);
    if (dialog && dialog->needsPaint) Paint(window, dialog);
}
void RecordRestart(UINT flags) {
    UiEvent event;
    event.kind = UiEvent::ExitWindows;
    event.type = flags;
    U().events.push_back(event);
}
void RecordSystemBox(HWND owner, const std::string &text, const std::string &caption, UINT type) {
    UiEvent event;
    event.kind = UiEvent::MessageBox;
    event.window = owner;
    event.text = text;
    event.caption = caption;
    event.type = type;
    event.answer = IDOK;
    U().events.push_back(event);
}
}  // namespace detail

}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// Windows: the box is modal; here it returns at once with the next scripted
// answer. An owner that is not a live window is recorded as given.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    if (Enter("MessageBoxA", lpText ? lpText : "")) return 0;
    winsim::UiEvent event;
    event.kind = winsim::UiEvent::MessageBox;
    event.window = hWnd;
    event.text = lpText ? lpText : "";
    // Windows shows "Error" when the caption is NULL.
    event.caption = lpCaption ? lpCaption : "Error";
    event.type = uType;
    winsim::Ui &ui = winsim::U();
    if (!ui.answers.empty()) {
        event.answer = ui.answers.front();
        ui.answers.pop_front();
    } else {
        event.answer = (uType & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    }
    ui.events.push_back(event);
    return event.answer;
}

// Windows: builds the dialog from its template and sends WM_INITDIALOG before
// returning. Here the template is parsed for its caption and item texts; the
// dialog procedure receives WM_INITDIALOG and nothing else, since the
// simulated windows are never drawn.
HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    const UINT id = IS_INTRESOURCE(lpTemplateName)
                        ? static_cast<UINT>(reinterpret_cast<uintptr_t>(lpTemplateName))
                        : 0;
    if (Enter("CreateDialogParamA", std::to_string(id))) return nullptr;
    std::string bytes;
    winsim::DialogTemplate dialogTemplate;
    if (hInstance != winsim::ModuleInstance() || id == 0 ||
        !winsim::GetResource(5, static_cast<WORD>(id), &bytes)) {
        SetError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    if (!winsim::ParseDialogTemplate(bytes, &dialogTemplate)) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    winsim::Ui &ui = winsim::U();
    HWND window = reinterpret_cast<HWND>(ui.nextWindow);
    ui.nextWindow += 0x10;
    winsim::Dialog &dialog = ui.dialogs[window];
    dialog.templateId = id;
    dialog.caption = dialogTemplate.caption;
    for (const winsim::DialogItem &item : dialogTemplate.items) dialog.items[item.id] = item.text;
    winsim::UiEvent event;
    event.kind = winsim::UiEvent::CreateDialog;
    event.window = window;
    event.caption = dialogTemplate.caption;
    event.type = id;
    ui.events.push_back(event);
    (void)hWndParent;
    if (lpDialogFunc) lpDialogFunc(window, WM_INITDIALOG, 0, dwInitParam);
    return window;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    if (Enter("DestroyWindow")) return FALSE;
    winsim::Dialog *dialog = winsim::LiveDialog(hWnd);
    if (!dialog) {
        SetError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    dialog->alive = false;
    winsim::UiEvent event;
    event.kind = winsim::UiEvent::DestroyDialog;
    event.window = hWnd;
    event.caption = dialog->caption;
    winsim::U().events.push_back(event);
    return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
    if (Enter("SetDlgItemTextA", lpString ? lpString : "")) return FALSE;
    winsim::Dialog *dialog = winsim::LiveDialog(hDlg);
    if (!dialog) {
        SetError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto item = dialog->items.find(nIDDlgItem);
    if (item == dialog->items.end()) {
        SetError(ERROR_CONTROL_ID_NOT_FOUND);
        return FALSE;
    }
    item->second = lpString ? lpString : "";
    // The static control invalidates itself; the new text shows at the next
    // paint, and until then the screen keeps what was painted before.
    dialog->needsPaint = true;
    winsim::UiEvent event;
    event.kind = winsim::UiEvent::SetItemText;
    event.window = hDlg;
    event.item = nIDDlgItem;
    event.text = item->second;
    winsim::U().events.push_back(event);
    return TRUE;
}

// NT and 95: paints the window now, without the message queue, when part of
// it is waiting to be painted; nothing otherwise. FALSE with
// ERROR_INVALID_WINDOW_HANDLE for a window that does not exist.
BOOL WINAPI UpdateWindow(HWND hWnd) {
    if (Enter("UpdateWindow")) return FALSE;
    winsim::Dialog *dialog = winsim::LiveDialog(hWnd);
    if (!dialog) {
        SetError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (dialog->needsPaint) winsim::Paint(hWnd, dialog);
    return TRUE;
}
