#pragma once

// One way to describe a simulated device for every host: the console's
// `send --simulate`, the platform stand-ins (from the MIDI_UPDATER_SIMULATE environment
// variable) and the console's `device` command all take the same words.
//
//   --device-name NAME                 the device's port name (default: the host's
//                                      first port name of the update)
//   --device-status SCRIPT             replies per portion: accept, error, busy:N, busy,
//                                      silent, garbage, endless, comma-separated, the
//                                      last repeating
//   --device-version MAJOR.MINOR       answers identity requests (default: it does not)
//   --device-identity FAULT            answers them short, foreign or no-f7
//   --device-appears-after MS          absent for this long at first
//   --device-vanishes-after-portion N:MS
//   --device-vanishes-during-portion N:MS  away halfway through portion N (the last of the
//                                      two vanish words counts)
//   --device-expects FILE              the update whose portions it expects, compared
//                                      byte for byte as they arrive (LoadExpectedUpdate)
//   --chunk-sizes IDEAL,MAX            chunk sizes of the console's simulated port
//
// Each word may also be given as --word=VALUE. Plain functions, no shared state.

#include "Simulator/DeviceConfig.h"

#include <memory>
#include <string>
#include <vector>

class Update;

struct DeviceOptions {
    SimulatedDeviceConfig device;        // replies, version, presence, name
    bool nameGiven = false;              // --device-name given; else the host's default
    std::string expectsPath;             // --device-expects FILE; empty: none
    unsigned long idealChunkSize = 2048; // --chunk-sizes
    unsigned long maxChunkSize = 16384;
};

// Parses the words onto `options` (so defaults a host set beforehand stay unless a word
// changes them). On an unknown or bad word returns false with a message for the user;
// `options` may then be partly changed.
bool ParseDeviceOptions(const std::vector<std::string>& words, DeviceOptions& options,
                        std::string& error);

// Splits text into words as a POSIX shell does, without expansions: blanks separate;
// '...' is literal; in "..." a backslash escapes only " \ $ ` and a newline; outside
// quotes a backslash escapes any character. False on an unclosed quote or a trailing
// backslash.
bool SplitShellWords(const std::string& text, std::vector<std::string>& words, std::string& error);

// The value of the environment variable MIDI_UPDATER_SIMULATE, split and parsed onto
// `options`; true and `options` untouched for null (the variable is not set).
bool ParseSimulateVariable(const char* value, DeviceOptions& options, std::string& error);
// The same, with the variable read from the environment.
bool DeviceOptionsFromEnvironment(DeviceOptions& options, std::string& error);
// Whether the variable is set to anything but an empty text.
bool SimulateVariableGiven();

// Reads the update named by --device-expects as the updater reads it. Null, with the
// reason in `error`, when it cannot be read.
std::unique_ptr<Update> LoadExpectedUpdate(const std::string& path, std::string& error);
