#pragma once

// The update job's host in the Mac program. Lives on the job thread's stack for one
// job; every change of the window is performed on the main thread, waiting only for the
// job's start and end and for the user to read the update's message.

#include "Application/LumoAppDelegateUpdateProgress.h"
#include "MidiUpdateLib/UpdateJob.h"

@class LumoAppDelegate;

class LumoJobHost : public UpdateJobHost {
public:
    explicit LumoJobHost(LumoAppDelegate* delegate) : delegate(delegate), progress(delegate) {}

    void JobStarted() override;
    UpdateProgress& ProgressSink() override { return progress; }
    void ShowProduct(const std::string& productName, const Version& version) override;
    void ConfirmMessage(const std::string& message) override;
    void ShowImage(const std::vector<unsigned char>& image) override;
    void TransferStarting() override;
    std::unique_ptr<MidiPort> CreatePort(const Update& update) override;
    void ReportFailure(JobFailure kind, const std::string& reason) override;
    void JobFinished(bool succeeded) override;
    void Log(const std::string& line) override;

private:
    LumoAppDelegate* delegate; // not owned
    LumoAppDelegateUpdateProgress progress;
};
