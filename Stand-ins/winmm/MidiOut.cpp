// The output half: device names, opening, and long messages played in (virtual) time.

#include "Stand-ins/winmm/StandIn.h"

#include "MidiUpdateLib/OS.h"
#include "Simulator/SimulatedDevice.h"

#include <cstring>

using namespace winmmstandin;

namespace {

// Under the lock: the handle if it is open.
OutHandle* Find(State& state, HMIDIOUT handle) {
    auto* out = reinterpret_cast<OutHandle*>(handle);
    return state.outHandles.count(out) ? out : nullptr;
}

bool Played(unsigned int when) {
    // Signed difference: correct across the clock's wrap.
    return static_cast<int>(TimeNow() - when) >= 0;
}

} // namespace

extern "C" {

UINT WINAPI midiOutGetNumDevs() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiOutGetNumDevs");
    return static_cast<UINT>(state.outputs.size());
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT size) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiOutGetDevCapsA");
    if (!caps)
        return MMSYSERR_INVALPARAM;
    // Like winmm, takes an open handle in place of a device identifier.
    const Port* port = nullptr;
    if (id < state.outputs.size())
        port = &state.ports[state.outputs[id]];
    else if (OutHandle* out = Find(state, reinterpret_cast<HMIDIOUT>(id)))
        port = &state.ports[out->port];
    else
        return MMSYSERR_BADDEVICEID;
    if (port->nameUnreadable || !Present(*port))
        return MMSYSERR_NODRIVER;
    MIDIOUTCAPSA filled{};
    std::strncpy(filled.szPname, port->name.c_str(), MAXPNAMELEN - 1);
    filled.wTechnology = MOD_MIDIPORT;
    std::memcpy(caps, &filled, size < sizeof filled ? size : sizeof filled);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                            DWORD flags) {
    State& state = TheState();
    OutHandle* out = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Called(state, "midiOutOpen");
        if (!handle)
            return MMSYSERR_INVALPARAM;
        if (id >= state.outputs.size())
            return MMSYSERR_BADDEVICEID;
        const std::size_t index = state.outputs[id];
        Port& port = state.ports[index];
        state.openFailing[index] = port.failingOpens > 0;
        if (port.failingOpens > 0) {
            --port.failingOpens;
            return MMSYSERR_ALLOCATED;
        }
        if (port.openFails || state.outOwner.count(index))
            return MMSYSERR_ALLOCATED;
        if (!Present(port))
            return MMSYSERR_NODRIVER;
        const bool function = (flags & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION;
        out = new OutHandle{index, function ? callback : 0, instance, {}};
        state.outHandles.insert(out);
        state.outOwner[index] = out;
        *handle = reinterpret_cast<HMIDIOUT>(out);
    }
    Notify(out->callback, out, MOM_OPEN, out->instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiOutPrepareHeader");
    OutHandle* out = Find(state, handle);
    if (!out)
        return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MIDIHDR) || !header->lpData)
        return MMSYSERR_INVALPARAM;
    Port& port = state.ports[out->port];
    if (!Present(port))
        return MMSYSERR_NODRIVER;
    if (port.failingPrepares > 0) {
        --port.failingPrepares;
        return MMSYSERR_NOMEM;
    }
    if (port.prepareFails)
        return MMSYSERR_NOMEM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    State& state = TheState();
    SimulatedDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Called(state, "midiOutLongMsg");
        OutHandle* out = Find(state, handle);
        if (!out)
            return MMSYSERR_INVALHANDLE;
        if (!header || size != sizeof(MIDIHDR))
            return MMSYSERR_INVALPARAM;
        if (!(header->dwFlags & MHDR_PREPARED))
            return MIDIERR_UNPREPARED;
        if (header->dwFlags & MHDR_INQUEUE)
            return MIDIERR_STILLPLAYING;
        const Port& port = state.ports[out->port];
        if (!Present(port))
            return MMSYSERR_NODRIVER;
        if (++state.longMessageCalls[out->port] == port.refusedMessage)
            return MIDIERR_NOTREADY;
        const auto* bytes = reinterpret_cast<const unsigned char*>(header->lpData);
        state.longMessages[port.name].emplace_back(bytes, bytes + header->dwBufferLength);
        header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
        out->playing[header] = TimeNow() + PlayingTime(header->dwBufferLength);
        if (state.longMessages[port.name].size() == port.heldMessage)
            out->playing[header] += port.heldFor;
        device = port.device;
    }
    // The device hears the message as it starts; only the header waits for the end.
    if (device)
        device->Receive(reinterpret_cast<const unsigned char*>(header->lpData),
                        header->dwBufferLength);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT handle, LPMIDIHDR header, UINT size) {
    State& state = TheState();
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Called(state, "midiOutUnprepareHeader");
        OutHandle* out = Find(state, handle);
        if (!out)
            return MMSYSERR_INVALHANDLE;
        if (!header || size != sizeof(MIDIHDR))
            return MMSYSERR_INVALPARAM;
        auto playing = out->playing.find(header);
        if (playing != out->playing.end()) {
            if (!Played(playing->second))
                return MIDIERR_STILLPLAYING;
            out->playing.erase(playing);
            callback = out->callback;
            instance = out->instance;
        }
        header->dwFlags = (header->dwFlags & ~(MHDR_PREPARED | MHDR_INQUEUE)) | MHDR_DONE;
    }
    if (callback)
        Notify(callback, handle, MOM_DONE, instance, reinterpret_cast<DWORD_PTR>(header), 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT handle) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiOutReset");
    OutHandle* out = Find(state, handle);
    if (!out)
        return MMSYSERR_INVALHANDLE;
    // Whatever is playing stops now and is handed back.
    for (auto& playing : out->playing)
        playing.first->dwFlags = (playing.first->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    out->playing.clear();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose(HMIDIOUT handle) {
    State& state = TheState();
    OutHandle* out = nullptr;
    SimulatedDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Called(state, "midiOutClose");
        out = Find(state, handle);
        if (!out)
            return MMSYSERR_INVALHANDLE;
        for (const auto& playing : out->playing)
            if (!Played(playing.second))
                return MIDIERR_STILLPLAYING;
        state.outHandles.erase(out);
        state.outOwner.erase(out->port);
        device = state.ports[out->port].device;
    }
    Notify(out->callback, out, MOM_CLOSE, out->instance, 0, 0);
    delete out;
    // The sender closes the device after every portion: the line so far, then the last.
    if (device)
        if (const auto integrity = device->Integrity())
            Trace("Integrity: %s\n", integrity->text.c_str());
    return MMSYSERR_NOERROR;
}

} // extern "C"
