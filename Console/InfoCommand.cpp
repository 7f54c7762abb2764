#include "Console/Commands.h"
#include "Console/InputFile.h"
#include "Console/UpdateJson.h"
#include "Console/UpdateSummary.h"

#include "MidiUpdateLib/Update.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace midiupdate {

Command AddInfoCommand(CLI::App& program) {
    struct Options {
        std::string path;
        bool json = false;
    };
    auto options = std::make_shared<Options>();

    CLI::App* info = program.add_subcommand("info", "Show what an update or SysEx file holds.");
    info->add_flag("--json", options->json, "One JSON object instead of the summary.");
    info->add_option("FILE", options->path,
                     "Update file (.upd) or plain SysEx file (.syx); - reads standard input.")
        ->type_name("FILE")
        ->required();

    return {info, [options](std::ostream& out, std::ostream& err) {
                return Info(options->path, options->json, out, err);
            }};
}

int Info(const std::string& path, bool json, std::ostream& out, std::ostream& err) {
    std::string error;
    InputFile input;
    const InputFile::Result opened = input.Open(path, error);
    if (opened != InputFile::Result::Ready) {
        err << "info: " << error << '\n';
        if (json)
            out << DumpJson({{"error", error}}) << '\n';
        return opened == InputFile::Result::Unusable ? exitUsage : exitRejected;
    }
    const std::unique_ptr<Update> update = LoadUpdateFile(input.ReadPath(), error);
    if (!update) {
        err << error << '\n';
        if (json)
            out << DumpJson({{"error", error}}) << '\n';
        return exitRejected;
    }

    if (json)
        out << DumpJson(UpdateToJson(*update)) << '\n';
    else
        WriteUpdateSummary(*update, out);
    return exitOk;
}

} // namespace midiupdate
