#pragma once

// The private messages by which the worker reaches the window, and the one way it posts
// them. Worker thread: WindowPost, PostText. Window thread: TakeText.

#include <windows.h>

#include <memory>
#include <string>

enum PrivateMessage : UINT {
    WM_UPDATE_PROGRESS = WM_USER + 0,  // wParam: bar position or -1; lParam: status text or 0
    WM_UPDATE_ERROR = WM_USER + 1,     // lParam: error text
    WM_UPDATE_DONE = WM_USER + 2,      // lParam: 1 after a normal end, 0 after a failure
    WM_UPDATE_PRODUCT = WM_USER + 3,   // lParam: product line text
    WM_UPDATE_TICK = WM_USER + 4,      // one step of the indeterminate animation
    WM_UPDATE_COMPLETED = WM_USER + 5, // lParam: completion text
    WM_UPDATE_IMAGE = WM_USER + 6,     // lParam: a header HBITMAP the window takes over
};

// wParam for "leave the bar as it is".
const WPARAM keepProgressBar = static_cast<WPARAM>(-1);

// Messages are posted, never sent: the worker never waits for the window.
class WindowPost {
public:
    virtual ~WindowPost() = default;
    // False when the message was not queued; what lParam points to stays the caller's.
    virtual bool Post(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// Posts to the main window.
class MainWindowPost : public WindowPost {
public:
    explicit MainWindowPost(HWND window) : window(window) {}
    bool Post(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    const HWND window;
};

// Posts a heap copy of `text` that the window thread frees (TakeText); a copy that could
// not be posted is freed here.
bool PostText(WindowPost& window, UINT message, WPARAM wParam, const std::string& text);

struct FreeText {
    void operator()(char* text) const;
};
using PostedText = std::unique_ptr<char, FreeText>;

// Takes over the text a message carries (null for lParam 0).
PostedText TakeText(LPARAM lParam);
