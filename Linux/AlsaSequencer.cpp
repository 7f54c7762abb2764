#include "Linux/AlsaSequencer.h"

#include "Linux/AlsaClientPool.h"
#include "MidiUpdateLib/OS.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace midiupdate {
namespace {

// The sequencer carries variable-length events in its own memory pool; pieces of this
// size always fit, whatever the pool's configuration.
const std::size_t sysExPiece = 256;

// The sequencer drops, without telling the sender, whatever arrives while a client's
// input pool is full: nothing pushes back between clients. So the pool is the kernel's
// largest (2000 cells of 28 bytes: 181 of our 256-byte pieces, 46 KB of SysEx; the
// default 200 cells held under 5 KB and overran on 8000-byte messages), and the
// library's read buffer takes a whole pool in one read.
const int inputPoolCells = 2000;
const std::size_t inputBufferBytes = 128 * 1024;

// How long a receiving client may take nothing before a send gives up: far beyond any
// scheduling delay, short of looking hung.
const unsigned int receiverPatience = 5000;

// libasound's own complaints go to the diagnostic log like ours, not over a display.
void AlsaMessage(const char* file, int line, const char* function, int error, const char* format,
                 ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    Trace("libasound: %s:%d (%s) %s%s%s\n", file, line, function, text, error ? ": " : "",
          error ? snd_strerror(error) : "");
}

} // namespace

AlsaSequencer::AlsaSequencer(OnBytes onBytes, OnAnnounce onAnnounce)
    : onBytes(std::move(onBytes)), onAnnounce(std::move(onAnnounce)) {}

AlsaSequencer::~AlsaSequencer() {
    if (reader.joinable()) {
        stopping = true;
        const char wake = 1;
        (void)!write(wakePipe[1], &wake, 1);
        reader.join();
    }
    if (seq)
        snd_seq_close(seq);
    for (int fd : wakePipe)
        if (fd >= 0)
            close(fd);
}

bool AlsaSequencer::Open(const std::string& clientName, const std::string& outputName,
                         const std::string& inputName, std::string& error) {
    std::lock_guard<std::mutex> guard(lock);
    snd_lib_error_set_handler(&AlsaMessage);
    int result = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0);
    if (result < 0) {
        seq = nullptr;
        error = std::string("cannot open the ALSA sequencer: ") + snd_strerror(result);
        return false;
    }
    snd_seq_set_client_name(seq, clientName.c_str());
    if (snd_seq_set_client_pool_input(seq, inputPoolCells) < 0 ||
        snd_seq_set_input_buffer_size(seq, inputBufferBytes) < 0)
        Trace("AlsaSequencer::Open: the input pool keeps its default size\n");
    const unsigned int type = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
    if (outputName == inputName) {
        outputPort = inputPort =
            snd_seq_create_simple_port(seq, outputName.c_str(),
                                       SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                                           SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                       type);
    } else {
        outputPort = snd_seq_create_simple_port(
            seq, outputName.c_str(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, type);
        inputPort = snd_seq_create_simple_port(
            seq, inputName.c_str(), SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, type);
    }
    if (outputPort < 0 || inputPort < 0) {
        error = std::string("cannot create sequencer ports: ") +
                snd_strerror(outputPort < 0 ? outputPort : inputPort);
        snd_seq_close(seq);
        seq = nullptr;
        return false;
    }
    // Ports coming and going are announced; no need to poll for them.
    result =
        snd_seq_connect_from(seq, inputPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    announces = result >= 0;
    if (result < 0)
        Trace("AlsaSequencer::Open: no announcements (%s)\n", snd_strerror(result));
    if (pipe2(wakePipe, O_CLOEXEC) != 0) {
        error = "cannot create a pipe";
        snd_seq_close(seq);
        seq = nullptr;
        return false;
    }
    pollfd descriptor{};
    if (snd_seq_poll_descriptors(seq, &descriptor, 1, POLLOUT) == 1)
        fd = descriptor.fd;
    reader = std::thread([this] { Read(); });
    return true;
}

void AlsaSequencer::Read() {
    std::vector<pollfd> fds;
    {
        std::lock_guard<std::mutex> guard(lock);
        const int count = snd_seq_poll_descriptors_count(seq, POLLIN);
        fds.resize(count > 0 ? count + 1 : 1);
        if (count > 0)
            snd_seq_poll_descriptors(seq, fds.data() + 1, count, POLLIN);
    }
    fds[0] = pollfd{wakePipe[0], POLLIN, 0};
    while (!stopping) {
        for (pollfd& fd : fds)
            fd.revents = 0;
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        if (stopping)
            break;
        Dispatch();
    }
}

struct AlsaSequencer::Pending {
    struct Item {
        int type;
        int client;
        int port;
        std::size_t length; // of a run of SysEx bytes
    };
    std::vector<Item> items;
    std::vector<unsigned char> bytes;
};

bool AlsaSequencer::TakePendingLocked(Pending& pending) {
    pending.items.clear();
    pending.bytes.clear();
    while (snd_seq_event_input_pending(seq, pending.items.empty() ? 1 : 0) > 0) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(seq, &event);
        if (result == -ENOSPC) {
            Trace("AlsaSequencer: input overrun, the sequencer dropped events\n");
            continue;
        }
        if (result < 0 || !event)
            break;
        if (event->type == SND_SEQ_EVENT_SYSEX) {
            const auto* data = static_cast<const unsigned char*>(event->data.ext.ptr);
            pending.bytes.insert(pending.bytes.end(), data, data + event->data.ext.len);
            if (!pending.items.empty() && pending.items.back().type == SND_SEQ_EVENT_SYSEX)
                pending.items.back().length += event->data.ext.len;
            else
                pending.items.push_back({SND_SEQ_EVENT_SYSEX, 0, 0, event->data.ext.len});
        } else {
            pending.items.push_back(
                {event->type, event->data.addr.client, event->data.addr.port, 0});
        }
    }
    return !pending.items.empty();
}

