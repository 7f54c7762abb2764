#include "Linux/AlsaSequencerPort.h"
#include "Linux/LinuxMidiPort.h"
#include "Linux/MidiEventSplitter.h"
#include "Linux/MissedCycles.h"
#include "Linux/SpscRing.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "Simulator/Hosting/AlsaDeviceEndpoint.h"
#include "Simulator/SimulatedDevice.h"
#include "Stand-ins/alsa/AlsaStandIn.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

using namespace midiupdate;
using testsupport::Bytes;
using testsupport::Hex;
using testsupport::Message;
using testsupport::Repeat;

namespace {} // namespace

// ---- The ring between the sending thread and JACK's process thread ----

TEST(SpscRing, TakesAllOrNothingAndWrapsAround) {
    SpscRing ring(10); // rounded up to 16
    EXPECT_EQ(ring.Capacity(), 16u);
    const Bytes head = Hex("01 02 03 04");
    const Bytes body = Hex("05 06 07 08 09 0A 0B 0C 0D 0E");
    unsigned char out[16];
    for (int round = 0; round < 5; ++round) { // each round starts further along the buffer
        SCOPED_TRACE(round);
        ASSERT_TRUE(ring.Write(head.data(), head.size(), body.data(), body.size()));
        EXPECT_FALSE(ring.Write(head.data(), head.size())) << "only 2 bytes are free";
        EXPECT_EQ(ring.Peek(out, 3, 2), 3u);
        EXPECT_EQ(Bytes(out, out + 3), Hex("03 04 05"));
        ring.Consume(3);
        EXPECT_EQ(ring.Peek(out, sizeof out), 11u);
        EXPECT_EQ(Bytes(out, out + 11), Hex("04 05 06 07 08 09 0A 0B 0C 0D 0E"));
        ring.Consume(11);
        EXPECT_EQ(ring.Available(), 0u);
        EXPECT_EQ(ring.Free(), 16u);
    }
}

TEST(SpscRing, CarriesEveryByteInOrderBetweenTwoThreads) {
    SpscRing ring(64);
    const std::size_t total = 30000;
    std::thread producer([&ring] {
        for (std::size_t sent = 0; sent < total;) {
            unsigned char block[7];
            for (std::size_t i = 0; i < sizeof block; ++i)
                block[i] = static_cast<unsigned char>(sent + i);
            const std::size_t n = std::min<std::size_t>(sizeof block, total - sent);
            if (ring.Write(block, n))
                sent += n;
            else
                std::this_thread::yield();
        }
    });
    unsigned char expected = 0;
    std::size_t received = 0;
    bool inOrder = true;
    while (received < total) {
        unsigned char block[13];
        const std::size_t n = ring.Peek(block, sizeof block);
        for (std::size_t i = 0; i < n; ++i)
            inOrder = inOrder && block[i] == expected++;
        ring.Consume(n);
        received += n;
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder);
}

// ---- Cutting bytes into events ----

