#include "Windows/ProgressDisplay.h"

#include "Windows/DisplayText.h"
#include "Windows/MessageBoxes.h"
#include "Windows/WindowMessages.h"

#include <commctrl.h>

#include <string>

namespace {

ProgressRows rows;
std::atomic<bool> indeterminate{false};
int animationPosition = 0; // 0 to 100

const UINT_PTR animationTimer = 42;
const UINT animationPeriod = 40; // ms: 25 steps a second look smooth on the classic bar

void CALLBACK AnimationTimerFn(HWND, UINT, UINT_PTR, DWORD) {
    if (indeterminate)
        PostMessageA(rows.window, WM_UPDATE_TICK, 0, 0);
}

void OnProgress(WPARAM wParam, LPARAM lParam) {
    const int position = static_cast<int>(wParam);
    if (position >= 0)
        SendMessageA(rows.progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    if (PostedText text = TakeText(lParam))
        SetWindowTextA(rows.statusLine,
                       DisplayText(std::string(" Updating: ") + text.get(), 256).c_str());
}

void OnError(LPARAM lParam) {
    PostedText text = TakeText(lParam);
    std::string box =
        std::string("The update failed for the following reason:\n\n") + (text ? text.get() : "");
    // The box's buffer is 1024 bytes: a longer text is cut between characters (and only
    // then logged as shown, not as it came).
    if (box.size() >= 1024)
        box = DisplayText(box, 1024);
    CenteredMessageBox(rows.window, box.c_str(), rows.title, MB_ICONERROR);
}

void OnTick() {
    if (!indeterminate)
        return; // the animation stops by itself
    animationPosition = NextAnimationPosition(animationPosition);
    SendMessageA(rows.progressBar, PBM_SETPOS, static_cast<WPARAM>(animationPosition), 0);
    SetTimer(rows.window, animationTimer, animationPeriod, AnimationTimerFn);
}

void OnCompleted(LPARAM lParam) {
    PostedText text = TakeText(lParam);
    const char* completion = text ? text.get() : "";
    SetWindowTextA(rows.statusLine,
                   DisplayText(std::string(" Completed: ") + completion, 512).c_str());
    ShowMessageBox(rows.window, completion, rows.title, MB_ICONINFORMATION);
}

} // namespace

bool HandleProgressMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_UPDATE_PROGRESS:
        OnProgress(wParam, lParam);
        return true;
    case WM_UPDATE_ERROR:
        OnError(lParam);
        return true;
    case WM_UPDATE_PRODUCT:
        if (PostedText text = TakeText(lParam))
            SetWindowTextA(rows.productLine, DisplayText(text.get()).c_str());
        return true;
    case WM_UPDATE_TICK:
        OnTick();
        return true;
    case WM_UPDATE_COMPLETED:
        OnCompleted(lParam);
        return true;
    default:
        return false;
    }
}

void SetProgressRows(const ProgressRows& made) {
    rows = made;
}

void ResetProgressRows() {
    SetWindowTextA(rows.statusLine, "");
    SendMessageA(rows.progressBar, PBM_SETPOS, 0, 0);
}

std::atomic<bool>& IndeterminateFlag() {
    return indeterminate;
}

int NextAnimationPosition(int position) {
    position += 3;
    return position > 100 ? 0 : position;
}
