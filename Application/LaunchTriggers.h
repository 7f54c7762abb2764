#pragma once

// Where a test build acts for the user once the program has launched: there is no
// Finder to open a file with and no way to script a drag. Two bodies: LaunchTriggers.mm
// for the program, LaunchTriggers_Test.mm for midi-updater-mac-test.
//   MIDI_UPDATER_OPEN=PATH        opens PATH as the Finder's Open With would;
//   MIDI_UPDATER_OPEN_AGAIN=FILE  offers PATH once more, as a drop would, when FILE
//                                 appears (the test makes it while an update runs).
// The test build's device is configured by MIDI_UPDATER_SIMULATE (the CoreMIDI stand-in).

@class LumoAppDelegate;

void StartLaunchTriggers(LumoAppDelegate* delegate); // main thread, after launching
