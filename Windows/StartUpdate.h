#pragma once

// Accepting a file and running its update on a worker thread.
// StartUpdate: window thread. UpdateWorkerThread: the worker, one per accepted file.

#include "MidiUpdateLib/MidiPort.h"

#include <windows.h>

#include <memory>
#include <string>

class Update;

// Loads the file to show its message, then starts the worker; a file that fails to load
// gets the error box and leaves the window idle. Ignored while a job runs.
void StartUpdate(HWND owner, const char* path);

// Keeps `path` for the IDM_OPEN that opens it; a path too long to keep gets the error box
// and leaves the window idle, as a file that cannot be read would. False when refused.
bool KeepPathToOpen(const std::string& path);

// The longest path Windows opens without long-path support.
const std::size_t maxPathCharacters = MAX_PATH - 1;
bool PathFits(const std::string& path);

// The error box for a path longer than the program keeps (from a drop or the file
// chooser), instead of a cut path read as a bad file.
void RefusePathTooLong();

DWORD WINAPI UpdateWorkerThread(LPVOID request);

// The port the worker sends through: the device behind winmm, or in the test program a
// simulated one (UpdatePort.cpp, UpdatePort_Simulated.cpp).
std::unique_ptr<MidiPort> MakeUpdatePort(const Update& update);
