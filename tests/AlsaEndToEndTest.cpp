// `send --midi alsa` against `device --alsa` through the kernel's own ALSA sequencer:
// run inside the user-mode Linux kernel (tests/uml/run.sh), where /dev/snd/seq is real.
// Real time, bounded by the wall clock, and kept few: each one is a whole transfer.

#include "tests/EndToEnd.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using std::chrono::seconds;
using testsupport::Bytes;
using testsupport::Messages;
using testsupport::Process;

// The bytes of every SysEx event aseqdump printed, in order.
Bytes DumpedSysEx(const std::string& dump) {
    Bytes bytes;
    std::istringstream lines(dump);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t at = line.find("System exclusive");
        if (at == std::string::npos)
            continue;
        std::istringstream hex(line.substr(at + 16));
        unsigned int byte;
        while (hex >> std::hex >> byte)
            bytes.push_back(static_cast<unsigned char>(byte));
    }
    return bytes;
}

class AlsaEndToEnd : public testsupport::ConsoleEndToEnd {
protected:
    AlsaEndToEnd() : ConsoleEndToEnd("alsa", MIDI_UPDATER_CLI) {}
    void SetUp() override {
        ASSERT_EQ(access("/dev/snd/seq", R_OK | W_OK), 0)
            << "no sequencer: run inside the kernel (tests/uml/run.sh)";
        ConsoleEndToEnd::SetUp();
    }
};

} // namespace

TEST_F(AlsaEndToEnd, ThreePortionsWithBusyAndErrorReplies) {
    const std::string update = Write(
        {{Messages(3000, 100, 1), 200}, {Messages(9000, 3000, 2), 0}, {Messages(500, 50, 3), 0}});
    auto device = Device(update, {"--device-status", "busy:2,accept,error"});
    ASSERT_TRUE(device->WaitForOutput("Serving", seconds(20))) << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(seconds(90)), 4) << send->Out() << send->Err();
    EXPECT_NE(send->Out().find("There was an error sending the update file."), std::string::npos);
    const std::string report = Report(*device);
    EXPECT_NE(report.find("device received 3 portions, 12.2KB, identical to the update file"),
              std::string::npos)
        << report;
}

// Messages far larger than the sequencer's event pieces, back to back, no pacing.
TEST_F(AlsaEndToEnd, LargeMessagesBackToBackArriveWhole) {
    for (const std::size_t size : {8000u, 32000u}) {
        SCOPED_TRACE(size);
        const std::string update =
            Write({{Messages(4 * size, size, 1), 0}, {Messages(4 * size, size, 2), 0}});
        auto device = Device(update, {"--device-version", "1.05"});
        ASSERT_TRUE(device->WaitForOutput("Serving", seconds(20))) << device->Err();
        auto send = Send(update);
        EXPECT_EQ(send->Wait(seconds(90)), 0) << send->Out() << send->Err();
        const std::string report = Report(*device);
        EXPECT_NE(report.find("identical to the update file"), std::string::npos) << report;
    }
}

TEST_F(AlsaEndToEnd, SilentDeviceConfirmsByItsIdentity) {
    const std::string update = Write({{Messages(2000, 100, 1), 0}});
    auto device = Device(update, {"--device-status", "silent", "--device-version", "1.05"});
    ASSERT_TRUE(device->WaitForOutput("Serving", seconds(20))) << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(seconds(90)), 0) << send->Out() << send->Err();
    EXPECT_NE(send->Out().find("The 'Widget' was updated sucessfully to version 1.05."),
              std::string::npos);
    const std::string report = Report(*device);
    EXPECT_NE(report.find("and 1 identity request."), std::string::npos) << report;
}

// The sender waits for a device that comes late, and aseqdump, listening to the
// sender's own port, sees the same bytes as the device; then one that goes away
// between portions and comes back.
TEST_F(AlsaEndToEnd, LateOrVanishingDeviceAndAnIndependentListener) {
    const std::vector<Update::SysExPortion> portions = {{Messages(4000, 200, 1), 0},
                                                        {Messages(4000, 200, 2), 0}};
    const std::string update = Write(portions);
    {
        auto send = Send(update); // before the device is there
        std::unique_ptr<Process> dump;
        for (int attempt = 0; attempt < 100 && !dump; ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            dump = std::make_unique<Process>(
                dir.string(), "dump",
                std::vector<std::string>{"aseqdump", "-p", "midi-updater:out"});
            if (dump->Wait(seconds(1)) != -1)
                dump.reset(); // the sender's port is not there yet
        }
        ASSERT_TRUE(dump) << "aseqdump found no sender";
        auto device = Device(update, {});
        EXPECT_EQ(send->Wait(seconds(90)), 0) << send->Out() << send->Err();
        EXPECT_NE(Report(*device).find("identical to the update file"), std::string::npos);
        Bytes expected = portions[0].sysEx;
        expected.insert(expected.end(), portions[1].sysEx.begin(), portions[1].sysEx.end());
        const Bytes dumped = DumpedSysEx(dump->Out());
        EXPECT_TRUE(dumped.size() >= expected.size() &&
                    std::equal(expected.begin(), expected.end(), dumped.begin()))
            << "aseqdump heard " << dumped.size() << " bytes, of which the update's "
            << expected.size() << " differ";
    }
    auto device = Device(update, {"--device-vanishes-after-portion", "1:3000"});
    ASSERT_TRUE(device->WaitForOutput("Serving", seconds(20))) << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(seconds(90)), 0) << send->Out() << send->Err();
    const std::string report = Report(*device);
    EXPECT_NE(report.find("The device has vanished."), std::string::npos) << report;
    EXPECT_NE(report.find("device received 2 portions, 7.8KB, identical to the update file"),
              std::string::npos)
        << report;
}

TEST_F(AlsaEndToEnd, OneMebibyteArrivesWholeAndInOrder) {
    std::vector<Update::SysExPortion> portions;
    for (unsigned char p = 0; p < 4; ++p)
        portions.push_back({Messages(256 * 1024, 256, p), 250});
    const std::string update = Write(portions);
    auto device = Device(update, {});
    ASSERT_TRUE(device->WaitForOutput("Serving", seconds(20))) << device->Err();
    auto send = Send(update);
    EXPECT_EQ(send->Wait(seconds(120)), 0) << send->Out() << send->Err();
    const std::string report = Report(*device);
    EXPECT_NE(report.find("device received 4 portions, 1.0MB, identical to the update file"),
              std::string::npos)
        << report;
}

// Outside the kernel, on a machine without a sequencer: said at once, as for JACK.
TEST(AlsaWithoutSequencer, SendSaysSoAtOnce) {
    if (access("/dev/snd/seq", F_OK) == 0)
        GTEST_SKIP() << "this machine has a sequencer";
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("alsa-none-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string update = (dir / "widget.upd").string();
    testsupport::WriteUpdate(update, {{Messages(200, 100, 1), 0}}, "Widget MIDI");
    Process send(dir.string(), "send", {MIDI_UPDATER_CLI, "send", update, "--midi", "alsa"});
    EXPECT_EQ(send.Wait(seconds(10)), 1) << send.Out() << send.Err();
    EXPECT_NE((send.Out() + send.Err()).find("cannot open the ALSA sequencer"), std::string::npos)
        << send.Out() << send.Err();
    std::filesystem::remove_all(dir);
}
