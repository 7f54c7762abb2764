// The input half: device names, opening, and the device's messages handed back in the
// queued buffers.

#include "Stand-ins/winmm/StandIn.h"

#include "MidiUpdateLib/OS.h"
#include "Simulator/SimulatedDevice.h"

#include <algorithm>
#include <cstring>

using namespace winmmstandin;

namespace {

InHandle* Find(State& state, HMIDIIN handle) {
    auto* in = reinterpret_cast<InHandle*>(handle);
    return state.inHandles.count(in) ? in : nullptr;
}

// On the device's delivering thread: one whole message into as many buffers as it fills.
void Deliver(InHandle* in, const unsigned char* data, std::size_t size) {
    State& state = TheState();
    std::size_t done = 0;
    while (done < size) {
        MIDIHDR* header = nullptr;
        {
            std::lock_guard<std::mutex> guard(state.lock);
            if (!in->started || in->queued.empty()) {
                state.bytesLost += size - done;
                Trace("winmm stand-in: %u bytes lost, no input buffer\n",
                      static_cast<unsigned>(size - done));
                return;
            }
            header = in->queued.front();
            in->queued.pop_front();
            const std::size_t count = std::min<std::size_t>(size - done, header->dwBufferLength);
            std::memcpy(header->lpData, data + done, count);
            header->dwBytesRecorded = static_cast<DWORD>(count);
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
            done += count;
        }
        Notify(in->callback, in, MIM_LONGDATA, in->instance, reinterpret_cast<DWORD_PTR>(header),
               TimeNow());
    }
}

} // namespace

void winmmstandin::Play(const std::string& name, const std::vector<unsigned char>& message) {
    InHandle* in = nullptr;
    {
        State& state = TheState();
        std::lock_guard<std::mutex> guard(state.lock);
        for (const auto& owned : state.inOwner)
            if (state.ports[owned.first].name == name)
                in = owned.second;
        if (!in) {
            state.bytesLost += message.size();
            return;
        }
    }
    Deliver(in, message.data(), message.size());
}

extern "C" {

UINT WINAPI midiInGetNumDevs() {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiInGetNumDevs");
    return static_cast<UINT>(state.inputs.size());
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR id, LPMIDIINCAPSA caps, UINT size) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiInGetDevCapsA");
    if (!caps)
        return MMSYSERR_INVALPARAM;
    const Port* port = nullptr;
    if (id < state.inputs.size())
        port = &state.ports[state.inputs[id]];
    else if (InHandle* in = Find(state, reinterpret_cast<HMIDIIN>(id)))
        port = &state.ports[in->port];
    else
        return MMSYSERR_BADDEVICEID;
    if (port->nameUnreadable || !Present(*port))
        return MMSYSERR_NODRIVER;
    MIDIINCAPSA filled{};
    std::strncpy(filled.szPname, port->name.c_str(), MAXPNAMELEN - 1);
    std::memcpy(caps, &filled, size < sizeof filled ? size : sizeof filled);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                           DWORD flags) {
    State& state = TheState();
    InHandle* in = nullptr;
    SimulatedDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Called(state, "midiInOpen");
        if (!handle)
            return MMSYSERR_INVALPARAM;
        if (id >= state.inputs.size())
            return MMSYSERR_BADDEVICEID;
        const std::size_t index = state.inputs[id];
        const Port& port = state.ports[index];
        if (port.openFails || state.inOwner.count(index))
            return MMSYSERR_ALLOCATED;
        if (!Present(port))
            return MMSYSERR_NODRIVER;
        const bool function = (flags & CALLBACK_TYPEMASK) == CALLBACK_FUNCTION;
        in = new InHandle{index, function ? callback : 0, instance, {}, false};
        state.inHandles.insert(in);
        state.inOwner[index] = in;
        *handle = reinterpret_cast<HMIDIIN>(in);
        device = port.device;
    }
    if (device)
        device->SetOutput(
            [in](const unsigned char* data, std::size_t size) { Deliver(in, data, size); });
    Notify(in->callback, in, MIM_OPEN, in->instance, 0, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiInPrepareHeader");
    InHandle* in = Find(state, handle);
    if (!in)
        return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MIDIHDR) || !header->lpData)
        return MMSYSERR_INVALPARAM;
    if (state.ports[in->port].prepareFails)
        return MMSYSERR_NOMEM;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiInAddBuffer");
    InHandle* in = Find(state, handle);
    if (!in)
        return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (!(header->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    in->queued.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStart(HMIDIIN handle) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiInStart");
    InHandle* in = Find(state, handle);
    if (!in)
        return MMSYSERR_INVALHANDLE;
    in->started = true;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStop(HMIDIIN handle) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiInStop");
    InHandle* in = Find(state, handle);
    if (!in)
        return MMSYSERR_INVALHANDLE;
    in->started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInReset(HMIDIIN handle) {
    State& state = TheState();
    std::deque<MIDIHDR*> returned;
    InHandle* in = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Called(state, "midiInReset");
        in = Find(state, handle);
        if (!in)
            return MMSYSERR_INVALHANDLE;
        in->started = false;
        returned.swap(in->queued);
        for (MIDIHDR* header : returned) {
            header->dwBytesRecorded = 0;
            header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
        }
    }
    // Every queued buffer comes back, empty, through the callback.
    for (MIDIHDR* header : returned)
        Notify(in->callback, in, MIM_LONGDATA, in->instance, reinterpret_cast<DWORD_PTR>(header),
               TimeNow());
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN handle, LPMIDIHDR header, UINT size) {
    State& state = TheState();
    std::lock_guard<std::mutex> guard(state.lock);
    Called(state, "midiInUnprepareHeader");
    if (!Find(state, handle))
        return MMSYSERR_INVALHANDLE;
    if (!header || size != sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInClose(HMIDIIN handle) {
    State& state = TheState();
    InHandle* in = nullptr;
    SimulatedDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        Called(state, "midiInClose");
        in = Find(state, handle);
        if (!in)
            return MMSYSERR_INVALHANDLE;
        // Buffers still queued belong to the device until a reset returns them.
        if (!in->queued.empty())
            return MIDIERR_STILLPLAYING;
        in->started = false;
        device = state.ports[in->port].device;
    }
    // Waits for a delivery in progress; none starts afterwards. Not under the lock: the
    // delivery's callback may be calling back in.
    if (device)
        device->SetOutput(nullptr);
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.inHandles.erase(in);
        state.inOwner.erase(in->port);
    }
    Notify(in->callback, in, MIM_CLOSE, in->instance, 0, 0);
    delete in;
    return MMSYSERR_NOERROR;
}

} // extern "C"