void AlsaSequencer::HandOn(const Pending& pending) {
    std::size_t at = 0;
    for (const Pending::Item& item : pending.items) {
        switch (item.type) {
        case SND_SEQ_EVENT_SYSEX:
            onBytes(pending.bytes.data() + at, item.length);
            at += item.length;
            break;
        case SND_SEQ_EVENT_PORT_START:
            onAnnounce(Announcement::Started, item.client, item.port);
            break;
        case SND_SEQ_EVENT_PORT_EXIT:
            onAnnounce(Announcement::Ended, item.client, item.port);
            break;
        case SND_SEQ_EVENT_CLIENT_START:
            onAnnounce(Announcement::Started, item.client, -1);
            break;
        case SND_SEQ_EVENT_CLIENT_EXIT:
            onAnnounce(Announcement::Ended, item.client, -1);
            break;
        default:
            break;
        }
    }
}

void AlsaSequencer::Dispatch() {
    // Everything pending is taken in one go under the lock, so the kernel's pool empties
    // as fast as it can; the callbacks run afterwards, outside the lock (they may send).
    Pending pending;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!TakePendingLocked(pending))
                return;
        }
        HandOn(pending);
    }
}

std::vector<AlsaPortInfo> AlsaSequencer::Ports() {
    std::vector<AlsaPortInfo> ports;
    std::lock_guard<std::mutex> guard(lock);
    if (!seq)
        return ports;
    const int self = snd_seq_client_id(seq);
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_malloc(&client);
    snd_seq_port_info_malloc(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        if (id == self || id == SND_SEQ_CLIENT_SYSTEM)
            continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            const unsigned int caps = snd_seq_port_info_get_capability(port);
            AlsaPortInfo info;
            info.client = id;
            info.port = snd_seq_port_info_get_port(port);
            info.clientName = snd_seq_client_info_get_name(client);
            info.portName = snd_seq_port_info_get_name(port);
            info.hardware = snd_seq_port_info_get_type(port) & SND_SEQ_PORT_TYPE_HARDWARE;
            info.card = snd_seq_client_info_get_card(client);
            info.writable = (caps & SND_SEQ_PORT_CAP_WRITE) && (caps & SND_SEQ_PORT_CAP_SUBS_WRITE);
            info.readable = (caps & SND_SEQ_PORT_CAP_READ) && (caps & SND_SEQ_PORT_CAP_SUBS_READ);
            if (info.writable || info.readable)
                ports.push_back(info);
        }
    }
    snd_seq_port_info_free(port);
    snd_seq_client_info_free(client);
    return ports;
}

bool AlsaSequencer::ConnectTo(int client, int port) {
    std::lock_guard<std::mutex> guard(lock);
    const int result = snd_seq_connect_to(seq, outputPort, client, port);
    if (result < 0 && result != -EBUSY) // EBUSY: already connected
        Trace("AlsaSequencer::ConnectTo %d:%d: %s\n", client, port, snd_strerror(result));
    const bool connected = result >= 0 || result == -EBUSY;
    if (connected)
        destinations.push_back(client);
    return connected;
}

