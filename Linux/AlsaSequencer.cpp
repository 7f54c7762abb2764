#include "Linux/AlsaSequencer.h"

#include "MidiUpdateLib/OS.h"

#include <alsa/asoundlib.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace midiupdate {
namespace {

// The sequencer carries variable-length events in its own memory pool; pieces of this
// size always fit, whatever the pool's configuration.
const std::size_t sysExPiece = 256;

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
    int result = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0);
    if (result < 0) {
        seq = nullptr;
        error = std::string("cannot open the ALSA sequencer: ") + snd_strerror(result);
        return false;
    }
    snd_seq_set_client_name(seq, clientName.c_str());
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
    if (result < 0)
        Trace("AlsaSequencer::Open: no announcements (%s)\n", snd_strerror(result));
    if (pipe2(wakePipe, O_CLOEXEC) != 0) {
        error = "cannot create a pipe";
        snd_seq_close(seq);
        seq = nullptr;
        return false;
    }
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

void AlsaSequencer::Dispatch() {
    // One event at a time, the callback outside the lock (it may send).
    std::vector<unsigned char> bytes;
    for (;;) {
        int type;
        int client;
        int port;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (snd_seq_event_input_pending(seq, 1) <= 0)
                return;
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input(seq, &event);
            if (result == -ENOSPC) {
                Trace("AlsaSequencer: input overrun, the sequencer dropped events\n");
                continue;
            }
            if (result < 0 || !event)
                return;
            type = event->type;
            client = event->data.addr.client;
            port = event->data.addr.port;
            if (type == SND_SEQ_EVENT_SYSEX) {
                const auto* data = static_cast<const unsigned char*>(event->data.ext.ptr);
                bytes.assign(data, data + event->data.ext.len);
            }
        }
        switch (type) {
        case SND_SEQ_EVENT_SYSEX:
            onBytes(bytes.data(), bytes.size());
            break;
        case SND_SEQ_EVENT_PORT_START:
            onAnnounce(Announcement::Started, client, port);
            break;
        case SND_SEQ_EVENT_PORT_EXIT:
            onAnnounce(Announcement::Ended, client, port);
            break;
        case SND_SEQ_EVENT_CLIENT_START:
            onAnnounce(Announcement::Started, client, -1);
            break;
        case SND_SEQ_EVENT_CLIENT_EXIT:
            onAnnounce(Announcement::Ended, client, -1);
            break;
        default:
            break;
        }
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
    return result >= 0 || result == -EBUSY;
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
}

void AlsaSequencer::DisconnectFrom(int client, int port) {
    std::lock_guard<std::mutex> guard(lock);
    snd_seq_disconnect_from(seq, inputPort, client, port);
}

bool AlsaSequencer::Send(const unsigned char* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock);
    if (!seq)
        return false;
    for (std::size_t at = 0; at < size; at += sysExPiece) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, outputPort);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        event.type = SND_SEQ_EVENT_SYSEX;
        const std::size_t piece = size - at < sysExPiece ? size - at : sysExPiece;
        snd_seq_ev_set_variable(&event, piece, const_cast<unsigned char*>(data + at));
        const int result = snd_seq_event_output(seq, &event);
        if (result < 0) {
            Trace("AlsaSequencer::Send: %s after %zu of %zu bytes\n", snd_strerror(result), at,
                  size);
            return false;
        }
    }
    // Only when the events have left the client is the caller's buffer free again.
    int result = snd_seq_drain_output(seq);
    if (result >= 0)
        result = snd_seq_sync_output_queue(seq);
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
