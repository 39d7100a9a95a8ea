// The dialog part of the OS seam: a modal dialog run from a template, its
// controls driven with the Win32 messages the options dialog uses, and, for
// POSIX, an in-memory stand-in whose "user" is a DialogUser handed over as
// the owner window.
//
// One dialog procedure serves both sides: on Windows the real dialog calls
// it; on POSIX the stand-in sends it the same messages.
#pragma once

#include <cstdint>

namespace platform {

// A dialog or one of its controls: an HWND on Windows, a stand-in object on
// POSIX.
struct DialogWindow;

// Messages and notifications, with their Win32 values.
enum : unsigned {
    kMsgInitDialog = 0x0110,
    kMsgCommand = 0x0111,
    kButtonGetCheck = 0x00F0,
    kButtonSetCheck = 0x00F1,
    kComboAddString = 0x0143,
    kComboGetCurSel = 0x0147,
    kComboResetContent = 0x014B,
    kComboSetCurSel = 0x014E,
};
enum : unsigned { kButtonClicked = 0, kComboSelChange = 1 };
enum : int { kComboError = -1 };
enum : int { kIdOk = 1, kIdCancel = 2 };

// The dialog procedure: true (non-zero) when it handled the message.
typedef intptr_t (*DialogProc)(DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

// A portable description of a dialog template, used by the POSIX stand-in
// (Windows loads the compiled resource instead).
enum class ControlKind { PushButton, DefaultPushButton, GroupBox, CheckBox, DropDownList, Static, Edit };

struct DialogControl {
    int id;  // -1 for controls without an id
    ControlKind kind;
    const char16_t* text;
    int x, y, width, height;  // dialog units
};

struct DialogTemplate {
    int id;
    const char16_t* caption;
    int width, height;  // dialog units
    const DialogControl* controls;
    int controlCount;
};

// Runs the dialog modally and returns what EndDialog was given; 0 or -1 when
// it could not be opened. Windows: DialogBoxParamW(instance, templateId,
// owner, proc, 0). POSIX: builds the controls of `portable`, sends the init
// message, lets the DialogUser at `owner` act (no owner: the user presses
// OK), and returns the result.
intptr_t RunModalDialog(void* instance, int templateId, const DialogTemplate* portable, void* owner, DialogProc proc);

bool EndDialog(DialogWindow* dialog, intptr_t result);
DialogWindow* GetDialogItem(DialogWindow* dialog, int id);
intptr_t SendDialogItemMessage(DialogWindow* dialog, int id, unsigned message, uintptr_t wParam, intptr_t lParam);
bool SetDialogItemText(DialogWindow* dialog, int id, const char16_t* text);
// Copies at most capacity - 1 units and a terminator; returns the units copied.
unsigned GetDialogItemText(DialogWindow* dialog, int id, char16_t* buffer, int capacity);
bool EnableWindow(DialogWindow* window, bool enable);
bool IsWindowEnabled(DialogWindow* window);

// What CenterWindowOnScreen needs.
struct WindowRect {
    long left, top, right, bottom;
};
DialogWindow* GetDesktopWindow();
bool GetWindowRect(DialogWindow* window, WindowRect* rect);
// The screen's size in pixels from the window's device context.
void GetScreenSize(DialogWindow* window, int* width, int* height);
// Moves the window without changing its size or z-order; the SetWindowPos result.
int MoveWindowTo(DialogWindow* window, int x, int y);
// Test seam of the POSIX stand-in: the desktop window's rectangle and the
// screen size that GetScreenSize reports (by default 0, 0, 1024, 768 and
// 1024 x 768). Nothing on Windows.
void SetScreenForTesting(const WindowRect& desktop, int screenWidth, int screenHeight);

// The POSIX stand-in's user. The host hands a DialogUser as its main window;
// the stand-in calls act() once the dialog is initialised. act() works the
// controls through the User* calls below, which send the procedure what a
// real click, selection or keystroke would.
struct DialogUser {
    void (*act)(DialogUser* self, DialogWindow* dialog);
};

// Hands `user` to the next options dialog this process opens and returns the
// owner window to give that dialog (the host's GetMainWindow answer). POSIX:
// the user itself, which the stand-in calls. Windows: starts a watcher that
// finds the dialog once it is open and lets the user act on it from the
// watcher's thread; returns null (the desktop owns the dialog).
void* AttachDialogUser(DialogUser* user);
// Stops the watcher that AttachDialogUser started, if any.
void DetachDialogUser();

void UserSetCheck(DialogWindow* dialog, int id, bool checked);
void UserSelectListItem(DialogWindow* dialog, int id, int index);
void UserTypeText(DialogWindow* dialog, int id, const char16_t* text);
void UserPressButton(DialogWindow* dialog, int id);

}  // namespace platform
