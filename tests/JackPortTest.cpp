// The JACK port against a real JACK server that the test starts itself. Real time:
// replies cross the server's threads, which do not follow the virtual clock. Bounded by
// the wall clock and kept few.

#include "Linux/JackMidiPort.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "Simulator/Hosting/JackDeviceEndpoint.h"
#include "Simulator/SimulatedDevice.h"
#include "harness/JackServer.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>

using namespace midiupdate;
using testsupport::Bytes;
using testsupport::Message;
using testsupport::Repeat;

namespace {

class JackPort : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<testsupport::JackServer>(); }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override {
        ASSERT_TRUE(server->Ready()) << "the JACK server did not start:\n" << server->Log();
    }

    static SimulatedDeviceConfig Device(const Update& update, std::optional<Version> version) {
        SimulatedDeviceConfig config;
        config.portionSizes = PortionSizes(update);
        config.version = version;
        config.ownDeliveryThread = true;
        return config;
    }

    static LinuxPortSettings Settings(const std::string& name) {
        LinuxPortSettings settings;
        settings.names = {name};
        settings.idealChunkSize = 2048;
        settings.maxChunkSize = 16384;
        return settings;
    }

    static std::unique_ptr<testsupport::JackServer> server;
};

std::unique_ptr<testsupport::JackServer> JackPort::server;

} // namespace

TEST_F(JackPort, DeliversEveryByteOfLargeMessagesSentBackToBack) {
    // Ten 8000-byte messages back to back in one portion, messages of 32 000 bytes, and
    // many small ones, which fill a cycle with events: each message is one event, and
    // none may be lost on the way.
    const Update update = testsupport::MakeUpdate({{Repeat(Message(8000, 1), 10), 0},
                                                   {Repeat(Message(32000, 2), 3), 0},
                                                   {Repeat(Message(16, 4), 4000), 0},
                                                   {Message(40, 3), 0}});
    SimulatedDevice device(Device(update, std::nullopt), std::make_unique<RealTimeScheduler>());
    JackDeviceEndpoint endpoint(device);
    std::string error;
    ASSERT_TRUE(endpoint.Open("Widget MIDI", error)) << error;

    JackMidiPort port(Settings("Widget MIDI"));
    ASSERT_TRUE(port.CanCarry(update, error)) << error;
    testsupport::RecordingProgress progress;
    Update copy = update;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SimpleSysExSender(port).Send(copy, progress), TransferVerdict::Accepted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    std::vector<Bytes> expected;
    for (const auto& portion : update.sysExPortions)
        expected.push_back(portion.sysEx);
    EXPECT_EQ(device.ReceivedPortions(), expected);
}

TEST_F(JackPort, RefusesAMessageLargerThanOneEventBeforeSendingAnything) {
    const Update update = testsupport::MakeUpdate({{Message(40, 1), 0}, {Message(200000, 2), 0}});
    JackMidiPort port(Settings("Widget MIDI"));
    std::string error;
    EXPECT_FALSE(port.CanCarry(update, error));
    EXPECT_NE(error.find("200000 bytes"), std::string::npos) << error;
}

TEST_F(JackPort, AsksForTheIdentityAndNoticesTheDeviceLeaving) {
    const Update update = testsupport::MakeUpdate({{Message(40, 1), 0}});
    SimulatedDevice device(Device(update, Version{3, 12}), std::make_unique<RealTimeScheduler>());
    auto endpoint = std::make_unique<JackDeviceEndpoint>(device);
    std::string error;
    ASSERT_TRUE(endpoint->Open("Widget Device", error)) << error;

    JackMidiPort port(Settings("Widget Device:in"));
    const Bytes reply = port.ReceiveSysEx(5000, deviceEnquiry, sizeof deviceEnquiry);
    EXPECT_EQ(ParseDeviceEnquiryResponse(reply).version, "3.12");
    ASSERT_TRUE(port.IsConnected());
    endpoint.reset();
    bool gone = false;
    for (int i = 0; i < 250 && !gone; ++i) { // the server tells within cycles; 5 s under load
        gone = !port.IsConnected();
        SleepFor(20);
    }
    EXPECT_TRUE(gone);
}

TEST_F(JackPort, DeviceRepliesGoOutWholeEvenWhenTheyNeverEnd) {
    // The device's identity reply lacks its F7; a real device's bytes would still go out.
    const Update update = testsupport::MakeUpdate({{Message(40, 1), 0}});
    SimulatedDeviceConfig config = Device(update, Version{1, 5});
    config.identityFault = IdentityFault::NoF7;
    SimulatedDevice device(config, std::make_unique<RealTimeScheduler>());
    JackDeviceEndpoint endpoint(device);
    std::string error;
    ASSERT_TRUE(endpoint.Open("Widget Device", error)) << error;

    std::mutex lock;
    Bytes heard;
    JackConnection probe([&](const unsigned char* data, std::size_t size) {
        std::lock_guard<std::mutex> guard(lock);
        heard.insert(heard.end(), data, data + size);
    });
    ASSERT_TRUE(probe.Open("probe", "out", "in", error)) << error;
    ASSERT_TRUE(probe.Connect(probe.OutputName(), "Widget Device:in"));
    ASSERT_TRUE(probe.Connect("Widget Device:out", probe.InputName()));
    ASSERT_TRUE(probe.WaitUntilConnected(probe.OutputName(), "Widget Device:in", 5000));
    ASSERT_TRUE(probe.WaitUntilConnected(probe.InputName(), "Widget Device:out", 5000));
    ASSERT_TRUE(probe.Queue(deviceEnquiry, sizeof deviceEnquiry));
    ASSERT_TRUE(probe.Drain(5000));
    const Bytes reply = IdentityReply(config);
    ASSERT_NE(reply.back(), 0xF7);
    Bytes got;
    for (int i = 0; i < 250 && got != reply; ++i) { // a few cycles; 5 s under load
        SleepFor(20);
        std::lock_guard<std::mutex> guard(lock);
        got = heard;
    }
    EXPECT_EQ(got, reply);
}

TEST_F(JackPort, FindsTheDeviceAgainOnceTheServerIsBack) {
    const Update update = testsupport::MakeUpdate({{Message(40, 1), 0}});
    SimulatedDevice device(Device(update, std::nullopt), std::make_unique<RealTimeScheduler>());
    auto endpoint = std::make_unique<JackDeviceEndpoint>(device);
    std::string error;
    ASSERT_TRUE(endpoint->Open("Widget MIDI", error)) << error;
    JackMidiPort port(Settings("Widget MIDI"));
    ASSERT_TRUE(port.IsConnected());

    server.reset(); // stopped under both clients
    SleepFor(200);
    // libjack crashes closing a second client of a stopped server in one process; the
    // programs have one client each, so the device goes first here.
    endpoint.reset();
    bool gone = false;
    for (int i = 0; i < 250 && !gone; ++i) {
        gone = !port.IsConnected();
        SleepFor(20);
    }
    EXPECT_TRUE(gone);

    server = std::make_unique<testsupport::JackServer>(); // the same name again
    ASSERT_TRUE(server->Ready()) << server->Log();
    endpoint = std::make_unique<JackDeviceEndpoint>(device);
    ASSERT_TRUE(endpoint->Open("Widget MIDI", error)) << error;
    bool back = false;
    for (int i = 0; i < 250 && !back; ++i) {
        back = port.IsConnected();
        SleepFor(20);
    }
    EXPECT_TRUE(back);
    testsupport::RecordingProgress progress;
    Update copy = update;
    EXPECT_EQ(SimpleSysExSender(port).Send(copy, progress), TransferVerdict::Accepted);
}
