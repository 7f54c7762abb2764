#include "Stand-ins/CoreMIDI/Simulation.h"

#include "Simulator/SimulatedDevice.h"
#include "Stand-ins/CoreMIDI/Server.h"

#include <algorithm>

namespace coremidistandin {

void Reset() {
    Server& server = Server::Instance();
    std::vector<SimulatedDevice*> devices;
    {
        std::lock_guard<std::mutex> guard(server.lock);
        for (const auto& [ref, endpoint] : server.endpoints)
            if (endpoint.source && endpoint.device != nullptr)
                devices.push_back(endpoint.device);
    }
    // Outside the lock: a device may be delivering through the stand-in right now.
    for (SimulatedDevice* device : devices)
        device->SetOutput(nullptr);
    {
        std::lock_guard<std::mutex> guard(server.lock);
        server.clients.clear();
        server.ports.clear();
        server.devices.clear();
        server.entities.clear();
        server.endpoints.clear();
        server.deviceOrder.clear();
        server.sourceOrder.clear();
        server.destinationOrder.clear();
        server.packetSize = 100;
        server.packetsPerList = 2;
    }
    server.WaitForDelivery();
}

namespace {

MIDIEndpointRef AddEndpointLocked(Server& server, bool source, const EndpointSpec& spec,
                                  MIDIEntityRef entity, SimulatedDevice* device) {
    const MIDIEndpointRef ref = server.NewRef();
    Server::Endpoint& endpoint = server.endpoints[ref];
    endpoint.source = source;
    endpoint.spec = spec;
    endpoint.entity = entity;
    endpoint.device = device;
    (source ? server.sourceOrder : server.destinationOrder).push_back(ref);
    return ref;
}

} // namespace

DeviceEndpoints AttachDevice(SimulatedDevice& device, const EndpointSpec& spec) {
    Server& server = Server::Instance();
    DeviceEndpoints result;
    {
        std::lock_guard<std::mutex> guard(server.lock);
        const MIDIDeviceRef deviceRef = server.NewRef();
        const MIDIEntityRef entityRef = server.NewRef();
        server.devices[deviceRef] = Server::Device{spec.name, spec.manufacturer, entityRef};
        server.entities[entityRef] = Server::Entity{spec.name};
        server.deviceOrder.push_back(deviceRef);
        result.destination = AddEndpointLocked(server, false, spec, entityRef, &device);
        result.source = AddEndpointLocked(server, true, spec, entityRef, &device);
    }
    const MIDIEndpointRef source = result.source;
    device.SetOutput([source](const unsigned char* data, std::size_t size) {
        Server::Instance().Deliver(source, std::vector<unsigned char>(data, data + size));
    });
    return result;
}

void DetachDevice(SimulatedDevice& device) {
    Server& server = Server::Instance();
    device.SetOutput(nullptr);
    {
        std::lock_guard<std::mutex> guard(server.lock);
        for (auto endpoint = server.endpoints.begin(); endpoint != server.endpoints.end();) {
            if (endpoint->second.device != &device) {
                ++endpoint;
                continue;
            }
            auto& order = endpoint->second.source ? server.sourceOrder : server.destinationOrder;
            order.erase(std::remove(order.begin(), order.end(), endpoint->first), order.end());
            for (auto& [ref, port] : server.ports)
                port.connections.erase(endpoint->first);
            const MIDIEntityRef entity = endpoint->second.entity;
            for (auto owner = server.devices.begin(); owner != server.devices.end(); ++owner) {
                if (owner->second.entity != entity)
                    continue;
                server.deviceOrder.erase(
                    std::remove(server.deviceOrder.begin(), server.deviceOrder.end(), owner->first),
                    server.deviceOrder.end());
                server.devices.erase(owner);
                break;
            }
            server.entities.erase(entity);
            endpoint = server.endpoints.erase(endpoint);
        }
    }
    server.WaitForDelivery();
}

MIDIEndpointRef AddDestination(const EndpointSpec& spec) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    return AddEndpointLocked(server, false, spec, 0, nullptr);
}

MIDIEndpointRef AddSource(const EndpointSpec& spec) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    return AddEndpointLocked(server, true, spec, 0, nullptr);
}

void SetOffline(MIDIEndpointRef endpoint, SInt32 offline) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    const auto found = server.endpoints.find(endpoint);
    if (found != server.endpoints.end())
        found->second.spec.offline = offline;
}

void Emit(MIDIEndpointRef source, const std::vector<unsigned char>& bytes) {
    Server::Instance().Deliver(source, bytes);
}

void SetSlicing(std::size_t packetSize, std::size_t packetsPerList) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    server.packetSize = std::max<std::size_t>(packetSize, 1);
    server.packetsPerList = std::max<std::size_t>(packetsPerList, 1);
}

std::vector<std::size_t> PacketSizes(MIDIEndpointRef destination) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    const auto found = server.endpoints.find(destination);
    return found == server.endpoints.end() ? std::vector<std::size_t>() : found->second.packetSizes;
}

} // namespace coremidistandin
