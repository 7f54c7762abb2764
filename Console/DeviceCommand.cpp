#include "Console/Commands.h"
#include "Console/DeviceReport.h"
#include "Console/SignalWatcher.h"
#include "Console/TransferWatch.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/Hosting/AlsaDeviceEndpoint.h"
#include "Simulator/Hosting/JackDeviceEndpoint.h"
#include "Simulator/ServedDevice.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <memory>
#include <ostream>
#include <thread>

namespace midiupdate {
namespace {

// How often the device's coming and going is followed: well within the sender's
// one-second connection checks.
const auto presencePoll = std::chrono::milliseconds(20);
// How often a JACK server that went away is looked for again.
const auto serverRetry = std::chrono::milliseconds(500);
// JACK's client names and ALSA's client and port names hold at most 63 bytes.
const std::size_t maxNameBytes = 63;

struct DeviceRequest {
    std::optional<std::string> jack;
    std::optional<std::string> alsa;
    std::vector<std::string> deviceWords;
};

// The device on a real port, present only while the simulated device is.
class Served {
public:
    virtual ~Served() = default;
    virtual std::string Name() const = 0; // as the server knows it
    virtual bool ServerGone() const { return false; }
    virtual void AddArrival(ArrivalStatistics&) {}
};

class ServedOnJack : public Served {
public:
    explicit ServedOnJack(SimulatedDevice& device) : endpoint(device) {}
    bool Open(const std::string& name, std::string& error) { return endpoint.Open(name, error); }
    std::string Name() const override { return endpoint.ClientName(); }
    bool ServerGone() const override { return endpoint.ServerGone(); }
    void AddArrival(ArrivalStatistics& total) override {
        const ArrivalStatistics mine = endpoint.Arrival();
        total.bytes += mine.bytes;
        total.bursts += mine.bursts;
        total.activeSeconds += mine.activeSeconds;
    }

private:
    JackDeviceEndpoint endpoint;
};

class ServedOnAlsa : public Served {
public:
    explicit ServedOnAlsa(SimulatedDevice& device) : endpoint(device) {}
    bool Open(const std::string& name, std::string& error) {
        this->name = name; // the sequencer takes names as given, twice over if need be
        return endpoint.Open(name, error);
    }
    std::string Name() const override { return name; }

private:
    AlsaDeviceEndpoint endpoint;
    std::string name;
};

template <class Endpoint>
std::unique_ptr<Served> Open(SimulatedDevice& device, const std::string& name, std::string& error) {
    auto served = std::make_unique<Endpoint>(device);
    if (!served->Open(name, error))
        return nullptr;
    return served;
}

// The request checked; exitOk, or exitUsage with the reason told.
int CheckRequest(const DeviceRequest& request, DeviceOptions& options, std::ostream& err) {
    std::string error;
    if (!ParseDeviceOptions(request.deviceWords, options, error)) {
        err << "device: " << error << '\n';
        return exitUsage;
    }
    if (options.expectsPath.empty()) {
        // Only the update tells the device where one portion ends and the next begins.
        err << "device: --device-expects FILE is needed: the update the device expects\n";
        return exitUsage;
    }
    if (!request.jack && !request.alsa) {
        err << "device: say where to serve it: --jack NAME or --alsa NAME\n";
        return exitUsage;
    }
    const std::string& name = request.jack ? *request.jack : *request.alsa;
    if (name.empty() || name.size() > maxNameBytes) {
        err << "device: the port's name must be 1 to " << maxNameBytes << " bytes long, not "
            << name.size() << '\n';
        return exitUsage;
    }
    return exitOk;
}

// Serves the device until the user ends it: on the port while the device is present,
// again after the JACK server has gone and come back, and telling of each transfer as
// the next begins. exitOk, or exitRejected when the port cannot be served at all.
class Service {
public:
    Service(SimulatedDevice& device, const DeviceRequest& request, std::ostream& out,
            std::ostream& err)
        : device(device), jack(request.jack.has_value()),
          name(jack ? *request.jack : *request.alsa), api(jack ? "JACK" : "the ALSA sequencer"),
          out(out), err(err) {}

    int Run(const TransferWatch& watch) {
        while (!watch.WasInterrupted()) {
            if (!Follow())
                return exitRejected;
            TellEndedTransfers();
            std::this_thread::sleep_for(presencePoll);
        }
        if (served)
            served->AddArrival(arrival);
        served.reset();
        return exitOk;
    }

