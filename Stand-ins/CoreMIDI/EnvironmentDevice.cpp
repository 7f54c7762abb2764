#include "Stand-ins/CoreMIDI/Simulation.h"

#include "MidiUpdateLib/Update.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/ServedDevice.h"

#include <memory>
#include <mutex>

namespace coremidistandin {

namespace {

std::mutex environmentLock;
ServedDevice* current = nullptr; // never freed while the program runs

} // namespace

bool SimulateFromEnvironment(const Update& update, std::string& error) {
    if (!SimulateVariableGiven())
        return true;
    DeviceOptions options;
    if (!DeviceOptionsFromEnvironment(options, error))
        return false;
    DeviceHost host;
    if (!update.macPortNames.empty())
        host.defaultName = *update.macPortNames.begin();
    host.copyPortions = true; // the device outlives the job and its update
    host.ownDeliveryThread = false;
    std::unique_ptr<ServedDevice> replacement =
        ServedDevice::Make(options, &update, host, std::make_unique<RealTimeScheduler>(), error);
    if (!replacement) {
        error = "MIDI_UPDATER_SIMULATE: " + error;
        return false;
    }

    std::lock_guard<std::mutex> guard(environmentLock);
    if (current != nullptr) {
        DetachDevice(current->Device());
        delete current;
    }
    EndpointSpec spec;
    spec.name = replacement->Config().name;
    spec.manufacturer = "Simulated";
    AttachDevice(replacement->Device(), spec);
    current = replacement.release();
    return true;
}

std::string EnvironmentDeviceIntegrity() {
    std::lock_guard<std::mutex> guard(environmentLock);
    if (current == nullptr)
        return std::string();
    const std::optional<IntegrityReport> report = current->Device().Integrity();
    return report ? report->text : std::string();
}

} // namespace coremidistandin
