#pragma once

// What the main window's thread shares between the window (MainWindow), the start
// request (StartUpdate) and the program's entry. Window thread only: the worker is given
// the window's handle and its own flag (StartUpdate), the progress display its rows.

#include <windows.h>

struct AppState {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;

    bool busy = false;
    // A start request is between loading its file and starting its worker; its message
    // box runs a message loop in which a drop or a second start must not begin a job.
    bool starting = false;

    // The path the next IDM_OPEN (lParam 1) opens: from the command line or a second
    // start. A path of MAX_PATH - 1 characters, each up to 3 bytes in UTF-8 (the A
    // functions' code page under the manifest).
    char path[3 * MAX_PATH] = {};
    char title[128] = {};
};

extern AppState app;
