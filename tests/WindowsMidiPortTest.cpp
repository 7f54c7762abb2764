#include "Windows/WindowsMidiPort.h"

#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "Simulator/SimulatedDevice.h"
#include "Stand-ins/user32/MessageBoxStandIn.h"
#include "Stand-ins/winmm/Simulation.h"
#include "Stand-ins/winmm/WinmmStandIn.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

using testsupport::Bytes;
using testsupport::Hex;
using testsupport::TraceCapture;
using winmmstandin::Port;

namespace {

Port Named(const std::string& name) {
    Port port;
    port.name = name;
    return port;
}

MidiPortWindowsParameters Parameters(std::set<std::string> names, bool frame = true) {
    MidiPortWindowsParameters parameters;
    parameters.names = std::move(names);
    parameters.chunks = frame;
    return parameters;
}

Bytes Join(const std::vector<Bytes>& parts) {
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

std::size_t CountOf(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
}

// Each test starts on a virtual clock with no devices and no questions answered.
class WindowsMidiPortTest : public ::testing::Test {
protected:
    WindowsMidiPortTest() { user32standin::SetAnswers({}); }
    ~WindowsMidiPortTest() override { EXPECT_EQ(winmmstandin::OpenHandles(), 0u); }

    VirtualClock clock;
    ScopedClock installed{clock};
    TraceCapture trace;
};

} // namespace

TEST_F(WindowsMidiPortTest, ChoosesTheDeviceByWholeNameAndNeverTheSystemSynth) {
    struct Case {
        const char* what;
        std::vector<std::string> devices;
        std::set<std::string> names;
        std::string chosen; // "" for none
    };
    const std::string synth = "Microsoft GS Wavetable Synth";
    const std::string mapper = "Microsoft MIDI Mapper";
    const Case cases[] = {
        {"no names: the first that is not synth or mapper",
         {synth + " 2", mapper, "Widget 2", "Widget"},
         {},
         "Widget 2"},
        {"no names, only synth and mapper", {synth, mapper}, {}, ""},
        {"whole name, letter case counts", {"Widget 2", "widget", "Widget"}, {"Widget"}, "Widget"},
        {"the named device is missing", {"Widget 2", "widget"}, {"Widget"}, ""},
        {"the update names the synth", {synth, "Widget"}, {synth}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Port> ports;
        for (const std::string& name : c.devices)
            ports.push_back(Named(name));
        winmmstandin::Install(ports);
        TraceCapture lines;
        WindowsMidiPort port(Parameters(c.names));

        EXPECT_EQ(port.IsConnected(), !c.chosen.empty());
        port.Send(Hex("F0 01 F7").data(), 3);
        for (const std::string& name : c.devices)
            EXPECT_EQ(winmmstandin::LongMessages(name).size(), name == c.chosen ? 1u : 0u) << name;
        if (c.chosen.empty()) {
            EXPECT_TRUE(lines.Contains("MIDI OUT Port failed to open.\n"));
            // A null handle reads as device 0, as in winmm: only the handle says "no".
            EXPECT_TRUE(lines.Contains(" connected=no (handle=0, err=0)\n"));
            EXPECT_TRUE(lines.Contains("Can't send MIDI, not connected\n"));
        } else {
            EXPECT_TRUE(lines.Contains("MIDI OUT Port opened OK.\n"));
        }
        port.Disconnect();
    }
}

TEST_F(WindowsMidiPortTest, FramesEachChunkWithExactlyOneMarkerAtEachEnd) {
    struct Case {
        const char* what;
        bool frame;
        Bytes chunk;
        std::vector<Bytes> sent;
    };
    const Case cases[] = {
        {"bare data", true, Hex("01 02 03"), {Hex("F0 01 02 03 F7")}},
        {"a message's start", true, Hex("F0 01 02"), {Hex("F0 01 02 F7")}},
        {"a message's end", true, Hex("01 02 F7"), {Hex("F0 01 02 F7")}},
        {"a whole message", true, Hex("F0 01 02 F7"), {Hex("F0 01 02 F7")}},
        {"framing off", false, Hex("01 02"), {Hex("01 02")}},
        {"nothing", true, Bytes{}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        winmmstandin::Install({Named("Widget")});
        WindowsMidiPort port(Parameters({"Widget"}, c.frame));
        port.Send(c.chunk.data(), static_cast<unsigned long>(c.chunk.size()));
        EXPECT_EQ(winmmstandin::LongMessages("Widget"), c.sent);
        EXPECT_EQ(port.UndeliveredBytes(), 0u);
    }
    // Without the device the chunk is lost, and only its own bytes count, not the framing.
    winmmstandin::Install({});
    WindowsMidiPort port(Parameters({"Widget"}, true));
    port.Send(Hex("01 02 03").data(), 3);
    EXPECT_EQ(port.UndeliveredBytes(), 3u);
}

TEST_F(WindowsMidiPortTest, WaitsInVirtualTimeUntilTheDriverHasPlayedTheChunk) {
    struct Case {
        const char* what;
        std::size_t size;
        unsigned int failingPrepares;
        // A second per failed preparation, delay, one per "Still playing", unprepDelay.
        std::vector<unsigned int> sleeps;
        int pause = 0; // added to both pauses
    };
    // 320 us a byte on the wire: 500 bytes take 160 ms, 1000 take 320, 7000 take 2240.
    const Case cases[] = {
        {"played within the delay", 500, 0, {200, 100}},
        {"still playing once", 1000, 0, {200, 1000, 100}},
        {"still playing thrice", 7000, 0, {200, 1000, 1000, 1000, 100}},
        // Giving up would lose the chunk while the device is there.
        {"the header can be prepared at the third try", 1000, 2, {1000, 1000, 200, 1000, 100}},
        // An update file's negative pause would otherwise sleep for days.
        {"negative pauses count as none", 500, 0, {0, 1000, 0}, -300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Port widget = Named("Widget");
        widget.failingPrepares = c.failingPrepares;
        winmmstandin::Install({widget});
        MidiPortWindowsParameters parameters = Parameters({"Widget"}, false);
        parameters.delay += c.pause;
        parameters.unprepDelay += c.pause;
        WindowsMidiPort port(parameters);
        ASSERT_TRUE(port.IsConnected());
        TraceCapture lines;
        const std::size_t before = clock.Sleeps().size();

        port.SendVerbatim(Bytes(c.size, 0x11).data(), static_cast<unsigned long>(c.size));

        const std::vector<unsigned int> sleeps = clock.Sleeps();
        EXPECT_EQ(std::vector<unsigned int>(sleeps.begin() + before, sleeps.end()), c.sleeps);
        const std::vector<std::string> records = lines.Records();
        EXPECT_EQ(
            static_cast<std::size_t>(std::count(records.begin(), records.end(),
                                                "WindowsMidiPort::SendVerbatim: Still playing\n")),
            c.sleeps.size() - 2 - c.failingPrepares);
        EXPECT_EQ(winmmstandin::LongMessages("Widget").size(), 1u);
        if (c.failingPrepares > 0) {
            EXPECT_TRUE(lines.Contains("WindowsMidiPort::SendVerbatim: Error preparing (There "
                                       "is not enough memory available for this task.)\n"));
        }
    }
}

TEST_F(WindowsMidiPortTest, AsksAboutOtherDevicesInOrderUntilTheUserSaysYes) {
    winmmstandin::Install(
        {winmmstandin::WavetableSynth(), Named("Keys"), Named("Widget 2"), Named("Drums")});
    user32standin::SetAnswers({IDNO, IDYES});
    WindowsMidiPort port(Parameters({"Widget"}));
    EXPECT_FALSE(port.IsConnected());

    port.PermitOtherPorts();

    const std::vector<user32standin::Question> questions = user32standin::Questions();
    ASSERT_EQ(questions.size(), 2u); // no question about the synth, none after the Yes
    EXPECT_EQ(questions[0].text, "Do you wish to update 'Keys'.\n\n");
    EXPECT_EQ(questions[1].text, "Do you wish to update 'Widget 2'.\n\n");
    EXPECT_EQ(questions[1].caption, "MIDI Updater");
    EXPECT_EQ(questions[1].style,
              static_cast<unsigned>(MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND));
    EXPECT_TRUE(port.IsConnected());
    port.Send(Hex("F0 01 F7").data(), 3);
    EXPECT_EQ(winmmstandin::LongMessages("Widget 2").size(), 1u);
    // Outputs and inputs are numbered apart: the synth has no input.
    EXPECT_TRUE(trace.Contains("  MIDI OUT port #1: Keys\n"));
    EXPECT_TRUE(trace.Contains("  MIDI IN  port #0: Keys\n"));
}

TEST_F(WindowsMidiPortTest, ReassemblesARepliesSpreadOverBuffersAndRecyclesThemWhileOpen) {
    winmmstandin::Install({Named("Widget")});
    WindowsMidiPort port(Parameters({"Widget"}));
    ASSERT_TRUE(port.IsConnected());
    Bytes reply(300, 0x42);
    reply.front() = 0xF0;
    reply.back() = 0xF7;
    const std::size_t addedBefore = CountOf(winmmstandin::Calls(), "midiInAddBuffer");

    winmmstandin::Play("Widget", reply);

    EXPECT_TRUE(trace.Contains("MIM longdata message(256)\n"));
    EXPECT_TRUE(trace.Contains("MIM longdata message(44)\n"));
    EXPECT_EQ(port.LastSysEx(), reply);
    EXPECT_EQ(CountOf(winmmstandin::Calls(), "midiInAddBuffer"), addedBefore + 2);
    // The identity request's answer is the stored reply; nothing is sent for it.
    EXPECT_EQ(port.ReceiveSysEx(5000, deviceEnquiry, 6), reply);
    EXPECT_TRUE(winmmstandin::LongMessages("Widget").empty());

    // After Disconnect (whose reset hands every buffer back empty, so the device can be
    // closed) a late buffer with bytes is read but not queued again.
    port.Disconnect();
    EXPECT_EQ(winmmstandin::OpenHandles(), 0u);
    const std::vector<std::string> closedCalls = winmmstandin::Calls();
    char late[3] = {'\xF0', '\x01', '\xF7'};
    MIDIHDR header{};
    header.lpData = late;
    header.dwBufferLength = header.dwBytesRecorded = 3;
    port.MidiInCallback(MIM_LONGDATA, &header);
    EXPECT_EQ(port.LastSysEx(), Hex("F0 01 F7"));
    EXPECT_EQ(winmmstandin::Calls(), closedCalls);
    EXPECT_EQ(winmmstandin::BytesLost(), 0u);
}

TEST_F(WindowsMidiPortTest, ConnectClosesTheInputAnEarlierAttemptLeftOpen) {
    Port widget = Named("Widget");
    widget.output = false; // the output is missing, the input is there
    winmmstandin::Install({widget});
    WindowsMidiPort port(Parameters({"Widget"}));

    EXPECT_FALSE(port.IsConnected());
    EXPECT_FALSE(port.IsConnected()); // opens the input again
    EXPECT_EQ(winmmstandin::OpenHandles(), 1u);
    EXPECT_FALSE(trace.Contains("MIDI IN Port failed to open (0).\n"));
    port.Disconnect();
}

TEST_F(WindowsMidiPortTest, FindsADeviceThatComesLater) {
    SimulatedDeviceConfig config;
    config.name = "Widget";
    config.appearsAfter = 1000;
    SimulatedDevice device(config, std::make_unique<VirtualClockScheduler>(clock));
    Port widget = Named("Widget");
    widget.device = &device;
    winmmstandin::Install({widget});
    WindowsMidiPort port(Parameters({"Widget"}));

    EXPECT_FALSE(port.IsConnected());
    EXPECT_TRUE(trace.Contains("MIDI IN Port failed to open (-1066).\n")); // its name is unread
    SleepFor(1000);
    EXPECT_TRUE(port.IsConnected());
    port.Disconnect();
}

TEST_F(WindowsMidiPortTest, TheStandInRefusesTheHeaderSizeOf32BitWindows) {
    winmmstandin::Install({Named("Widget")});
    HMIDIOUT out = nullptr;
    ASSERT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    char data[] = {'\xF0', '\xF7'};
    MIDIHDR header{};
    header.lpData = data;
    header.dwBufferLength = sizeof data;
    EXPECT_EQ(midiOutPrepareHeader(out, &header, 64), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(sizeof header, 112u);
    EXPECT_EQ(midiOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
}

TEST(MidiErrorText, EachThreadKeepsItsOwnText) {
    const char* text = MidiErrorText(MIDIERR_STILLPLAYING);
    std::string other;
    std::thread([&] { other = MidiErrorText(MMSYSERR_NOMEM); }).join();
    EXPECT_STREQ(text, "Cannot perform this operation while media data is still playing.");
    EXPECT_EQ(other, "There is not enough memory available for this task.");
}

TEST_F(WindowsMidiPortTest, SendsAWholeUpdateToADeviceThatAccepts) {
    // Portions that the chunker cuts inside messages, so the port frames chunks.
    Bytes first;
    for (int message = 0; message < 5; ++message) {
        first.push_back(0xF0);
        for (int i = 0; i < 90; ++i)
            first.push_back(static_cast<unsigned char>((message * 7 + i) & 0x7F));
        first.push_back(0xF7);
    }
    const Bytes second = Hex("F0 05 06 07 F7");
    Update update = testsupport::MakeUpdate({{first, 1000}, {second, 0}});
    MidiPortWindowsParameters parameters = Parameters({"Widget"});
    parameters.ideal = 64;
    parameters.max = 80;

    // The device expects each portion as the port sends it: chunked, then framed.
    const std::vector<Bytes> framed =
        winmmstandin::FramedPortions(update.sysExPortions, parameters);
    SimulatedDeviceConfig config;
    config.name = "Widget";
    config.version = Version{1, 5};
    config.ownDeliveryThread = true;
    for (const Bytes& portion : framed)
        config.expected.push_back({portion.data(), portion.size()});
    SimulatedDevice device(config, std::make_unique<VirtualClockScheduler>(clock));
    Port widget = Named("Widget");
    widget.device = &device;
    winmmstandin::Install({winmmstandin::MidiMapper(), widget});

    testsupport::RecordingProgress progress;
    {
        WindowsMidiPort port(parameters);
        SimpleSysExSender sender(port);
        EXPECT_EQ(sender.Send(update, progress), TransferVerdict::Accepted);
    }

    // Every chunk arrived in order, framed; some needed it.
    const std::vector<Bytes> chunks = winmmstandin::LongMessages("Widget");
    EXPECT_GT(chunks.size(), 5u);
    Bytes sent;
    for (const Bytes& chunk : chunks) {
        EXPECT_EQ(chunk.front(), 0xF0);
        EXPECT_EQ(chunk.back(), 0xF7);
        sent.insert(sent.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(sent, Join(framed));
    EXPECT_GT(framed[0].size(), first.size());
    EXPECT_EQ(device.ReceivedPortions(), framed);
    EXPECT_EQ(device.CompletedPortions(), 2u);
    ASSERT_TRUE(device.Integrity());
    EXPECT_TRUE(device.Integrity()->identical) << device.Integrity()->text;
    EXPECT_EQ(winmmstandin::BytesLost(), 0u);
    EXPECT_EQ(progress.Completions(),
              std::vector<std::string>{"The 'Widget' was updated sucessfully to version 1.05."});
}

TEST_F(WindowsMidiPortTest, TakesItsDeviceFromTheSameWordsAsTheConsole) {
    // The update to send, and the same portions in a file under a folder with a space,
    // named the Windows way with backslashes.
    Bytes first(150, 0x11);
    first.front() = 0xF0;
    first.back() = 0xF7;
    const std::vector<Update::SysExPortion> portions{{first, 500}, {Hex("F0 01 02 F7"), 0}};
    Update update = testsupport::MakeUpdate(portions);
    update.windowsParameters = Parameters({"Widget"});
    update.windowsParameters.ideal = 64;
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string folder = std::string(temp) + "win port test";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\fw.upd";
    Bytes file;
    CreateUpdateFileHeader(file, "Widget", Version{1, 5}, "", 0, 0, 0);
    for (const Update::SysExPortion& portion : portions)
        AddSysExPortion(file, portion.sysEx, portion.delay);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));

    struct Case {
        const char* what;
        std::string words;
        TransferVerdict verdict; // Failed when the words are refused
        bool away = false;       // the port finds it missing once
    };
    const Case cases[] = {
        {"named after the update, expecting a file",
         "--device-status accept --device-version 1.05 --device-expects '" + path + "'",
         TransferVerdict::Accepted},
        {"expecting the update itself", "--device-status accept --device-version 1.05",
         TransferVerdict::Accepted},
        {"gone for a while after the first portion",
         "--device-status accept --device-version 1.05 --device-vanishes-after-portion 1:20000",
         TransferVerdict::Accepted, true},
        {"a word it does not know", "--device-colour blue", TransferVerdict::Failed},
        {"an unclosed quote", "--device-expects 'fw.upd", TransferVerdict::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TraceCapture lines;
        std::string error;
        const bool taken = winmmstandin::Simulate(
            c.words, update, std::make_unique<VirtualClockScheduler>(clock), error);
        EXPECT_EQ(taken, c.verdict != TransferVerdict::Failed) << error;
        if (!taken)
            continue;
        testsupport::RecordingProgress progress;
        {
            WindowsMidiPort port(update.windowsParameters);
            SimpleSysExSender sender(port);
            EXPECT_EQ(sender.Send(update, progress), c.verdict);
        }
        const auto integrity = winmmstandin::SimulatedIntegrity();
        ASSERT_TRUE(integrity);
        EXPECT_TRUE(integrity->identical) << integrity->text;
        EXPECT_EQ(integrity->portions, 2u);
        EXPECT_TRUE(lines.Contains("Integrity: " + integrity->text + "\n"));
        const std::vector<std::string> records = lines.Records();
        EXPECT_EQ(
            std::any_of(records.begin(), records.end(),
                        [](const std::string& r) { return r.rfind(" connected=no", 0) == 0; }),
            c.away);
        winmmstandin::EndSimulation();
    }

    // The program's own way in: the environment.
    TraceCapture lines;
    _putenv_s("MIDI_UPDATER_SIMULATE", "--device-name Keys");
    std::string error;
    EXPECT_TRUE(winmmstandin::SimulateFromEnvironment(update, error)) << error;
    ListInterfaces();
    EXPECT_TRUE(lines.Contains("  MIDI OUT port #2: Keys\n"));
    winmmstandin::EndSimulation();
    _putenv_s("MIDI_UPDATER_SIMULATE", "");
    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
}
