// The stand-in's sequencer. One lock guards the whole sequencer; device input and reader
// waits happen outside it.

#include "Stand-ins/alsa/AlsaStandIn.h"

#include "Simulator/SimulatedDevice.h"

#include <alsa/asoundlib.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

struct _snd_seq {
    int client;
};

struct _snd_seq_client_info {
    int client = -1;
    std::string name;
};

struct _snd_seq_port_info {
    int client = -1;
    int port = -1;
    std::string name;
    unsigned int capability = 0;
};

namespace {

struct Event {
    snd_seq_event_t header{};
    std::vector<unsigned char> data;
    std::uint64_t number = 0;
};

struct Port {
    std::string name;
    unsigned int capability = 0;
};

struct Client {
    int id = 0;
    std::string name;
    std::map<int, Port> ports;
    SimulatedDevice* device = nullptr;
    std::deque<Event> queue;
    Event current; // the event snd_seq_event_input handed out last
    int eventFd = -1;
    std::uint64_t pushed = 0;
    std::uint64_t handedOut = 0;
    // Handed out and dealt with: a reader that asks the sequencer for more has finished
    // with the last.
    std::uint64_t taken = 0;
    bool closed = false;
};

using Address = std::pair<int, int>;

struct Sequencer {
    std::mutex lock;
    std::condition_variable changed;
    std::map<int, std::shared_ptr<Client>> clients;
    std::set<std::pair<Address, Address>> subscriptions; // (source, destination)
    int nextClient = 128;
    int nextDevice = 20;
    bool waitForReaders = true;
    std::size_t clientQueries = 0;
    unsigned int outputsUntilRefusal = 0; // 0: none refused

    Sequencer() {
        auto system = std::make_shared<Client>();
        system->id = SND_SEQ_CLIENT_SYSTEM;
        system->name = "System";
        const unsigned int readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
        system->ports[SND_SEQ_PORT_SYSTEM_TIMER] = Port{"Timer", readable};
        system->ports[SND_SEQ_PORT_SYSTEM_ANNOUNCE] = Port{"Announce", readable};
        clients[system->id] = system;
    }
};

Sequencer& Seq() {
    static Sequencer sequencer;
    return sequencer;
}

std::shared_ptr<Client> Find(int id) {
    auto it = Seq().clients.find(id);
    return it == Seq().clients.end() ? nullptr : it->second;
}

// Under the lock: where events from `source` go. Device destinations are returned so
// that their input runs outside the lock.
void Route(const Address& source, const Address& destination, const Event& event,
           std::vector<std::pair<std::shared_ptr<Client>, std::uint64_t>>& waits,
           std::vector<std::shared_ptr<Client>>& devices) {
    std::vector<Address> targets;
    if (destination.first == SND_SEQ_ADDRESS_SUBSCRIBERS) {
        for (const auto& subscription : Seq().subscriptions)
            if (subscription.first == source)
                targets.push_back(subscription.second);
    } else {
        targets.push_back(destination);
    }
    for (const Address& target : targets) {
        std::shared_ptr<Client> client = Find(target.first);
        if (!client || !client->ports.count(target.second))
            continue;
        if (client->device) {
            devices.push_back(client);
            continue;
        }
        Event copy = event;
        copy.header.source.client = static_cast<unsigned char>(source.first);
        copy.header.source.port = static_cast<unsigned char>(source.second);
        copy.header.dest.client = static_cast<unsigned char>(target.first);
        copy.header.dest.port = static_cast<unsigned char>(target.second);
        copy.number = ++client->pushed;
        client->queue.push_back(std::move(copy));
        const std::uint64_t one = 1;
        (void)!write(client->eventFd, &one, sizeof one);
        waits.emplace_back(client, client->pushed);
    }
}

// Delivers and, when asked, waits for the readers; called without the lock.
void Deliver(const Address& source, const Address& destination, const Event& event) {
    std::vector<std::pair<std::shared_ptr<Client>, std::uint64_t>> waits;
    std::vector<std::shared_ptr<Client>> devices;
    std::unique_lock<std::mutex> guard(Seq().lock);
    Route(source, destination, event, waits, devices);
    if (Seq().waitForReaders) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        for (const auto& wait : waits)
            Seq().changed.wait_until(guard, deadline, [&wait] {
                return wait.first->closed || wait.first->taken >= wait.second;
            });
    }
    guard.unlock();
    if (event.header.type == SND_SEQ_EVENT_SYSEX)
        for (const auto& device : devices)
            device->device->Receive(event.data.data(), event.data.size());
}

