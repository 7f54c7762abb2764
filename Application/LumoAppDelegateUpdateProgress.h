#pragma once

// The job's progress sink in the Mac program. Called on the job thread; hands each
// report to the delegate on the main thread without waiting, so the job never waits
// for the window.

#include "MidiUpdateLib/Progress.h"

#import <Foundation/Foundation.h>

@class LumoAppDelegate;

class LumoAppDelegateUpdateProgress : public UpdateProgress {
public:
    explicit LumoAppDelegateUpdateProgress(LumoAppDelegate* delegate) : delegate(delegate) {}

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;

private:
    void Perform(SEL selector, id object);

    LumoAppDelegate* delegate; // not owned; outlives every job
};
