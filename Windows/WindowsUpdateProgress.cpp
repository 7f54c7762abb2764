#include "Windows/WindowsUpdateProgress.h"

#include "MidiUpdateLib/OS.h"

WindowsUpdateProgress::WindowsUpdateProgress(WindowPost& window, std::atomic<bool>& indeterminate)
    : window(window), indeterminate(indeterminate) {}

void WindowsUpdateProgress::Progress(float fraction) {
    Trace("Progress: %f\n", fraction);
    indeterminate = false;
    window.Post(WM_UPDATE_PROGRESS, static_cast<WPARAM>(ProgressBarPosition(fraction)), 0);
}

void WindowsUpdateProgress::ProgressIndeterminate() {
    Trace("ProgressIndeterminate\n");
    indeterminate = true;
    window.Post(WM_UPDATE_TICK, 0, 0);
}

void WindowsUpdateProgress::Status(const std::string& text) {
    Trace("Status: %s\n", text.c_str());
    PostText(window, WM_UPDATE_PROGRESS, keepProgressBar, text);
}

void WindowsUpdateProgress::Error(const std::string& text) {
    Trace("Error: %s\n", text.c_str());
    PostText(window, WM_UPDATE_ERROR, keepProgressBar, text);
}

void WindowsUpdateProgress::Completed(const std::string& text) {
    Trace("Completed: %s\n", text.c_str());
    PostText(window, WM_UPDATE_COMPLETED, keepProgressBar, text);
}

int ProgressBarPosition(float fraction) {
    // Outside 0..1 (or NaN) the conversion to int would be undefined.
    if (!(fraction > 0.0f))
        return 0;
    if (fraction >= 1.0f)
        return 100;
    return static_cast<int>(fraction * 100.0);
}
