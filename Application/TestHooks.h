#pragma once

// What a test build does beyond the program, where a script stands in for the user and
// a simulated device for the hardware. Two bodies: TestHooks.mm for the program (nothing)
// and TestHooks_Simulated.mm for midi-updater-mac-test, which reads:
//   MIDI_UPDATER_SIMULATE=WORDS   the device behind CoreMIDI, in the words of
//                                 `midi-updater-cli send --simulate`;
//   MIDI_UPDATER_LIST_MENUS=1    every menu item logged once launched, with its keys;
//   MIDI_UPDATER_OPEN=PATH        opened once launched, as the Finder's Open With would;
//   MIDI_UPDATER_OPEN_AGAIN=FILE  offered, as a drop would, each time FILE appears: the
//                                 path FILE holds, or PATH when it is empty.

#include <string>

@class LumoAppDelegate;
class Update;

void StartLaunchTriggers(LumoAppDelegate* delegate); // main thread, after launching

// Job thread, before the port is made. False, with a message for the user, when the
// device cannot be set up.
bool PrepareDevice(const Update& update, std::string& error);

// Job thread, after the job: what the device received against the update; empty for none.
std::string DeviceReport();
