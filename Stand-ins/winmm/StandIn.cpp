#include "Stand-ins/winmm/StandIn.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "Simulator/SimulatedDevice.h"

#include <algorithm>
#include <cstring>

namespace winmmstandin {

State& TheState() {
    static State state;
    return state;
}

bool Present(const Port& port) {
    return port.device == nullptr || port.device->IsPresent();
}

void Called(State& state, const char* function) {
    state.calls.emplace_back(function);
}

void Notify(DWORD_PTR callback, void* handle, UINT message, DWORD_PTR instance,
            DWORD_PTR parameter1, DWORD_PTR parameter2) {
    if (!callback)
        return;
    using Callback = void(CALLBACK*)(void*, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    reinterpret_cast<Callback>(callback)(handle, message, instance, parameter1, parameter2);
}

void Install(std::vector<Port> ports) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.ports = std::move(ports);
    state.outputs.clear();
    state.inputs.clear();
    for (std::size_t i = 0; i < state.ports.size(); ++i) {
        if (state.ports[i].output)
            state.outputs.push_back(i);
        if (state.ports[i].input)
            state.inputs.push_back(i);
    }
    state.outOwner.clear();
    state.inOwner.clear();
    state.longMessages.clear();
    state.longMessageCalls.clear();
    state.openFailing.clear();
    state.calls.clear();
    state.bytesLost = 0;
}

Port WavetableSynth() {
    Port port;
    port.name = "Microsoft GS Wavetable Synth";
    port.input = false;
    return port;
}

Port MidiMapper() {
    Port port;
    port.name = "Microsoft MIDI Mapper";
    port.input = false;
    return port;
}

std::vector<std::vector<unsigned char>>
FramedPortions(const std::vector<Update::SysExPortion>& portions,
               const MidiPortWindowsParameters& parameters) {
    // The port takes a negative size as 0, and the chunker 0 as 1.
    const unsigned long ideal = static_cast<unsigned long>(std::max(parameters.ideal, 0));
    const unsigned long max = static_cast<unsigned long>(std::max(parameters.max, 0));
    std::vector<std::vector<unsigned char>> framed;
    for (const Update::SysExPortion& portion : portions) {
        std::vector<unsigned char> bytes = portion.sysEx;
        std::vector<unsigned char> sent;
        Range<unsigned char> remaining{bytes.data(), bytes.data() + bytes.size()};
        while (!remaining.Empty()) {
            const Range<unsigned char> chunk = NextSysExChunk(remaining, ideal, max);
            const bool opens = *chunk.start == 0xF0;
            const bool closes = *(chunk.end - 1) == 0xF7;
            if (parameters.chunks && !opens)
                sent.push_back(0xF0);
            sent.insert(sent.end(), chunk.start, chunk.end);
            if (parameters.chunks && !closes)
                sent.push_back(0xF7);
            remaining.TrimFromFront(static_cast<unsigned long>(chunk.Size()));
        }
        framed.push_back(std::move(sent));
    }
    return framed;
}

unsigned int PlayingTime(std::size_t size) {
    // 31250 baud and 10 bits a byte: 320 us a byte, rounded up to whole milliseconds.
    return static_cast<unsigned int>((size * 320 + 999) / 1000);
}

std::vector<std::vector<unsigned char>> LongMessages(const std::string& name) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    auto found = state.longMessages.find(name);
    return found == state.longMessages.end() ? std::vector<std::vector<unsigned char>>{}
                                             : found->second;
}

std::size_t OpenHandles() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.outHandles.size() + state.inHandles.size();
}

std::vector<std::string> Calls() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.calls;
}

std::size_t BytesLost() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.bytesLost;
}

} // namespace winmmstandin

using namespace winmmstandin;

namespace {

const char* ErrorText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "The specified command was carried out.";
    case MMSYSERR_ERROR:
        return "Undefined external error.";
    case MMSYSERR_BADDEVICEID:
        return "A device ID has been used that is out of range for your system.";
    case MMSYSERR_ALLOCATED:
        return "The specified device is already in use.  Wait until it is free, and then try "
               "again.";
    case MMSYSERR_INVALHANDLE:
        return "The specified device handle is invalid.";
    case MMSYSERR_NODRIVER:
        return "There is no driver installed on your system.";
    case MMSYSERR_NOMEM:
        return "There is not enough memory available for this task.";
    case MMSYSERR_INVALPARAM:
        return "An invalid parameter was passed to a system function.";
    case MIDIERR_UNPREPARED:
        return "The header has not been prepared.";
    case MIDIERR_STILLPLAYING:
        return "Cannot perform this operation while media data is still playing.";
    case MIDIERR_NODEVICE:
        return "A MIDI port was not found.";
    default:
        return nullptr;
    }
}

} // namespace

extern "C" {

MMRESULT WINAPI midiInGetErrorTextA(MMRESULT code, LPSTR text, UINT size) {
    if (!text || size == 0)
        return MMSYSERR_INVALPARAM;
    const char* known = ErrorText(code);
    std::strncpy(text, known ? known : "", size - 1);
    text[size - 1] = '\0';
    return known ? MMSYSERR_NOERROR : MMSYSERR_BADERRNUM;
}

} // extern "C"
