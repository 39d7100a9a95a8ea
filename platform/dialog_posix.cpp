// The POSIX stand-in of a modal dialog: controls held in memory, built from
// the portable template, driven with the Win32 control messages the dialog
// procedure sends, and worked by a DialogUser in place of a person.
#include <memory>
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace platform {

namespace {

enum : unsigned { kEditChange = 0x0300 };

// The dialog's base units in pixels, those of an 8-point system font at 96
// dots per inch: 6 x 13 per 4 x 8 dialog units.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

WindowRect gDesktopRect = {0, 0, 1024, 768};
int gScreenWidth = 1024;
int gScreenHeight = 768;

uintptr_t MakeCommand(int id, unsigned notification) {
    return (static_cast<uintptr_t>(id) & 0xFFFFu) | (static_cast<uintptr_t>(notification & 0xFFFFu) << 16);
}

}  // namespace

// A dialog, one of its controls, or the desktop.
struct DialogWindow {
    DialogWindow* dialog = nullptr;  // the enclosing dialog; null for a dialog or the desktop
    int id = -1;
    ControlKind kind = ControlKind::Static;
    std::u16string text;
    intptr_t check = 0;
    std::vector<std::u16string> items;
    intptr_t selection = kComboError;
    bool enabled = true;
    WindowRect rect{};  // screen pixels for a dialog and the desktop, dialog-relative for a control

    // A dialog's own state.
    std::vector<std::unique_ptr<DialogWindow>> controls;
    DialogProc proc = nullptr;
    bool ended = false;
    intptr_t result = 0;
};

namespace {

DialogWindow gDesktop;

bool IsDialog(const DialogWindow* window) {
    return window != nullptr && window != &gDesktop && window->dialog == nullptr;
}

// Whether the dialog is still open to take messages.
bool IsOpen(const DialogWindow* dialog) {
    return IsDialog(dialog) && !dialog->ended;
}

intptr_t Send(DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    if (!IsOpen(dialog) || dialog->proc == nullptr) return 0;
    return dialog->proc(dialog, message, wParam, lParam);
}

std::unique_ptr<DialogWindow> MakeControl(DialogWindow* dialog, const DialogControl& source) {
    auto control = std::make_unique<DialogWindow>();
    control->dialog = dialog;
    control->id = source.id;
    control->kind = source.kind;
    if (source.text != nullptr) control->text = source.text;
    control->rect = {source.x * kBaseUnitX / 4, source.y * kBaseUnitY / 8, (source.x + source.width) * kBaseUnitX / 4,
                     (source.y + source.height) * kBaseUnitY / 8};
    return control;
}

intptr_t ControlMessage(DialogWindow* control, unsigned message, uintptr_t wParam, intptr_t lParam) {
    const bool isCheckBox = control->kind == ControlKind::CheckBox;
    const bool isList = control->kind == ControlKind::DropDownList;
    switch (message) {
        case kButtonGetCheck:
            return isCheckBox ? control->check : 0;
        case kButtonSetCheck:
            if (isCheckBox) control->check = static_cast<intptr_t>(wParam);
            return 0;
        case kComboAddString:
            if (!isList || lParam == 0) return kComboError;
            control->items.emplace_back(reinterpret_cast<const char16_t*>(lParam));
            return static_cast<intptr_t>(control->items.size()) - 1;
        case kComboGetCurSel:
            return isList ? control->selection : intptr_t{kComboError};
        case kComboResetContent:
            if (!isList) return 0;
            control->items.clear();
            control->selection = kComboError;
            return 1;
        case kComboSetCurSel: {
            if (!isList) return kComboError;
            // An index outside the list clears the selection, as the real
            // list does, and reports an error.
            const auto index = static_cast<intptr_t>(wParam);
            if (index < 0 || index >= static_cast<intptr_t>(control->items.size())) {
                control->selection = kComboError;
                return kComboError;
            }
            control->selection = index;
            return index;
        }
        default:
            return 0;
    }
}

}  // namespace

intptr_t RunModalDialog(void* /*instance*/, int templateId, const DialogTemplate* portable, void* owner,
                        DialogProc proc) {
    if (portable == nullptr || proc == nullptr || portable->id != templateId) return -1;
    DialogWindow dialog;
    dialog.kind = ControlKind::Static;
    dialog.text = portable->caption != nullptr ? portable->caption : u"";
    dialog.proc = proc;
    dialog.rect = {0, 0, portable->width * kBaseUnitX / 4, portable->height * kBaseUnitY / 8};
    for (int i = 0; i < portable->controlCount; ++i) dialog.controls.push_back(MakeControl(&dialog, portable->controls[i]));

    Send(&dialog, kMsgInitDialog, 0, 0);
    if (!dialog.ended) {
        if (owner != nullptr) {
            auto* user = static_cast<DialogUser*>(owner);
            if (user->act != nullptr) user->act(user, &dialog);
        } else {
            UserPressButton(&dialog, kIdOk);
        }
    }
    // A dialog nobody ended is closed as by its close box.
    if (!dialog.ended) Send(&dialog, kMsgCommand, MakeCommand(kIdCancel, kButtonClicked), 0);
    return dialog.ended ? dialog.result : intptr_t{kIdCancel};
}

bool EndDialog(DialogWindow* dialog, intptr_t result) {
    if (!IsOpen(dialog)) return false;
    dialog->ended = true;
    dialog->result = result;
    return true;
}

DialogWindow* GetDialogItem(DialogWindow* dialog, int id) {
    if (!IsDialog(dialog)) return nullptr;
    for (auto& control : dialog->controls) {
        if (control->id == id) return control.get();
    }
    return nullptr;
}

intptr_t SendDialogItemMessage(DialogWindow* dialog, int id, unsigned message, uintptr_t wParam, intptr_t lParam) {
    DialogWindow* control = GetDialogItem(dialog, id);
    return control != nullptr ? ControlMessage(control, message, wParam, lParam) : 0;
}

bool SetDialogItemText(DialogWindow* dialog, int id, const char16_t* text) {
    DialogWindow* control = GetDialogItem(dialog, id);
    if (control == nullptr) return false;
    control->text = text != nullptr ? text : u"";
    return true;
}

unsigned GetDialogItemText(DialogWindow* dialog, int id, char16_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) return 0;
    buffer[0] = 0;
    DialogWindow* control = GetDialogItem(dialog, id);
    if (control == nullptr) return 0;
    unsigned n = 0;
    for (; n < control->text.size() && static_cast<int>(n) + 1 < capacity; ++n) buffer[n] = control->text[n];
    buffer[n] = 0;
    return n;
}

