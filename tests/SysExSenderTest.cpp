#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "tests/FakeMidiPort.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using testsupport::accepted;
using testsupport::busy;
using testsupport::Bytes;
using testsupport::failed;
using testsupport::FakeMidiPort;
using testsupport::Hex;
using testsupport::IdentityReply;
using testsupport::MakeUpdate;
using testsupport::none;
using testsupport::RecordingProgress;
using Events = std::vector<std::string>;
using Sleeps = std::vector<unsigned int>;

namespace {

std::vector<bool> FalseThen(std::size_t count, std::vector<bool> rest) {
    std::vector<bool> answers(count, false);
    answers.insert(answers.end(), rest.begin(), rest.end());
    return answers;
}

Sleeps operator+(Sleeps a, const Sleeps& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A portion's pause as each program makes it.
Sleeps Pause(unsigned int delay) {
    return midiupdate::deviceActivationPause ? Sleeps{delay, midiupdate::deviceActivationPause}
                                             : Sleeps{delay};
}

const Sleeps failedCheck = Sleeps(10, 1000) + Sleeps{5000}; // one CheckConnected, then the retry

Bytes Reply(const char* version) {
    return IdentityReply(Hex("41"), 0x12, Hex(version), "W");
}

} // namespace

TEST(CheckConnected, ChecksTenTimesASecondApartThenLetsThePortLookElsewhere) {
    struct Case {
        std::vector<bool> answers;
        bool connected;
        std::size_t checks, permits;
        Sleeps sleeps;
    };
    const Case cases[] = {
        {{true}, true, 3, 0, {}},
        {FalseThen(3, {true}), true, 6, 0, Sleeps(3, 1000)},
        {FalseThen(10, {true}), true, 12, 0, Sleeps(10, 1000)},         // found at the 11th look
        {FalseThen(11, {true}), true, 13, 1, Sleeps(10, 1000)},         // found after the fallback
        {FalseThen(11, {true, false}), false, 13, 1, Sleeps(10, 1000)}, // the last look decides
        {{false}, false, 12, 1, Sleeps(10, 1000)},
    };
    for (const Case& c : cases) {
        testsupport::TraceCapture trace;
        VirtualClock clock;
        ScopedClock installed(clock);
        FakeMidiPort port;
        port.connected = c.answers;
        EXPECT_EQ(CheckConnected(port), c.connected);
        EXPECT_EQ(port.Count("IsConnected"), c.checks);
        EXPECT_EQ(port.Count("PermitOtherPorts"), c.permits);
        EXPECT_EQ(clock.Sleeps(), c.sleeps);
        Events expected(c.sleeps.size(), "MIDI port is not connected. Waiting, then retrying\n");
        if (c.permits)
            expected.push_back("Failed to find MIDI port. Permitting others.\n");
        if (c.permits && c.checks == 12)
            expected.push_back("Still Failed to find MIDI port.\n");
        EXPECT_EQ(trace.Records(), expected);
    }
}

TEST(SysExSender, OnePortionFromStartToVerdict) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    FakeMidiPort port;
    port.lastSysExAnswers = {accepted};
    RecordingProgress progress;
    Update update = MakeUpdate({{Hex("F0 01 02 F7"), 1500}});

