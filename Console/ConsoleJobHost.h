#pragma once

// The update job's host in a console: it shows the job's reports on a ConsoleDisplay,
// puts a simulated device behind the port, and remembers how the job ended.

#include "Console/ConsoleDisplay.h"
#include "Console/TransferWatch.h"
#include "MidiUpdateLib/UpdateJob.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/ServedDevice.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class VirtualClock;

namespace midiupdate {

struct SimulationSettings {
    DeviceOptions options; // without a name given: the first Mac port name of the update
    // The update the device expects (--device-expects); null: the one being sent.
    const Update* expects = nullptr;
    VirtualClock* virtualClock = nullptr; // replies in virtual time; null: real time
    // Test-only fault: a byte the device receives wrong (portion index, offset).
    std::optional<std::pair<std::size_t, std::size_t>> corruptByte;
};

// Where the job's port leads: a real MIDI port, or else the simulated device.
struct PortChoice {
    std::function<std::unique_ptr<MidiPort>(const Update&)> real;
    SimulationSettings simulation;
};

class ConsoleJobHost : public UpdateJobHost {
public:
    using LogLine = std::function<void(const std::string& line)>;

    ConsoleJobHost(ConsoleDisplay& display, TransferWatch& watch, PortChoice choice, LogLine log);
    ~ConsoleJobHost() override;

    void JobStarted() override {}
    UpdateProgress& ProgressSink() override { return display; }
    void ShowProduct(const std::string& productName, const Version& version) override;
    void ConfirmMessage(const std::string& message) override;
    void ShowImage(const std::vector<unsigned char>& image) override;
    void TransferStarting() override {}
    std::unique_ptr<MidiPort> CreatePort(const Update& update) override;
    void ReportFailure(JobFailure kind, const std::string& reason) override;
    void JobFinished(bool succeeded) override;
    void Log(const std::string& line) override { log(line); }
    void TransferEnded(TransferVerdict verdict) override { this->verdict = verdict; }
    void PortionUndelivered(unsigned int portion, unsigned long long bytes) override;

    // How the job ended.
    bool Finished() const { return finished; }
    bool Failed() const { return failure.has_value(); }
    std::optional<TransferVerdict> Verdict() const { return verdict; }
    // Once a port was made: what the device received against the expected update.
    std::optional<IntegrityReport> Integrity() const;

private:
    ConsoleDisplay& display;
    TransferWatch& watch;
    const PortChoice choice;
    const LogLine log;

    std::unique_ptr<ServedDevice> device; // outlives the job's port
    std::optional<TransferVerdict> verdict;
    std::optional<std::string> failure;
    bool finished = false;
};

} // namespace midiupdate
