#include "Console/Commands.h"
#include "Console/MidiChoice.h"

#include "MidiUpdateLib/OS.h"

#include <CLI/CLI.hpp>

namespace midiupdate {

Command AddPortsCommand(CLI::App& program) {
    CLI::App* ports = program.add_subcommand(
        "ports",
        "List the MIDI ports of the ALSA sequencer and of JACK, named as send finds them.");
    return {ports, [](std::ostream& out, std::ostream& err) {
                // The libraries' complaints about a missing server or sequencer are
                // answered by the listing's own lines.
                SetTraceSink([](const std::string&) {});
                const bool answered = ListMidiPorts(out, err);
                SetTraceSink(nullptr);
                return answered ? exitOk : exitRejected;
            }};
}

} // namespace midiupdate
