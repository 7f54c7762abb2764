#pragma once

// The program's message boxes. Window thread only.

#include <windows.h>

#include <initializer_list>

// Marks a box or dialog open on the window thread for its lifetime. Their message loops
// deliver what another program sends the window, which must then wait until none is open.
class ModalScope {
public:
    ModalScope();
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;
};
bool ModalUiOpen();
// Called on the window thread whenever the last box or dialog has closed.
void SetModalUiClosedHandler(void (*handler)());

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