    SimpleSysExSender sender(port);
    EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Accepted);

    EXPECT_EQ(
        progress.Events(),
        (Events{"Progress 0", "Indeterminate", "Status: Started update",
                "Status: Looking for Widget to update...", "Indeterminate",
                // the portion
                "Indeterminate", "Status: Sent 0 bytes of 4 bytes", "Progress 1",
                "Status: Sent 4 bytes of 4 bytes",
                // the device's status
                "Status: Checking update status...", "Indeterminate",
                "Status: Device has accepted update.", "Progress 1",
                // the pause
                "Status: Waiting for device to become ready for more data...", "Indeterminate",
                "Status: Waiting for device to become active...", "Progress 1",
                // the verdict
                "Progress 1", "Status: MIDI update sent successfully.",
                "Completed: The 'Widget' was updated sucessfully to version 1.05."}));
    EXPECT_EQ(port.Calls(), (Events{"IsConnected", "IsConnected", "IsConnected", "LastSysEx",
                                    "ClearLastSysEx", "IdealChunkSize", "MaxChunkSize", "Send 4",
                                    "IsConnected", "LastSysEx", "ClearLastSysEx", "Disconnect"}));
    EXPECT_EQ(clock.Sleeps(), Pause(1500));

    const std::string send = midiupdate::TraceName("SysExSender", "Send");
    EXPECT_TRUE(trace.Contains(midiupdate::TraceName("SysExSender", "SysExSender")));
    EXPECT_TRUE(trace.Contains(send + "(update,sender,progress)\n"));
    EXPECT_TRUE(trace.Contains(send + ": Disconnecting\n"));
}

TEST(SysExSender, EachPortionReportsItsShareOfTheWhole) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    FakeMidiPort port;
    port.idealChunkSize = port.maxChunkSize = 100;
    // Each portion's stale store is emptied before it, then polled: only the last portion's
    // status counts.
    port.lastSysExAnswers = {none, failed, none, accepted};
    RecordingProgress progress;
    Update update = MakeUpdate({{Bytes(700, 0x11), 0}, {Bytes(300, 0x22), 0}});

    SimpleSysExSender sender(port);
    EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Accepted);

    const std::vector<float> expected{0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f,
                                      0.7f, 0.7f, 0.8f, 0.9f, 1.0f, 1.0f, 1.0f};
    const std::vector<float> values = progress.Values();
    ASSERT_EQ(values.size(), expected.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(values[i], expected[i], 1e-5) << i;
    const Events statuses = progress.Statuses();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Sending chunk #2 of 2"), statuses.end());
    EXPECT_EQ(progress.Completions(),
              Events{"The 'Widget' was updated sucessfully to version 1.05."});
}

