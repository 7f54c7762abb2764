#pragma once

// Real MIDI for the console on Linux: which API to use, the port `send` makes for an
// update, and the listing of `ports`.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

class MidiPort;
class Update;

namespace midiupdate {

enum class MidiApi { Alsa, Jack };

// `requested` ("alsa" or "jack"), or by default ALSA where a sequencer exists, else JACK
// where a server answers. False and a reason when neither is there.
bool ChooseMidiApi(const std::optional<std::string>& requested, MidiApi& api, std::string& error);

// Makes the job's port for an update; throws std::runtime_error, before anything is sent,
// for a file that names no port when `port` is not given (listing the ports), and for a
// message larger than the API carries.
using PortFactory = std::function<std::unique_ptr<MidiPort>(const Update&)>;
PortFactory RealPortFactory(MidiApi api, std::optional<std::string> port);

// Every port of both APIs, named as `send --port` and the update's names match them.
// False when neither API answered.
bool ListMidiPorts(std::ostream& out, std::ostream& err);

} // namespace midiupdate
