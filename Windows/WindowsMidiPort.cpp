#include "Windows/WindowsMidiPort.h"

#include "MidiUpdateLib/OS.h"
#include "Windows/DisplayText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// No device has this identifier, so opening "no wanted device" fails like any open.
constexpr UINT noDevice = static_cast<UINT>(-1066);

// Handles print as the unsigned numbers the log has always shown.
unsigned HandleNumber(const void* handle) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle));
}

// A negative size or pause from an update file would wrap to days of sleep or one
// unbounded chunk; it counts as 0.
int NotNegative(int value) {
    return std::max(value, 0);
}

void CALLBACK MidiInCallbackFn(HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR parameter1,
                               DWORD_PTR) {
    reinterpret_cast<WindowsMidiPort*>(instance)->MidiInCallback(
        message, reinterpret_cast<MIDIHDR*>(parameter1));
}

void CALLBACK MidiOutCallback(HMIDIOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    if (message >= MIM_OPEN && message <= MIM_LONGERROR)
        Trace("MIM message\n");
    else if (message == MOM_OPEN)
        Trace("MOM open message\n");
    else if (message == MOM_CLOSE)
        Trace("MOM close message\n");
    else if (message == MOM_DONE)
        Trace("MOM done message (NOT pausing)\n");
    else
        Trace("Unknown MIDI OUT callback message\n");
}

// Device names that the updater never drives, whatever the update names.
bool IsSystemSynth(const char* name) {
    return std::strstr(name, "Microsoft GS Wavetable") != nullptr ||
           std::strstr(name, "Microsoft MIDI Mapper") != nullptr;
}

} // namespace

WindowsMidiPort::WindowsMidiPort(const MidiPortWindowsParameters& parameters)
    : portNames(parameters.names), idealChunkSize(NotNegative(parameters.ideal)),
      maxChunkSize(NotNegative(parameters.max)), delay(NotNegative(parameters.delay)),
      unprepDelay(NotNegative(parameters.unprepDelay)), frameChunks(parameters.chunks),
      inputBuffers(inputBufferCount, std::vector<char>(inputBufferSize)) {
    std::memset(inputHeaders, 0, sizeof inputHeaders);
}

WindowsMidiPort::~WindowsMidiPort() {
    Disconnect();
}

unsigned long WindowsMidiPort::IdealChunkSize() {
    return static_cast<unsigned long>(idealChunkSize);
}

unsigned long WindowsMidiPort::MaxChunkSize() {
    return static_cast<unsigned long>(maxChunkSize);
}

bool WindowsMidiPort::IsWantedDevice(const char* name) const {
    if (IsSystemSynth(name))
        return false;
    return portNames.empty() || portNames.count(name) != 0;
}

UINT WindowsMidiPort::FindOutputDevice() const {
    const UINT count = midiOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
            continue;
        if (IsWantedDevice(caps.szPname))
            return id;
    }
    return noDevice;
}

UINT WindowsMidiPort::FindInputDevice() const {
    const UINT count = midiInGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIINCAPSA caps{};
        if (midiInGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
            continue;
        if (IsWantedDevice(caps.szPname))
            return id;
    }
    return noDevice;
}

