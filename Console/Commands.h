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
const int exitRejected = 1; // a file was rejected, or the work itself failed
const int exitUsage = 2;    // bad arguments or unreadable inputs

struct Command {
    CLI::App* app = nullptr; // the subcommand, owned by the program's App
    std::function<int(std::ostream& out, std::ostream& err)> run;
};

Command AddInfoCommand(CLI::App& program);
Command AddPackCommand(CLI::App& program);

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
};

int Pack(const PackRequest& request, std::ostream& out, std::ostream& err);

} // namespace midiupdate
