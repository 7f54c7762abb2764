#include "Windows/MessageBoxes.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"

#include <string>
#include <vector>

namespace {

// The centred box being opened; live only while CenteredMessageBox runs.
HWND boxOwner = nullptr;
HHOOK boxHook = nullptr;
std::vector<ButtonLabel> boxLabels;

LRESULT CALLBACK CenteringHookFn(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HCBT_ACTIVATE)
        return CallNextHookEx(boxHook, code, wParam, lParam);

    HWND box = reinterpret_cast<HWND>(wParam);
    RECT desktop, owner, frame;
    if (boxOwner && box && GetWindowRect(GetDesktopWindow(), &desktop) &&
        GetWindowRect(boxOwner, &owner) && GetWindowRect(box, &frame)) {
        const POINT at = CenteredPosition(owner, frame, desktop);
        SetWindowPos(box, nullptr, at.x, at.y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    }
    if (box) {
        for (const ButtonLabel& label : boxLabels)
            SetDlgItemTextA(box, label.id, label.text);
    }
    // Only the box's own activation: later activations belong to other windows.
    UnhookWindowsHookEx(boxHook);
    boxHook = nullptr;
    return 0;
}

} // namespace

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    Trace("Message box \"%s\":\n", caption);
    for (const std::string& line : Split(text, '\n'))
        Trace("  %s\n", line.c_str());
    return MessageBoxA(owner, text, caption, type);
}

int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type,
                       std::initializer_list<ButtonLabel> labels) {
    boxOwner = owner;
    boxLabels.assign(labels.begin(), labels.end());
    boxHook = SetWindowsHookExA(WH_CBT, CenteringHookFn, nullptr, GetCurrentThreadId());
    const int result = ShowMessageBox(owner, text, caption, type);
    if (boxHook) {
        UnhookWindowsHookEx(boxHook); // the box never activated
        boxHook = nullptr;
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
