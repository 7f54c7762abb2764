// The program's entry: GDI+ and the common controls, the window class, the main window,
// the path from the command line, and the message loop. One program runs at a time: a
// second start hands its path to the first and ends.

#include "MidiUpdateLib/OS.h"
#include "Windows/AppState.h"
#include "Windows/CommandLine.h"
#include "Windows/GdiplusFlat.h"
#include "Windows/MainWindow.h"
#include "Windows/MessageBoxes.h"
#include "Windows/Resources.h"
#include "Windows/StartUpdate.h"
#include "Windows/TestHooks.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// winmm opens a device once: a second program could not reach the device the first one
// holds, and would offer the user other devices instead.
const char instanceMutexName[] = "Local\\MIDI Updater (one program at a time)";

// How long a second start looks for the first one's window, which may still be opening.
const int handOverAttempts = 50;
const DWORD handOverInterval = 100; // ms
const UINT handOverTimeout = 5000;  // ms the first program may take to take the path

// True when a running program took `path` (or there was no path to give).
bool HandOverToRunningProgram(const std::string& path) {
    for (int attempt = 0; attempt < handOverAttempts; ++attempt) {
        HWND running = FindWindowA(mainWindowClass, nullptr);
        if (running) {
            // Its message box, if one is up, so the user sees what it waits for. Not a
            // window still being made (hidden): Wine then leaves no window the input.
            HWND popup = GetLastActivePopup(running);
            if (IsWindowVisible(popup))
                SetForegroundWindow(popup);
            if (path.empty())
                return true;
            COPYDATASTRUCT data = {};
            data.dwData = copyDataOpenPath;
            data.cbData = static_cast<DWORD>(path.size() + 1);
            data.lpData = const_cast<char*>(path.c_str());
            DWORD_PTR taken = FALSE;
            return SendMessageTimeoutA(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                       SMTO_ABORTIFHUNG, handOverTimeout, &taken) &&
                   taken;
        }
        Sleep(handOverInterval);
    }
    return false;
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512)); // IDI_APPLICATION
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAIN_MENU);
    windowClass.lpszClassName = mainWindowClass;
    return RegisterClassExA(&windowClass) != 0;
}

int RunMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
    const std::string path = CommandLinePath(commandLine ? commandLine : "");

    HANDLE instanceMutex = CreateMutexA(nullptr, FALSE, instanceMutexName);
    if (instanceMutex && GetLastError() == ERROR_ALREADY_EXISTS && HandOverToRunningProgram(path))
        return 0;

    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);
    InitCommonControls();

    app.instance = instance;
    if (!RegisterMainWindowClass(instance)) {
        ShowMessageBox(nullptr, "Failed to initialize!", mainWindowClass, MB_ICONERROR);
        return 0;
    }
    HWND window = CreateWindowExA(0, mainWindowClass, "", WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) {
        // Without a window the program would wait for ever, unseen.
        Trace("CreateWindowExA failed: %lu\n", static_cast<unsigned long>(GetLastError()));
        ShowMessageBox(nullptr, "Failed to initialize!", mainWindowClass, MB_ICONERROR);
        Gdiplus::GdiplusShutdown(gdiplusToken);
        return 1;
    }
    ShowWindow(window, show);
    UpdateWindow(window);

    if (!path.empty() && KeepPathToOpen(path))
        PostMessageA(window, WM_COMMAND, IDM_OPEN, 1);
    StartTestHooks(window);

    const int exitCode = RunMessageLoop();
    if (app.busy) {
        // The user chose to close during an update: the worker is still running and must
        // not meet GDI+ shut down or static objects destroyed under it.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    Gdiplus::GdiplusShutdown(gdiplusToken);
    if (instanceMutex)
        CloseHandle(instanceMutex);
    return exitCode;
}
