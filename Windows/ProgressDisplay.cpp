#include "Windows/ProgressDisplay.h"

#include "Windows/AppState.h"
#include "Windows/MainWindow.h"
#include "Windows/MessageBoxes.h"
#include "Windows/WindowMessages.h"

#include <commctrl.h>

#include <cstdio>

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
    if (PostedText text = TakeText(lParam)) {
        char line[256];
        std::snprintf(line, sizeof line, " Updating: %s", text.get());
        SetWindowTextA(app.statusLine, line);
    }
}

void OnError(LPARAM lParam) {
    PostedText text = TakeText(lParam);
    char box[1024];
    std::snprintf(box, sizeof box, "The update failed for the following reason:\n\n%s",
                  text ? text.get() : "");
    CenteredMessageBox(app.mainWindow, box, app.title, MB_ICONERROR);
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
    char line[512];
    std::snprintf(line, sizeof line, " Completed: %s", completion);
    SetWindowTextA(app.statusLine, line);
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
            SetWindowTextA(app.productLine, text.get());
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
