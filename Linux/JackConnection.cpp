#include "Linux/JackConnection.h"

#include "MidiUpdateLib/OS.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dlfcn.h>

namespace midiupdate {
namespace {

// Rings of this size hold a whole event of any size a server carries (JACK's MIDI
// buffers are 32 KiB) many times over, so the sender rarely waits on a slow cycle.
const std::size_t outgoingCapacity = 1 << 20;
// Bytes from the other side: the reader thread empties it within a cycle or two, and a
// whole update arriving at the device fits in it even if the reader falls behind.
const std::size_t incomingCapacity = 4 << 20;

// Waits for a semaphore up to `milliseconds`; false on timeout.
bool Wait(sem_t& semaphore, unsigned int milliseconds) {
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    while (sem_timedwait(&semaphore, &until) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

// libjack's own complaints ("cannot connect to server socket") go to the diagnostic log
// like ours, not over a console's display.
void JackMessage(const char* text) {
    Trace("libjack: %s\n", text);
}

// PipeWire's JACK layer hands a cycle's events on in a buffer the size of the port's,
// framing each in 16 bytes and padding its bytes to 8, the whole in 16 more. A cycle
// that fills the port with small events overflows it, and PipeWire drops that cycle's
// events without a word (measured: back-to-back 256- and 384-byte messages lost, 512
// kept). So a cycle takes only what fits framed so, a few percent less room on JACK 2.
const std::size_t sequenceFraming = 16;
std::size_t Framed(std::size_t length) {
    return 16 + ((length + 7) & ~std::size_t{7});
}

// A record's header: the event's length, with this bit set when it is not counted.
const std::uint32_t uncountedBit = 0x80000000u;

std::uint32_t Header(const unsigned char* header) {
    std::uint32_t value;
    std::memcpy(&value, header, sizeof value);
    return value;
}

} // namespace

JackConnection::JackConnection(OnBytes onBytes, OnUndelivered onUndelivered)
    : onBytes(std::move(onBytes)), onUndelivered(std::move(onUndelivered)),
      outgoing(outgoingCapacity), incoming(incomingCapacity) {
    sem_init(&room, 0, 0);
    sem_init(&received, 0, 0);
}

JackConnection::~JackConnection() {
    if (client)
        Drain(1000);
    Close();
    sem_destroy(&room);
    sem_destroy(&received);
}

void JackConnection::Close() {
    if (client) {
        // After the server has gone, libjack can only close the client (deactivating it
        // crashes inside libjack).
        if (!shutDown)
            jack_deactivate(client);
        jack_client_close(client);
        client = nullptr;
    }
    if (reader.joinable()) {
        stopping = true;
        sem_post(&received);
        reader.join();
    }
}

bool JackConnection::Open(const std::string& clientName, const std::string& outputName,
                          const std::string& inputName, std::string& error) {
    jack_set_error_function(&JackMessage);
    jack_set_info_function(&JackMessage);
    jack_status_t status{};
    // Never start a server: one the user did not start would have no connections.
    client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (!client) {
        error = (status & JackServerFailed) ? "no JACK server is running"
                                            : Format("cannot open a JACK client (status 0x%x)",
                                                     static_cast<unsigned>(status));
        return false;
    }
    output =
        jack_port_register(client, outputName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    input =
        jack_port_register(client, inputName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!output || !input) {
        error = "cannot register JACK MIDI ports";
        Close();
        return false;
    }
    jack_set_process_callback(client, &JackConnection::ProcessFn, this);
    jack_on_shutdown(client, &JackConnection::ShutdownFn, this);
    jack_set_port_registration_callback(client, &JackConnection::PortRegistrationFn, this);
    jack_set_client_registration_callback(client, &JackConnection::ClientRegistrationFn, this);
    if (OnPipeWire())
        missedCycles.emplace();
    reader = std::thread([this] { Read(); });
    if (jack_activate(client) != 0) {
        error = "cannot activate the JACK client";
        Close();
        return false;
    }
    // An event the server cannot carry would block every one behind it; such messages
    // are refused before sending, and anything else is cut to fit.
    const std::size_t largest = MaxEventSize();
    splitter.emplace(largest ? largest : 1024);
    return true;
}

bool OnPipeWire() {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(&jack_client_open), &info) != 0 && info.dli_fname &&
           std::string(info.dli_fname).find("/pipewire-") != std::string::npos;
}

std::string JackConnection::ClientName() const {
    return client ? jack_get_client_name(client) : "";
}

std::string JackConnection::OutputName() const {
    return output ? jack_port_name(output) : "";
}

std::string JackConnection::InputName() const {
    return input ? jack_port_name(input) : "";
}

int JackConnection::ProcessFn(std::uint32_t frames, void* context) {
    return static_cast<JackConnection*>(context)->Process(frames);
}

void JackConnection::ShutdownFn(void* context) {
    auto* self = static_cast<JackConnection*>(context);
    self->shutDown = true;
    sem_post(&self->room);
}

void JackConnection::PortRegistrationFn(std::uint32_t, int, void* context) {
    static_cast<JackConnection*>(context)->graphChanged = true;
}

void JackConnection::ClientRegistrationFn(const char*, int, void* context) {
    static_cast<JackConnection*>(context)->graphChanged = true;
}

// JACK's real-time thread: no locks, no allocation, no waiting.
int JackConnection::Process(std::uint32_t frames) {
    void* out = jack_port_get_buffer(output, frames);
    jack_midi_clear_buffer(out);
    const std::size_t space = jack_midi_max_event_size(out);
    // The largest event that fits framed on its own.
    maxEventSize.store(space > sequenceFraming + Framed(0)
                           ? (space - sequenceFraming - Framed(0)) & ~std::size_t{7}
                           : 0,
                       std::memory_order_relaxed);
    std::size_t framed = sequenceFraming;
    bool took = false;
    // Read once per cycle from the server's graph, without locks.
    const bool heard = jack_port_connected(output) > 0;
    std::size_t unheard = 0;
    std::size_t counted = 0; // heard, and so lost only with the cycle
    unsigned char header[4];
    while (outgoing.Peek(header, sizeof header) == sizeof header) {
        const std::uint32_t length = Header(header) & ~uncountedBit;
        // A record is written whole, so its body is there; it waits for the next cycle
        // when this one's buffer is full.
        if (length > jack_midi_max_event_size(out) || framed + Framed(length) > space)
            break;
        framed += Framed(length);
        jack_midi_data_t* event = jack_midi_event_reserve(out, 0, length);
        if (!event)
            break;
        outgoing.Peek(event, length, sizeof header);
        outgoing.Consume(sizeof header + length);
        took = true;
        if (!(Header(header) & uncountedBit))
            (heard ? counted : unheard) += length;
    }
    if (took)
        sem_post(&room);
    if (missedCycles)
        unheard += missedCycles->Cycle(jack_last_frame_time(client), frames,
                                       jack_frames_since_cycle_start(client), counted);
    if (unheard > 0 && onUndelivered)
        onUndelivered(unheard);

    void* in = jack_port_get_buffer(input, frames);
    const std::uint32_t count = jack_midi_get_event_count(in);
    bool put = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, in, i) != 0)
            continue;
        if (incoming.Write(event.buffer, event.size))
            put = true;
        else
            lost.fetch_add(event.size, std::memory_order_relaxed);
    }
    if (put)
        sem_post(&received);
    cycles.fetch_add(1, std::memory_order_release);
    return 0;
}