TEST(SysExSender, ChoosesTheVerdictFromTheLastStatusOrTheIdentityReply) {
    const char* sentCheck = "The update has been sent. Please check your device for update status.";
    const char* notConfirmed = "The update has been sent, but the device has not yet confirmed "
                               "that the update process was successful.";
    const char* updated = "The 'Widget' was updated sucessfully to version 1.05.";
    struct Case {
        const char* what;
        Bytes status; // what the device says after the portion, again and again
        Bytes reply;  // its identity reply
        Version version;
        TransferVerdict verdict;
        std::string text;
        unsigned long lost = 0; // bytes of the portion the port knows it could not deliver
    };
    const std::string sendError =
        "There was an error sending the update file.\nPlease restart the device and try again.";
    const Case cases[] = {
        {"accepted", accepted, Reply("00 01 00 04"), {1, 5}, TransferVerdict::Accepted, updated},
        {"error",
         failed,
         Reply("00 01 00 05"),
         {1, 5},
         TransferVerdict::Failed,
         "There was an error sending the update file.\nPlease restart the device and try again."},
        {"silent, no reply", none, {}, {1, 5}, TransferVerdict::Unconfirmed, sentCheck},
        {"busy, no reply", busy, {}, {1, 5}, TransferVerdict::Unconfirmed, sentCheck},
        {"silent, reply too short",
         none,
         Hex("F0 7E 00 06 02 41 12 F7"),
         {1, 5},
         TransferVerdict::Unconfirmed,
         notConfirmed},
        {"silent, foreign reply",
         none,
         Hex("F0 01 02 F7"),
         {1, 5},
         TransferVerdict::Unconfirmed,
         notConfirmed},
        {"silent, same version",
         none,
         Reply("00 01 00 05"),
         {1, 5},
         TransferVerdict::Accepted,
         updated},
        {"busy, same version",
         busy,
         Reply("00 01 00 05"),
         {1, 5},
         TransferVerdict::Accepted,
         updated},
        {"silent, other version",
         none,
         Reply("00 01 00 04"),
         {1, 5},
         TransferVerdict::Failed,
         "The 'Widget' firmware version is now 1.04.\nThe update file version was 1.05.\n"
         "The update process did not complete successfully."},
        {"silent, version for a 0.00 file",
         none,
         Reply("00 02 00 00"),
         {0, 0},
         TransferVerdict::Accepted,
         "The update has been sent to the device sucessfully.\nIt is now at version firmware "
         "2.00."},
        // Neither an acceptance nor the right version makes up for a hole in the firmware.
        {"accepted, bytes lost", accepted, {}, {1, 5}, TransferVerdict::Failed, sendError, 2},
        {"silent, same version, bytes lost",
         none,
         Reply("00 01 00 05"),
         {1, 5},
         TransferVerdict::Failed,
         sendError,
         3},
        {"silent, no reply, bytes lost", none, {}, {1, 5}, TransferVerdict::Failed, sendError, 3},
    };
    for (const Case& c : cases) {
        testsupport::TraceCapture trace;
        VirtualClock clock;
        ScopedClock installed(clock);
        FakeMidiPort port;
        port.lastSysExAnswers = {c.status};
        port.identityReply = c.reply;
        port.onSend = [&port, &c](const Bytes& chunk) {
            port.Lose(std::min<unsigned long>(c.lost, static_cast<unsigned long>(chunk.size())));
        };
        RecordingProgress progress;
        Update update = MakeUpdate({{Hex("F0 01 F7"), 0}}, c.version);

        SimpleSysExSender sender(port);
        std::vector<std::pair<unsigned, unsigned long long>> told;
        sender.onUndelivered = [&told](unsigned portion, unsigned long long bytes) {
            told.emplace_back(portion, bytes);
        };
        EXPECT_EQ(sender.Send(update, progress), c.verdict) << c.what;
        EXPECT_EQ(progress.Completions(), Events{c.text}) << c.what;
        using Told = std::vector<std::pair<unsigned, unsigned long long>>;
        const Told expected = c.lost ? Told{{1u, c.lost}} : Told{};
        EXPECT_EQ(told, expected) << c.what;
        EXPECT_EQ(trace.Contains(midiupdate::TraceName("SysExSender", "Send") + ": " +
                                 std::to_string(c.lost) +
                                 " bytes of portion 1 did not reach "
                                 "the device\n"),
                  c.lost > 0)
            << c.what;
        const bool enquired = c.status == none || c.status == busy;
        EXPECT_EQ(port.Count("ReceiveSysEx 5000 F0 7E 7F 06 01 F7"), enquired ? 1u : 0u) << c.what;
        EXPECT_EQ(progress.Statuses().back(),
                  enquired ? "Verifying update status..." : "MIDI update sent successfully.")
            << c.what;
    }
}

// The store survives Disconnect: a status for portion 1 that comes after its polling
// ended must not answer portion 2.
TEST(SysExSender, AStaleStatusDoesNotAnswerTheNextPortion) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    FakeMidiPort port;                                   // no script: the store answers
    clock.Schedule(15000, [&] { port.Feed(accepted); }); // polling ends at 12 s, pause at 20 s
    RecordingProgress progress;
    Update update = MakeUpdate({{Hex("F0 01 F7"), 8000}, {Hex("F0 02 F7"), 0}});

    SimpleSysExSender sender(port);
    EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Unconfirmed);
    EXPECT_EQ(progress.Completions(),
              Events{"The update has been sent. Please check your device for update status."});
    EXPECT_TRUE(trace.Contains(midiupdate::TraceName("SysExSender", "Send") +
                               ": Discarding a stale reply\n"));
}

