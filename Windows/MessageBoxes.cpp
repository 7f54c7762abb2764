#include "Windows/MessageBoxes.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "Windows/DisplayText.h"

#include <string>
#include <vector>

namespace {

// The centred box being opened; live only while CenteredMessageBox runs.
HWND boxOwner = nullptr;
HHOOK boxHook = nullptr;
std::vector<ButtonLabel> boxLabels;
HHOOK labelHook = nullptr;

int modalDepth = 0;
void (*modalUiClosed)() = nullptr;

// Gives the box's buttons their labels, widening them (and the box) for longer ones.
void Relabel(HWND box) {
    std::vector<HWND> buttons;
    // Some systems make every button and hide those the box does not use; the box itself
    // is not visible yet, so its buttons' own style tells.
    for (int id = IDOK; id <= IDCONTINUE; ++id) {
        HWND button = GetDlgItem(box, id);
        if (button && (GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE))
            buttons.push_back(button);
    }
    for (const ButtonLabel& label : boxLabels)
        SetDlgItemTextA(box, label.id, label.text);
    if (buttons.empty())
        return;

    // One width for all, as the box makes them: the widest label plus the margins the
    // box gave its own labels.
    HDC dc = GetDC(box);
    HGDIOBJ previousFont =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(buttons.front(), WM_GETFONT, 0, 0)));
    RECT first;
    GetWindowRect(buttons.front(), &first);
    MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&first), 2);
    const int margin = 24; // pixels beside a label's text inside its button
    int width = first.right - first.left;
    for (HWND button : buttons) {
        char text[64];
        const int length = GetWindowTextA(button, text, sizeof text);
        SIZE extent;
        if (GetTextExtentPoint32A(dc, text, length, &extent) && extent.cx + margin > width)
            width = extent.cx + margin;
    }
    SelectObject(dc, previousFont);
    ReleaseDC(box, dc);

    // The buttons may not stand in their row yet: lay them out afresh, in id order (Yes
    // before No, as the system orders them), 4 dialog units apart.
    RECT spacing = {0, 0, 4, 0};
    MapDialogRect(box, &spacing);
    const int gap = spacing.right > 0 ? spacing.right : 6;
    const int count = static_cast<int>(buttons.size());
    const int row = count * width + (count - 1) * gap;
    RECT client, frame;
    GetClientRect(box, &client);
    if (row + 2 * gap > client.right) {
        GetWindowRect(box, &frame);
        SetWindowPos(box, nullptr, 0, 0, frame.right - frame.left + row + 2 * gap - client.right,
                     frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        GetClientRect(box, &client);
    }
    int x = (client.right - row) / 2;
    for (HWND button : buttons) {
        SetWindowPos(button, nullptr, x, first.top, width, first.bottom - first.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        x += width + gap;
    }
}

void Centre(HWND box) {
    RECT desktop, owner, frame;
    if (boxOwner && box && GetWindowRect(GetDesktopWindow(), &desktop) &&
        GetWindowRect(boxOwner, &owner) && GetWindowRect(box, &frame)) {
        const POINT at = CenteredPosition(owner, frame, desktop);
        SetWindowPos(box, nullptr, at.x, at.y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    }
}

LRESULT CALLBACK CenteringHookFn(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HCBT_ACTIVATE)
        return CallNextHookEx(boxHook, code, wParam, lParam);
    Centre(reinterpret_cast<HWND>(wParam));
    // Only the box's own activation: later activations belong to other windows.
    UnhookWindowsHookEx(boxHook);
    boxHook = nullptr;
    return 0;
}

// Relabels once the box has laid its buttons out, which some systems finish only after
// the box was activated.
LRESULT CALLBACK LabellingHookFn(int code, WPARAM wParam, LPARAM lParam) {
    const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call && call->message == WM_INITDIALOG) {
        Relabel(call->hwnd);
        Centre(call->hwnd);
        UnhookWindowsHookEx(labelHook);
        labelHook = nullptr;
        return 0;
    }
    return CallNextHookEx(labelHook, code, wParam, lParam);
}

} // namespace

ModalScope::ModalScope() {
    ++modalDepth;
}

ModalScope::~ModalScope() {
    if (--modalDepth == 0 && modalUiClosed)
        modalUiClosed();
}

bool ModalUiOpen() {
    return modalDepth > 0;
}

void SetModalUiClosedHandler(void (*handler)()) {
    modalUiClosed = handler;
}

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    Trace("Message box \"%s\":\n", caption);
    for (const std::string& line : Split(text, '\n'))
        Trace("  %s\n", line.c_str());
    ModalScope box;
    return MessageBoxA(owner, DisplayText(text).c_str(), DisplayText(caption).c_str(), type);
}

int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type,
                       std::initializer_list<ButtonLabel> labels) {
    boxOwner = owner;
    boxLabels.assign(labels.begin(), labels.end());
    boxHook = SetWindowsHookExA(WH_CBT, CenteringHookFn, nullptr, GetCurrentThreadId());
    if (labels.size() != 0)
        labelHook =
            SetWindowsHookExA(WH_CALLWNDPROCRET, LabellingHookFn, nullptr, GetCurrentThreadId());
    const int result = ShowMessageBox(owner, text, caption, type);
    // Hooks the box never reached.
    for (HHOOK* hook : {&boxHook, &labelHook}) {
        if (*hook)
            UnhookWindowsHookEx(*hook);
        *hook = nullptr;
    }
    boxOwner = nullptr;
    boxLabels.clear();
    return result;
}

POINT CenteredPosition(const RECT& owner, const RECT& box, const RECT& desktop) {
    const LONG boxWidth = box.right - box.left;
    const LONG boxHeight = box.bottom - box.top;
    LONG x = owner.left + (owner.right - owner.left) / 2 - boxWidth / 2;
    LONG y = owner.top + (owner.bottom - owner.top) / 2 - boxHeight / 2;
    if (x < 0)
        x = 0;
    if (y < 0)
        y = 0;
    if (x + boxWidth > desktop.right)
        x = desktop.right - boxWidth;
    if (y + boxHeight > desktop.bottom)
        y = desktop.bottom - boxHeight;
    return POINT{x, y};
}