void JackConnection::Read() {
    std::vector<unsigned char> bytes(64 * 1024);
    std::uint64_t reported = 0;
    while (!stopping) {
        Wait(received, 200);
        for (;;) {
            const std::size_t n = incoming.Peek(bytes.data(), bytes.size());
            if (n == 0)
                break;
            incoming.Consume(n);
            onBytes(bytes.data(), n);
        }
        const std::uint64_t nowLost = lost.load();
        if (nowLost != reported) {
            Trace("JackConnection: %llu received bytes found no room and were lost\n",
                  static_cast<unsigned long long>(nowLost));
            reported = nowLost;
        }
    }
}

std::size_t JackConnection::MaxEventSize() {
    // The first cycle after activation tells; a few cycles at most.
    for (int i = 0; i < 200 && maxEventSize.load() == 0 && client && !shutDown; ++i)
        WaitForCycles(1, 10);
    return maxEventSize.load();
}

bool JackConnection::WaitForCycles(std::uint64_t n, unsigned int limit) {
    const std::uint64_t target = cycles.load(std::memory_order_acquire) + n;
    const auto start = SystemClock().TimeNow();
    while (cycles.load(std::memory_order_acquire) < target) {
        if (shutDown || SystemClock().TimeNow() - start >= limit)
            return false;
        Wait(room, 2);
    }
    return true;
}

