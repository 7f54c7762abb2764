#include "Console/Commands.h"
#include "Console/ConsoleDisplay.h"
#include "Console/ConsoleJobHost.h"
#include "Console/InputFile.h"
#include "Console/MidiChoice.h"
#include "Console/SignalWatcher.h"
#include "Console/TransferWatch.h"
#include "Console/UpdateJson.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"
#include "MidiUpdateLib/UpdateJob.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "Simulator/DeviceOptions.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <ostream>
#include <pthread.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace midiupdate {
namespace {

const unsigned int virtualGiveUp = 24 * 60 * 60 * 1000;

std::string Duration(std::uint64_t milliseconds) {
    if (milliseconds < 1000)
        return std::to_string(milliseconds) + " ms";
    const std::uint64_t minutes = milliseconds / 60000;
    const double seconds = static_cast<double>(milliseconds % 60000) / 1000.0;
    const std::string secondsText = Format("%.1f s", seconds);
    return minutes ? std::to_string(minutes) + " min " + secondsText : secondsText;
}

// Log lines and trace records: kept out of the display, and written where asked.
class ConsoleLog {
public:
    ConsoleLog(std::ostream* verbose, std::ostream* file) : verbose(verbose), file(file) {}

    void Write(std::string line) {
        if (line.empty() || line.back() != '\n')
            line += '\n';
        std::lock_guard<std::mutex> guard(lock);
        if (verbose)
            *verbose << line << std::flush;
        if (file)
            *file << line << std::flush;
    }

private:
    std::mutex lock;
    std::ostream* verbose;
    std::ostream* file;
};

nlohmann::ordered_json IntegrityJson(const IntegrityReport& report) {
    nlohmann::ordered_json json;
    json["identical"] = report.identical;
    json["portions"] = report.portions;
    json["bytes"] = report.bytes;
    if (!report.identical) {
        if (report.portion > 0)
            json["portion"] = report.portion;
        if (report.offset) {
            json["offset"] = *report.offset;
            json["expected"] = report.expectedByte;
            json["received"] = report.receivedByte;
        }
        json["text"] = report.text;
    }
    return json;
}

class ScopedTraceSink {
public:
    explicit ScopedTraceSink(TraceSink sink) { SetTraceSink(std::move(sink)); }
    ~ScopedTraceSink() { SetTraceSink(nullptr); }
};

} // namespace

namespace {

// The simulated device's words, collected as words so that every host parses them alike
// (Simulator/DeviceOptions.h).
void AddDeviceWords(CLI::App& send, CLI::Option* simulate, std::vector<std::string>& words) {
    struct Word {
        const char* name;
        const char* placeholder;
        const char* help;
    };
    static const Word table[] = {
        {"--device-name", "NAME", "The device's port name (default: one the update accepts)."},
        {"--device-status", "SCRIPT",
         "Replies per portion, the last repeating: accept, error, busy:N, busy, silent, "
         "garbage, endless (a status past 64 KiB without F7, then accept) (default accept)."},
        {"--device-version", "MAJOR.MINOR",
         "The version the device answers the identity request with (default: it does not "
         "answer)."},
        {"--device-identity", "FAULT",
         "The identity reply is short, foreign (another universal reply) or no-f7."},
        {"--device-appears-after", "MS", "Milliseconds before the device is there."},
        {"--device-vanishes-after-portion", "N:MS",
         "After portion N the device is away for MS milliseconds."},
        {"--device-vanishes-during-portion", "N:MS",
         "Halfway through portion N the device is away for MS milliseconds; the rest of the "
         "portion is lost."},
        {"--device-expects", "FILE",
         "The update whose portions the device expects (default: the one sent)."},
        {"--chunk-sizes", "IDEAL,MAX",
         "Chunk sizes of the simulated port in bytes (default 2048,16384)."},
    };
    for (const Word& word : table) {
        const std::string name = word.name;
        send.add_option_function<std::string>(
                name,
                [&words, name](const std::string& value) {
                    words.insert(words.end(), {name, value});
                },
                word.help)
            ->type_name(word.placeholder)
            ->needs(simulate)
            ->group("Simulated device");
    }
}

} // namespace

