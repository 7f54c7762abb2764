#pragma once

// Test builds of the Windows program: the device behind the stand-in winmm, described by
// the same words as `midi-updater-cli send --simulate` takes, from the environment
// variable MIDI_UPDATER_SIMULATE, e.g.
//   --device-status accept --device-version 1.05 --device-expects 'Z:\tmp\my files\fw.upd'
// The device is named after the update's first Windows port name unless --device-name
// says otherwise, stands beside the system synth and mapper, and expects the portions
// of --device-expects (else the update's own) as the Windows port sends them with the
// update's parameters: chunked and framed (FramedPortions). Each time the port closes
// the device's output the stand-in traces the integrity line so far.
//
// Threads: call between jobs, while no handle is open (it replaces the devices).

#include "Simulator/Integrity.h"

#include <memory>
#include <optional>
#include <string>

class ReplyScheduler;
class Update;

namespace winmmstandin {

// Real time; an unset variable means a device with the words' defaults. False, with a
// message for the user that names the variable, on bad words or an unreadable file.
bool SimulateFromEnvironment(const Update& update, std::string& error);
// The same from `words`, with replies scheduled by `scheduler`.
bool Simulate(const std::string& words, const Update& update,
              std::unique_ptr<ReplyScheduler> scheduler, std::string& error);
// What the simulated device received against what it expects; none before Simulate.
std::optional<IntegrityReport> SimulatedIntegrity();
// Removes the devices and ends the simulated one (its thread with it).
void EndSimulation();

} // namespace winmmstandin
