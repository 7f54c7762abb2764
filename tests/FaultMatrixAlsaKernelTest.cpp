// The fault matrix through the ALSA port and the kernel's own sequencer, in real time:
// run inside the user-mode Linux kernel (tests/uml/run.sh). Threads: the test's thread
// runs the transfer; a presence thread serves the device on the sequencer while it is
// there; the sequencer's reader threads and the device's carry the bytes.

#include "Simulator/Hosting/AlsaDeviceEndpoint.h"
#include "Linux/AlsaSequencerPort.h"
#include "MidiUpdateLib/Update.h"
#include "Simulator/SimulatedDevice.h"
#include "tests/FaultMatrix.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

// As the console's device follows its coming and going: well within the sender's
// one-second connection checks.
const auto presencePoll = std::chrono::milliseconds(20);

// Rows of minutes are left to the JACK column: the kernel's sequencer would only repeat
// the same waits.
const unsigned int minutesRow = 100;

// The device's client "Widget" is there only while the device is present, as a USB
// device's is only while it is plugged in.
class Presence {
public:
    explicit Presence(SimulatedDevice& device) : device(device) {
        Follow(); // before the transfer begins, so a present device is there at once
        thread = std::thread([this] {
            while (!stopping) {
                std::this_thread::sleep_for(presencePoll);
                Follow();
            }
        });
    }
    ~Presence() {
        stopping = true;
        thread.join();
    }
    Presence(const Presence&) = delete;
    Presence& operator=(const Presence&) = delete;

private:
    void Follow() {
        const bool present = device.IsPresent();
        if (present && !served) {
            auto endpoint = std::make_unique<midiupdate::AlsaDeviceEndpoint>(device);
            std::string error;
            if (endpoint->Open("Widget", error))
                served = std::move(endpoint);
            else if (!told)
                ADD_FAILURE() << "the device cannot be served: " << error;
            told = !served;
        } else if (!present && served) {
            served.reset();
        }
    }

    SimulatedDevice& device;
    std::unique_ptr<midiupdate::AlsaDeviceEndpoint> served;
    bool told = false;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

class AlsaKernelPortUnderTest : public testsupport::PortUnderTest {
public:
    const char* Name() const override { return "ALSA port, kernel sequencer"; }
    bool AsksForIdentity() const override { return true; }
    bool RealTime() const override { return true; }
    void Adjust(SimulatedDeviceConfig& config) const override { config.ownDeliveryThread = true; }
    std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update,
                                     VirtualClock&) override {
        presence = std::make_unique<Presence>(device);
        return std::make_unique<midiupdate::AlsaSequencerPort>(
            midiupdate::PortSettingsFor(update, std::nullopt));
    }
    void Detach(SimulatedDevice&) override { presence.reset(); }

private:
    std::unique_ptr<Presence> presence;
};

// "busy three times, then accepts" -> "busy_three_times_then_accepts"
std::string TestName(const std::string& label) {
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

std::vector<std::string> Labels() {
    std::vector<std::string> labels;
    for (const auto& row : testsupport::FaultMatrixRows(AlsaKernelPortUnderTest()))
        if (row.maxExtraSeconds < minutesRow)
            labels.push_back(row.label);
    return labels;
}

class AlsaKernelFaultMatrix : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(AlsaKernelFaultMatrix, Scenario) {
    ASSERT_EQ(access("/dev/snd/seq", R_OK | W_OK), 0)
        << "no sequencer: run inside the kernel (tests/uml/run.sh)";
    AlsaKernelPortUnderTest port;
    testsupport::RunFaultMatrixRow(port, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Seconds, AlsaKernelFaultMatrix, ::testing::ValuesIn(Labels()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return TestName(info.param);
                         });
