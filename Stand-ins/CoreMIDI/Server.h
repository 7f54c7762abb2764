#pragma once

// The stand-in's state: every MIDI object by its reference, the connections of the input
// ports, and the thread that delivers what sources send. Internal to the stand-in.

#include "Stand-ins/CoreMIDI/Simulation.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace coremidistandin {

class Server {
public:
    static Server& Instance();

    struct Client {};
    struct Port {
        bool input = false;
        MIDIReadProc readProc = nullptr;
        void* refCon = nullptr;
        std::map<MIDIEndpointRef, void*> connections; // source, connection reference
    };
    struct Device {
        std::string name;
        std::string manufacturer;
        MIDIEntityRef entity = 0;
    };
    struct Entity {
        std::string name;
    };
    struct Endpoint {
        bool source = false;
        EndpointSpec spec;
        MIDIEntityRef entity = 0;          // 0 for endpoints without a device
        SimulatedDevice* device = nullptr; // behind the endpoint, if any
        std::vector<std::size_t> packetSizes;
        unsigned int sends = 0; // MIDISend calls to it
    };

    // Held for every look at the objects below; never while a read function or a device
    // runs.
    std::mutex lock;
    std::map<MIDIObjectRef, Client> clients;
    std::map<MIDIObjectRef, Port> ports;
    std::map<MIDIObjectRef, Device> devices;
    std::map<MIDIObjectRef, Entity> entities;
    std::map<MIDIObjectRef, Endpoint> endpoints;
    std::vector<MIDIDeviceRef> deviceOrder;
    std::vector<MIDIEndpointRef> sourceOrder;
    std::vector<MIDIEndpointRef> destinationOrder;
    std::size_t packetSize = 100;
    std::size_t packetsPerList = 2;

    MIDIObjectRef NewRef(); // with `lock` held
    // Offline as reported: an attached device that is absent is offline.
    SInt32 OfflineLocked(const Endpoint& endpoint) const;

    // Hands `bytes` from `source` to the delivery thread and waits until it has passed
    // them to every connected read function.
    void Deliver(MIDIEndpointRef source, const std::vector<unsigned char>& bytes);
    // Returns once no read function is running; after a port is disconnected or disposed
    // its read function is then never called for that connection again.
    void WaitForDelivery();

private:
    Server();
    void Run();
    void DeliverNow(MIDIEndpointRef source, const std::vector<unsigned char>& bytes);

    MIDIObjectRef nextRef = 0x10000;

    std::mutex deliveryLock; // held while read functions run
    std::mutex queueLock;
    std::condition_variable queueChanged;
    struct Job {
        std::uint64_t number;
        MIDIEndpointRef source;
        std::vector<unsigned char> bytes;
    };
    std::deque<Job> queue;
    std::uint64_t queued = 0;
    std::uint64_t delivered = 0;
    std::thread thread; // last: starts once everything above exists
};

} // namespace coremidistandin