void Announce(int type, int client, int port) {
    Event event;
    event.header.type = static_cast<snd_seq_event_type_t>(type);
    event.header.data.addr.client = static_cast<unsigned char>(client);
    event.header.data.addr.port = static_cast<unsigned char>(port);
    Deliver({SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE},
            {SND_SEQ_ADDRESS_SUBSCRIBERS, SND_SEQ_ADDRESS_UNKNOWN}, event);
}

void Forget(int id) {
    for (auto it = Seq().subscriptions.begin(); it != Seq().subscriptions.end();)
        if (it->first.first == id || it->second.first == id)
            it = Seq().subscriptions.erase(it);
        else
            ++it;
    Seq().clients.erase(id);
}

} // namespace

namespace alsastandin {

int PlugDevice(const std::string& clientName, const std::string& portName, SimulatedDevice& device,
               DevicePort kind) {
    int id;
    {
        std::lock_guard<std::mutex> guard(Seq().lock);
        auto client = std::make_shared<Client>();
        id = client->id = Seq().nextDevice++;
        client->name = clientName;
        client->device = &device;
        unsigned int caps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
        if (kind == DevicePort::Duplex)
            caps |= SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
        client->ports[0] = Port{portName, caps};
        Seq().clients[id] = client;
    }
    if (kind == DevicePort::Duplex)
        device.SetOutput([id](const unsigned char* data, std::size_t size) {
            Event event;
            event.header.type = SND_SEQ_EVENT_SYSEX;
            event.header.flags = SND_SEQ_EVENT_LENGTH_VARIABLE;
            event.data.assign(data, data + size);
            Deliver({id, 0}, {SND_SEQ_ADDRESS_SUBSCRIBERS, SND_SEQ_ADDRESS_UNKNOWN}, event);
        });
    Announce(SND_SEQ_EVENT_CLIENT_START, id, 0);
    Announce(SND_SEQ_EVENT_PORT_START, id, 0);
    return id;
}

void UnplugDevice(int client) {
    SimulatedDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(Seq().lock);
        std::shared_ptr<Client> found = Find(client);
        if (!found)
            return;
        device = found->device;
        Forget(client);
    }
    if (device)
        device->SetOutput(nullptr);
    Announce(SND_SEQ_EVENT_PORT_EXIT, client, 0);
    Announce(SND_SEQ_EVENT_CLIENT_EXIT, client, 0);
}

void SetWaitForReaders(bool wait) {
    std::lock_guard<std::mutex> guard(Seq().lock);
    Seq().waitForReaders = wait;
}

void RefuseOutput(unsigned int n) {
    std::lock_guard<std::mutex> guard(Seq().lock);
    Seq().outputsUntilRefusal = n;
}

std::size_t ClientQueries() {
    std::lock_guard<std::mutex> guard(Seq().lock);
    return Seq().clientQueries;
}

std::size_t OpenClients() {
    std::lock_guard<std::mutex> guard(Seq().lock);
    std::size_t count = 0;
    for (const auto& client : Seq().clients)
        count += client.first >= 128;
    return count;
}

} // namespace alsastandin

