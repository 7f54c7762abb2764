#pragma once

// The program's message boxes. Window thread only.

#include <windows.h>

#include <initializer_list>

// A button of a box shown under another label ("Close" on IDYES).
struct ButtonLabel {
    int id;
    const char* text;
};

// MessageBoxA that writes the box's caption and text to the log first, so a log shows
// what the user was asked; the box shows them as DisplayText reads them.
int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// ShowMessageBox, with the box centred over `owner` (kept on the desktop) and its
// buttons relabelled as `labels` say.
int CenteredMessageBox(HWND owner, const char* text, const char* caption, UINT type,
                       std::initializer_list<ButtonLabel> labels = {});

// Where a box goes: centred over the owner, then moved onto the desktop.
POINT CenteredPosition(const RECT& owner, const RECT& box, const RECT& desktop);
