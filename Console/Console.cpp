#include "Console/Commands.h"

#include "MidiUpdateLib/Update.h"
#include "MidiUpdateLib/Version.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <fstream>
#include <ostream>

namespace midiupdate {

int RunConsole(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CLI::App program("Reads, builds and sends MIDI firmware update files.", "midi-updater-cli");
    program.set_version_flag("--version", MidiUpdateLib_Version + " (" + MidiUpdateLib_Build + ")");
    program.require_subcommand(1);

    const std::vector<Command> commands = {AddInfoCommand(program), AddPackCommand(program),
                                           AddSendCommand(program)};

    // CLI11 would call a mistyped command an unexpected argument.
    if (args.size() > 1 && !args[1].empty() && args[1][0] != '-') {
        const auto known = program.get_subcommands(
            [&](CLI::App* command) { return command->get_name() == args[1]; });
        if (known.empty()) {
            std::string names;
            for (const CLI::App* command : program.get_subcommands({}))
                names += (names.empty() ? "" : ", ") + command->get_name();
            err << "midi-updater-cli: unknown command '" << args[1] << "' (commands: " << names
                << ")\nRun with --help for more information.\n";
            return exitUsage;
        }
    }

    std::vector<const char*> argv;
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    try {
        program.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        // Help and version end in success; every other complaint is a usage error.
        return program.exit(e, out, err) == 0 ? exitOk : exitUsage;
    }

    for (const Command& command : commands) {
        if (!command.app->parsed())
            continue;
        try {
            return command.run(out, err);
        } catch (const std::exception& e) {
            // Out of memory for a huge file, and the like: still an answer, not a crash.
            err << e.what() << '\n';
            return exitRejected;
        }
    }
    return exitUsage;
}

std::unique_ptr<Update> LoadUpdateFile(const std::string& path, std::string& error) {
    // The commands have checked the file first (InputFile); what is left is the reader's
    // to judge, so the user sees the same message as in the updater.
    std::ifstream stream(path, std::ios::binary);
    try {
        return std::make_unique<Update>(stream);
    } catch (const ParseError& e) {
        error = e.what();
        return nullptr;
    }
}

} // namespace midiupdate
