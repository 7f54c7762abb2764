#pragma once

// The main window: header image, three rows below it, menu commands, file chooser, drops
// and paths handed over by a second start. Window thread only.

#include <windows.h>

extern const char mainWindowClass[]; // "MIDI Updater"

// WM_COPYDATA's dwData for "open this path", sent by a second start of the program.
const ULONG_PTR copyDataOpenPath = 0x4D555044; // "MUPD"

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// 1: the rows are shown (the window grows for good) and drops are refused; 0: drops are
// accepted again, nothing else changes.
void SetBusyLayout(int busy);
