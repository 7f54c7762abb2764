#pragma once

// One JACK client with a MIDI output and a MIDI input port: what the JACK port and the
// device served on JACK share. Outgoing bytes are cut into events (a complete SysEx
// message is one event) and pass to the process callback through a lock-free ring;
// incoming events pass through another ring to a reader thread, which hands their
// bytes on in order. Threads: one thread queues (the caller's), JACK's process thread
// moves bytes, the reader thread calls `onBytes`, JACK's notification thread marks
// changes of the graph.

#include "Linux/MidiEventSplitter.h"
#include "Linux/MissedCycles.h"
#include "Linux/SpscRing.h"

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace midiupdate {

struct JackPortName {
    std::string client; // up to the last colon, so "Synth: Pro" stays whole
    std::string port;
    std::string full;   // "client:port"
    bool input = false; // takes events: a destination
    bool midi = true;   // else audio or another type
};

class JackConnection {
public:
    using OnBytes = std::function<void(const unsigned char* data, std::size_t size)>;
    // On JACK's process thread: bytes of counted events that reached nobody: they went
    // out while our output was connected to nothing (the port behind it has gone), or,
    // on PipeWire, in a cycle it dropped (MissedCycles.h).
    using OnUndelivered = std::function<void(std::size_t size)>;

    explicit JackConnection(OnBytes onBytes, OnUndelivered onUndelivered = nullptr);
    ~JackConnection(); // drains (bounded), then closes the client
    JackConnection(const JackConnection&) = delete;
    JackConnection& operator=(const JackConnection&) = delete;

    // Opens the client, never starting a server. False and a reason when it cannot.
    bool Open(const std::string& clientName, const std::string& outputName,
              const std::string& inputName, std::string& error);
    bool IsOpen() const { return client != nullptr; }
    bool ServerGone() const { return shutDown.load(); }
    std::string ClientName() const;
    std::string OutputName() const; // full names of our ports
    std::string InputName() const;

    // The largest event the server carries, known once the first cycle has run.
    std::size_t MaxEventSize();

    std::vector<JackPortName> Ports(bool midiOnly = true); // every port but our own
    bool Connect(const std::string& source, const std::string& destination);
    void Disconnect(const std::string& source, const std::string& destination);
    bool Exists(const std::string& port);
    // Waits (at most `limit` ms) until the server runs its cycles with the connection from
    // our port to `other`: it publishes new connections a cycle late, and an event sent
    // before then would reach nobody.
    bool WaitUntilConnected(const std::string& ourPort, const std::string& other,
                            unsigned int limit);
    bool GraphChanged() { return graphChanged.exchange(false); } // since the last call

    // Queues bytes as events, waiting for room; returns once all are queued. A message
    // the chunk ends inside is held until a later Queue completes it. False when the
    // server has gone. Events of an uncounted Queue are never told to OnUndelivered.
    bool Queue(const unsigned char* data, std::size_t size, bool counted = true);
    // Queues bytes that are whole as the caller sends them (a device's message), ended or
    // not: nothing is held back waiting for an F7 that may never come.
    bool QueueWhole(const unsigned char* data, std::size_t size);
    // Sends what is held, then waits (at most `limit` ms) until the process callback has
    // passed every queued event on. False when it did not in time.
    bool Drain(unsigned int limit);
    std::uint64_t BytesLost() const { return lost.load(); } // input that found no room

private:
    static int ProcessFn(std::uint32_t frames, void* context);
    static void ShutdownFn(void* context);
    static void PortRegistrationFn(std::uint32_t port, int registered, void* context);
    static void ClientRegistrationFn(const char* name, int registered, void* context);
    int Process(std::uint32_t frames);
    bool WriteEvent(const unsigned char* data, std::size_t size, bool counted);
    bool WaitForCycles(std::uint64_t cycles, unsigned int limit);
    void Read();
    void Close();

    const OnBytes onBytes;
    const OnUndelivered onUndelivered;
    jack_client_t* client = nullptr;
    jack_port_t* output = nullptr;
    jack_port_t* input = nullptr;
    SpscRing outgoing;                         // records: 4-byte length, then the event
    SpscRing incoming;                         // bytes
    std::optional<MidiEventSplitter> splitter; // cut to the server's largest event
    sem_t room;                                // posted by the process callback when it took events
    sem_t received;                            // posted when it put bytes into `incoming`
    std::atomic<std::size_t> maxEventSize{0};
    std::atomic<std::uint64_t> cycles{0};
    std::atomic<std::uint64_t> lost{0};
    std::atomic<bool> shutDown{false};
    std::atomic<bool> graphChanged{false};
    std::atomic<bool> stopping{false};
    std::thread reader;
    std::optional<MissedCycles> missedCycles; // on PipeWire only
};

// True when this process runs on PipeWire's libjack rather than JACK's own.
bool OnPipeWire();

// The MIDI ports (or all ports) of the running JACK server, or an error when none answers.
bool ListJackPorts(std::vector<JackPortName>& ports, std::string& error, bool midiOnly = true);

} // namespace midiupdate
