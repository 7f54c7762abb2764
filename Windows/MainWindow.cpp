#include "Windows/MainWindow.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Version.h"
#include "Windows/AppState.h"
#include "Windows/HeaderImage.h"
#include "Windows/MessageBoxes.h"
#include "Windows/ProgressDisplay.h"
#include "Windows/Resources.h"
#include "Windows/StartUpdate.h"
#include "Windows/WindowMessages.h"
#include "Windows/WindowsMidiPort.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

const char mainWindowClass[] = "MIDI Updater";

namespace {

// What only the window itself reads and writes.
struct MainWindowState {
    HBITMAP header = nullptr; // may be absent
    bool created = false;     // WM_CREATE has laid the rows out
    int rowHeight = 0;
    int windowWidth = 0;
    int idleHeight = 0; // the header only
    int busyHeight = 0; // the header and the three rows
    bool grown = false; // the busy layout was shown once; the window stays that tall
    char copyright[128] = {};
    HWND progressBar = nullptr;
    HWND statusLine = nullptr;
    HWND productLine = nullptr;
};
MainWindowState shown;

// The client area without a header image.
const int defaultClientWidth = 500;
const int defaultClientHeight = 200;

HWND CreateRow(const char* className, DWORD style, int row, int clientWidth, int clientHeight,
               const char* text) {
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, 0,
                           clientHeight + row * shown.rowHeight, clientWidth, shown.rowHeight,
                           app.mainWindow, nullptr, app.instance, nullptr);
}

// A path a second start handed over while a box or dialog was up (or before the window
// was made): it waits, as the user has yet to finish with what is open. Latest wins.
std::string waitingPath;

// Posted when nothing modal is open any more; lParam for IDM_OPEN.
const LPARAM openWaitingPath = 2;

void OpenWaitingPathLater() {
    if (!waitingPath.empty() && app.mainWindow)
        PostMessageA(app.mainWindow, WM_COMMAND, IDM_OPEN, openWaitingPath);
}

void OpenWaitingPath(HWND window) {
    if (waitingPath.empty() || ModalUiOpen() || !shown.created)
        return;
    std::string path;
    path.swap(waitingPath);
    if (app.busy || app.starting)
        return; // the user chose a file meanwhile: the second one is ignored, as while busy
    if (KeepPathToOpen(path))
        StartUpdate(window, app.path);
}

void OnCreate(HWND window) {
    app.mainWindow = window;
    LoadStringA(app.instance, IDS_APP_TITLE, app.title, sizeof app.title);
    LoadStringA(app.instance, IDS_COPYRIGHT, shown.copyright, sizeof shown.copyright);
    SetWindowTextA(window, app.title);

    shown.header = HeaderImageFromFile(ProgramFolderFile(L"Header.png"));
    if (!shown.header)
        ShowMessageBox(nullptr, "Failed to load background image", "Error", MB_OK);

    shown.rowHeight = GetSystemMetrics(SM_CYVSCROLL);
    int clientWidth = defaultClientWidth;
    int clientHeight = defaultClientHeight;
    BITMAP header;
    if (shown.header && GetObjectA(shown.header, sizeof header, &header)) {
        clientWidth = header.bmWidth;
        clientHeight = header.bmHeight;
    }

    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&frame, GetWindowLongA(window, GWL_STYLE), TRUE);
    shown.windowWidth = frame.right - frame.left;
    shown.idleHeight = frame.bottom - frame.top;
    shown.busyHeight = shown.idleHeight + 3 * shown.rowHeight;
    SetWindowPos(window, nullptr, 0, 0, shown.windowWidth, shown.idleHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    // Below the client area, so they show only once the window grows.
    shown.progressBar = CreateRow(PROGRESS_CLASSA, PBS_SMOOTH, 0, clientWidth, clientHeight, "");
    SendMessageA(shown.progressBar, PBM_SETPOS, 0, 0);
    shown.statusLine =
        CreateRow("STATIC", 0, 1, clientWidth, clientHeight, "Waiting for update file.");
    shown.productLine =
        CreateRow("STATIC", 0, 2, clientWidth, clientHeight, "No update file has been loaded yet.");
    const WPARAM font = reinterpret_cast<WPARAM>(GetStockObject(ANSI_VAR_FONT));
    SendMessageA(shown.statusLine, WM_SETFONT, font, FALSE);
    SendMessageA(shown.productLine, WM_SETFONT, font, FALSE);
    ProgressRows rows;
    rows.window = window;
    rows.progressBar = shown.progressBar;
    rows.statusLine = shown.statusLine;
    rows.productLine = shown.productLine;
    rows.title = app.title;
    SetProgressRows(rows);

    ListInterfaces();

    int x = (GetSystemMetrics(SM_CXSCREEN) - shown.windowWidth) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - shown.idleHeight) / 2;
    SetWindowPos(window, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    SetBusyLayout(0);
    shown.created = true;
    SetModalUiClosedHandler(OpenWaitingPathLater);
    OpenWaitingPathLater();
}

