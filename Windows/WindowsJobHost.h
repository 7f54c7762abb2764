#pragma once

// The update job's host in the Windows program: it runs on the worker thread and reaches
// the window only through posted messages.

#include "MidiUpdateLib/UpdateJob.h"
#include "Windows/WindowMessages.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class WindowsJobHost : public UpdateJobHost {
public:
    using PortMaker = std::function<std::unique_ptr<MidiPort>(const Update&)>;
    // A device bitmap from image bytes, or null when they do not decode.
    using ImageDecoder = std::function<HBITMAP(const std::vector<unsigned char>&)>;

    WindowsJobHost(WindowPost& window, UpdateProgress& progress, PortMaker makePort,
                   ImageDecoder decodeImage);

    void JobStarted() override {}
    UpdateProgress& ProgressSink() override { return progress; }
    void ShowProduct(const std::string& productName, const Version& version) override;
    void ConfirmMessage(const std::string&) override {} // shown before the worker began
    void ShowImage(const std::vector<unsigned char>& image) override;
    void TransferStarting() override;
    std::unique_ptr<MidiPort> CreatePort(const Update& update) override;
    void ReportFailure(JobFailure kind, const std::string& reason) override;
    void JobFinished(bool succeeded) override;
    void Log(const std::string& line) override;

private:
    WindowPost& window;
    UpdateProgress& progress;
    const PortMaker makePort;
    const ImageDecoder decodeImage;
    bool doneReported = false; // exactly one WM_UPDATE_DONE per job
};

// The error box's text and the "done" message of a failed job or start request.
void PostFailure(WindowPost& window, JobFailure kind, const std::string& reason);
