#include "Console/SignalWatcher.h"

#include "MidiUpdateLib/OS.h"

#include <cstdlib>
#include <pthread.h>
#include <unistd.h>

namespace midiupdate {

SignalWatcher::SignalWatcher(TransferWatch& watch) {
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR2}) // SIGUSR2, our own: stop watching
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
    thread = std::thread([this, &watch] {
        int signal = 0;
        while (sigwait(&signals, &signal) == 0 && signal != SIGUSR2) {
            if (signal == SIGHUP && watch.ChunkSent()) {
                Trace("send: hangup after the transfer began; finishing it\n");
                continue;
            }
            if (watch.WasInterrupted()) {
                const char restore[] = "\r\033[K\n";
                (void)!write(STDOUT_FILENO, restore, sizeof restore - 1);
                std::_Exit(128 + signal);
            }
            watch.Interrupt(signal);
        }
    });
}

SignalWatcher::~SignalWatcher() {
    pthread_kill(thread.native_handle(), SIGUSR2);
    thread.join();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace midiupdate
