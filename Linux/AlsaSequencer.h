#pragma once

// One client of the ALSA sequencer with a reader thread: what the ALSA port and the
// device served on ALSA share. Every sequencer call holds one lock, so the caller's
// thread and the reader thread can share the handle; received SysEx bytes and the
// system's client/port announcements go to callbacks on the reader thread.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _snd_seq snd_seq_t;

namespace midiupdate {

struct AlsaPortInfo {
    int client = -1;
    int port = -1;
    std::string clientName;
    std::string portName;
    bool writable = false; // takes events: a destination
    bool readable = false; // gives events: a source
    bool hardware = false; // a port of a card's MIDI hardware, not of a program or driver
    int card = -1;         // the client's card, if any
};

class AlsaSequencer {
public:
    enum class Announcement { Started, Ended };
    using OnBytes = std::function<void(const unsigned char* data, std::size_t size)>;
    // A port (port >= 0) or a whole client (port < 0) came or went.
    using OnAnnounce = std::function<void(Announcement what, int client, int port)>;

    AlsaSequencer(OnBytes onBytes, OnAnnounce onAnnounce);
    ~AlsaSequencer(); // stops the reader, closes the client
    AlsaSequencer(const AlsaSequencer&) = delete;
    AlsaSequencer& operator=(const AlsaSequencer&) = delete;

    // Opens the client with `portNames` ports (one name twice: separate output and
    // input; a single name: one port both ways). False and a reason when it cannot.
    bool Open(const std::string& clientName, const std::string& outputName,
              const std::string& inputName, std::string& error);
    bool IsOpen() const { return seq != nullptr; }
    bool Announces() const { return announces; } // told of clients and ports coming and going

    std::vector<AlsaPortInfo> Ports();      // every port but our own
    bool ConnectTo(int client, int port);   // our output to theirs
    bool ConnectFrom(int client, int port); // theirs to our input
    void DisconnectTo(int client, int port);
    void DisconnectFrom(int client, int port);

    // Sends `data` as SysEx events from our output to its subscribers and returns once
    // they have left the client, each batch only once the clients we connected to have
    // room for it. False when the sequencer refused or a receiver took nothing for long.
    bool Send(const unsigned char* data, std::size_t size);

private:
    struct Pending; // events taken from the kernel, handed on outside the lock

    void Read();
    void Dispatch();
    bool TakePendingLocked(Pending& pending);
    void HandOn(const Pending& pending);
    int RoomLocked(); // the fewest free input cells among our destinations
    // The bytes from `at` on that every receiver has room for now.
    std::size_t FittingBatchLocked(std::size_t at, std::size_t size);
    // The bytes [at, end) of `data` as SysEx events, drained to the kernel.
    bool OutputLocked(const unsigned char* data, std::size_t at, std::size_t end, std::size_t size);

    const OnBytes onBytes;
    const OnAnnounce onAnnounce;
    std::mutex lock; // every call on seq
    snd_seq_t* seq = nullptr;
    int outputPort = -1;
    int inputPort = -1;
    bool announces = false;
    int fd = -1;                   // the handle's descriptor, to ask of other clients
    std::vector<int> destinations; // the clients ConnectTo subscribed
    int wakePipe[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    std::thread reader;
};

// The ports of the sequencer as `send` matches them ("client:port"), or an error.
bool ListAlsaPorts(std::vector<AlsaPortInfo>& ports, std::string& error);

} // namespace midiupdate
