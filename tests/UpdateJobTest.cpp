#include "MidiUpdateLib/UpdateJob.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "tests/FakeMidiPort.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using testsupport::Bytes;
using testsupport::FakeMidiPort;
using testsupport::Hex;
using Events = std::vector<std::string>;

namespace {

const char* KindName(JobFailure kind) {
    switch (kind) {
    case JobFailure::ParseError:
        return "ParseError";
    case JobFailure::StdException:
        return "StdException";
    case JobFailure::Unknown:
        return "Unknown";
    }
    return "?";
}

const char* VerdictName(TransferVerdict verdict) {
    switch (verdict) {
    case TransferVerdict::Accepted:
        return "Accepted";
    case TransferVerdict::Unconfirmed:
        return "Unconfirmed";
    case TransferVerdict::Failed:
        return "Failed";
    }
    return "?";
}

// Records every host call in one journal; the port it makes is a FakeMidiPort whose
// device accepts at once, unless `device` says otherwise.
class RecordingHost : public UpdateJobHost {
public:
    Events journal;
    testsupport::RecordingProgress progress;
    std::function<void(FakeMidiPort&)> device;
    bool noPort = false;
    bool failingReport = false;

    void JobStarted() override { journal.push_back("JobStarted"); }
    UpdateProgress& ProgressSink() override { return progress; }
    void ShowProduct(const std::string& name, const Version& version) override {
        journal.push_back("ShowProduct " + name + " " + version.ToString());
    }
    void ConfirmMessage(const std::string& message) override {
        journal.push_back("ConfirmMessage " + message);
    }
    void ShowImage(const std::vector<unsigned char>& image) override {
        journal.push_back("ShowImage " + std::to_string(image.size()));
    }
    void TransferStarting() override { journal.push_back("TransferStarting"); }
    std::unique_ptr<MidiPort> CreatePort(const Update&) override {
        journal.push_back("CreatePort");
        if (noPort)
            return nullptr;
        auto port = std::make_unique<FakeMidiPort>();
        port->lastSysExAnswers = {StatusMessage(0x00)};
        port->onDestroy = [this] { journal.push_back("port destroyed"); };
        if (device)
            device(*port);
        return port;
    }
    void ReportFailure(JobFailure kind, const std::string& reason) override {
        journal.push_back(std::string("ReportFailure ") + KindName(kind) + " " + reason);
        if (failingReport)
            throw std::runtime_error("window gone");
    }
    void JobFinished(bool succeeded) override {
        journal.push_back(std::string("JobFinished ") + (succeeded ? "1" : "0"));
    }
    void Log(const std::string& line) override { journal.push_back("Log " + line); }
    void TransferEnded(TransferVerdict verdict) override {
        journal.push_back(std::string("TransferEnded ") + VerdictName(verdict));
    }

    // The journal without the start and summary lines, which other tests check.
    Events WithoutLoadingLogs() const {
        Events calls;
        for (const std::string& call : journal)
            if (call.compare(0, 4, "Log ") != 0 || call.compare(0, 17, "Log Thread caught") == 0)
                calls.push_back(call);
        return calls;
    }
};

std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = testing::TempDir() + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

Bytes GoodFile() {
    Bytes file;
    CreateUpdateFileHeader(file, "Widget", Version{1, 5}, "Read me", 0, 0, 0);
    AddImage(file, Hex("89 50 4E"));
    AddMacPortName(file, "Widget B$Widget A");
    AddSysExPortion(file, Hex("F0 01 02 F7"), 0);
    return file;
}

Events Logs(std::initializer_list<std::string> lines) {
    Events logs;
    for (const std::string& line : lines)
        logs.push_back("Log " + line);
    return logs;
}

Events operator+(Events a, const Events& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The end of a failed job: the Windows program logs the failure, then it is reported.
Events Reported(const std::string& kind, const std::string& reason) {
    Events calls;
    if (midiupdate::windowsForm)
        calls.push_back(kind == "Unknown" ? "Log Thread caught unknown exception\n"
                                          : "Log Thread caught exception: " + reason + "\n");
    calls.push_back("ReportFailure " + kind + " " + reason);
    calls.push_back("JobFinished 0");
    return calls;
}

} // namespace

TEST(RunUpdateJob, AGoodFileFromStartToFinish) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    const std::string path = WriteFile("good.upd", GoodFile());
    RecordingHost host;
    RunUpdateJob(path, host);

