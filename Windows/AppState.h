#pragma once

// The program's one main window and what its thread keeps about it. Everything here is
// read and written on the window thread only, except `indeterminate`, which the worker
// sets and clears while the window thread and its timer read it.

#include <windows.h>

#include <atomic>

struct AppState {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    HWND progressBar = nullptr;
    HWND statusLine = nullptr;
    HWND productLine = nullptr;
    HBITMAP header = nullptr; // may be absent
    bool created = false;     // WM_CREATE has laid the rows out

    int rowHeight = 0;
    int windowWidth = 0;
    int idleHeight = 0; // the header only
    int busyHeight = 0; // the header and the three rows
    bool grown = false; // the busy layout was shown once; the window stays that tall

    bool busy = false;
    // A start request is between loading its file and starting its worker; its message
    // box runs a message loop in which a drop or a second start must not begin a job.
    bool starting = false;
    std::atomic<bool> indeterminate{false};
    int animationPosition = 0; // 0 to 100

    // A path of MAX_PATH - 1 characters, each up to 3 bytes in UTF-8 (the A functions'
    // code page under the manifest).
    char path[3 * MAX_PATH] = {};
    char title[128] = {};
    char copyright[128] = {};
};

extern AppState app;
