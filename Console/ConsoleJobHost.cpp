#include "Console/ConsoleJobHost.h"

#include "Console/WatchedPort.h"
#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/Update.h"
#include "Simulator/SimulatedMidiPort.h"

#include <stdexcept>

namespace midiupdate {

ConsoleJobHost::ConsoleJobHost(ConsoleDisplay& display, TransferWatch& watch, PortChoice choice,
                               LogLine log)
    : display(display), watch(watch), choice(std::move(choice)), log(std::move(log)) {}

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
    if (choice.real) // the real port finds the device by the update's names itself
        return std::make_unique<WatchedPort>(choice.real(update), std::set<std::string>{}, "",
                                             watch);
    const SimulationSettings& simulation = choice.simulation;
    DeviceHost host;
    if (!update.macPortNames.empty())
        host.defaultName = *update.macPortNames.begin();
    std::unique_ptr<ReplyScheduler> scheduler;
    if (simulation.virtualClock)
        scheduler = std::make_unique<VirtualClockScheduler>(*simulation.virtualClock);
    else
        scheduler = std::make_unique<RealTimeScheduler>();
    std::string error;
    device = ServedDevice::Make(simulation.options, &update, host, std::move(scheduler), error,
                                simulation.expects);
    if (!device)
        throw std::runtime_error(error);
    if (simulation.corruptByte)
        device->Device().CorruptReceivedByte(simulation.corruptByte->first,
                                             simulation.corruptByte->second);

    const DeviceOptions& options = simulation.options;
    auto port = std::make_unique<SimulatedMidiPort>(device->Device(), options.idealChunkSize,
                                                    options.maxChunkSize);
    return std::make_unique<WatchedPort>(std::move(port), update.macPortNames,
                                         device->Config().name, watch);
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
    return device->Device().Integrity();
}

} // namespace midiupdate
