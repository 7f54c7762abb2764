#include "Stand-ins/CoreMIDI/Simulation.h"

#include "MidiUpdateLib/Update.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/ReplyScheduler.h"
#include "Simulator/SimulatedDevice.h"

#include <cstdlib>
#include <memory>
#include <mutex>

namespace coremidistandin {

namespace {

// The device of the last call, with the bytes it compares against.
struct EnvironmentDevice {
    std::unique_ptr<Update> expectedUpdate;           // --device-expects
    std::vector<std::vector<unsigned char>> portions; // else: a copy of the job's update
    std::unique_ptr<SimulatedDevice> device;          // last: refers to the above
};

std::mutex environmentLock;
EnvironmentDevice* current = nullptr; // never freed while the program runs

} // namespace

bool SimulateFromEnvironment(const Update& update, std::string& error) {
    const char* text = std::getenv("MIDI_UPDATER_SIMULATE");
    if (text == nullptr || *text == '\0')
        return true;
    std::vector<std::string> words;
    DeviceOptions options;
    if (!SplitShellWords(text, words, error) || !ParseDeviceOptions(words, options, error)) {
        error = "MIDI_UPDATER_SIMULATE: " + error;
        return false;
    }

    auto replacement = std::make_unique<EnvironmentDevice>();
    SimulatedDeviceConfig config = options.device;
    if (!options.nameGiven && !update.macPortNames.empty())
        config.name = *update.macPortNames.begin();
    if (!options.expectsPath.empty()) {
        replacement->expectedUpdate = LoadExpectedUpdate(options.expectsPath, error);
        if (!replacement->expectedUpdate) {
            error = "MIDI_UPDATER_SIMULATE: " + error;
            return false;
        }
        config.expected = PortionViews(*replacement->expectedUpdate);
    } else {
        for (const Update::SysExPortion& portion : update.sysExPortions)
            replacement->portions.push_back(portion.sysEx);
        for (const std::vector<unsigned char>& portion : replacement->portions)
            config.expected.push_back(ByteView{portion.data(), portion.size()});
    }
    config.keepReceived = false;
    replacement->device =
        std::make_unique<SimulatedDevice>(config, std::make_unique<RealTimeScheduler>());

    std::lock_guard<std::mutex> guard(environmentLock);
    if (current != nullptr) {
        DetachDevice(*current->device);
        delete current;
    }
    EndpointSpec spec;
    spec.name = config.name;
    spec.manufacturer = "Simulated";
    AttachDevice(*replacement->device, spec);
    current = replacement.release();
    return true;
}

std::string EnvironmentDeviceIntegrity() {
    std::lock_guard<std::mutex> guard(environmentLock);
    if (current == nullptr)
        return std::string();
    const std::optional<IntegrityReport> report = current->device->Integrity();
    return report ? report->text : std::string();
}

} // namespace coremidistandin
