#include "Windows/StartUpdate.h"

#include "MidiUpdateLib/Update.h"
#include "Stand-ins/winmm/Simulation.h"
#include "Windows/WindowsMidiPort.h"

#include <stdexcept>

// The test program's port: the shipped one, on the winmm stand-in, whose device
// MIDI_UPDATER_SIMULATE describes; each job gets a device of its own.
std::unique_ptr<MidiPort> MakeUpdatePort(const Update& update) {
    winmmstandin::EndSimulation();
    std::string error;
    if (!winmmstandin::SimulateFromEnvironment(update, error))
        throw std::runtime_error(error); // names the variable
    return std::make_unique<WindowsMidiPort>(update.windowsParameters);
}
