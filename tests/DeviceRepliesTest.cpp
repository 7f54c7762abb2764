#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "tests/FakeMidiPort.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using testsupport::accepted;
using testsupport::busy;
using testsupport::Bytes;
using testsupport::failed;
using testsupport::FakeMidiPort;
using testsupport::Hex;
using testsupport::IdentityReply;
using testsupport::none;
using Events = std::vector<std::string>;
using Sleeps = std::vector<unsigned int>;

namespace {

const Bytes foreign = Hex("F0 7E 00 06 02 41 F7");

Sleeps Times(std::size_t count, unsigned int sleep) {
    return Sleeps(count, sleep);
}

} // namespace

TEST(ParseDeviceEnquiryResponse, ReadsWhatTheReplyHoldsAndNeverMore) {
    const Bytes full = IdentityReply(Hex("41"), 0x12, Hex("00 01 00 05"), "Widget");
    struct Case {
        const char* what;
        Bytes reply;
        DeviceInfo expected;
        const char* trace;
    };
    const Case cases[] = {
        {"one-byte maker", full, {"41 ", "12 ", "1.05", "Widget"}, nullptr},
        {"three-byte maker",
         IdentityReply(Hex("00 20 33"), 0x12, Hex("00 01 00 05"), "W"),
         {"00 20 33 ", "12 ", "1.05", "W"},
         nullptr},
        {"major is H * 22 + L",
         IdentityReply(Hex("41"), 0x12, Hex("01 00 02 03"), ""),
         {"41 ", "12 ", "22.23", ""},
         nullptr},
        {"name ends at a high byte",
         IdentityReply(Hex("41"), 0, Hex("00 01 00 05"),
                       "ABC\x80"
                       "DEF"),
         {"41 ", "00 ", "1.05", "ABC"},
         nullptr},
        {"sixteen-letter name",
         IdentityReply(Hex("41"), 0, Hex("00 01 00 05"), "ABCDEFGHIJKLMNOP"),
         {"41 ", "00 ", "1.05", "ABCDEFGHIJKLMNOP"},
         nullptr},
        {"four bytes",
         Hex("F0 7E 00 06"),
         {},
         "ParseDeviceEnquiryResponse: MIDI sysex header short\n"},
        {"device 10",
         Hex("F0 7E 10 06 02 41 12 00 00 00 01 00 05 F7"),
         {},
         "ParseDeviceEnquiryResponse: MIDI sysex header wrong\n"},
        // Cut short: a field comes only from bytes that are there, never the closing F7.
        {"no maker",
         Hex("F0 7E 00 06 02 F7"),
         {},
         "ParseDeviceEnquiryResponse: MIDI sysex reply short (6 bytes)\n"},
        {"maker cut",
         Hex("F0 7E 00 06 02 00 20 F7"),
         {},
         "ParseDeviceEnquiryResponse: MIDI sysex reply short (8 bytes)\n"},
        {"version cut",
         Hex("F0 7E 00 06 02 41 12 00 00 00 01 00 F7"),
         {"41 ", "12 ", "", ""},
         "ParseDeviceEnquiryResponse: MIDI sysex reply short (13 bytes)\n"},
        {"version whole",
         Hex("F0 7E 00 06 02 41 12 00 00 00 01 00 05 F7"),
         {"41 ", "12 ", "1.05", ""},
         "ParseDeviceEnquiryResponse: MIDI sysex reply short (14 bytes)\n"},
        {"name cut",
         Bytes(full.begin(), full.begin() + 20),
         {"41 ", "12 ", "1.05", "Wi"},
         "ParseDeviceEnquiryResponse: MIDI sysex reply short (20 bytes)\n"},
    };
    for (const Case& c : cases) {
        testsupport::TraceCapture trace;
        // An exact-size copy, so reading past the end shows under AddressSanitizer.
        const Bytes reply(c.reply.begin(), c.reply.end());
        const DeviceInfo info = ParseDeviceEnquiryResponse(reply);
        EXPECT_EQ(info.manufacturer, c.expected.manufacturer) << c.what;
        EXPECT_EQ(info.family, c.expected.family) << c.what;
        EXPECT_EQ(info.version, c.expected.version) << c.what;
        EXPECT_EQ(info.name, c.expected.name) << c.what;
        EXPECT_EQ(trace.Records(), c.trace ? Events{c.trace} : Events{}) << c.what;
    }
    EXPECT_EQ(ToString(std::vector<int>{}), "");
    EXPECT_EQ(ToString(std::vector<int>{0x00, 0x20, 0x7F}), "00 20 7F ");
}

