#pragma once

// Accepting a file and running its update on a worker thread.
// StartUpdate: window thread. UpdateWorkerThread: the worker, one per accepted file.

#include "MidiUpdateLib/MidiPort.h"

#include <windows.h>

#include <memory>

class Update;

// Loads the file to show its message, then starts the worker; a file that fails to load
// gets the error box and leaves the window idle. Ignored while a job runs.
void StartUpdate(HWND owner, const char* path);

DWORD WINAPI UpdateWorkerThread(LPVOID request);

// The port the worker sends through: the device behind winmm, or in the test program a
// simulated one (UpdatePort.cpp, UpdatePort_Simulated.cpp).
std::unique_ptr<MidiPort> MakeUpdatePort(const Update& update);
