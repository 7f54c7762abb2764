#pragma once

// The progress sink of the Windows program: each report becomes a message posted to the
// window. Called on the worker thread only.

#include "MidiUpdateLib/Progress.h"
#include "Windows/WindowMessages.h"

#include <atomic>

class WindowsUpdateProgress : public UpdateProgress {
public:
    // `indeterminate` is the flag the window thread's animation reads.
    WindowsUpdateProgress(WindowPost& window, std::atomic<bool>& indeterminate);

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;

private:
    WindowPost& window;
    std::atomic<bool>& indeterminate;
};

// The bar's position for a share of the whole: truncated toward zero, 0 to 100.
int ProgressBarPosition(float fraction);