TEST(CheckSysExUpdateStatus, ReadsTheFlagsOfAThirteenByteStatusMessage) {
    struct Case {
        Bytes message;
        int code;
        const char* trace;
    };
    const Case cases[] = {
        {StatusMessage(0x00), 1, "CheckSysExUpdateStatus: error=(0x00)\n"},
        {StatusMessage(0x50), 1, "CheckSysExUpdateStatus: error=(0x50)\n"},
        {StatusMessage(0x20), 2, "CheckSysExUpdateStatus: error=(0x20)\n"},
        {StatusMessage(0x21), 3, "CheckSysExUpdateStatus: error=(0x21)\n"},
        {StatusMessage(0x08), 3, "CheckSysExUpdateStatus: error=(0x08)\n"},
        {Hex("F0 00 00 3F 73 00 00 00 00 00 00 00 00 F7"), 0, nullptr}, // 14 bytes
        {Hex("F0 00 00 3F 74 00 00 00 00 00 00 00 F7"), 0, nullptr},
        {Bytes{}, 0, nullptr},
    };
    for (const Case& c : cases) {
        testsupport::TraceCapture trace;
        EXPECT_EQ(CheckSysExUpdateStatus(c.message), c.code) << testsupport::HexText(c.message);
        EXPECT_EQ(trace.Records(), c.trace ? Events{c.trace} : Events{});
    }
}

TEST(GetUpdateStatus, PollsTheStoreEveryHalfSecondUpToTheLimit) {
    testsupport::TraceCapture trace;
    struct Case {
        const char* what;
        std::function<void(FakeMidiPort&, VirtualClock&)> device;
        int code;
        Sleeps sleeps;
    };
    const Case cases[] = {
        {"waiting already",
         [](FakeMidiPort& p, VirtualClock&) { p.Feed(StatusMessage(0)); },
         1,
         {}},
        {"silent", [](FakeMidiPort&, VirtualClock&) {}, 0, Times(4, 500)},
        {"answers at 1.2 s",
         [](FakeMidiPort& p, VirtualClock& c) { c.Schedule(1200, [&p] { p.Feed(busy); }); }, 2,
         Times(3, 500)},
        {"foreign message", [](FakeMidiPort& p, VirtualClock&) { p.Feed(foreign); }, 0, {}},
    };
    for (const Case& c : cases) {
        VirtualClock clock;
        ScopedClock installed(clock);
        FakeMidiPort port;
        c.device(port, clock);
        EXPECT_EQ(GetUpdateStatus(port, 2000), c.code) << c.what;
        EXPECT_EQ(clock.Sleeps(), c.sleeps) << c.what;
        EXPECT_TRUE(port.LastSysEx().empty()) << c.what; // each message is used once
    }
}

TEST(GetUpdateStatus, TellsAPortThatLostItsDeviceToDisconnectAndGoesOn) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    FakeMidiPort port;
    port.connected = {false};
    EXPECT_EQ(GetUpdateStatus(port, 2000), 0);
    EXPECT_EQ(clock.Sleeps(), Times(4, 500));
    EXPECT_EQ(port.Count("Disconnect"), 4u);
    EXPECT_EQ(trace.Records(), Events(4, "GetUpdateStatus: sysEx=(none)\n"));
}

