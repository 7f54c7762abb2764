#pragma once

// How the console's long-running commands take Ctrl-C, a termination request and a
// hangup: a thread of its own takes them with sigwait and tells the TransferWatch, so
// the transfer's threads are never disturbed mid-call. A hangup (the terminal closed,
// ssh dropped) stops only while no bytes have gone out: after that the transfer is
// finished, since stopping would leave a half-written firmware. A second stop request
// ends the program at once, with the terminal's line restored.
//
// Make it before any other thread exists, so that every thread inherits the blocked
// signals and only the watcher takes them.

#include "Console/TransferWatch.h"

#include <csignal>
#include <thread>

namespace midiupdate {

class SignalWatcher {
public:
    explicit SignalWatcher(TransferWatch& watch);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    sigset_t signals{};
    sigset_t previous{};
    std::thread thread;
};

} // namespace midiupdate
