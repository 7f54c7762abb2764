#include "Console/MidiChoice.h"

#include "Linux/AlsaSequencer.h"
#include "Linux/AlsaSequencerPort.h"
#include "Linux/JackConnection.h"
#include "Linux/JackMidiPort.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <ostream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace midiupdate {
namespace {

const char* const sequencerDevice = "/dev/snd/seq";

bool JackAnswers() {
    // libjack's complaints when no server runs: the caller says it in one line.
    SetTraceSink([](const std::string&) {});
    std::vector<JackPortName> ports;
    std::string error;
    const bool answered = ListJackPorts(ports, error);
    SetTraceSink(nullptr);
    return answered;
}

// A port named with --port that exists but can never take the update is said to be so
// at once: the sender would otherwise wait for it for ever. Nothing of that name is no
// error: the device may come later.
void CheckNamedPort(MidiApi api, const std::string& name) {
    bool named = false;
    bool takes = false;
    bool midi = false;
    std::string error;
    if (api == MidiApi::Alsa) {
        std::vector<AlsaPortInfo> ports;
        if (ListAlsaPorts(ports, error))
            for (const AlsaPortInfo& port : ports)
                if (NameMatches({name}, port.clientName, port.portName)) {
                    named = midi = true;
                    takes = takes || port.writable;
                }
    } else {
        std::vector<JackPortName> ports;
        SetTraceSink([](const std::string&) {});
        const bool listed = ListJackPorts(ports, error, false);
        SetTraceSink(nullptr);
        if (listed)
            for (const JackPortName& port : ports)
                if (NameMatches({name}, port.client, port.port)) {
                    named = true;
                    midi = midi || port.midi;
                    takes = takes || (port.midi && port.input);
                }
    }
    if (named && !midi)
        throw std::runtime_error("--port '" + name + "' is not a MIDI port.");
    if (named && !takes)
        throw std::runtime_error("--port '" + name +
                                 "' only sends MIDI: the update goes to the "
                                 "device's input port.");
}

} // namespace

bool ChooseMidiApi(const std::optional<std::string>& requested, MidiApi& api, std::string& error) {
    if (requested) {
        if (*requested == "alsa" || *requested == "jack") {
            api = *requested == "alsa" ? MidiApi::Alsa : MidiApi::Jack;
            return true;
        }
        error = "--midi must be alsa or jack: " + *requested;
        return false;
    }
    if (access(sequencerDevice, F_OK) == 0) {
        api = MidiApi::Alsa;
        return true;
    }
    if (JackAnswers()) {
        api = MidiApi::Jack;
        return true;
    }
    error = std::string("no MIDI system to send with: the ALSA sequencer (") + sequencerDevice +
            ") is missing and no JACK server answers. Start a JACK server, or add --simulate "
            "to try the update against a simulated device.";
    return false;
}

PortFactory RealPortFactory(MidiApi api, std::optional<std::string> port) {
    return [api, port](const Update& update) -> std::unique_ptr<MidiPort> {
        if (!port && update.macPortNames.empty()) {
            // Never to whatever port comes first: that may be a synthesizer, not the device.
            std::ostringstream ports;
            std::ostringstream ignored;
            ListMidiPorts(ports, ignored);
            throw std::runtime_error("The file names no MIDI port for the device. Choose one "
                                     "with --port NAME:\n" +
                                     ports.str());
        }
        if (port)
            CheckNamedPort(api, *port);
        LinuxPortSettings settings = PortSettingsFor(update, port);
        if (api == MidiApi::Alsa) {
            // Without a sequencer no device can ever be found: said now, not by waiting.
            std::vector<AlsaPortInfo> ports;
            std::string error;
            if (!ListAlsaPorts(ports, error))
                throw std::runtime_error("Cannot send over ALSA: " + error + ".");
            return std::make_unique<AlsaSequencerPort>(settings);
        }
        auto jack = std::make_unique<JackMidiPort>(settings);
        std::string error;
        if (!jack->CanCarry(update, error))
            throw std::runtime_error("Cannot send over JACK: " + error + ".");
        return jack;
    };
}

bool ListMidiPorts(std::ostream& out, std::ostream& err) {
    bool answered = false;
    std::vector<AlsaPortInfo> alsa;
    std::string error;
    if (ListAlsaPorts(alsa, error)) {
        answered = true;
        out << "ALSA sequencer (send --midi alsa):\n";
        for (const AlsaPortInfo& port : alsa)
            out << "  " << port.clientName << ':' << port.portName << "    (" << port.client << ':'
                << port.port << ", "
                << (port.writable && port.readable ? "input/output"
                    : port.writable                ? "input"
                                                   : "output")
                << ")\n";
        if (alsa.empty())
            out << "  (no ports)\n";
    } else {
        err << error << '\n';
    }
    std::vector<JackPortName> jack;
    error.clear();
    if (ListJackPorts(jack, error)) {
        answered = true;
        out << "JACK (send --midi jack):\n";
        for (const JackPortName& port : jack)
            out << "  " << port.full << "    (" << (port.input ? "input" : "output") << ")\n";
        if (jack.empty())
            out << "  (no MIDI ports)\n";
    } else {
        err << "JACK: " << error << '\n';
    }
    return answered;
}

} // namespace midiupdate
