#pragma once

// Stands in for the multimedia MIDI functions (winmm) in test builds: the functions keep
// their real names and signatures (the code under test is compiled with -D_WINMM_), and
// the devices behind them are simulated devices and a few devices that only take bytes.
//
// Output plays each long message at MIDI's wire speed by TimeNow(), so an unprepare too
// early answers MIDIERR_STILLPLAYING, in virtual time under a VirtualClock. Input hands a
// device's messages back in the queued buffers, split at their lengths, through the
// callback, on the thread the device delivers on (its own with ownDeliveryThread). A
// device is exclusive: a second open of its output or input answers MMSYSERR_ALLOCATED.
//
// Threads: configure and inspect from the test's thread while no handle is open; the
// winmm functions may be called from any thread, the callbacks included.

#include "MidiUpdateLib/MidiPortParameters.h"
#include "MidiUpdateLib/Update.h"

#include <cstddef>
#include <string>
#include <vector>

class SimulatedDevice;

namespace winmmstandin {

// One device as winmm lists it: an output, an input, or both under one name.
struct Port {
    std::string name;
    // Takes what the output plays and answers on the input; null for a device that only
    // takes bytes (a synthesizer, the mapper, another instrument). A simulated device that
    // is absent cannot be opened or named, and an open handle on it fails its checks
    // (MMSYSERR_NODRIVER, as after an unplug).
    SimulatedDevice* device = nullptr;
    bool output = true;
    bool input = true;
    // Injected failures.
    bool openFails = false;    // opens answer MMSYSERR_ALLOCATED
    bool prepareFails = false; // header preparations answer MMSYSERR_NOMEM
    bool nameUnreadable = false;
    // Passing ones, as another program holding the device or a driver short of memory
    // gives them: the next so many opens of the output (each with the input open after
    // it) answer MMSYSERR_ALLOCATED, and output header preparations MMSYSERR_NOMEM.
    unsigned int failingOpens = 0;
    unsigned int failingPrepares = 0;
    // A stalling driver: long message number `heldMessage` (from 1, counted over the
    // device's opens; 0 for none) is handed back `heldFor` ms after it has played.
    unsigned int heldMessage = 0;
    unsigned int heldFor = 0;
    // A driver whose hardware is busy: attempt number `refusedMessage` at a long message
    // (from 1, counted over the device's opens; 0 for none) answers MIDIERR_NOTREADY.
    unsigned int refusedMessage = 0;
};

// Replaces every device; devices are numbered in this order, outputs and inputs apart.
// Closes nothing: handles must be closed before.
void Install(std::vector<Port> ports);

// The devices a plain Windows machine has besides the instrument.
Port WavetableSynth(); // "Microsoft GS Wavetable Synth", output only
Port MidiMapper();     // "Microsoft MIDI Mapper", output only

// What the Windows port sends of each portion with these parameters: the portion cut as
// the sender cuts it and, when the parameters frame chunks, each chunk given its missing
// F0 and F7. A device expecting these counts portions as the port sends them.
std::vector<std::vector<unsigned char>>
FramedPortions(const std::vector<Update::SysExPortion>& portions,
               const MidiPortWindowsParameters& parameters);

// Milliseconds a long message of `size` bytes takes at 31250 baud, 10 bits a byte.
unsigned int PlayingTime(std::size_t size);

// The named device's input gets `message` now, on the caller's thread, as if the device
// had sent it (for devices with no simulated device behind them).
void Play(const std::string& name, const std::vector<unsigned char>& message);

// Every long message played on the named device, in order, as handed over.
std::vector<std::vector<unsigned char>> LongMessages(const std::string& name);
// Open output and input handles; each leak shows here.
std::size_t OpenHandles();
// The winmm functions called so far, by name ("midiInAddBuffer"), in order.
std::vector<std::string> Calls();
// Bytes a device sent while its input was not started or had no buffer queued.
std::size_t BytesLost();

} // namespace winmmstandin
