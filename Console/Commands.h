#pragma once

// The console program's subcommands. Each one adds itself to the command line before it
// is parsed and runs afterwards if it was chosen. `out` and `err` stand for standard
// output and standard error, so tests can run the commands in-process.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Update;

namespace CLI {
class App;
}

namespace midiupdate {

const int exitOk = 0;
const int exitRejected = 1;      // a file was rejected, or the work itself failed
const int exitUsage = 2;         // bad arguments or unreadable inputs
const int exitUnconfirmed = 3;   // sent, but the device did not confirm
const int exitDeviceFailed = 4;  // the device reported an error or another version
const int exitGaveUp = 5;        // the device did not appear in the time allowed
const int exitCorrupted = 6;     // the simulated device received other bytes than the file's
const int exitInterrupted = 130; // 128 + the signal: 129 hangup, 130 Ctrl-C, 143 SIGTERM

struct Command {
    CLI::App* app = nullptr; // the subcommand, owned by the program's App
    std::function<int(std::ostream& out, std::ostream& err)> run;
};

Command AddInfoCommand(CLI::App& program);
Command AddPackCommand(CLI::App& program);
Command AddSendCommand(CLI::App& program);

// The whole program: args[0] is the program's name.
int RunConsole(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Reads an update file or plain SysEx file the way the updater does. On rejection
// returns null and puts the reader's message into `error`.
std::unique_ptr<Update> LoadUpdateFile(const std::string& path, std::string& error);

// info: what the file holds.
int Info(const std::string& path, bool json, std::ostream& out, std::ostream& err);

// pack: one record option's value, in command-line order.
struct PackRecord {
    enum Kind { Image, Portion, MacPorts, WindowsParams };
    Kind kind;
    std::string value;
};

struct PackRequest {
    std::string output;
    std::string product;
    std::string version; // MAJOR.MINOR, minor exactly two digits
    std::string message;
    std::optional<std::string> messageFile; // read instead of `message` when given
    bool sysExMessage = false;
    std::string headerValues = "0,0,0";
    std::vector<PackRecord> records;
    bool allowAnyBytes = false; // store portions with bytes outside SysEx messages
    bool quiet = false;
};

int Pack(const PackRequest& request, std::ostream& out, std::ostream& err);

// send: the update job with the console as its host.
struct SendRequest {
    std::string path;
    bool simulate = false;
    // The simulated device, in the words every host takes (Simulator/DeviceOptions.h).
    std::vector<std::string> deviceWords;
    std::optional<unsigned int> giveUpAfter;
    bool virtualClock = false;
    bool events = false;
    bool verbose = false;
    bool quiet = false;
    std::optional<std::string> logFile;

    bool terminal = false;      // `out` is a terminal: draw a live progress bar
    unsigned int width = 80;    // the terminal's width
    bool handleSignals = false; // Ctrl-C interrupts the transfer (the program, not tests)
    // Test-only fault: the device receives this byte wrong (portion index, offset).
    std::optional<std::pair<std::size_t, std::size_t>> corruptByte;
};

int Send(const SendRequest& request, std::ostream& out, std::ostream& err);

} // namespace midiupdate
