// `send --midi jack` against `device --jack`, two processes of the console program
// talking through a JACK server the test starts itself. Real time, bounded by the wall
// clock, and kept few: each one is a whole transfer.

#include "harness/JackServer.h"
#include "tests/EndToEnd.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

using testsupport::Bytes;
using testsupport::Messages;
using testsupport::Process;
using Clock = std::chrono::steady_clock;

class JackEndToEnd : public testsupport::ConsoleEndToEnd {
protected:
    JackEndToEnd() : ConsoleEndToEnd("jack", MIDI_UPDATER_CLI) {}
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << "the JACK server did not start:\n" << server.Log();
        ConsoleEndToEnd::SetUp();
    }

    testsupport::JackServer server;
};

} // namespace

TEST_F(JackEndToEnd, ThreePortionsWithBusyAndErrorReplies) {
    const std::string update = Write(
        {{Messages(3000, 100, 1), 200}, {Messages(9000, 3000, 2), 0}, {Messages(500, 50, 3), 0}});
    auto device = Device(update, {"--device-status", "busy:2,accept,error"});
    ASSERT_TRUE(device->WaitForOutput("Serving", std::chrono::seconds(10))) << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(std::chrono::seconds(60)), 4) << send->Out() << send->Err();
    EXPECT_NE(send->Out().find("There was an error sending the update file."), std::string::npos);
    EXPECT_NE(send->Out().find("Waiting for device to complete update installation..."),
              std::string::npos);
    EXPECT_NE(
        Report(*device).find("device received 3 portions, 12.2KB, identical to the update file"),
        std::string::npos);
}

TEST_F(JackEndToEnd, SilentDeviceConfirmsByItsIdentity) {
    const std::string update = Write({{Messages(2000, 100, 1), 0}});
    auto device = Device(update, {"--device-status", "silent", "--device-version", "1.05"});
    ASSERT_TRUE(device->WaitForOutput("Serving", std::chrono::seconds(10))) << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(std::chrono::seconds(60)), 0) << send->Out() << send->Err();
    EXPECT_NE(send->Out().find("The 'Widget' was updated sucessfully to version 1.05."),
              std::string::npos);
    const std::string report = Report(*device);
    EXPECT_NE(report.find("and 1 identity request."), std::string::npos) << report;
}

TEST_F(JackEndToEnd, DeviceThatAppearsLateOrVanishesBetweenPortions) {
    const std::string update = Write({{Messages(4000, 200, 1), 0}, {Messages(4000, 200, 2), 0}});
    {
        auto send = Send(update); // before the device is there
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        auto device = Device(update, {});
        EXPECT_EQ(send->Wait(std::chrono::seconds(60)), 0) << send->Out() << send->Err();
        EXPECT_NE(Report(*device).find("identical to the update file"), std::string::npos);
    }
    auto device = Device(update, {"--device-vanishes-after-portion", "1:3000"});
    ASSERT_TRUE(device->WaitForOutput("Serving", std::chrono::seconds(10))) << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(std::chrono::seconds(90)), 0) << send->Out() << send->Err();
    const std::string report = Report(*device);
    EXPECT_NE(report.find("The device has vanished."), std::string::npos) << report;
    EXPECT_NE(report.find("device received 2 portions, 7.8KB, identical to the update file"),
              std::string::npos)
        << report;
}

TEST_F(JackEndToEnd, OneMebibyteArrivesWholeAndInOrder) {
    std::vector<Update::SysExPortion> portions;
    for (unsigned char p = 0; p < 4; ++p)
        portions.push_back({Messages(256 * 1024, 256, p), 250});
    const std::string update = Write(portions);
    auto device = Device(update, {});
    ASSERT_TRUE(device->WaitForOutput("Serving", std::chrono::seconds(10))) << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(std::chrono::seconds(60)), 0) << send->Out() << send->Err();
    EXPECT_NE(
        Report(*device).find("device received 4 portions, 1.0MB, identical to the update file"),
        std::string::npos);
}