    const ArrivalStatistics& Arrival() const { return arrival; }

private:
    // False when the port cannot be served the first time.
    bool Follow() {
        const auto now = std::chrono::steady_clock::now();
        if (served && served->ServerGone()) {
            Withdraw();
            out << "The JACK server has gone; the device is served again once it is back.\n"
                << std::flush;
            retryAt = now + serverRetry;
        }
        const bool present = device.IsPresent();
        if (present && !served && now >= retryAt) {
            std::string error;
            served = jack ? Open<ServedOnJack>(device, name, error)
                          : Open<ServedOnAlsa>(device, name, error);
            if (!served && !everServed) {
                err << "device: cannot serve on " << api << ": " << error << '\n';
                return false;
            }
            if (!served) {
                retryAt = now + serverRetry;
                return true;
            }
            everServed = true;
            out << "Serving '" << served->Name() << "' on " << api << ".\n" << std::flush;
        } else if (!present && served) {
            Withdraw();
            out << "The device has vanished.\n" << std::flush;
        }
        return true;
    }

    void Withdraw() {
        served->AddArrival(arrival);
        served.reset();
    }

    void TellEndedTransfers() {
        const std::vector<SimulatedDevice::TransferReport> transfers = device.Transfers();
        for (; told + 1 < transfers.size(); ++told) {
            TellTransfer(transfers[told], out);
            out << "A new transfer begins.\n" << std::flush;
        }
    }

    SimulatedDevice& device;
    const bool jack;
    const std::string name;
    const char* const api;
    std::ostream& out;
    std::ostream& err;
    std::unique_ptr<Served> served;
    bool everServed = false;
    std::chrono::steady_clock::time_point retryAt{};
    std::size_t told = 0; // transfers told of
    ArrivalStatistics arrival;
};

int ServeDevice(const DeviceRequest& request, std::ostream& out, std::ostream& err) {
    DeviceOptions options;
    if (const int refused = CheckRequest(request, options, err); refused != exitOk)
        return refused;
    options.device.servesAgain = true;
    DeviceHost host;
    host.defaultName = request.jack ? *request.jack : *request.alsa;
    std::string error;
    TransferWatch watch(std::nullopt);
    // Before the device's threads start, so that only the watcher takes the signals.
    SignalWatcher signals(watch);
    const std::unique_ptr<ServedDevice> served =
        ServedDevice::Make(options, nullptr, host, std::make_unique<RealTimeScheduler>(), error);
    if (!served) {
        err << "device: " << error << '\n';
        return exitUsage;
    }
    const Update& expects = served->Expected();
    SetTraceSink([](const std::string&) {}); // the device's own log would bury its report
    const std::size_t portions = expects.sysExPortions.size();
    out << "Device '" << served->Config().name << "' expects " << portions
        << (portions == 1 ? " portion (" : " portions (") << BytesToHuman(expects.TotalSysExSize())
        << "); Ctrl-C ends.\n"
        << std::flush;
    Service service(served->Device(), request, out, err);
    int status = service.Run(watch);
    if (status == exitOk)
        status = ReportDevice(served->Device(), service.Arrival(), out);
    SetTraceSink(nullptr);
    return status;
}

} // namespace

Command AddDeviceCommand(CLI::App& program) {
    auto request = std::make_shared<DeviceRequest>();
    CLI::App* device = program.add_subcommand(
        "device", "Serve a simulated device on a real MIDI port until Ctrl-C, then report what "
                  "it received.");
    CLI::Option* jack =
        device->add_option("--jack", request->jack, "Serve it on JACK as client NAME.")
            ->type_name("NAME");
    device->add_option("--alsa", request->alsa, "Serve it on the ALSA sequencer as port NAME.")
        ->type_name("NAME")
        ->excludes(jack);
    const auto word = [&](const std::string& name, const std::string& placeholder,
                          const std::string& help) {
        device
            ->add_option_function<std::string>(
                name,
                [request, name](const std::string& value) {
                    request->deviceWords.insert(request->deviceWords.end(), {name, value});
                },
                help)
            ->type_name(placeholder)
            ->group("Simulated device");
    };
    word("--device-expects", "FILE", "The update the device expects (needed).");
    word("--device-name", "NAME", "The name in its identity reply (default: the port's).");
    word("--device-status", "SCRIPT",
         "Replies per portion, the last repeating: accept, error, busy:N, busy, silent, garbage, "
         "endless (default accept).");
    word("--device-version", "MAJOR.MINOR",
         "The version it answers the identity request with (default: it does not answer).");
    word("--device-identity", "FAULT",
         "The identity reply is short, foreign (another universal reply) or no-f7.");
    word("--device-appears-after", "MS", "Milliseconds before its port is there.");
    word("--device-vanishes-after-portion", "N:MS",
         "After portion N its port is away for MS milliseconds.");
    word("--device-vanishes-during-portion", "N:MS",
         "Halfway through portion N its port is away for MS milliseconds; the rest of the "
         "portion is lost.");
    return {device, [request](std::ostream& out, std::ostream& err) {
                return ServeDevice(*request, out, err);
            }};
}

} // namespace midiupdate