    const Events summary =
        midiupdate::windowsForm
            ? Logs({"Product name:   Widget\n", "Message:        Read me\n",
                    "Image:          3 bytes\n", "Port names:     1\n", "SysEx portions: 1\n",
                    "Total SysEx:    4 bytes\n"})
            : Logs({"Product name:   Widget", "Message:        Read me", "Image:          3 bytes",
                    "SysEx portions: 1", "Mac port names: 2:Widget A", "Win port names: 1:Widget",
                    "Port names    : 2", "Total SysEx:    4 bytes"});
    const Events start = Logs({midiupdate::windowsForm ? "Loading update file " + path + "...\n"
                                                       : "Update thread started"});
    const Events transfer{"ShowProduct Widget 1.05",
                          "ConfirmMessage Read me",
                          "ShowImage 3",
                          "TransferStarting",
                          "CreatePort",
                          "TransferEnded Accepted",
                          "port destroyed",
                          "JobFinished 1"};
    EXPECT_EQ(host.journal, start + Events{"JobStarted"} + summary + transfer);
    const Events events = host.progress.Events();
    EXPECT_EQ(events.front(),
              midiupdate::windowsForm ? "Progress 0" : "Status: Loading update file");
    EXPECT_EQ(host.progress.Completions(),
              Events{"The 'Widget' was updated sucessfully to version 1.05."});
}

TEST(RunUpdateJob, ARawSysExFile) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    const std::string path = WriteFile("raw.syx", Hex("F0 01 02 03 F7"));
    RecordingHost host;
    host.device = [](FakeMidiPort& port) {
        port.lastSysExAnswers = {};
        port.identityReply = testsupport::IdentityReply(Hex("41"), 0, Hex("00 02 00 01"), "W");
    };
    RunUpdateJob(path, host);

    EXPECT_EQ(host.WithoutLoadingLogs(),
              (Events{"JobStarted", "ShowProduct <SysEx Update Device> 0.00",
                      "ConfirmMessage " + SYSEX_MESSAGE, "TransferStarting", "CreatePort",
                      "TransferEnded Accepted", "port destroyed", "JobFinished 1"}));
    const Events ports =
        midiupdate::windowsForm
            ? Logs({"Port names:     0\n"})
            : Logs({"Mac port names: 0:", "Win port names: 0:", "Port names    : 0"});
    for (const std::string& line : ports)
        EXPECT_NE(std::find(host.journal.begin(), host.journal.end(), line), host.journal.end())
            << line;
    EXPECT_EQ(host.progress.Completions(),
              Events{"The update has been sent to the device sucessfully.\nIt is now at version "
                     "firmware 2.01."});
}

TEST(RunUpdateJob, EveryFailureIsReportedAfterThePortIsGoneAndEndsTheJob) {
    struct Case {
        const char* what;
        Bytes file;
        std::function<void(RecordingHost&)> setUp;
        Events calls; // after JobStarted
    };
    const auto throwing = [](std::function<void()> raise) {
        return [raise](RecordingHost& host) {
            host.device = [raise](FakeMidiPort& port) {
                port.onSend = [raise](const Bytes&) { raise(); };
            };
        };
    };
    const Events madePort{"ShowProduct Widget 1.05", "ConfirmMessage Read me", "ShowImage 3",
                          "TransferStarting", "CreatePort"};
    const Events portGone = madePort + Events{"port destroyed"};
    const char* badHeader = "Update file was invalid (bad header).";
    const std::string missing = testing::TempDir() + "no such file.upd";
    const Case cases[] = {
        {"not an update file", Hex("'NotAnUpdate' 00 00"), nullptr,
         Reported("ParseError", badHeader)},
        // Not a bad file: the user is told the file is not there, as the console says it.
        {"a missing file",
         {},
         nullptr,
         Reported("ParseError", "cannot open " + missing + " (No such file or directory)")},
        {"an empty file", Bytes{}, nullptr, Reported("ParseError", badHeader)},
        {"the port throws", GoodFile(), throwing([] { throw std::runtime_error("driver gone"); }),
         portGone + Reported("StdException", "driver gone")},
        {"the port throws a non-exception", GoodFile(), throwing([] { throw 42; }),
         portGone + Reported("Unknown", "")},
        {"no port", GoodFile(), [](RecordingHost& host) { host.noPort = true; },
         madePort + Reported("StdException", "No MIDI port could be made for the update.")},
        {"the failure report throws", GoodFile(),
         [&](RecordingHost& host) {
             throwing([] { throw std::bad_alloc(); })(host);
             host.failingReport = true;
         },
         portGone + Reported("StdException", "std::bad_alloc")},
    };
    for (const Case& c : cases) {
        testsupport::TraceCapture trace;
        VirtualClock clock;
        ScopedClock installed(clock);
        const std::string path =
            std::string(c.what) == "a missing file" ? missing : WriteFile("case.upd", c.file);
        RecordingHost host;
        if (c.setUp)
            c.setUp(host);
        EXPECT_NO_THROW(RunUpdateJob(path, host)) << c.what;
        const Events expected = Events{"JobStarted"} + c.calls;
        EXPECT_EQ(host.WithoutLoadingLogs(), expected) << c.what;
        EXPECT_TRUE(host.progress.Completions().empty()) << c.what;
    }
}