// The worker's decoded header image: swapped in here, so no paint sees a half-made one.
void OnImage(LPARAM lParam) {
    HBITMAP replaced = shown.header;
    shown.header = reinterpret_cast<HBITMAP>(lParam);
    if (replaced)
        DeleteObject(replaced);
    RedrawWindow(app.mainWindow, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC target = BeginPaint(window, &paint);
    BITMAP header;
    if (shown.header && GetObjectA(shown.header, sizeof header, &header)) {
        HDC memory = CreateCompatibleDC(target);
        HGDIOBJ previous = SelectObject(memory, shown.header);
        BitBlt(target, 0, 0, header.bmWidth, header.bmHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
    } else {
        // Nothing erases the background (the header covers it), so without a header the
        // area would keep whatever was on the screen.
        FillRect(target, &paint.rcPaint, GetSysColorBrush(COLOR_WINDOW));
    }
    EndPaint(window, &paint);
}

void ChooseFile(HWND window) {
    app.path[0] = '\0';
    // Its own buffer: nothing else may write into it while the dialog is up.
    char chosen[sizeof app.path] = {};
    OPENFILENAMEA choice = {};
    choice.lStructSize = sizeof choice;
    choice.hwndOwner = window;
    choice.lpstrFilter = "All supported files\0*.syx;*.upd\0"
                         "Update file (*.upd)\0*.upd\0"
                         "SysEx file (*.syx)\0*.syx\0"
                         "All files\0*\0";
    choice.nFilterIndex = 1;
    choice.lpstrFile = chosen;
    choice.nMaxFile = sizeof chosen;
    BOOL picked = FALSE;
    DWORD error = 0;
    {
        ModalScope dialog;
        picked = GetOpenFileNameA(&choice);
        error = picked ? 0 : CommDlgExtendedError();
    }
    if (picked) {
        if (KeepPathToOpen(chosen))
            StartUpdate(window, app.path);
    } else if (error == FNERR_BUFFERTOOSMALL) {
        RefusePathTooLong();
    } else if (error != 0) {
        Trace("GetOpenFileNameA failed: 0x%lx\n", static_cast<unsigned long>(error));
    }
}

void OnDropFiles(HWND window, HDROP drop) {
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT index = 0; index < count; ++index) {
        // Asked for its length first: a fixed buffer would cut a long name silently.
        const UINT length = DragQueryFileA(drop, index, nullptr, 0);
        if (length == 0)
            continue;
        std::string name(length + 1, '\0');
        name.resize(DragQueryFileA(drop, index, &name[0], length + 1));
        if (name.empty())
            continue;
        if (PathFits(name))
            StartUpdate(window, name.c_str());
        else
            RefusePathTooLong();
        break;
    }
    DragFinish(drop);
}

// A second start of the program hands its path over, to be opened like a drop.
LRESULT OnCopyData(HWND window, const COPYDATASTRUCT* data) {
    if (!data || data->dwData != copyDataOpenPath || !data->lpData || data->cbData == 0)
        return FALSE;
    if (app.busy || app.starting)
        return TRUE; // a second file during an update is ignored, as a drop would be
    const char* text = static_cast<const char*>(data->lpData);
    if (ModalUiOpen() || !shown.created) {
        waitingPath.assign(text, ::strnlen(text, data->cbData));
        Trace("Handed over while a box or dialog is up: %s\n", waitingPath.c_str());
        if (!ModalUiOpen())
            OpenWaitingPathLater();
        return TRUE;
    }
    // Taken even when too long to keep: refused, the second start would open a window of
    // its own to say so.
    if (KeepPathToOpen(std::string(text, ::strnlen(text, data->cbData))))
        // Posted: the sender waits for this message, not for the update's message box.
        PostMessageA(window, WM_COMMAND, IDM_OPEN, 1);
    return TRUE;
}

void OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
    case IDM_OPEN:
        if (lParam == openWaitingPath) {
            OpenWaitingPath(window);
            break;
        }
        if (app.busy || app.starting)
            break;
        if (lParam == 1)
            StartUpdate(window, app.path);
        else
            ChooseFile(window);
        break;
    case IDM_ABOUT: {
        char text[128];
        std::snprintf(text, sizeof text, "%s\nVersion %s (%s)\n\n%s", app.title,
                      MidiUpdateLib_Version.c_str(), MidiUpdateLib_Build.c_str(), shown.copyright);
        CenteredMessageBox(window, text, "About", MB_ICONINFORMATION);
        break;
    }
    case IDM_EXIT:
    case IDCANCEL:
        if (!app.busy)
            SendMessageA(window, WM_CLOSE, 0, 0);
        break;
    }
}

// Closing during a transfer would leave the device with half its firmware; refusing
// would trap a user whose device never appears. So ask.
bool MayClose(HWND window) {
    if (!app.busy)
        return true;
    const int answer = CenteredMessageBox(
        window, "An update is in progress.\nAre you sure you want to close this program?",
        "An update is in progress", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2,
        {{IDYES, "&Close"}, {IDNO, "&Do not close"}});
    return answer == IDYES;
}

} // namespace

void SetBusyLayout(int busy) {
    if (busy) {
        ResetProgressRows();
        SetWindowPos(app.mainWindow, nullptr, 0, 0, shown.windowWidth, shown.busyHeight,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        shown.grown = true;
    }
    DragAcceptFiles(app.mainWindow, busy ? FALSE : TRUE);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1; // the header covers the client area
    case WM_MOVING: {
        RECT* moving = reinterpret_cast<RECT*>(lParam);
        moving->bottom = moving->top + (shown.grown ? shown.busyHeight : shown.idleHeight);
        return 1;
    }
    case WM_DROPFILES:
        OnDropFiles(window, reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_COPYDATA:
        return OnCopyData(window, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_COMMAND:
        OnCommand(window, wParam, lParam);
        return 0;
    case WM_CLOSE:
        if (MayClose(window))
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_UPDATE_DONE:
        app.busy = false;
        SetBusyLayout(0);
        return DefWindowProcA(window, message, wParam, lParam);
    case WM_UPDATE_IMAGE:
        OnImage(lParam);
        return DefWindowProcA(window, message, wParam, lParam);
    default:
        HandleProgressMessage(message, wParam, lParam);
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
