#include "tests/FaultMatrix.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "Simulator/DeviceOptions.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

namespace testsupport {

namespace {

const char* const ACCEPTED = "The 'Widget' was updated sucessfully to version 1.05.";
const char* const DEVICE_ERROR =
    "There was an error sending the update file.\nPlease restart the device and try again.";
const char* const NO_REPLY =
    "The update has been sent. Please check your device for update status.";
const char* const UNCONFIRMED = "The update has been sent, but the device has not yet confirmed "
                                "that the update process was successful.";
const char* const OTHER_VERSION = "The 'Widget' firmware version is now 1.06.\nThe update file "
                                  "version was 1.05.\nThe update process did not complete "
                                  "successfully.";

struct Scenario {
    const char* label;
    std::vector<std::string> deviceWords;
    const char* verdict;        // the Completed text
    const char* verdictUnasked; // when the port does not ask for the identity; null: the same
    // Virtual seconds beyond an accepting device's transfer, from the waits the sender
    // makes: a status poll every 500 ms, six 2 s passes per portion for a silent device,
    // 201 busy polls, up to 5 s for an identity reply that does not come, and while the
    // device is missing ten connection checks a second apart and a 5 s pause. Less than
    // none when a device that has gone is not waited for.
    int minExtraSeconds;
    unsigned int maxExtraSeconds;
    PlatformFault fault = PlatformFault::none;
    // Seconds a stalling driver keeps a message: the port must poll it once a second.
    unsigned int heldSeconds = 0;
    // Bytes the device misses while it is away inside a portion: half of that portion.
    std::uint64_t cutOff = 0;
    // The device's record has a hole: a chunk the system refused is missing from it.
    bool hole = false;
};

// Two portions of 25 messages of 100 bytes, so every port cuts each into two chunks or
// more and a device that goes inside the first chunk misses at least one whole chunk the
// port can tell of. No data byte is 0A, which the chunker also ends chunks at, so chunks
// end on message boundaries and a port that frames chunks sends the file's bytes
// unchanged.
Update TestUpdate() {
    const auto portion = [](int seed) {
        Bytes bytes;
        for (int message = 0; message < 25; ++message) {
            bytes.push_back(0xF0);
            for (int i = 0; i < 98; ++i)
                bytes.push_back(static_cast<unsigned char>(0x10 + (seed + message * 5 + i) % 0x60));
            bytes.push_back(0xF7);
        }
        return bytes;
    };
    return MakeUpdate({{portion(0), 500}, {portion(7), 0}});
}
const std::uint64_t halfAPortion = 1250;

const std::vector<Scenario>& Scenarios() {
    // clang-format off
    static const std::vector<Scenario> scenarios = {
        {"accepts", {}, ACCEPTED, nullptr, 0, 0},
        {"busy three times, then accepts", {"--device-status", "busy:3"}, ACCEPTED, nullptr, 1, 4},
        {"error on the last portion", {"--device-status", "accept,error"}, DEVICE_ERROR, nullptr, 0, 0},
        {"error on the first portion only", {"--device-status", "error,accept"}, ACCEPTED, nullptr, 0, 0},
        {"silent, no version", {"--device-status", "silent"}, NO_REPLY, nullptr, 22, 30},
        {"silent, version 1.05", {"--device-status", "silent", "--device-version", "1.05"},
         ACCEPTED, NO_REPLY, 22, 30},
        {"silent, version 1.06", {"--device-status", "silent", "--device-version", "1.06"},
         OTHER_VERSION, NO_REPLY, 22, 30},
        {"garbage instead of a status", {"--device-status", "garbage"}, NO_REPLY, nullptr, 18, 30},
        {"busy for ever", {"--device-status", "busy"}, NO_REPLY, nullptr, 200, 212},
        // The collector drops it at 64 KiB and hears the status that follows.
        {"a status that never ends", {"--device-status", "endless"}, ACCEPTED, nullptr, 0, 1},
        {"silent, identity reply short", {"--device-status", "silent", "--device-version", "1.05",
         "--device-identity", "short"}, UNCONFIRMED, NO_REPLY, 22, 30},
        {"silent, identity reply foreign", {"--device-status", "silent", "--device-version", "1.05",
         "--device-identity", "foreign"}, NO_REPLY, nullptr, 22, 30},
        {"silent, identity reply without F7", {"--device-status", "silent", "--device-version",
         "1.05", "--device-identity", "no-f7"}, NO_REPLY, nullptr, 22, 35},
        {"appears after 3 minutes", {"--device-appears-after", "180000"}, ACCEPTED, nullptr, 179, 196},
        // Its absence overlaps the pause after portion 1 (and the Windows program's
        // further wait for the device).
        {"vanishes for 40 s after portion 1", {"--device-vanishes-after-portion", "1:40000"},
         ACCEPTED, nullptr, 38 - static_cast<int>(midiupdate::deviceActivationPause / 1000), 56},
        // The absence covers the 12 s status wait for the cut portion and part of the
        // connection checks before portion 2 (and, on Windows, the program's own wait).
        // Portion 2 is accepted, but the chunks that found the device gone were counted.
        {"vanishes for 20 s inside portion 1", {"--device-vanishes-during-portion", "1:20000"},
         DEVICE_ERROR, nullptr, 7, 24, PlatformFault::none, 0, halfAPortion},
        // Nothing is waited for once the device has gone, but an identity reply.
        {"vanishes for 20 s inside the last portion", {"--device-vanishes-during-portion",
         "2:20000"}, DEVICE_ERROR, nullptr, -1, 6, PlatformFault::none, 0, halfAPortion},
        // The design waits for the driver without limit.
        {"driver holds a message 10 min", {}, ACCEPTED, nullptr, 599, 601,
         PlatformFault::driverHoldsAMessage, 600},
        {"12 opens fail (device in use)", {}, ACCEPTED, nullptr, 14, 17, PlatformFault::opensFail},
        {"3 preparations fail (no memory)", {}, ACCEPTED, nullptr, 3, 3, PlatformFault::preparesFail},
        {"unreadable device listed first", {}, ACCEPTED, nullptr, 0, 0,
         PlatformFault::unreadableNameFirst},
        {"offline twin listed first", {}, ACCEPTED, nullptr, 0, 0, PlatformFault::offlineTwinFirst},
        // The device's portions no longer line up with what it was sent, so its replies
        // may come late or not at all.
        {"the system refuses a chunk", {}, DEVICE_ERROR, nullptr, -1, 40,
         PlatformFault::sendRefused, 0, 0, true},
    };
    // clang-format on
    return scenarios;
}

// A real-time scenario crosses a real server twice per reply: a status that comes a
// server cycle later than the baseline's may miss a 500 ms status poll, once for each of
// the two portions (1 s), and a server without real-time priority on a shared two-core
// machine adds up to about a second of scheduling delay to the transfer.
const unsigned int realTimeSlack = 2000;
// A real-time scenario this far past its bound has hung: the transfer cannot be
// cancelled, so the process ends.
const unsigned int hangMargin = 60000;

// Ends the process when a real-time scenario runs past `limit` ms of wall clock.
class Watchdog {
public:
    Watchdog(PortUnderTest& kind, const Scenario& scenario, unsigned int limit)
        : thread([this, &kind, &scenario, limit] { Watch(kind, scenario, limit); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(lock);
            done = true;
        }
        ended.notify_all();
        thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void Watch(PortUnderTest& kind, const Scenario& scenario, unsigned int limit) {
        std::unique_lock<std::mutex> guard(lock);
        if (ended.wait_for(guard, std::chrono::milliseconds(limit), [this] { return done; }))
            return;
        std::printf("[fault matrix] %-22s | %-34s | no verdict within %u s of wall clock: "
                    "the test ends here\n",
                    kind.Name(), scenario.label, limit / 1000);
        std::fflush(stdout);
        kind.Abandon();
        std::_Exit(1);
    }

    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::thread thread; // last: starts once the members above exist
};

struct Outcome {
    std::string completed;
    unsigned int milliseconds = 0;
    unsigned long long undelivered = 0; // as the port counted
    IntegrityReport integrity;
    std::size_t stillPlaying = 0; // the Windows port's "Still playing" lines
    std::size_t oneSecondSleeps = 0;
};

Outcome Run(PortUnderTest& kind, const Scenario& scenario, const Update& update,
            unsigned int wallLimit) {
    VirtualClock clock;
    std::optional<ScopedClock> installed;
    if (!kind.RealTime())
        installed.emplace(clock);
    DeviceOptions options;
    options.device.name = "Widget";
    std::string error;
    EXPECT_TRUE(ParseDeviceOptions(scenario.deviceWords, options, error)) << error;
    options.device.expected = PortionViews(update);
    options.device.keepReceived = false;
    kind.Adjust(options.device);
    kind.fault = scenario.fault;

    TraceCapture quiet; // thousands of lines per run
    Outcome outcome;
    std::unique_ptr<ReplyScheduler> scheduler;
    if (kind.RealTime())
        scheduler = std::make_unique<RealTimeScheduler>();
    else
        scheduler = std::make_unique<VirtualClockScheduler>(clock);
    SimulatedDevice device(options.device, std::move(scheduler));
    std::optional<Watchdog> watchdog;
    if (kind.RealTime())
        watchdog.emplace(kind, scenario, wallLimit);
    {
        std::unique_ptr<MidiPort> port = kind.Attach(device, update, clock);
        RecordingProgress progress;
        Update copy = update;
        const unsigned int start = TimeNow();
        SimpleSysExSender(*port).Send(copy, progress);
        outcome.milliseconds = TimeNow() - start;
        outcome.undelivered = port->UndeliveredBytes();
        const std::vector<std::string> completions = progress.Completions();
        EXPECT_EQ(completions.size(), 1u);
        outcome.completed = completions.empty() ? "(none)" : completions.back();
    }
    for (const std::string& record : quiet.Records())
        outcome.stillPlaying += record.find("Still playing") != std::string::npos;
    const std::vector<unsigned int> sleeps = clock.Sleeps();
    outcome.oneSecondSleeps =
        static_cast<std::size_t>(std::count(sleeps.begin(), sleeps.end(), 1000u));
    kind.Detach(device);
    watchdog.reset();
    outcome.integrity = device.Integrity().value_or(IntegrityReport{});
    return outcome;
}

// Runs one scenario and checks it against `baseline`, the accepting scenario's outcome,
// which it sets when it is that one.
void RunScenario(PortUnderTest& kind, const Scenario& scenario, const Update& update,
                 Outcome& baseline) {
    std::uint64_t total = 0;
    for (const Update::SysExPortion& portion : update.sysExPortions)
        total += portion.sysEx.size();
    const unsigned int slack = kind.RealTime() ? realTimeSlack : 0;

    SCOPED_TRACE(std::string(kind.Name()) + ": " + scenario.label);
    const Outcome outcome =
        Run(kind, scenario, update,
            baseline.milliseconds + scenario.maxExtraSeconds * 1000 + slack + hangMargin);
    if (&scenario == &Scenarios().front())
        baseline = outcome;
    if (scenario.heldSeconds > 0) {
        // One poll a second while the driver holds the message, and nothing else.
        const std::size_t polls = outcome.stillPlaying - baseline.stillPlaying;
        EXPECT_GE(polls + 1, scenario.heldSeconds);
        EXPECT_LE(polls, scenario.heldSeconds + 1u);
        EXPECT_EQ(outcome.oneSecondSleeps - baseline.oneSecondSleeps, polls);
    }

    const char* verdict = !kind.AsksForIdentity() && scenario.verdictUnasked
                              ? scenario.verdictUnasked
                              : scenario.verdict;
    EXPECT_EQ(outcome.completed, verdict);
    EXPECT_GE(static_cast<long long>(outcome.milliseconds + slack),
              static_cast<long long>(baseline.milliseconds) + scenario.minExtraSeconds * 1000LL);
    EXPECT_LE(outcome.milliseconds,
              baseline.milliseconds + scenario.maxExtraSeconds * 1000 + slack);
    const bool missed = scenario.cutOff > 0 || scenario.hole;
    EXPECT_EQ(outcome.integrity.identical, !missed) << outcome.integrity.text;
    // A port knows at least the chunks that found the device gone or were refused; the
    // chunk the device went inside it may not know of.
    if (missed)
        EXPECT_GT(outcome.undelivered, 0u);
    else
        EXPECT_EQ(outcome.undelivered, 0u);
    EXPECT_LE(outcome.undelivered, total);
    if (!scenario.hole) {
        EXPECT_FALSE(outcome.integrity.offset.has_value()) << outcome.integrity.text;
        EXPECT_EQ(outcome.integrity.cutOff, scenario.cutOff) << outcome.integrity.text;
        EXPECT_EQ(outcome.integrity.bytes + scenario.cutOff, total) << outcome.integrity.text;
    }
    std::string shown = outcome.completed;
    std::replace(shown.begin(), shown.end(), '\n', ' ');
    std::printf("[fault matrix] %-22s | %-41s | %-60.60s | %7.1f s | %llu bytes %s, %llu "
                "undelivered\n",
                kind.Name(), scenario.label, shown.c_str(), outcome.milliseconds / 1000.0,
                static_cast<unsigned long long>(outcome.integrity.bytes),
                outcome.integrity.identical ? "identical"
                : outcome.integrity.cutOff == scenario.cutOff && scenario.cutOff > 0
                    ? "identical, the rest cut off"
                    : "DIFFERENT",
                outcome.undelivered);
}

} // namespace

std::vector<FaultMatrixRow> FaultMatrixRows(const PortUnderTest& kind) {
    std::vector<FaultMatrixRow> rows;
    for (const Scenario& scenario : Scenarios())
        if (kind.Stages(scenario.fault))
            rows.push_back({scenario.label, scenario.maxExtraSeconds});
    return rows;
}

std::vector<std::string> FaultMatrixLabels(const PortUnderTest& kind, bool minutes) {
    // Beyond this many extra seconds a row takes minutes.
    const unsigned int minutesRow = 100;
    std::vector<std::string> labels;
    for (const FaultMatrixRow& row : FaultMatrixRows(kind))
        if ((row.maxExtraSeconds >= minutesRow) == minutes)
            labels.push_back(row.label);
    return labels;
}

std::string FaultMatrixTestName(const std::string& label) {
    std::string name;
    for (char c : label)
        if (std::isalnum(static_cast<unsigned char>(c)))
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    while (!name.empty() && name.back() == '_')
        name.pop_back();
    return name;
}

void RunFaultMatrix(PortUnderTest& kind) {
    const Update update = TestUpdate();
    Outcome baseline;
    for (const Scenario& scenario : Scenarios())
        if (kind.Stages(scenario.fault))
            RunScenario(kind, scenario, update, baseline);
}

void RunFaultMatrixRow(PortUnderTest& kind, const std::string& label) {
    const std::vector<Scenario>& scenarios = Scenarios();
    const auto scenario = std::find_if(scenarios.begin(), scenarios.end(),
                                       [&](const Scenario& row) { return row.label == label; });
    ASSERT_NE(scenario, scenarios.end()) << "no scenario \"" << label << '"';
    const Update update = TestUpdate();
    Outcome baseline;
    RunScenario(kind, scenarios.front(), update, baseline);
    if (scenario != scenarios.begin())
        RunScenario(kind, *scenario, update, baseline);
}

} // namespace testsupport
