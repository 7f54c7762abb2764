#pragma once

// The Windows program's MIDI port, on the multimedia MIDI functions: it picks one output
// and one input device by name, sends each chunk as one long message and waits until the
// driver has played it, and feeds the long messages the input device returns to the
// base's collector.
//
// Threads: every operation runs on the job's thread, except that ListInterfaces also runs
// on the window's thread, and the two device callbacks run on a thread of the multimedia
// system. Shared with the input callback: inHandle, inputRunning and, in the base, the
// collector (callback only) and lastSysEx (under the base's lock).

#include "MidiUpdateLib/MidiPort.h"
#include "MidiUpdateLib/MidiPortParameters.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <atomic>
#include <set>
#include <string>
#include <vector>

class WindowsMidiPort : public MidiPort {
public:
    explicit WindowsMidiPort(const MidiPortWindowsParameters& parameters);
    ~WindowsMidiPort() override; // disconnects

    unsigned long IdealChunkSize() override;
    unsigned long MaxChunkSize() override;
    bool IsConnected() override;      // opens the devices when the output is not open
    void PermitOtherPorts() override; // asks the user about each other output device
    void Disconnect() override;
    void Send(const unsigned char* data, unsigned long size) override; // framed as asked
    void Synchronise() override;                                       // reopens an open port
    // The last reply stored; neither sends `request` nor waits.
    std::vector<unsigned char> ReceiveSysEx(unsigned int timeoutMilliseconds,
                                            const unsigned char* request,
                                            unsigned long size) override;
    // The bytes unchanged, as one long message; returns once the driver has played them.
    // A message that never reached the driver (no device, refused) is left to Send to
    // count as undelivered.
    virtual void SendVerbatim(const unsigned char* data, unsigned long size);

    void Connect();
    void MidiInCallback(UINT message, MIDIHDR* header); // the input callback's work

private:
    static constexpr int inputBufferCount = 10;
    // Winmm hands back a long message in pieces of at most this many bytes.
    static constexpr DWORD inputBufferSize = 256;

    bool IsWantedDevice(const char* name) const;
    UINT FindOutputDevice() const;
    UINT FindInputDevice() const;
    void CloseInput();

    std::set<std::string> portNames;
    const int idealChunkSize;
    const int maxChunkSize;
    const int delay;
    const int unprepDelay;
    const bool frameChunks;
    std::vector<std::vector<char>> inputBuffers;
    MIDIHDR inputHeaders[inputBufferCount];
    HMIDIOUT outHandle = nullptr;
    std::atomic<HMIDIIN> inHandle{nullptr};
    std::atomic<bool> inputRunning{false};
    // Cleared by SendVerbatim when its message did not reach the driver; Send counts it.
    bool delivered = true;
};

// Logs every output and input device whose name can be read.
void ListInterfaces();

// The multimedia system's text for an error code; valid until the calling thread's next call.
const char* MidiErrorText(MMRESULT code);