bool AlsaSequencer::ConnectFrom(int client, int port) {
    std::lock_guard<std::mutex> guard(lock);
    const int result = snd_seq_connect_from(seq, inputPort, client, port);
    if (result < 0 && result != -EBUSY)
        Trace("AlsaSequencer::ConnectFrom %d:%d: %s\n", client, port, snd_strerror(result));
    return result >= 0 || result == -EBUSY;
}

void AlsaSequencer::DisconnectTo(int client, int port) {
    std::lock_guard<std::mutex> guard(lock);
    snd_seq_disconnect_to(seq, outputPort, client, port);
    const auto found = std::find(destinations.begin(), destinations.end(), client);
    if (found != destinations.end())
        destinations.erase(found);
}

void AlsaSequencer::DisconnectFrom(int client, int port) {
    std::lock_guard<std::mutex> guard(lock);
    snd_seq_disconnect_from(seq, inputPort, client, port);
}

int AlsaSequencer::RoomLocked() {
    int room = INT_MAX;
    for (int client : destinations) {
        const ClientRoom pool = InputRoomOf(fd, client);
        if (pool.known && pool.freeCells < room)
            room = pool.freeCells;
    }
    return room;
}

std::size_t AlsaSequencer::FittingBatchLocked(std::size_t at, std::size_t size) {
    // Only as many pieces as every receiving client has room for: what does not fit would
    // be dropped, and the receiver's queue with it.
    int room = RoomLocked();
    std::size_t batch = 0;
    for (std::size_t next = at; next < size; next += sysExPiece) {
        const std::size_t piece = std::min(size - next, sysExPiece);
        if (CellsFor(piece) > room)
            break;
        room -= CellsFor(piece);
        batch += piece;
    }
    return batch;
}

bool AlsaSequencer::OutputLocked(const unsigned char* data, std::size_t at, std::size_t end,
                                 std::size_t size) {
    for (; at < end; at += sysExPiece) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, outputPort);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        event.type = SND_SEQ_EVENT_SYSEX;
        const std::size_t piece = std::min(end - at, sysExPiece);
        snd_seq_ev_set_variable(&event, piece, const_cast<unsigned char*>(data + at));
        const int result = snd_seq_event_output(seq, &event);
        if (result < 0) {
            Trace("AlsaSequencer::Send: %s after %zu of %zu bytes\n", snd_strerror(result), at,
                  size);
            return false;
        }
    }
    // Only when the events have left the client is the caller's buffer free again.
    const int result = snd_seq_drain_output(seq);
    if (result != 0) {
        Trace("AlsaSequencer::Send: %s while draining\n",
              result < 0 ? snd_strerror(result) : "events left over");
        return false;
    }
    return true;
}

bool AlsaSequencer::Send(const unsigned char* data, std::size_t size) {
    std::unique_lock<std::mutex> guard(lock);
    if (!seq)
        return false;
    bool waiting = false;
    unsigned int waitedSince = 0;
    for (std::size_t at = 0; at < size;) {
        const std::size_t batch = FittingBatchLocked(at, size);
        if (batch == 0) {
            const unsigned int now = TimeNow();
            if (!waiting) {
                waiting = true;
                waitedSince = now;
            } else if (now - waitedSince >= receiverPatience) {
                Trace("AlsaSequencer::Send: the receiver took nothing for %u ms; %zu of %zu "
                      "bytes not sent\n",
                      receiverPatience, size - at, size);
                return false;
            }
            guard.unlock(); // the reader goes on meanwhile
            SleepFor(1);
            guard.lock();
            if (!seq)
                return false;
            continue;
        }
        waiting = false;
        if (!OutputLocked(data, at, at + batch, size))
            return false;
        at += batch;
    }
    const int result = snd_seq_sync_output_queue(seq);
    if (result < 0) {
        Trace("AlsaSequencer::Send: %s while draining\n", snd_strerror(result));
        return false;
    }
    return true;
}

bool ListAlsaPorts(std::vector<AlsaPortInfo>& ports, std::string& error) {
    AlsaSequencer sequencer([](const unsigned char*, std::size_t) {},
                            [](AlsaSequencer::Announcement, int, int) {});
    if (!sequencer.Open("midi-updater-list", "out", "in", error))
        return false;
    ports = sequencer.Ports();
    return true;
}

} // namespace midiupdate