TEST(WaitForUpdateToFinish, FollowsTheDevicesReplies) {
    const Events checking{"Status: Checking update status...", "Indeterminate"};
    const std::string installing = "Status: Waiting for device to complete update installation...";
    const Events acceptedEnd{"Status: Device has accepted update.", "Progress 1"};
    const Events silentEnd{"Status: Device has not yet responded to update.", "Progress 1"};
    const auto join = [](std::initializer_list<Events> parts) {
        Events all;
        for (const Events& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    struct Case {
        const char* what;
        std::vector<bool> connected;
        std::vector<Bytes> answers; // LastSysEx, one per poll; the last repeats
        int code;
        Events events;
        Sleeps sleeps;
        std::size_t polls;
    };
    const Case cases[] = {
        {"not connected", {false}, {accepted}, 0, {}, {}, 0},
        {"accepted at once", {true}, {accepted}, 1, join({checking, acceptedEnd}), {}, 1},
        {"silent", {true}, {none}, 0, join({checking, silentEnd}), Times(24, 500), 30},
        {"error at 1.5 s",
         {true},
         {none, none, none, failed},
         3,
         join({checking, silentEnd}),
         Times(3, 500),
         4},
        {"busy forever",
         {true},
         {busy},
         2,
         join({checking, {installing, "Indeterminate"}, silentEnd}),
         {},
         201},
        {"busy, silent, then accepted",
         {true},
         {busy, none, none, none, none, none, accepted},
         1,
         join({checking, {installing, "Indeterminate"}, acceptedEnd}),
         Times(4, 500),
         7},
        {"foreign messages", {true}, {foreign}, 0, join({checking, silentEnd}), {}, 6},
    };
    for (const Case& c : cases) {
        testsupport::TraceCapture trace;
        VirtualClock clock;
        ScopedClock installed(clock);
        FakeMidiPort port;
        port.connected = c.connected;
        port.lastSysExAnswers = c.answers;
        testsupport::RecordingProgress progress;
        EXPECT_EQ(WaitForUpdateToFinish(port, progress), c.code) << c.what;
        EXPECT_EQ(progress.Events(), c.events) << c.what;
        EXPECT_EQ(clock.Sleeps(), c.sleeps) << c.what;
        EXPECT_EQ(port.Count("LastSysEx"), c.polls) << c.what;
        const Events records = trace.Records();
        EXPECT_EQ(records.front(), "WaitForUpdateToFinish >>\n");
        EXPECT_EQ(records.back(), c.connected[0] ? Format("WaitForUpdateToFinish << (%d)\n", c.code)
                                                 : "WaitForUpdateToFinish: not connected\n");
    }
}

TEST(WaitForUpdateToFinish, WaitsOutADeviceThatSaysBusyEveryOneAndAHalfSeconds) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    FakeMidiPort port;
    std::function<void()> sayBusy = [&] {
        port.Feed(busy);
        clock.Schedule(1500, sayBusy);
    };
    clock.Schedule(1500, sayBusy);
    testsupport::RecordingProgress progress;
    EXPECT_EQ(WaitForUpdateToFinish(port, progress), 2);
    EXPECT_EQ(clock.Sleeps(), Times(201 * 3, 500)); // 201 polls, each found at the third look
}

// Every time limit is measured as elapsed time, so it holds across the wrap of the
// 32-bit millisecond clock.
TEST(WaitForUpdateToFinish, KeepsItsScheduleAcrossTheClockWrap) {
    for (unsigned int start : {0u, 0xFFFFF000u, 0xFFFFFC00u, 0xFFFFFFFFu}) {
        testsupport::TraceCapture trace;
        VirtualClock clock(start);
        ScopedClock installed(clock);
        FakeMidiPort port;
        testsupport::RecordingProgress progress;
        EXPECT_EQ(WaitForUpdateToFinish(port, progress), 0);
        EXPECT_EQ(clock.Sleeps(), Times(24, 500)) << std::hex << start;
    }
}