Command AddSendCommand(CLI::App& program) {
    struct Options {
        SendRequest request;
    };
    auto options = std::make_shared<Options>();
    SendRequest& r = options->request;

    CLI::App* send = program.add_subcommand("send", "Send an update to a device.");
    send->add_option("FILE", r.path,
                     "Update file (.upd) or plain SysEx file (.syx); - reads standard input.")
        ->type_name("FILE")
        ->required();
    CLI::Option* simulate =
        send->add_flag("--simulate", r.simulate, "Send to a simulated device instead of MIDI.");
    AddDeviceWords(*send, simulate, options->request.deviceWords);
    send->add_option("--midi", r.midi,
                     "alsa or jack (default: the ALSA sequencer if there is one, else JACK).")
        ->check(CLI::IsMember({"alsa", "jack"}))
        ->excludes(simulate);
    send->add_option("--port", r.port,
                     "The device's MIDI port (as `ports` lists it), instead of the names the "
                     "update gives.")
        ->excludes(simulate);
    send->add_option("--give-up-after", r.giveUpAfter,
                     "Stop waiting for a missing device after MS milliseconds (exit 5).")
        ->type_name("MS");
    send->add_flag("--virtual-clock", r.virtualClock,
                   "Run every pause and timeout in virtual time, so the transfer ends at once.");
    send->add_flag("--events", r.events, "One JSON object per report on standard output.");
    send->add_flag("--verbose", r.verbose, "Show the diagnostic log on standard error.");
    send->add_option("--log", r.logFile, "Append the diagnostic log to FILE.")->type_name("FILE");
    send->add_flag("-q,--quiet", r.quiet, "Show only the verdict and errors.");
    send->footer(R"(Exit status:
  0    the device accepted the update or confirmed the file's version
  1    the file was rejected, or the job failed otherwise
  2    bad arguments, or FILE cannot be read
  3    sent, but the device did not confirm it
  4    the device reported an error, or another version, or bytes did not reach it
  5    gave up waiting for the device (--give-up-after)
  6    the simulated device received other bytes than the file's
  129  hangup before the transfer began (after it, the transfer finishes)
  130  interrupted (Ctrl-C)
  143  terminated (SIGTERM)

Examples:
  midi-updater-cli send --simulate firmware.upd
  curl -s https://example.com/fw.upd | midi-updater-cli send --simulate --virtual-clock \
      --device-status accept,busy:3 --device-version 1.05 --events -
)");

    return {send, [options](std::ostream& out, std::ostream& err) {
                SendRequest request = options->request;
                request.terminal = &out == &std::cout && isatty(STDOUT_FILENO);
                winsize size{};
                if (request.terminal && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col)
                    request.width = size.ws_col;
                request.handleSignals = true;
                return Send(request, out, err);
            }};
}