TEST(SysExSender, WithoutPortionsTheEnquiryDecides) {
    testsupport::TraceCapture trace;
    FakeMidiPort port;
    RecordingProgress progress;
    Update update = MakeUpdate({});
    SimpleSysExSender sender(port);
    EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Unconfirmed);
    EXPECT_EQ(
        progress.Events(),
        (Events{"Progress 0", "Indeterminate", "Status: Started update", "Progress 1",
                "Status: MIDI update sent successfully.", "Status: Verifying update status...",
                "Completed: The update has been sent. Please check your device for update "
                "status."}));
    EXPECT_EQ(port.Calls(), Events{"ReceiveSysEx 5000 F0 7E 7F 06 01 F7"});
}

TEST(SysExSender, PortionsWithoutBytesShowNoBrokenProgress) {
    testsupport::TraceCapture trace;
    FakeMidiPort port;
    port.lastSysExAnswers = {accepted};
    RecordingProgress progress;
    Update update = MakeUpdate({{{}, 0}, {{}, 0}});
    SimpleSysExSender sender(port);
    EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Accepted);
    for (float value : progress.Values()) {
        EXPECT_FALSE(std::isnan(value));
        EXPECT_GE(value, 0.0f);
        EXPECT_LE(value, 1.0f);
    }
    EXPECT_TRUE(port.Sent().empty());
    EXPECT_EQ(port.Count("Disconnect"), 2u);
}

TEST(SysExSender, WaitsMinutesForAPortThatIsPluggedInLate) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    FakeMidiPort port;
    port.connected = {false};
    port.lastSysExAnswers = {accepted};
    clock.Schedule(3 * 60 * 1000, [&] { port.connected = {true}; });
    RecordingProgress progress;
    Update update = MakeUpdate({{Hex("F0 01 F7"), 0}});

    SimpleSysExSender sender(port);
    EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Accepted);

    // The first portion's announcement stays up the whole time: no retry lines.
    EXPECT_EQ(
        progress.Statuses(),
        (Events{"Started update", "Looking for Widget to update...", "Sent 0 bytes of 3 bytes",
                "Sent 3 bytes of 3 bytes", "Checking update status...",
                "Device has accepted update.", "MIDI update sent successfully."}));
    Sleeps expected;
    for (int cycle = 0; cycle < 12; ++cycle)
        expected = expected + failedCheck;
    EXPECT_EQ(clock.Sleeps(), expected);
    EXPECT_EQ(port.Count("PermitOtherPorts"), 12u);
    EXPECT_EQ(clock.Elapsed(), 180000u);
}

TEST(SysExSender, RetriesAPortionWhosePortVanished) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    FakeMidiPort port;
    port.lastSysExAnswers = {accepted};
    clock.Schedule(500, [&] { port.connected = {false}; }); // during the first pause
    clock.Schedule(40000, [&] { port.connected = {true}; });
    RecordingProgress progress;
    Update update = MakeUpdate({{Hex("F0 01 F7"), 1000}, {Hex("F0 02 F7"), 1000}});

    SimpleSysExSender sender(port);
    EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Accepted);

    const char* retry = "Could not send chunk #2 of 2. Retrying...";
    const Events portion{"Sent 0 bytes of 3 bytes",
                         "Sent 3 bytes of 3 bytes",
                         "Checking update status...",
                         "Device has accepted update.",
                         "Waiting for device to become ready for more data...",
                         "Waiting for device to become active..."};
    Events expected{"Started update", "Looking for Widget to update..."};
    expected.insert(expected.end(), portion.begin(), portion.end());
    expected.insert(expected.end(), {"Sending chunk #2 of 2", retry, retry});
    expected.insert(expected.end(), portion.begin(), portion.end());
    expected.push_back("MIDI update sent successfully.");
    EXPECT_EQ(progress.Statuses(), expected);

    // The second portion starts 1 s (Windows: 11 s) in; the port is back at 40 s.
    const Sleeps lastLooks = midiupdate::windowsForm ? Sleeps{} : Sleeps(9, 1000);
    EXPECT_EQ(clock.Sleeps(), Pause(1000) + failedCheck + failedCheck + lastLooks + Pause(1000));
}