TEST(MidiEventSplitter, MakesOneEventPerMessageWhateverTheChunks) {
    struct Case {
        const char* label;
        Bytes data;
        std::vector<std::size_t> chunks; // sizes handed to Add, the last repeating
        std::size_t maxEvent;
        std::vector<Bytes> events;
        std::size_t oversized;
    };
    const Bytes a = Hex("F0 01 02 F7");
    const Bytes b = Hex("F0 03 04 05 06 F7");
    const std::vector<Case> cases = {
        {"whole messages", Repeat(a, 2), {100}, 64, {a, a}, 0},
        {"a chunk ending inside a message", a, {2}, 64, {a}, 0},
        {"byte by byte", b, {1}, 64, {b}, 0},
        {"bytes outside messages as their own events",
         Hex("0A 0B F0 01 F7 0C"),
         {4},
         64,
         {Hex("0A 0B"), Hex("F0 01 F7"), Hex("0C")},
         0},
        {"F0 inside a message is data", Hex("F0 01 F0 02 F7"), {3}, 64, {Hex("F0 01 F0 02 F7")}, 0},
        {"a message longer than an event goes in pieces",
         b,
         {100},
         4,
         {Hex("F0 03 04 05"), Hex("06 F7")},
         1},
        {"the same when it arrives in chunks", b, {3}, 4, {Hex("F0 03 04 05"), Hex("06 F7")}, 1},
        {"an unfinished message is flushed as it is",
         Hex("F0 01 02"),
         {2},
         64,
         {Hex("F0 01 02")},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MidiEventSplitter splitter(c.maxEvent);
        std::vector<Bytes> events;
        const auto emit = [&events](const unsigned char* data, std::size_t size) {
            events.emplace_back(data, data + size);
        };
        std::size_t at = 0;
        for (std::size_t i = 0; at < c.data.size(); ++i) {
            const std::size_t n =
                std::min(c.chunks[std::min(i, c.chunks.size() - 1)], c.data.size() - at);
            splitter.Add(c.data.data() + at, n, emit);
            at += n;
        }
        splitter.Flush(emit);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(splitter.OversizedMessages(), c.oversized);
    }
}

TEST(MissedCycles, CountsTheEventsOfLateOrSkippedCyclesOnce) {
    struct Cycle {
        std::uint32_t firstFrame, frames, sinceStart;
        std::size_t counted, lost; // lost: what this cycle tells
    };
    struct Case {
        const char* label;
        std::vector<Cycle> cycles;
    };
    const std::uint32_t wrap = 0xFFFFFF80u; // a period before the frame counter wraps
    const std::vector<Case> cases = {
        {"cycles one after another",
         {{0, 128, 40, 900, 0}, {128, 128, 127, 900, 0}, {256, 128, 1, 0, 0}}},
        {"a skipped cycle loses the one before it",
         {{0, 128, 40, 900, 0}, {256, 128, 40, 500, 900}, {384, 128, 40, 0, 0}}},
        {"a skipped cycle after an idle one loses nothing",
         {{0, 128, 40, 0, 0}, {384, 128, 40, 0, 0}}},
        {"a late cycle loses its own, once even if the next is skipped",
         {{0, 128, 129, 900, 900}, {256, 128, 40, 0, 0}}},
        {"the frame counter wraps",
         {{wrap, 128, 40, 900, 0}, {0, 128, 40, 900, 0}, {256, 128, 40, 0, 900}}},
        {"a cycle after a longer one follows it", {{0, 256, 40, 900, 0}, {256, 128, 40, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        MissedCycles missed;
        for (const Cycle& cycle : c.cycles)
            EXPECT_EQ(missed.Cycle(cycle.firstFrame, cycle.frames, cycle.sinceStart, cycle.counted),
                      cycle.lost);
    }
}

TEST(LargestEvent, IsTheLongestMessageOfAnyPortion) {
    const Update update =
        testsupport::MakeUpdate({{Repeat(Message(300, 1), 3), 0}, {Message(9000, 2), 0}});
    EXPECT_EQ(LargestEvent(update), 9000u);
}

// ---- Names and pacing ----

TEST(PortSettingsFor, TakesTheMacNamesAndTheWindowsPacing) {
    Bytes file;
    CreateUpdateFileHeader(file, "Widget", Version{1, 5}, "", 0, 0, 0);
    AddSysExPortion(file, Message(10, 1), 0);
    AddMacPortName(file, "Widget MIDI$Widget Port 2");
    AddWindowsPortParameters(file, "win:x:ideal:512:max:700:delay:25");
    std::istringstream stream(std::string(file.begin(), file.end()));
    const Update update(stream);

    LinuxPortSettings settings = PortSettingsFor(update, std::nullopt);
    EXPECT_EQ(settings.names, (std::set<std::string>{"Widget MIDI", "Widget Port 2"}));
    EXPECT_EQ(settings.idealChunkSize, 512u);
    EXPECT_EQ(settings.maxChunkSize, 700u);
    EXPECT_EQ(settings.chunkDelay, 25u);
    EXPECT_EQ(PortSettingsFor(update, std::string("Other")).names, std::set<std::string>{"Other"});
}

TEST(NameMatches, PortClientOrBothExactly) {
    const std::set<std::string> names{"Widget"};
    EXPECT_TRUE(NameMatches(names, "Widget", "MIDI 1"));
    EXPECT_TRUE(NameMatches(names, "USB", "Widget"));
    EXPECT_TRUE(NameMatches({"USB:MIDI 1"}, "USB", "MIDI 1"));
    EXPECT_FALSE(NameMatches(names, "widget", "Widget MIDI 1"));
}

// ---- The ALSA port against the stand-in sequencer, on the virtual clock ----

namespace {

struct AlsaRig {
    explicit AlsaRig(SimulatedDeviceConfig config,
                     alsastandin::DevicePort kind = alsastandin::DevicePort::Duplex)
        : installed(clock),
          device(std::move(config), std::make_unique<VirtualClockScheduler>(clock)) {
        client = alsastandin::PlugDevice("Widget USB", "Widget MIDI 1", device, kind);
    }
    ~AlsaRig() { alsastandin::UnplugDevice(client); }

    VirtualClock clock;
    ScopedClock installed;
    SimulatedDevice device;
    int client = -1;
};

SimulatedDeviceConfig DeviceFor(const Update& update, const std::string& script,
                                std::optional<Version> version = std::nullopt) {
    SimulatedDeviceConfig config;
    config.portionSizes = PortionSizes(update);
    std::string error;
    EXPECT_TRUE(ParseStatusScript(script, config.script, error)) << error;
    config.version = version;
    return config;
}

LinuxPortSettings Named(std::set<std::string> names, unsigned int chunkDelay = 0) {
    LinuxPortSettings settings;
    settings.names = std::move(names);
    settings.idealChunkSize = 1024;
    settings.maxChunkSize = 3072;
    settings.chunkDelay = chunkDelay;
    return settings;
}

std::vector<Bytes> SysExOf(const Update& update) {
    std::vector<Bytes> portions;
    for (const auto& portion : update.sysExPortions)
        portions.push_back(portion.sysEx);
    return portions;
}

} // namespace

TEST(AlsaSequencerPort, SendsUpdatesAndHearsTheDevice) {
    struct Case {
        const char* label;
        std::set<std::string> names;
        std::string script;
        std::optional<Version> deviceVersion;
        TransferVerdict verdict;
    };
    const std::vector<Case> cases = {
        {"by port name, accepted",
         {"Widget MIDI 1"},
         "accept",
         std::nullopt,
         TransferVerdict::Accepted},
        {"by client name, busy then error",
         {"Widget USB"},
         "busy:2,error",
         std::nullopt,
         TransferVerdict::Failed},
        {"by client:port, silent, identity answers",
         {"Widget USB:Widget MIDI 1"},
         "silent",
         Version{1, 5},
         TransferVerdict::Accepted},
    };
    // Three portions, one with many messages, one with a message longer than the
    // sequencer's pieces.
    const Update update = testsupport::MakeUpdate(
        {{Repeat(Message(100, 1), 40), 300}, {Message(5000, 2), 0}, {Message(40, 3), 0}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        AlsaRig rig(DeviceFor(update, c.script, c.deviceVersion));
        AlsaSequencerPort port(Named(c.names));
        testsupport::RecordingProgress progress;
        Update copy = update;
        EXPECT_EQ(SimpleSysExSender(port).Send(copy, progress), c.verdict);
        EXPECT_EQ(rig.device.ReceivedPortions(), SysExOf(update));
    }
    EXPECT_EQ(alsastandin::OpenClients(), 0u) << "every port closed its client";
}

TEST(AlsaSequencerPort, FindsNothingUnderOtherNamesAndIsDeafToAWriteOnlyPort) {
    const Update update = testsupport::MakeUpdate({{Message(50, 1), 0}});
    {
        AlsaRig rig(DeviceFor(update, "accept"));
        AlsaSequencerPort port(Named({"widget midi 1", "Widget"}));
        EXPECT_FALSE(port.IsConnected());
    }
    AlsaRig rig(DeviceFor(update, "accept", Version{1, 5}), alsastandin::DevicePort::WriteOnly);
    AlsaSequencerPort port(Named({"Widget MIDI 1"}));
    testsupport::RecordingProgress progress;
    Update copy = update;
    EXPECT_EQ(SimpleSysExSender(port).Send(copy, progress), TransferVerdict::Unconfirmed);
    EXPECT_EQ(rig.device.ReceivedPortions(), SysExOf(update)) << "the bytes still went out";
}

TEST(AlsaSequencerPort, FollowsTheAnnouncementsWhenTheDeviceGoesAndComesBack) {
    const Update update = testsupport::MakeUpdate({{Message(50, 1), 5000}, {Message(60, 2), 0}});
    AlsaRig rig(DeviceFor(update, "accept"));
    AlsaSequencerPort port(Named({"Widget MIDI 1"}));
    ASSERT_TRUE(port.IsConnected());
    alsastandin::UnplugDevice(rig.client);
    EXPECT_FALSE(port.IsConnected()) << "told by the announcement";
    const std::size_t queries = alsastandin::ClientQueries();
    EXPECT_FALSE(port.IsConnected());
    EXPECT_EQ(alsastandin::ClientQueries(), queries) << "no search until something is announced";
    rig.client = alsastandin::PlugDevice("Widget USB", "Widget MIDI 1", rig.device);
    EXPECT_TRUE(port.IsConnected());

    // Gone during the first portion's pause, back well after the next portion's first
    // connection checks: the transfer waits for it.
    rig.clock.Schedule(3000, [&rig] { alsastandin::UnplugDevice(rig.client); });
    rig.clock.Schedule(40000, [&rig] {
        rig.client = alsastandin::PlugDevice("Widget USB", "Widget MIDI 1", rig.device);
    });
    testsupport::RecordingProgress progress;
    Update copy = update;
    EXPECT_EQ(SimpleSysExSender(port).Send(copy, progress), TransferVerdict::Accepted);
    EXPECT_EQ(rig.device.ReceivedPortions(), SysExOf(update));
    const auto statuses = progress.Statuses();
    EXPECT_NE(
        std::find(statuses.begin(), statuses.end(), "Could not send chunk #2 of 2. Retrying..."),
        statuses.end());
}

TEST(AlsaSequencerPort, PacesAndCapsChunksAsTheUpdateAsks) {
    const Update update = testsupport::MakeUpdate({{Repeat(Message(100, 1), 30), 0}});
    AlsaRig rig(DeviceFor(update, "accept"));
    LinuxPortSettings settings = Named({"Widget MIDI 1"}, 40);
    settings.idealChunkSize = 1000;
    settings.maxChunkSize = 1 << 30;
    AlsaSequencerPort port(settings);
    EXPECT_EQ(port.IdealChunkSize(), 1000u);
    EXPECT_EQ(port.MaxChunkSize(), 64u * 1024) << "capped by what one Send takes";
    ASSERT_TRUE(port.IsConnected());
    const Bytes& data = update.sysExPortions[0].sysEx;
    port.Send(data.data(), 1000);
    port.Send(data.data() + 1000, 2000);
    EXPECT_EQ(rig.clock.Sleeps(), (std::vector<unsigned int>{40, 40}));
}

TEST(AlsaSequencerPort, ReceiveSysExAsksTheDeviceForItsIdentity) {
    const Update update = testsupport::MakeUpdate({{Message(50, 1), 0}});
    AlsaRig rig(DeviceFor(update, "accept", Version{2, 7}));
    AlsaSequencerPort port(Named({"Widget MIDI 1"}));
    const Bytes reply = port.ReceiveSysEx(5000, deviceEnquiry, sizeof deviceEnquiry);
    EXPECT_EQ(ParseDeviceEnquiryResponse(reply).version, "2.07");
    EXPECT_EQ(rig.device.IdentityRequests(), 1u);
    EXPECT_LT(rig.clock.Elapsed(), 1000u);
}

// Both ends through the stand-in: the device served on a sequencer port, as
// `midi-updater-cli device --alsa` does, and the port, in real time.
TEST(AlsaDeviceEndpoint, ServesTheDeviceToAnotherClient) {
    alsastandin::SetWaitForReaders(false);
    const Update update =
        testsupport::MakeUpdate({{Repeat(Message(300, 1), 20), 0}, {Message(900, 2), 0}});
    SimulatedDevice device(DeviceFor(update, "accept"), std::make_unique<RealTimeScheduler>());
    {
        AlsaDeviceEndpoint endpoint(device);
        std::string error;
        ASSERT_TRUE(endpoint.Open("Widget MIDI 1", error)) << error;
        AlsaSequencerPort port(Named({"Widget MIDI 1"}));
        testsupport::RecordingProgress progress;
        Update copy = update;
        EXPECT_EQ(SimpleSysExSender(port).Send(copy, progress), TransferVerdict::Accepted);
    }
    EXPECT_EQ(device.ReceivedPortions(), SysExOf(update));
    alsastandin::SetWaitForReaders(true);
}
