#include "Stand-ins/CoreMIDI/Server.h"

#include "Simulator/SimulatedDevice.h"

#import <Foundation/Foundation.h>

#include <algorithm>
#include <cstddef>

namespace coremidistandin {

Server& Server::Instance() {
    // Never destroyed: read functions and devices may still call in while the program
    // ends, as they may on a Mac.
    static Server* server = new Server;
    return *server;
}

Server::Server() : thread([this] { Run(); }) {}

MIDIObjectRef Server::NewRef() {
    return nextRef++;
}

SInt32 Server::OfflineLocked(const Endpoint& endpoint) const {
    if (endpoint.device != nullptr && !endpoint.device->IsPresent())
        return 1;
    return endpoint.spec.offline;
}

void Server::Deliver(MIDIEndpointRef source, const std::vector<unsigned char>& bytes) {
    std::unique_lock<std::mutex> guard(queueLock);
    const std::uint64_t number = ++queued;
    queue.push_back(Job{number, source, bytes});
    queueChanged.notify_all();
    queueChanged.wait(guard, [&] { return delivered >= number; });
}

void Server::WaitForDelivery() {
    std::lock_guard<std::mutex> guard(deliveryLock);
}

void Server::Run() {
    std::unique_lock<std::mutex> guard(queueLock);
    for (;;) {
        queueChanged.wait(guard, [&] { return !queue.empty(); });
        Job job = std::move(queue.front());
        queue.pop_front();
        guard.unlock();
        DeliverNow(job.source, job.bytes);
        guard.lock();
        delivered = job.number;
        queueChanged.notify_all();
    }
}

void Server::DeliverNow(MIDIEndpointRef source, const std::vector<unsigned char>& bytes) {
    struct Target {
        MIDIReadProc readProc;
        void* refCon;
        void* connRefCon;
    };
    std::size_t sliceSize;
    std::size_t perList;
    {
        std::lock_guard<std::mutex> guard(lock);
        sliceSize = std::max<std::size_t>(packetSize, 1);
        perList = std::max<std::size_t>(packetsPerList, 1);
    }
    // The same room a list of this many packets of this size takes on a Mac.
    std::vector<Byte> buffer(sizeof(MIDIPacketList) + perList * (sizeof(MIDIPacket) + sliceSize));
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        MIDIPacketList* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
        MIDIPacket* packet = MIDIPacketListInit(list);
        for (std::size_t n = 0; n < perList && offset < bytes.size(); ++n) {
            const std::size_t size = std::min(sliceSize, bytes.size() - offset);
            packet = MIDIPacketListAdd(list, buffer.size(), packet, 0, size, &bytes[offset]);
            offset += size;
        }

        // A port disconnected while the list was built is not called: the targets are
        // taken under the delivery lock that disconnection waits for.
        std::lock_guard<std::mutex> delivering(deliveryLock);
        std::vector<Target> targets;
        {
            std::lock_guard<std::mutex> guard(lock);
            for (const auto& [ref, port] : ports) {
                const auto connection = port.connections.find(source);
                if (port.input && port.readProc != nullptr && connection != port.connections.end())
                    targets.push_back(Target{port.readProc, port.refCon, connection->second});
            }
        }
        NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
        for (const Target& target : targets)
            target.readProc(list, target.refCon, target.connRefCon);
        [pool drain];
    }
}

} // namespace coremidistandin
