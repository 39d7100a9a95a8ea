// The Windows side of the dialog seam: the real modal dialog from the
// module's template, its controls through the user-interface calls, and a
// watcher thread that lets a DialogUser work the open dialog with the
// messages a person's clicks and keystrokes would send.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/dialog.h"

namespace platform {

namespace {

HWND Handle(DialogWindow* window) {
    return reinterpret_cast<HWND>(window);
}

DialogWindow* Window(HWND handle) {
    return reinterpret_cast<DialogWindow*>(handle);
}

// Calls the portable procedure, which the dialog keeps in its user data
// from the moment the initialisation message hands it over. The procedure
// sees the creation parameter 0, as the dialog was asked to run with.
INT_PTR CALLBACK Trampoline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, static_cast<LONG_PTR>(lParam));
        const auto proc = reinterpret_cast<DialogProc>(lParam);
        return proc != nullptr ? proc(Window(hwnd), message, wParam, 0) : FALSE;
    }
    const auto proc = reinterpret_cast<DialogProc>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return proc != nullptr ? proc(Window(hwnd), message, wParam, lParam) : FALSE;
}

// --- The watcher of AttachDialogUser ---------------------------------------

constexpr wchar_t kWatchedCaption[] = L"Export ASE File";
constexpr auto kWatchLimit = std::chrono::seconds(10);
constexpr auto kWatchInterval = std::chrono::milliseconds(20);

std::mutex gWatcherMutex;
std::thread gWatcher;
std::atomic<bool> gStopWatching{false};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
    wchar_t caption[64] = {};
    GetWindowTextW(hwnd, caption, 64);
    if (lstrcmpW(caption, kWatchedCaption) != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

void Watch(DialogUser* user) {
    const auto deadline = std::chrono::steady_clock::now() + kWatchLimit;
    while (!gStopWatching.load() && std::chrono::steady_clock::now() < deadline) {
        HWND dialog = nullptr;
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dialog));
        if (dialog != nullptr) {
            if (user->act != nullptr) user->act(user, Window(dialog));
            return;
        }
        std::this_thread::sleep_for(kWatchInterval);
    }
}

void StopWatcher() {
    gStopWatching.store(true);
    if (gWatcher.joinable()) gWatcher.join();
    gStopWatching.store(false);
}

// Sends the dialog the command a control's notification makes.
void Notify(HWND dialog, int id, UINT notification) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace

intptr_t RunModalDialog(void* instance, int templateId, const DialogTemplate* /*portable*/, void* owner,
                        DialogProc proc) {
    return DialogBoxParamW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(templateId), static_cast<HWND>(owner),
                           Trampoline, reinterpret_cast<LPARAM>(proc));
}

bool EndDialog(DialogWindow* dialog, intptr_t result) {
    return ::EndDialog(Handle(dialog), result) != FALSE;
}

DialogWindow* GetDialogItem(DialogWindow* dialog, int id) {
    return Window(GetDlgItem(Handle(dialog), id));
}

intptr_t SendDialogItemMessage(DialogWindow* dialog, int id, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return SendDlgItemMessageW(Handle(dialog), id, message, wParam, lParam);
}

bool SetDialogItemText(DialogWindow* dialog, int id, const char16_t* text) {
    return SetDlgItemTextW(Handle(dialog), id, reinterpret_cast<const wchar_t*>(text)) != FALSE;
}

unsigned GetDialogItemText(DialogWindow* dialog, int id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    return GetDlgItemTextW(Handle(dialog), id, reinterpret_cast<wchar_t*>(buffer), capacity);
}

bool EnableWindow(DialogWindow* window, bool enable) {
    return ::EnableWindow(Handle(window), enable ? TRUE : FALSE) != FALSE;
}

bool IsWindowEnabled(DialogWindow* window) {
    return ::IsWindowEnabled(Handle(window)) != FALSE;
}

DialogWindow* GetDesktopWindow() {
    return Window(::GetDesktopWindow());
}

bool GetWindowRect(DialogWindow* window, WindowRect* rect) {
    if (rect == nullptr) return false;
    RECT r{};
    if (!::GetWindowRect(Handle(window), &r)) return false;
    *rect = {r.left, r.top, r.right, r.bottom};
    return true;
}

void GetScreenSize(DialogWindow* window, int* width, int* height) {
    HDC dc = GetDC(Handle(window));
    if (width != nullptr) *width = GetDeviceCaps(dc, HORZRES);
    if (height != nullptr) *height = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(Handle(window), dc);
}

int MoveWindowTo(DialogWindow* window, int x, int y) {
    return SetWindowPos(Handle(window), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void SetScreenForTesting(const WindowRect& /*desktop*/, int /*screenWidth*/, int /*screenHeight*/) {}

void* AttachDialogUser(DialogUser* user) {
    std::lock_guard<std::mutex> lock(gWatcherMutex);
    StopWatcher();
    if (user != nullptr) gWatcher = std::thread(Watch, user);
    return nullptr;
}

void DetachDialogUser() {
    std::lock_guard<std::mutex> lock(gWatcherMutex);
    StopWatcher();
}

void UserSetCheck(DialogWindow* dialog, int id, bool checked) {
    SendDlgItemMessageW(Handle(dialog), id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Notify(Handle(dialog), id, BN_CLICKED);
}

void UserSelectListItem(DialogWindow* dialog, int id, int index) {
    SendDlgItemMessageW(Handle(dialog), id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Notify(Handle(dialog), id, CBN_SELCHANGE);
}

void UserTypeText(DialogWindow* dialog, int id, const char16_t* text) {
    SendDlgItemMessageW(Handle(dialog), id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : u""));
}

// Posted, not sent: the button may end the dialog, and the watcher must not
// wait inside the dialog's own message handling for that.
void UserPressButton(DialogWindow* dialog, int id) {
    PostMessageW(Handle(dialog), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(Handle(dialog), id)));
}

}  // namespace platform
