#include "Windows/ProgressDisplay.h"

#include "Windows/AppState.h"
#include "Windows/DisplayText.h"
#include "Windows/MainWindow.h"
#include "Windows/MessageBoxes.h"
#include "Windows/WindowMessages.h"

#include <commctrl.h>

#include <string>

namespace {

const UINT_PTR animationTimer = 42;
const UINT animationPeriod = 40; // ms: 25 steps a second look smooth on the classic bar

void CALLBACK AnimationTimerFn(HWND, UINT, UINT_PTR, DWORD) {
    if (app.indeterminate)
        PostMessageA(app.mainWindow, WM_UPDATE_TICK, 0, 0);
}

void OnProgress(WPARAM wParam, LPARAM lParam) {
    const int position = static_cast<int>(wParam);
    if (position >= 0)
        SendMessageA(app.progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    if (PostedText text = TakeText(lParam))
        SetWindowTextA(app.statusLine,
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
    CenteredMessageBox(app.mainWindow, box.c_str(), app.title, MB_ICONERROR);
}

void OnTick() {
    if (!app.indeterminate)
        return; // the animation stops by itself
    app.animationPosition = NextAnimationPosition(app.animationPosition);
    SendMessageA(app.progressBar, PBM_SETPOS, static_cast<WPARAM>(app.animationPosition), 0);
    SetTimer(app.mainWindow, animationTimer, animationPeriod, AnimationTimerFn);
}

void OnCompleted(LPARAM lParam) {
    PostedText text = TakeText(lParam);
    const char* completion = text ? text.get() : "";
    SetWindowTextA(app.statusLine,
                   DisplayText(std::string(" Completed: ") + completion, 512).c_str());
    ShowMessageBox(app.mainWindow, completion, app.title, MB_ICONINFORMATION);
}

void OnImage(LPARAM lParam) {
    HBITMAP replaced = app.header;
    app.header = reinterpret_cast<HBITMAP>(lParam);
    if (replaced)
        DeleteObject(replaced);
    RedrawWindow(app.mainWindow, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
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
    case WM_UPDATE_DONE:
        app.busy = false;
        SetBusyLayout(0);
        return true;
    case WM_UPDATE_PRODUCT:
        if (PostedText text = TakeText(lParam))
            SetWindowTextA(app.productLine, DisplayText(text.get()).c_str());
        return true;
    case WM_UPDATE_TICK:
        OnTick();
        return true;
    case WM_UPDATE_COMPLETED:
        OnCompleted(lParam);
        return true;
    case WM_UPDATE_IMAGE:
        OnImage(lParam);
        return true;
    default:
        return false;
    }
}

int NextAnimationPosition(int position) {
    position += 3;
    return position > 100 ? 0 : position;
}
