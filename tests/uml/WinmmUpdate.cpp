// winmm-update: one update sent as the Windows program sends it (the job, the sender,
// WindowsMidiPort on the system's own winmm) with no window, for a winmm that is not ours.
//   winmm-update.exe FILE
// Prints the MIDI devices the system lists, the job's messages, then
// "verdict: accepted|unconfirmed|failed|none" and "undelivered: BYTES"; its log on
// standard error.
// Exits 0 only when the update was accepted and nothing was left undelivered (under
// Wine, the process may still crash after that, as Wine's ALSA driver is unloaded).
//
// Threads: the job runs on the main thread; the port's callbacks on winmm's.

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/UpdateJob.h"
#include "Windows/WindowsMidiPort.h"

#include <cstdio>
#include <string>

namespace {

class PrintedProgress : public UpdateProgress {
public:
    void Progress(float) override {}
    void ProgressIndeterminate() override {}
    void Status(const std::string& text) override { Print("status", text); }
    void Error(const std::string& text) override { Print("error", text); }
    void Completed(const std::string& text) override { Print("completed", text); }

private:
    static void Print(const char* kind, const std::string& text) {
        std::printf("%s: %s\n", kind, text.c_str());
        std::fflush(stdout);
    }
};

class PrintingHost : public UpdateJobHost {
public:
    void JobStarted() override {}
    UpdateProgress& ProgressSink() override { return progress; }
    void ShowProduct(const std::string&, const Version&) override {}
    void ConfirmMessage(const std::string&) override {}
    void ShowImage(const std::vector<unsigned char>&) override {}
    void TransferStarting() override {}
    std::unique_ptr<MidiPort> CreatePort(const Update& update) override {
        return std::make_unique<WindowsMidiPort>(update.windowsParameters);
    }
    void ReportFailure(JobFailure kind, const std::string& reason) override {
        std::printf("failure: %s\n", midiupdate::JobFailureText(kind, reason).c_str());
    }
    void JobFinished(bool) override {}
    void Log(const std::string&) override {}
    void TransferEnded(TransferVerdict decided) override {
        verdict = decided;
        ended = true;
    }
    void PortionUndelivered(unsigned int, unsigned long long bytes) override {
        undelivered += bytes;
    }

    PrintedProgress progress;
    unsigned long long undelivered = 0;
    bool ended = false;
    TransferVerdict verdict = TransferVerdict::Failed;
};

void PrintDevices() {
    for (UINT id = 0; id < midiOutGetNumDevs(); ++id) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR)
            std::printf("output %u: %s\n", id, caps.szPname);
    }
    for (UINT id = 0; id < midiInGetNumDevs(); ++id) {
        MIDIINCAPSA caps{};
        if (midiInGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR)
            std::printf("input %u: %s\n", id, caps.szPname);
    }
}

const char* VerdictText(TransferVerdict verdict) {
    switch (verdict) {
    case TransferVerdict::Accepted:
        return "accepted";
    case TransferVerdict::Unconfirmed:
        return "unconfirmed";
    case TransferVerdict::Failed:
        return "failed";
    }
    return "none";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: winmm-update.exe FILE\n");
        return 2;
    }
    // The log goes to standard error, where a failed case shows it; Wine would make each
    // record a debug exception.
    SetTraceSink([](const std::string& record) { std::fputs(record.c_str(), stderr); });
    PrintDevices();
    std::fflush(stdout);
    PrintingHost host;
    RunUpdateJob(argv[1], host);
    std::printf("verdict: %s\n", host.ended ? VerdictText(host.verdict) : "none");
    std::printf("undelivered: %llu\n", host.undelivered);
    return host.ended && host.verdict == TransferVerdict::Accepted && host.undelivered == 0 ? 0 : 1;
}