TEST_F(JackEndToEnd, RefusalsComeBeforeAnyByteIsSent) {
    // A plain SysEx file names no port: refused, with the ports listed, unless --port
    // names one. A message larger than one JACK event: refused whatever the port.
    const std::string plain = (dir / "plain.syx").string();
    const Bytes messages = Messages(3000, 300, 1);
    std::ofstream(plain, std::ios::binary)
        .write(reinterpret_cast<const char*>(messages.data()), messages.size());
    auto device = Device(plain, {});
    ASSERT_TRUE(device->WaitForOutput("Serving", std::chrono::seconds(10))) << device->Err();

    Process unnamed(dir.string(), "unnamed", {MIDI_UPDATER_CLI, "send", plain, "--midi", "jack"});
    EXPECT_EQ(unnamed.Wait(std::chrono::seconds(30)), 1);
    const std::string said = unnamed.Out() + unnamed.Err();
    EXPECT_NE(said.find("names no MIDI port"), std::string::npos) << said;
    EXPECT_NE(said.find("Widget MIDI:in"), std::string::npos) << said;

    const std::string huge = Write({{Messages(100000, 100000, 2), 0}});
    Process oversized(dir.string(), "oversized",
                      {MIDI_UPDATER_CLI, "send", huge, "--midi", "jack"});
    EXPECT_EQ(oversized.Wait(std::chrono::seconds(30)), 1);
    EXPECT_NE((oversized.Out() + oversized.Err()).find("100000 bytes"), std::string::npos)
        << oversized.Out() << oversized.Err();

    Process named(dir.string(), "named",
                  {MIDI_UPDATER_CLI, "send", plain, "--midi", "jack", "--port", "Widget MIDI"});
    EXPECT_EQ(named.Wait(std::chrono::seconds(30)), 0) << named.Out() << named.Err();
    const std::string report = Report(*device);
    EXPECT_NE(report.find("device received 1 portion, 2.9KB, identical to the update file"),
              std::string::npos)
        << report;
}

// A device served once takes update after update, each as the first, under a client name
// with a colon in it; a port that only sends is refused at once.
TEST_F(JackEndToEnd, TheDeviceServesTransferAfterTransfer) {
    const std::string update = Write({{Messages(4000, 200, 1), 100}, {Messages(2000, 100, 2), 0}});
    auto device = std::make_unique<Process>(dir.string(), "device",
                                            std::vector<std::string>{MIDI_UPDATER_CLI, "device",
                                                                     "--jack", "Synth: Pro",
                                                                     "--device-expects", update});
    ASSERT_TRUE(device->WaitForOutput("Serving 'Synth: Pro'", std::chrono::seconds(10)))
        << device->Out() << device->Err();
    std::vector<double> seconds;
    for (int transfer = 0; transfer < 3; ++transfer) {
        const auto start = Clock::now();
        Process send(dir.string(), "send",
                     {MIDI_UPDATER_CLI, "send", update, "--midi", "jack", "--port", "Synth: Pro"});
        EXPECT_EQ(send.Wait(std::chrono::seconds(60)), 0) << send.Out() << send.Err();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    // A later transfer that gets no replies waits seconds for each portion's status.
    EXPECT_LT(seconds[1], seconds[0] + 2.0);
    EXPECT_LT(seconds[2], seconds[0] + 2.0);

    Process output(
        dir.string(), "output",
        {MIDI_UPDATER_CLI, "send", update, "--midi", "jack", "--port", "Synth: Pro:out"});
    EXPECT_EQ(output.Wait(std::chrono::seconds(30)), 1);
    EXPECT_NE((output.Out() + output.Err()).find("only sends MIDI"), std::string::npos)
        << output.Out() << output.Err();

    const std::string report = Report(*device);
    std::size_t identical = 0;
    for (std::size_t at = 0;
         (at = report.find("5.9KB, identical to the update file", at)) != std::string::npos; ++at)
        ++identical;
    EXPECT_EQ(identical, 3u) << report;
    EXPECT_EQ(report.find("beyond"), std::string::npos) << report;
}

// A device serving when the server stops says so, and serves again once it is back.
TEST_F(JackEndToEnd, TheDeviceServesAgainWhenTheServerComesBack) {
    const std::string update = Write({{Messages(2000, 100, 1), 0}});
    auto device = Device(update, {});
    ASSERT_TRUE(device->WaitForOutput("Serving", std::chrono::seconds(10))) << device->Err();
    server.Stop();
    ASSERT_TRUE(device->WaitForOutput("The JACK server has gone", std::chrono::seconds(20)))
        << device->Out() << device->Err();
    ASSERT_TRUE(server.Start()) << server.Log();
    const std::string before = device->Out();
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (device->Out().rfind("Serving") < before.size() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_GE(device->Out().rfind("Serving"), before.size()) << device->Out() << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(std::chrono::seconds(60)), 0) << send->Out() << send->Err();
    EXPECT_NE(Report(*device).find("identical to the update file"), std::string::npos);
}