bool JackConnection::WriteEvent(const unsigned char* data, std::size_t size, bool counted) {
    unsigned char header[4];
    const std::uint32_t value = static_cast<std::uint32_t>(size) | (counted ? 0 : uncountedBit);
    std::memcpy(header, &value, sizeof header);
    while (!outgoing.Write(header, sizeof header, data, size)) {
        if (shutDown)
            return false;
        Wait(room, 100);
    }
    return true;
}

bool JackConnection::Queue(const unsigned char* data, std::size_t size, bool counted) {
    if (!client || !splitter || shutDown)
        return false;
    bool ok = true;
    splitter->Add(data, size, [this, &ok, counted](const unsigned char* event, std::size_t length) {
        ok = ok && WriteEvent(event, length, counted);
    });
    return ok;
}

bool JackConnection::QueueWhole(const unsigned char* data, std::size_t size) {
    if (!Queue(data, size))
        return false;
    bool ok = true;
    splitter->Flush([this, &ok](const unsigned char* event, std::size_t length) {
        ok = ok && WriteEvent(event, length, true);
    });
    return ok;
}

bool JackConnection::Drain(unsigned int limit) {
    if (!client || !splitter)
        return true;
    bool ok = true;
    splitter->Flush([this, &ok](const unsigned char* event, std::size_t length) {
        ok = ok && WriteEvent(event, length, true);
    });
    const auto start = SystemClock().TimeNow();
    while (outgoing.Available() != 0) {
        if (shutDown || SystemClock().TimeNow() - start >= limit)
            return false;
        Wait(room, 10);
    }
    // The last events are in our buffer for the current cycle; once two more cycles have
    // run the ports behind ours have read them too.
    return ok && WaitForCycles(2, limit);
}

std::vector<JackPortName> JackConnection::Ports(bool midiOnly) {
    std::vector<JackPortName> result;
    if (!client)
        return result;
    const std::string self = ClientName() + ":";
    const char** names =
        jack_get_ports(client, nullptr, midiOnly ? JACK_DEFAULT_MIDI_TYPE : nullptr, 0);
    for (const char** name = names; name && *name; ++name) {
        const std::string full = *name;
        if (full.compare(0, self.size(), self) == 0)
            continue;
        jack_port_t* port = jack_port_by_name(client, *name);
        JackPortName entry;
        entry.full = full;
        // A client's name may hold a colon itself ("Synth: Pro:in"); port names, ours and
        // the devices', seldom do. The whole name matches whichever it is.
        const std::size_t colon = full.rfind(':');
        entry.client = full.substr(0, colon);
        entry.port = colon == std::string::npos ? full : full.substr(colon + 1);
        entry.input = port && (jack_port_flags(port) & JackPortIsInput);
        const char* type = port ? jack_port_type(port) : nullptr;
        entry.midi = type && std::strcmp(type, JACK_DEFAULT_MIDI_TYPE) == 0;
        result.push_back(entry);
    }
    if (names)
        jack_free(names);
    return result;
}

bool JackConnection::Connect(const std::string& source, const std::string& destination) {
    const int result = jack_connect(client, source.c_str(), destination.c_str());
    if (result != 0 && result != EEXIST) {
        Trace("JackConnection::Connect %s -> %s failed (%d)\n", source.c_str(), destination.c_str(),
              result);
        return false;
    }
    return true;
}

void JackConnection::Disconnect(const std::string& source, const std::string& destination) {
    if (client)
        jack_disconnect(client, source.c_str(), destination.c_str());
}

bool JackConnection::WaitUntilConnected(const std::string& ourPort, const std::string& other,
                                        unsigned int limit) {
    jack_port_t* port = jack_port_by_name(client, ourPort.c_str());
    const auto start = SystemClock().TimeNow();
    while (port && !jack_port_connected_to(port, other.c_str())) {
        if (shutDown || SystemClock().TimeNow() - start >= limit)
            return false;
        WaitForCycles(1, limit);
    }
    return port && WaitForCycles(1, limit);
}

bool JackConnection::Exists(const std::string& port) {
    return client && jack_port_by_name(client, port.c_str()) != nullptr;
}

bool ListJackPorts(std::vector<JackPortName>& ports, std::string& error, bool midiOnly) {
    JackConnection connection([](const unsigned char*, std::size_t) {});
    if (!connection.Open("midi-updater-list", "out", "in", error))
        return false;
    ports = connection.Ports(midiOnly);
    return true;
}

} // namespace midiupdate