extern "C" {

int snd_lib_error_set_handler(snd_lib_error_handler_t) {
    return 0;
}

const char* snd_strerror(int errnum) {
    return std::strerror(errnum < 0 ? -errnum : errnum);
}

int snd_seq_open(snd_seq_t** handle, const char*, int, int) {
    std::lock_guard<std::mutex> guard(Seq().lock);
    auto client = std::make_shared<Client>();
    client->id = Seq().nextClient++;
    client->name = "Client-" + std::to_string(client->id);
    client->eventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    Seq().clients[client->id] = client;
    *handle = new _snd_seq{client->id};
    return 0;
}

int snd_seq_close(snd_seq_t* handle) {
    std::vector<int> ports;
    int fd = -1;
    {
        std::lock_guard<std::mutex> guard(Seq().lock);
        std::shared_ptr<Client> client = Find(handle->client);
        if (client) {
            for (const auto& port : client->ports)
                ports.push_back(port.first);
            client->closed = true;
            fd = client->eventFd;
            Forget(handle->client);
        }
        Seq().changed.notify_all();
    }
    for (int port : ports)
        Announce(SND_SEQ_EVENT_PORT_EXIT, handle->client, port);
    Announce(SND_SEQ_EVENT_CLIENT_EXIT, handle->client, 0);
    if (fd >= 0)
        close(fd);
    delete handle;
    return 0;
}

int snd_seq_nonblock(snd_seq_t*, int) {
    return 0;
}

// The stand-in's queues have no fixed size.
int snd_seq_set_client_pool_input(snd_seq_t*, size_t) {
    return 0;
}

int snd_seq_set_input_buffer_size(snd_seq_t*, size_t) {
    return 0;
}

int snd_seq_client_id(snd_seq_t* handle) {
    return handle->client;
}

int snd_seq_set_client_name(snd_seq_t* handle, const char* name) {
    std::lock_guard<std::mutex> guard(Seq().lock);
    if (auto client = Find(handle->client))
        client->name = name;
    return 0;
}

int snd_seq_create_simple_port(snd_seq_t* handle, const char* name, unsigned int caps,
                               unsigned int) {
    int port = 0;
    {
        std::lock_guard<std::mutex> guard(Seq().lock);
        std::shared_ptr<Client> client = Find(handle->client);
        if (!client)
            return -ENOENT;
        while (client->ports.count(port))
            ++port;
        client->ports[port] = Port{name, caps};
    }
    Announce(SND_SEQ_EVENT_PORT_START, handle->client, port);
    return port;
}

int snd_seq_delete_simple_port(snd_seq_t* handle, int port) {
    {
        std::lock_guard<std::mutex> guard(Seq().lock);
        if (auto client = Find(handle->client))
            client->ports.erase(port);
    }
    Announce(SND_SEQ_EVENT_PORT_EXIT, handle->client, port);
    return 0;
}

static int Subscribe(const Address& source, const Address& destination, bool connect) {
    std::lock_guard<std::mutex> guard(Seq().lock);
    std::shared_ptr<Client> from = Find(source.first);
    std::shared_ptr<Client> to = Find(destination.first);
    if (!from || !to || !from->ports.count(source.second) || !to->ports.count(destination.second))
        return -ENOENT;
    if (!connect)
        return Seq().subscriptions.erase({source, destination}) ? 0 : -ENOENT;
    return Seq().subscriptions.insert({source, destination}).second ? 0 : -EBUSY;
}

int snd_seq_connect_to(snd_seq_t* seq, int my_port, int dest_client, int dest_port) {
    return Subscribe({seq->client, my_port}, {dest_client, dest_port}, true);
}

int snd_seq_connect_from(snd_seq_t* seq, int my_port, int src_client, int src_port) {
    return Subscribe({src_client, src_port}, {seq->client, my_port}, true);
}

int snd_seq_disconnect_to(snd_seq_t* seq, int my_port, int dest_client, int dest_port) {
    return Subscribe({seq->client, my_port}, {dest_client, dest_port}, false);
}

int snd_seq_disconnect_from(snd_seq_t* seq, int my_port, int src_client, int src_port) {
    return Subscribe({src_client, src_port}, {seq->client, my_port}, false);
}

int snd_seq_poll_descriptors_count(snd_seq_t*, short) {
    return 1;
}

int snd_seq_poll_descriptors(snd_seq_t* handle, struct pollfd* pfds, unsigned int space,
                             short events) {
    if (space < 1)
        return 0;
    std::lock_guard<std::mutex> guard(Seq().lock);
    std::shared_ptr<Client> client = Find(handle->client);
    pfds[0].fd = client ? client->eventFd : -1;
    pfds[0].events = events;
    pfds[0].revents = 0;
    return 1;
}

int snd_seq_event_output(snd_seq_t* handle, snd_seq_event_t* ev) {
    {
        std::lock_guard<std::mutex> guard(Seq().lock);
        if (Seq().outputsUntilRefusal > 0 && --Seq().outputsUntilRefusal == 0)
            return -ENOMEM;
    }
    Event event;
    event.header = *ev;
    if (snd_seq_ev_is_variable(ev)) {
        const auto* data = static_cast<const unsigned char*>(ev->data.ext.ptr);
        event.data.assign(data, data + ev->data.ext.len);
    }
    Deliver({handle->client, ev->source.port}, {ev->dest.client, ev->dest.port}, event);
    return 0;
}

int snd_seq_drain_output(snd_seq_t*) {
    return 0; // output is delivered as it is made
}

int snd_seq_sync_output_queue(snd_seq_t*) {
    return 0;
}

int snd_seq_event_input_pending(snd_seq_t* handle, int fetch_sequencer) {
    std::lock_guard<std::mutex> guard(Seq().lock);
    std::shared_ptr<Client> client = Find(handle->client);
    if (!client)
        return 0;
    // Only a reader that goes to the sequencer for more is done with what it has.
    if (fetch_sequencer && client->taken != client->handedOut) {
        client->taken = client->handedOut;
        Seq().changed.notify_all();
    }
    return static_cast<int>(client->queue.size());
}

int snd_seq_event_input(snd_seq_t* handle, snd_seq_event_t** ev) {
    std::unique_lock<std::mutex> guard(Seq().lock);
    std::shared_ptr<Client> client = Find(handle->client);
    if (!client)
        return -EBADFD;
    Seq().changed.wait(guard, [&client] { return !client->queue.empty(); });
    client->current = std::move(client->queue.front());
    client->queue.pop_front();
    client->handedOut = client->current.number;
    if (client->queue.empty()) {
        std::uint64_t count = 0;
        (void)!read(client->eventFd, &count, sizeof count);
    }
    if (snd_seq_ev_is_variable(&client->current.header)) {
        client->current.header.data.ext.ptr = client->current.data.data();
        client->current.header.data.ext.len =
            static_cast<unsigned int>(client->current.data.size());
    }
    *ev = &client->current.header;
    Seq().changed.notify_all();
    return static_cast<int>(client->queue.size());
}

int snd_seq_client_info_malloc(snd_seq_client_info_t** ptr) {
    *ptr = new _snd_seq_client_info;
    return 0;
}

void snd_seq_client_info_free(snd_seq_client_info_t* obj) {
    delete obj;
}

void snd_seq_client_info_set_client(snd_seq_client_info_t* info, int client) {
    info->client = client;
}

int snd_seq_client_info_get_client(const snd_seq_client_info_t* info) {
    return info->client;
}

const char* snd_seq_client_info_get_name(snd_seq_client_info_t* info) {
    return info->name.c_str();
}

// The stand-in's clients are programs, with no card behind them.
int snd_seq_client_info_get_card(const snd_seq_client_info_t*) {
    return -1;
}

int snd_seq_query_next_client(snd_seq_t*, snd_seq_client_info_t* info) {
    std::lock_guard<std::mutex> guard(Seq().lock);
    ++Seq().clientQueries;
    auto it = Seq().clients.upper_bound(info->client);
    if (it == Seq().clients.end())
        return -ENOENT;
    info->client = it->first;
    info->name = it->second->name;
    return 0;
}

int snd_seq_port_info_malloc(snd_seq_port_info_t** ptr) {
    *ptr = new _snd_seq_port_info;
    return 0;
}

void snd_seq_port_info_free(snd_seq_port_info_t* obj) {
    delete obj;
}

void snd_seq_port_info_set_client(snd_seq_port_info_t* info, int client) {
    info->client = client;
}

void snd_seq_port_info_set_port(snd_seq_port_info_t* info, int port) {
    info->port = port;
}

int snd_seq_port_info_get_port(const snd_seq_port_info_t* info) {
    return info->port;
}

const char* snd_seq_port_info_get_name(const snd_seq_port_info_t* info) {
    return info->name.c_str();
}

unsigned int snd_seq_port_info_get_capability(const snd_seq_port_info_t* info) {
    return info->capability;
}

unsigned int snd_seq_port_info_get_type(const snd_seq_port_info_t*) {
    return SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
}

// No raw MIDI hardware: only a card's hardware port is written raw, and there is none.
int snd_rawmidi_open(snd_rawmidi_t**, snd_rawmidi_t**, const char*, int) {
    return -ENODEV;
}

int snd_rawmidi_close(snd_rawmidi_t*) {
    return 0;
}

ssize_t snd_rawmidi_write(snd_rawmidi_t*, const void*, size_t) {
    return -EBADFD;
}

int snd_rawmidi_drain(snd_rawmidi_t*) {
    return -EBADFD;
}

int snd_seq_query_next_port(snd_seq_t*, snd_seq_port_info_t* info) {
    std::lock_guard<std::mutex> guard(Seq().lock);
    std::shared_ptr<Client> client = Find(info->client);
    if (!client)
        return -ENOENT;
    auto it = client->ports.upper_bound(info->port);
    if (it == client->ports.end())
        return -ENOENT;
    info->port = it->first;
    info->name = it->second.name;
    info->capability = it->second.capability;
    return 0;
}

} // extern "C"
