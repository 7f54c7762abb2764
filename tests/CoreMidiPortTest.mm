#include "Application/CoreMidiPort.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "Simulator/SimulatedDevice.h"
#include "Stand-ins/CoreMIDI/Simulation.h"
#include "tests/LogCapture.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>

using coremidistandin::EndpointSpec;
using testsupport::Bytes;
using testsupport::CaptureStandardError;
using testsupport::Hex;

namespace {

// Every test begins and ends with nothing behind the stand-in's API.
struct StandIn {
    StandIn() { coremidistandin::Reset(); }
    ~StandIn() { coremidistandin::Reset(); }
};

EndpointSpec Spec(const std::string& name, const std::string& manufacturer = "",
                  const std::string& displayName = "", bool displayNameReadable = true) {
    EndpointSpec spec;
    spec.name = name;
    spec.manufacturer = manufacturer;
    spec.displayName = displayName;
    spec.displayNameReadable = displayNameReadable;
    return spec;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// A portion of `size` bytes made of SysEx messages of up to 100 bytes.
Bytes Portion(std::size_t size, unsigned char seed) {
    Bytes bytes;
    while (bytes.size() < size) {
        const std::size_t length = std::min<std::size_t>(100, size - bytes.size());
        bytes.push_back(0xF0);
        for (std::size_t i = 1; i + 1 < length; ++i)
            bytes.push_back(static_cast<unsigned char>((seed + bytes.size()) & 0x7F));
        if (length > 1)
            bytes.push_back(0xF7);
    }
    return bytes;
}

// The chunks the sender cuts from `portion` for a port of the Mac's sizes.
std::vector<std::size_t> ChunkSizes(Bytes portion) {
    std::vector<std::size_t> sizes;
    Range<unsigned char> remaining{portion.data(), portion.data() + portion.size()};
    while (!remaining.Empty()) {
        const Range<unsigned char> chunk = NextSysExChunk(remaining, 2048, 16384);
        sizes.push_back(chunk.Size());
        remaining.TrimFromFront(chunk.Size());
    }
    return sizes;
}

} // namespace

TEST(CoreMidiPort, ChoosesByNameOrDisplayNameOnlyWholeAndCaseSensitive) {
    // "Größe Synth": CoreMIDI's names are text, an update's are bytes in either encoding.
    const std::string utf8 = "Gr\xC3\xB6\xC3\x9F"
                             "e Synth";
    const std::string latin1 = "Gr\xF6\xDF"
                               "e Synth";
    struct Case {
        const char* label;
        std::set<std::string> names;
        std::vector<EndpointSpec> endpoints; // each a destination and a source
        int chosen;                          // -1: none
    };
    const Case cases[] = {
        {"no names: the first whose display name reads",
         {},
         {Spec("X", "", "", false), Spec("Y"), Spec("Z")},
         1},
        {"name", {"A"}, {Spec("B"), Spec("A")}, 1},
        {"display name", {"A"}, {Spec("Port 1", "Maker", "A")}, 0},
        {"manufacturer alone", {"A"}, {Spec("B", "A", "C")}, -1},
        {"letter case", {"A"}, {Spec("a")}, -1},
        {"part of a name", {"A"}, {Spec("A B")}, -1},
        {"display name unreadable", {"A"}, {Spec("A", "", "", false)}, -1},
        {"a name in the update that is not UTF-8", {"\xE9t\xE9", "A"}, {Spec("A")}, 0},
        {"the update's name in Latin-1", {latin1}, {Spec(utf8)}, 0},
        {"the update's name in UTF-8", {utf8}, {Spec(utf8)}, 0},
        {"the display name, the update's in Latin-1", {latin1}, {Spec("Port 1", "", utf8)}, 0},
        {"a Latin-1 name unlike the device's", {latin1.substr(0, 4)}, {Spec(utf8)}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        StandIn standIn;
        std::vector<MIDIEndpointRef> destinations;
        std::vector<MIDIEndpointRef> sources;
        for (const EndpointSpec& spec : c.endpoints) {
            destinations.push_back(coremidistandin::AddDestination(spec));
            sources.push_back(coremidistandin::AddSource(spec));
        }
        CoreMidiPort port(c.names);
        ASSERT_EQ(port.IsConnected(), c.chosen >= 0);
        if (c.chosen < 0)
            continue;

        const Bytes chunk = Hex("F0 01 F7");
        port.Send(chunk.data(), chunk.size());
        for (std::size_t i = 0; i < destinations.size(); ++i)
            EXPECT_EQ(coremidistandin::PacketSizes(destinations[i]).size(),
                      static_cast<int>(i) == c.chosen ? 1u : 0u)
                << i;
        // The source is chosen by the same test: only the chosen one is heard.
        for (std::size_t i = 0; i < sources.size(); ++i)
            coremidistandin::Emit(sources[i], Bytes{0xF0, static_cast<unsigned char>(i), 0xF7});
        EXPECT_EQ(port.LastSysEx(), (Bytes{0xF0, static_cast<unsigned char>(c.chosen), 0xF7}));
    }
}

TEST(CoreMidiPort, OfflineDestinationAnswersFalseAndTheNextCallSearchesAfresh) {
    StandIn standIn;
    EndpointSpec spec = Spec("A");
    spec.offline = 1;
    const MIDIEndpointRef destination = coremidistandin::AddDestination(spec);
    CoreMidiPort port({"A"});
    bool connected = true;
    std::string log = CaptureStandardError([&] { connected = port.IsConnected(); });
    EXPECT_FALSE(connected);
    EXPECT_NE(log.find("Entity offline=1"), std::string::npos) << log;

    coremidistandin::SetOffline(destination, 0);
    log = CaptureStandardError([&] { connected = port.IsConnected(); });
    EXPECT_TRUE(connected);
    EXPECT_NE(log.find("FindEndpoint: Looking for output port"), std::string::npos) << log;
}

TEST(CoreMidiPort, ReplyInManyPacketsCompletesOnceAndIsReadOnce) {
    const Bytes message = [] {
        Bytes bytes{0xF0};
        for (int i = 0; i < 298; ++i)
            bytes.push_back(static_cast<unsigned char>(i & 0x7F));
        bytes.push_back(0xF7);
        return bytes;
    }();
    Bytes reply{0x42}; // a stray byte first: dropped outside a message
    reply.insert(reply.end(), message.begin(), message.end());

    struct Slicing {
        std::size_t packetSize;
        std::size_t packetsPerList;
    };
    for (const Slicing slicing : {Slicing{100, 2}, Slicing{1, 1}, Slicing{7, 3}, Slicing{301, 1}}) {
        SCOPED_TRACE(::testing::Message() << slicing.packetSize << " x " << slicing.packetsPerList);
        StandIn standIn;
        coremidistandin::AddDestination(Spec("A"));
        const MIDIEndpointRef source = coremidistandin::AddSource(Spec("A"));
        coremidistandin::SetSlicing(slicing.packetSize, slicing.packetsPerList);
        CoreMidiPort port({"A"});
        ASSERT_TRUE(port.IsConnected());
        const std::string log = CaptureStandardError([&] { coremidistandin::Emit(source, reply); });
        EXPECT_EQ(Count(log, "GotSysEx: 300 bytes"), 1u) << log;
        EXPECT_EQ(port.LastSysEx(), message);
        EXPECT_EQ(port.LastSysEx(), Bytes{});
    }
}

TEST(CoreMidiPort, DisconnectForgetsTheReplyAndReceiveSysExNeverAsks) {
    VirtualClock clock;
    ScopedClock installed(clock);
    SimulatedDeviceConfig config;
    config.version = Version{1, 5}; // it would answer an identity request
    SimulatedDevice device(config, std::make_unique<VirtualClockScheduler>(clock));
    StandIn standIn;
    const coremidistandin::DeviceEndpoints endpoints =
        coremidistandin::AttachDevice(device, Spec(config.name));
    CoreMidiPort port({config.name});
    ASSERT_TRUE(port.IsConnected());

    coremidistandin::Emit(endpoints.source, Hex("F0 01 F7"));
    port.Disconnect();
    EXPECT_EQ(port.LastSysEx(), Bytes{});

    EXPECT_EQ(port.ReceiveSysEx(5000, deviceEnquiry, sizeof deviceEnquiry), Bytes{});
    SleepFor(5000);
    EXPECT_EQ(coremidistandin::PacketSizes(endpoints.destination), std::vector<std::size_t>{});
    EXPECT_EQ(device.IdentityRequests(), 0u);
}

TEST(CoreMidiPort, SendRefusesWhatOnePacketCannotHold) {
    StandIn standIn;
    const MIDIEndpointRef destination = coremidistandin::AddDestination(Spec("A"));
    CoreMidiPort port({"A"});
    ASSERT_TRUE(port.IsConnected());
    const Bytes big(65536, 0x01);
    port.Send(big.data(), 65535);
    const std::string log = CaptureStandardError([&] { port.Send(big.data(), big.size()); });
    EXPECT_NE(log.find("do not fit one MIDI packet"), std::string::npos) << log;
    EXPECT_EQ(coremidistandin::PacketSizes(destination), std::vector<std::size_t>{65535});
}

TEST(CoreMidiPort, WholeUpdateArrivesInOrderOnePacketPerChunk) {
    struct Case {
        const char* script;
        const char* verdict;
    };
    const Case cases[] = {
        {"accept", "The 'Widget' was updated sucessfully to version 1.05."},
        {"silent", "The update has been sent. Please check your device for update status."},
    };
    const Bytes first = Portion(5000, 1);
    const Bytes second = Portion(3000, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        VirtualClock clock;
        ScopedClock installed(clock);
        Update update = testsupport::MakeUpdate({{first, 200}, {second, 0}});
        SimulatedDeviceConfig config;
        config.name = "Widget Port";
        config.portionSizes = PortionSizes(update);
        std::string error;
        ASSERT_TRUE(ParseStatusScript(c.script, config.script, error)) << error;
        SimulatedDevice device(config, std::make_unique<VirtualClockScheduler>(clock));
        StandIn standIn;
        coremidistandin::AddDestination(Spec("Other Synth"));
        const coremidistandin::DeviceEndpoints endpoints =
            coremidistandin::AttachDevice(device, Spec("Widget Port", "Maker"));
        testsupport::RecordingProgress progress;
        {
            CoreMidiPort port({"Widget Port"});
            SimpleSysExSender sender(port);
            sender.Send(update, progress);
        }
        EXPECT_EQ(progress.Completions(), std::vector<std::string>{c.verdict});
        EXPECT_EQ(device.ReceivedPortions(), (std::vector<Bytes>{first, second}));
        std::vector<std::size_t> chunks = ChunkSizes(first);
        const std::vector<std::size_t> secondChunks = ChunkSizes(second);
        chunks.insert(chunks.end(), secondChunks.begin(), secondChunks.end());
        EXPECT_EQ(coremidistandin::PacketSizes(endpoints.destination), chunks);
    }
}

TEST(CoreMidiPort, LateStatusForAnEarlierPortionNeverAnswersALaterOne) {
    // Portion 1 is accepted only after its polling has ended; portion 2 is never answered.
    VirtualClock clock;
    ScopedClock installed(clock);
    Update update = testsupport::MakeUpdate({{Portion(500, 1), 5000}, {Portion(500, 2), 0}});
    SimulatedDeviceConfig config;
    config.name = "Widget Port";
    config.portionSizes = PortionSizes(update);
    config.replyLatency = 14000;
    std::string error;
    ASSERT_TRUE(ParseStatusScript("accept,silent", config.script, error)) << error;
    SimulatedDevice device(config, std::make_unique<VirtualClockScheduler>(clock));
    StandIn standIn;
    coremidistandin::AttachDevice(device, Spec("Widget Port"));
    testsupport::RecordingProgress progress;
    {
        CoreMidiPort port({"Widget Port"});
        SimpleSysExSender sender(port);
        sender.Send(update, progress);
    }
    EXPECT_EQ(progress.Completions(),
              std::vector<std::string>{
                  "The update has been sent. Please check your device for update status."});
}

TEST(ListInterfaces, LogsEveryDestinationWhateverItLacks) {
    VirtualClock clock;
    ScopedClock installed(clock);
    SimulatedDevice device(SimulatedDeviceConfig{}, std::make_unique<VirtualClockScheduler>(clock));
    StandIn standIn;
    coremidistandin::AttachDevice(device, Spec("Widget Port", "Maker"));
    coremidistandin::AddDestination(Spec("Virtual", "", "", false));
    const std::string log = CaptureStandardError([] { ListInterfaces(); });
    for (const char* line :
         {"ListInterfaces: # destinations=2", "ListInterfaces: # devices=1", "Name=Widget Port",
          "Entity offline=0", "Error (Getting entity properties)", "Found all interfaces"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_EQ(Count(log, "Done"), 2u);
}

TEST(CoreMidiStandIn, DeviceFromTheEnvironmentTakesTheUpdatesFirstMacNameAndJudgesWhatArrives) {
    StandIn standIn;
    Update update = testsupport::MakeUpdate({{Portion(3000, 3), 0}});
    update.macPortNames = {"Widget Port", "Zeta"};
    std::string error;

    setenv("MIDI_UPDATER_SIMULATE", "--device-status 'accept", 1);
    EXPECT_FALSE(coremidistandin::SimulateFromEnvironment(update, error));
    EXPECT_NE(error.find("MIDI_UPDATER_SIMULATE"), std::string::npos) << error;

    // In real time, as the Mac program runs: the reply takes one status poll.
    setenv("MIDI_UPDATER_SIMULATE", "--device-status accept --device-version 1.05", 1);
    ASSERT_TRUE(coremidistandin::SimulateFromEnvironment(update, error)) << error;
    unsetenv("MIDI_UPDATER_SIMULATE");
    testsupport::RecordingProgress progress;
    {
        CoreMidiPort port(update.macPortNames);
        SimpleSysExSender sender(port);
        EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Accepted);
    }
    EXPECT_EQ(coremidistandin::EnvironmentDeviceIntegrity(),
              "device received 1 portion, 2.9KB, identical to the update file");
}