void WindowsMidiPort::Connect() {
    Trace("%s\n", "WindowsMidiPort::Connect");
    ListInterfaces();

    // A handle from an earlier attempt would otherwise stay open, and its device busy.
    if (outHandle) {
        midiOutReset(outHandle);
        midiOutClose(outHandle);
        outHandle = nullptr;
    }
    if (midiOutOpen(&outHandle, FindOutputDevice(), reinterpret_cast<DWORD_PTR>(&MidiOutCallback),
                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        Trace("MIDI OUT Port failed to open.\n");
        outHandle = nullptr;
    } else {
        Trace("MIDI OUT Port opened OK.\n");
    }

    inputRunning = false;
    CloseInput();
    inputRunning = true;

    const UINT id = FindInputDevice();
    HMIDIIN opened = nullptr;
    if (midiInOpen(&opened, id, reinterpret_cast<DWORD_PTR>(&MidiInCallbackFn),
                   reinterpret_cast<DWORD_PTR>(this),
                   CALLBACK_FUNCTION | MIDI_IO_STATUS) != MMSYSERR_NOERROR) {
        Trace("MIDI IN Port failed to open (%d).\n", static_cast<int>(id));
    } else {
        Trace("MIDI IN Port opened OK (%d).\n", static_cast<int>(id));
        inHandle = opened;
        for (unsigned i = 0; i < inputBufferCount; ++i) {
            MIDIHDR& header = inputHeaders[i];
            header.lpData = inputBuffers[i].data();
            header.dwBufferLength = inputBufferSize;
            header.dwFlags = 0;
            header.dwUser = reinterpret_cast<DWORD_PTR>(this);
            MMRESULT result = midiInPrepareHeader(opened, &header, sizeof header);
            if (result != MMSYSERR_NOERROR)
                Trace("Failed to prepare input buffer [%u] (%s).\n", i, MidiErrorText(result));
            result = midiInAddBuffer(opened, &header, sizeof header);
            if (result != MMSYSERR_NOERROR)
                Trace("Failed to add input buffer [%u] (%s).\n", i, MidiErrorText(result));
        }
        const MMRESULT result = midiInStart(opened);
        if (result != MMSYSERR_NOERROR)
            Trace("Failed to start MIDI IN (%s).\n", MidiErrorText(result));
    }

    Trace("  opened handles are %p:%p\n", static_cast<void*>(outHandle),
          static_cast<void*>(inHandle.load()));
}

bool WindowsMidiPort::IsConnected() {
    Trace("%s:", "WindowsMidiPort::IsConnected");
    if (!outHandle)
        Connect();
    MIDIOUTCAPSA caps{};
    const MMRESULT err =
        midiOutGetDevCapsA(reinterpret_cast<UINT_PTR>(outHandle), &caps, sizeof caps);
    const bool connected = outHandle != nullptr && err == MMSYSERR_NOERROR;
    Trace(" connected=%s (handle=%u, err=%d)\n", connected ? "yes" : "no", HandleNumber(outHandle),
          static_cast<int>(err));
    return connected;
}

void WindowsMidiPort::CloseInput() {
    const HMIDIIN handle = inHandle.load();
    if (!handle)
        return;
    // The reset hands every queued buffer back empty; inputRunning is already false, so
    // the callback does not queue them again.
    midiInReset(handle);
    midiInStop(handle);
    for (unsigned i = 0; i < inputBufferCount; ++i) {
        const MMRESULT result = midiInUnprepareHeader(handle, &inputHeaders[i], sizeof(MIDIHDR));
        if (result != MMSYSERR_NOERROR)
            Trace("Failed to unprepare MIDIHDR %u (%s).\n", i, MidiErrorText(result));
    }
    midiInClose(handle);
    inHandle = nullptr;
}

void WindowsMidiPort::Disconnect() {
    Trace("%s\n", "WindowsMidiPort::Disconnect");
    inputRunning = false;
    if (outHandle) {
        midiOutReset(outHandle);
        midiOutClose(outHandle);
        outHandle = nullptr;
    }
    CloseInput();
}

void WindowsMidiPort::Synchronise() {
    if (!outHandle)
        return;
    Disconnect();
    Connect();
}

std::vector<unsigned char> WindowsMidiPort::ReceiveSysEx(unsigned int, const unsigned char*,
                                                         unsigned long) {
    return LastSysEx();
}

void WindowsMidiPort::Send(const unsigned char* data, unsigned long size) {
    Trace("%s(%p,%u)\n", "WindowsMidiPort::Send", static_cast<const void*>(data),
          static_cast<unsigned>(size));
    if (size == 0)
        return;
    // Only the update's own bytes count as undelivered, not the framing added to them.
    delivered = true;
    if (!frameChunks) {
        SendVerbatim(data, size);
        if (!delivered)
            Undelivered(size);
        return;
    }
    // Each end gets exactly one marker: F0 in front unless the data has it, F7 behind
    // unless the data has it.
    std::vector<unsigned char> framed;
    framed.reserve(size + 2);
    if (data[0] != 0xF0)
        framed.push_back(0xF0);
    framed.insert(framed.end(), data, data + size);
    if (data[size - 1] != 0xF7)
        framed.push_back(0xF7);
    SendVerbatim(framed.data(), static_cast<unsigned long>(framed.size()));
    if (!delivered)
        Undelivered(size);
}

void WindowsMidiPort::SendVerbatim(const unsigned char* data, unsigned long size) {
    static const char* const name = "WindowsMidiPort::SendVerbatim";
    if (!IsConnected()) {
        Trace("Can't send MIDI, not connected\n");
        delivered = false;
        return;
    }
    MIDIHDR header{};
    // Winmm takes a writable pointer but only reads an output buffer.
    header.lpData = reinterpret_cast<LPSTR>(const_cast<unsigned char*>(data));
    header.dwBufferLength = size;
    header.dwFlags = 0;

    // Giving up would leave a hole in the firmware the device is sent, and the sender
    // would carry on: a driver short of memory for a while is waited for, once a second,
    // as one still playing is, for as long as the device is there.
    MMRESULT result;
    while ((result = midiOutPrepareHeader(outHandle, &header, sizeof header)) != MMSYSERR_NOERROR) {
        Trace("%s: Error preparing (%s)\n", name, MidiErrorText(result));
        SleepFor(1000);
        if (!IsConnected()) {
            Trace("Can't send MIDI, not connected\n");
            delivered = false;
            return;
        }
    }
    result = midiOutLongMsg(outHandle, &header, sizeof header);
    if (result != MMSYSERR_NOERROR) {
        Trace("%s: Error sending (%s)\n", name, MidiErrorText(result));
        delivered = false;
    } else {
        SleepFor(static_cast<unsigned>(delay));
    }

    // The driver still owns the buffer until it has played it; the header lives on this
    // stack, so there is no leaving before that.
    while ((result = midiOutUnprepareHeader(outHandle, &header, sizeof header)) ==
           MIDIERR_STILLPLAYING) {
        Trace("%s: Still playing\n", name);
        SleepFor(1000);
    }
    if (result != MMSYSERR_NOERROR)
        Trace("%s: Error unpreparing (%d:%s)\n", name, static_cast<int>(result),
              MidiErrorText(result));
    SleepFor(static_cast<unsigned>(unprepDelay));
}

void WindowsMidiPort::MidiInCallback(UINT message, MIDIHDR* header) {
    switch (message) {
    case MIM_OPEN:
        Trace("MIM open message\n");
        return;
    case MIM_CLOSE:
        Trace("MIM close message\n");
        return;
    case MIM_DATA:
        Trace("MIM data message\n");
        return;
    case MIM_LONGDATA: {
        const DWORD count = header->dwBytesRecorded;
        Trace("MIM longdata message(%u)\n", static_cast<unsigned>(count));
        for (DWORD i = 0; i < count; ++i)
            sysExCollector.Add(static_cast<unsigned char>(header->lpData[i]));
        break;
    }
    case MIM_ERROR:
        Trace("MIM_ERROR message\n");
        return;
    case MIM_LONGERROR:
        Trace("MIM_LONGERROR message\n");
        break;
    case MOM_OPEN:
    case MOM_CLOSE:
    case MOM_DONE:
        Trace("MOM message (ERROR)\n");
        return;
    default:
        Trace("Unknown MIDI IN callback message\n");
        return;
    }

    // Queue the buffer again, unless the device is being closed (its reset returns every
    // buffer empty) or the buffer came back empty for another reason.
    const HMIDIIN handle = inHandle.load();
    if (!inputRunning || header->dwBytesRecorded == 0 || !handle)
        return;
    midiInPrepareHeader(handle, header, sizeof(MIDIHDR));
    if (midiInAddBuffer(handle, header, sizeof(MIDIHDR)) != MMSYSERR_NOERROR)
        Trace("%s: Error recycling buffer\n", "WindowsMidiPort::MidiInCallback");
}

void WindowsMidiPort::PermitOtherPorts() {
    const UINT count = midiOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
            continue;
        // A Yes for a device the port never opens would leave the user waiting for nothing.
        if (IsSystemSynth(caps.szPname))
            continue;
        const std::string question = Format("Do you wish to update '%s'.\n\n", caps.szPname);
        if (MessageBoxA(nullptr, DisplayText(question).c_str(), "MIDI Updater",
                        MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND) == IDYES) {
            portNames.insert(caps.szPname);
            return;
        }
    }
}

void ListInterfaces() {
    Trace("%s output...\n", "ListInterfaces");
    const UINT outputs = midiOutGetNumDevs();
    for (UINT id = 0; id < outputs; ++id) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR)
            Trace("  MIDI OUT port #%d: %s\n", static_cast<int>(id), caps.szPname);
    }
    Trace("%s input...\n", "ListInterfaces");
    const UINT inputs = midiInGetNumDevs();
    for (UINT id = 0; id < inputs; ++id) {
        MIDIINCAPSA caps{};
        if (midiInGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR)
            Trace("  MIDI IN  port #%d: %s\n", static_cast<int>(id), caps.szPname);
    }
}

const char* MidiErrorText(MMRESULT code) {
    // Per thread: the input callback and the job's thread both report errors.
    thread_local char text[256];
    text[0] = '\0';
    midiInGetErrorTextA(code, text, sizeof text);
    text[sizeof text - 1] = '\0';
    return text;
}
