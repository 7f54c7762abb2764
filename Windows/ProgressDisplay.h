#pragma once

// The window thread's side of the private messages: progress bar, status and product
// lines, error and completion boxes, and the animation of the bar while the share of the
// job is unknown. The header image and the end of a job are the window's own.

#include <windows.h>

#include <atomic>

// The rows the display writes to, made by the window; `title` captions its boxes.
struct ProgressRows {
    HWND window = nullptr;
    HWND progressBar = nullptr;
    HWND statusLine = nullptr;
    HWND productLine = nullptr;
    const char* title = "";
};
void SetProgressRows(const ProgressRows& rows);

// Empties the status line and puts the bar at 0, for a new job.
void ResetProgressRows();

// Acts on one of the private messages it handles; false for any other message.
bool HandleProgressMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The flag the worker sets while the share of the job is unknown; the display's
// animation reads it. The one item both threads touch.
std::atomic<bool>& IndeterminateFlag();

// The animated bar's next position: steps of 3, back to 0 after 99.
int NextAnimationPosition(int position);
