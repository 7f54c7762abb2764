#include "Console/ConsoleJobHost.h"

#include "Console/WatchedPort.h"
#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/Update.h"
#include "Simulator/ReplyScheduler.h"
#include "Simulator/SimulatedMidiPort.h"

namespace midiupdate {

ConsoleJobHost::ConsoleJobHost(ConsoleDisplay& display, TransferWatch& watch,
                               SimulationSettings simulation, LogLine log)
    : display(display), watch(watch), simulation(std::move(simulation)), log(std::move(log)) {}

ConsoleJobHost::~ConsoleJobHost() = default;

void ConsoleJobHost::ShowProduct(const std::string& productName, const Version& version) {
    display.Note("Product: " + productName + "    Firmware version: " + version.ToString());
}

void ConsoleJobHost::ConfirmMessage(const std::string& message) {
    // A console has no panel to wait on: the message is shown and the job goes on, as
    // the user could not decline anyway.
    display.Message(message);
}

void ConsoleJobHost::ShowImage(const std::vector<unsigned char>& image) {
    display.Note("Header image: " + BytesToHuman(static_cast<unsigned int>(image.size())) +
                 " (not shown in a console)");
}

std::unique_ptr<MidiPort> ConsoleJobHost::CreatePort(const Update& update) {
    if (simulation.realPort) // the real port finds the device by the update's names itself
        return std::make_unique<WatchedPort>(simulation.realPort(update), std::set<std::string>{},
                                             "", watch);
    const DeviceOptions& options = simulation.options;
    SimulatedDeviceConfig config = options.device;
    if (!options.nameGiven && !update.macPortNames.empty())
        config.name = *update.macPortNames.begin();
    // The device compares against the update's own bytes as they arrive: no copies.
    config.expected = PortionViews(simulation.expects ? *simulation.expects : update);
    config.keepReceived = false;
    // Replies arrive on a thread of the device's own, as a driver's would.
    config.ownDeliveryThread = true;

    std::unique_ptr<ReplyScheduler> scheduler;
    if (simulation.virtualClock)
        scheduler = std::make_unique<VirtualClockScheduler>(*simulation.virtualClock);
    else
        scheduler = std::make_unique<RealTimeScheduler>();
    device = std::make_unique<SimulatedDevice>(config, std::move(scheduler));
    if (simulation.corruptByte)
        device->CorruptReceivedByte(simulation.corruptByte->first, simulation.corruptByte->second);

    auto port =
        std::make_unique<SimulatedMidiPort>(*device, options.idealChunkSize, options.maxChunkSize);
    return std::make_unique<WatchedPort>(std::move(port), update.macPortNames, config.name, watch);
}

void ConsoleJobHost::PortionUndelivered(unsigned int portion, unsigned long long bytes) {
    nlohmann::ordered_json fact;
    fact["portion"] = portion;
    fact["bytes"] = bytes;
    display.Fact("undelivered", fact,
                 Format("Portion %u: %llu bytes did not reach the device.", portion, bytes), true);
}

void ConsoleJobHost::ReportFailure(JobFailure kind, const std::string& reason) {
    failure = reason;
    if (watch.WasInterrupted())
        return; // the user knows; the command says so once it has ended
    display.Failure(kind == JobFailure::Unknown && reason.empty() ? "unknown reason" : reason);
}

void ConsoleJobHost::JobFinished(bool) {
    finished = true;
}

std::optional<IntegrityReport> ConsoleJobHost::Integrity() const {
    if (!device)
        return std::nullopt;
    return device->Integrity();
}

} // namespace midiupdate
