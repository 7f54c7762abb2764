#pragma once

#include <string>
#include <sys/types.h>

namespace testsupport {

// A JACK server of the test's own: `jackd -d dummy` (no sound hardware needed) under a
// private name, so tests running at the same time and the user's server are left
// alone. Clients of this process find it through JACK_DEFAULT_SERVER, which the
// constructor sets. Stopped by its PID.
//
// When this process runs on PipeWire's libjack (LD_LIBRARY_PATH as `pw-jack` sets it),
// the server is `pipewire` instead: a dummy driver and no session manager, its socket
// in a private XDG_RUNTIME_DIR, found through PIPEWIRE_REMOTE; the constructor sets both.
class JackServer {
public:
    // Waits up to ten seconds for the server to take clients; Ready() tells. Without a
    // period: 256 frames for jackd, 2048 for PipeWire.
    explicit JackServer(unsigned int periodFrames = 0);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // Stops the server now (the destructor does it otherwise); only the thread that
    // owns the object, or one that ends the process right after, may call it.
    void Stop();
    // Starts a stopped server again under the same name, as a user restarts theirs.
    bool Start();

    bool Ready() const { return ready; }
    bool PipeWire() const { return pipeWire; }
    unsigned int Period() const { return period; } // frames at 48 kHz
    const std::string& Name() const { return name; }
    std::string Log() const; // what the server printed

private:
    pid_t pid = -1;
    std::string name;
    std::string logPath;
    std::string runtimeDir; // PipeWire's
    std::string configPath; // PipeWire's
    bool pipeWire = false;
    unsigned int period = 0;
    bool ready = false;
};

} // namespace testsupport