namespace {

// The device's port: a real one (ALSA or JACK, found by the update's names or --port),
// or the simulated device the options describe. exitOk, or the status of a refusal.
int ChoosePort(const SendRequest& request, PortChoice& choice, std::unique_ptr<Update>& expects,
               std::ostream& err) {
    std::string error;
    if (!request.simulate) {
        MidiApi api;
        if (request.virtualClock) {
            err << "send: --virtual-clock needs --simulate: a real device answers in real time\n";
            return exitUsage;
        }
        if (!ChooseMidiApi(request.midi, api, error)) {
            err << "send: " << error << '\n';
            return request.midi ? exitUsage : exitRejected;
        }
        choice.real = RealPortFactory(api, request.port);
    }
    SimulationSettings& simulation = choice.simulation;
    if (!ParseDeviceOptions(request.deviceWords, simulation.options, error)) {
        err << "send: " << error << '\n';
        return exitUsage;
    }
    simulation.corruptByte = request.corruptByte;
    if (!simulation.options.expectsPath.empty()) {
        expects = LoadExpectedUpdate(simulation.options.expectsPath, error);
        if (!expects) {
            err << "send: " << error << '\n';
            return exitUsage;
        }
        simulation.expects = expects.get();
    }
    return exitOk;
}

// After the job: the verdict's exit status, with the facts a program reads.
int Report(const SendRequest& request, ConsoleDisplay& display, const TransferWatch& watch,
           const ConsoleJobHost& host, const VirtualClock& virtualClock) {
    if (watch.WasInterrupted()) {
        const int status = 128 + watch.Signal();
        display.Fact("interrupted", status,
                     "Interrupted: the transfer was stopped and the port closed.", true);
        return status;
    }
    if (request.virtualClock)
        display.Fact("virtualTime", virtualClock.Elapsed(),
                     "Virtual time: " + Duration(virtualClock.Elapsed()) +
                         " (what the transfer would have taken in real time)",
                     false);
    if (watch.GaveUpWaiting())
        return exitGaveUp;
    if (host.Failed() || !host.Verdict())
        return exitRejected;

    int status = *host.Verdict() == TransferVerdict::Accepted      ? exitOk
                 : *host.Verdict() == TransferVerdict::Unconfirmed ? exitUnconfirmed
                                                                   : exitDeviceFailed;
    if (const auto integrity = host.Integrity()) {
        display.Fact("integrity", IntegrityJson(*integrity), integrity->text,
                     !integrity->identical);
        // The device holding other bytes than the file is a failure whatever it said.
        if (!integrity->identical)
            status = exitCorrupted;
    }
    return status;
}

// The job on the chosen port, with the display, the clock and the signals.
int RunTransfer(const SendRequest& request, PortChoice choice, const InputFile& input,
                ConsoleLog& log, std::ostream& out, std::ostream& err) {
    // A live bar and a scrolling log on one terminal would garble each other.
    const ConsoleDisplay::Form form = request.events  ? ConsoleDisplay::Form::Events
                                      : request.quiet ? ConsoleDisplay::Form::Quiet
                                      : request.terminal && !request.verbose
                                          ? ConsoleDisplay::Form::Terminal
                                          : ConsoleDisplay::Form::Plain;
    // With every pause in virtual time, waiting for ever would never end: a day is ample.
    std::optional<unsigned int> giveUpAfter = request.giveUpAfter;
    if (request.virtualClock && !giveUpAfter)
        giveUpAfter = virtualGiveUp;
    TransferWatch watch(giveUpAfter);
    // Before any other thread exists, so that every thread (the display's, the job's, the
    // device's) inherits the blocked signals and only the watcher takes them.
    std::optional<SignalWatcher> signals;
    if (request.handleSignals)
        signals.emplace(watch);

    const std::unique_ptr<ConsoleDisplay> display =
        MakeConsoleDisplay(form, out, err, request.width);
    VirtualClock virtualClock;
    virtualClock.RecordSleeps(false);
    if (request.virtualClock)
        choice.simulation.virtualClock = &virtualClock;
    TransferWatch::Clock watchedClock(watch, request.virtualClock ? &virtualClock : nullptr);
    ScopedClock clock(watchedClock);
    ScopedTraceSink traces([&log](const std::string& record) { log.Write(record); });

    ConsoleJobHost host(*display, watch, std::move(choice),
                        [&log](const std::string& line) { log.Write(line); });
    if (signals) {
        // The job on a thread of its own, so the watcher can interrupt its waits.
        std::thread job([&] { RunUpdateJob(input.ReadPath(), host); });
        job.join();
    } else {
        RunUpdateJob(input.ReadPath(), host);
    }
    display->Finish();
    return Report(request, *display, watch, host, virtualClock);
}

} // namespace

int Send(const SendRequest& request, std::ostream& out, std::ostream& err) {
    PortChoice choice;
    std::unique_ptr<Update> expects; // outlives the transfer that refers to it
    if (const int refused = ChoosePort(request, choice, expects, err); refused != exitOk)
        return refused;

    // Before any signal is taken over: a FIFO that nobody writes to can still be left
    // with Ctrl-C or a termination request.
    std::string error;
    InputFile input;
    const InputFile::Result opened = input.Open(request.path, error);
    if (opened != InputFile::Result::Ready) {
        err << "send: " << error << '\n';
        if (request.events)
            out << DumpJson({{"failure", error}}) << '\n' << std::flush;
        return opened == InputFile::Result::Unusable ? exitUsage : exitRejected;
    }

    std::ofstream logFile;
    if (request.logFile) {
        logFile.open(*request.logFile, std::ios::app);
        if (!logFile) {
            err << "send: cannot write the log file " << *request.logFile << '\n';
            return exitUsage;
        }
    }
    ConsoleLog log(request.verbose ? &err : nullptr, request.logFile ? &logFile : nullptr);
    return RunTransfer(request, std::move(choice), input, log, out, err);
}

} // namespace midiupdate