bool EnableWindow(DialogWindow* window, bool enable) {
    if (window == nullptr) return false;
    const bool wasDisabled = !window->enabled;
    window->enabled = enable;
    return wasDisabled;
}

bool IsWindowEnabled(DialogWindow* window) {
    return window != nullptr && window->enabled;
}

DialogWindow* GetDesktopWindow() {
    gDesktop.rect = gDesktopRect;
    return &gDesktop;
}

bool GetWindowRect(DialogWindow* window, WindowRect* rect) {
    if (window == nullptr || rect == nullptr) return false;
    *rect = window->rect;
    if (window->dialog != nullptr) {
        rect->left += window->dialog->rect.left;
        rect->right += window->dialog->rect.left;
        rect->top += window->dialog->rect.top;
        rect->bottom += window->dialog->rect.top;
    }
    return true;
}

void GetScreenSize(DialogWindow* /*window*/, int* width, int* height) {
    if (width != nullptr) *width = gScreenWidth;
    if (height != nullptr) *height = gScreenHeight;
}

int MoveWindowTo(DialogWindow* window, int x, int y) {
    if (!IsDialog(window)) return 0;
    const long width = window->rect.right - window->rect.left;
    const long height = window->rect.bottom - window->rect.top;
    window->rect = {x, y, x + width, y + height};
    return 1;
}

void SetScreenForTesting(const WindowRect& desktop, int screenWidth, int screenHeight) {
    gDesktopRect = desktop;
    gScreenWidth = screenWidth;
    gScreenHeight = screenHeight;
}

void* AttachDialogUser(DialogUser* user) {
    return user;
}

void DetachDialogUser() {}

// A person can work only enabled controls of an open dialog.
namespace {

DialogWindow* UsableControl(DialogWindow* dialog, int id) {
    if (!IsOpen(dialog)) return nullptr;
    DialogWindow* control = GetDialogItem(dialog, id);
    return control != nullptr && control->enabled ? control : nullptr;
}

}  // namespace

void UserSetCheck(DialogWindow* dialog, int id, bool checked) {
    DialogWindow* control = UsableControl(dialog, id);
    if (control == nullptr || control->kind != ControlKind::CheckBox) return;
    control->check = checked ? 1 : 0;
    Send(dialog, kMsgCommand, MakeCommand(id, kButtonClicked), reinterpret_cast<intptr_t>(control));
}

void UserSelectListItem(DialogWindow* dialog, int id, int index) {
    DialogWindow* control = UsableControl(dialog, id);
    if (control == nullptr || control->kind != ControlKind::DropDownList) return;
    ControlMessage(control, kComboSetCurSel, static_cast<uintptr_t>(index), 0);
    Send(dialog, kMsgCommand, MakeCommand(id, kComboSelChange), reinterpret_cast<intptr_t>(control));
}

void UserTypeText(DialogWindow* dialog, int id, const char16_t* text) {
    DialogWindow* control = UsableControl(dialog, id);
    if (control == nullptr || control->kind != ControlKind::Edit) return;
    control->text = text != nullptr ? text : u"";
    Send(dialog, kMsgCommand, MakeCommand(id, kEditChange), reinterpret_cast<intptr_t>(control));
}

void UserPressButton(DialogWindow* dialog, int id) {
    if (!IsOpen(dialog)) return;
    DialogWindow* control = GetDialogItem(dialog, id);
    // Escape and the close box send Cancel even without a Cancel button.
    if (control != nullptr && !control->enabled) return;
    Send(dialog, kMsgCommand, MakeCommand(id, kButtonClicked), reinterpret_cast<intptr_t>(control));
}

}  // namespace platform
