#pragma once

// The stand-in's devices and open handles, shared by its output and input halves.

#include "Stand-ins/winmm/WinmmStandIn.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace winmmstandin {

struct OutHandle {
    std::size_t port;
    DWORD_PTR callback;
    DWORD_PTR instance;
    std::map<MIDIHDR*, unsigned int> playing; // header -> TimeNow() when it is played
};

struct InHandle {
    std::size_t port;
    DWORD_PTR callback;
    DWORD_PTR instance;
    std::deque<MIDIHDR*> queued;
    bool started = false;
};

struct State {
    std::mutex lock; // everything below; never held while a callback runs
    std::vector<Port> ports;
    std::vector<std::size_t> outputs; // device identifier -> port
    std::vector<std::size_t> inputs;
    std::set<OutHandle*> outHandles;
    std::set<InHandle*> inHandles;
    std::map<std::size_t, OutHandle*> outOwner; // port -> its open output
    std::map<std::size_t, InHandle*> inOwner;   // port -> its open input
    std::map<std::string, std::vector<std::vector<unsigned char>>> longMessages;
    std::map<std::size_t, bool> openFailing;              // port -> its last output open failed
    std::map<std::size_t, unsigned int> longMessageCalls; // port -> midiOutLongMsg calls
    std::vector<std::string> calls;
    std::size_t bytesLost = 0;
};

State& TheState();

// Whether a port's device is there now (a device that only takes bytes always is).
bool Present(const Port& port);

// Under the lock: records a call.
void Called(State& state, const char* function);

// Calls a callback registered with CALLBACK_FUNCTION, if any. Not under the lock.
void Notify(DWORD_PTR callback, void* handle, UINT message, DWORD_PTR instance,
            DWORD_PTR parameter1, DWORD_PTR parameter2);

} // namespace winmmstandin
