#include <CoreMIDI/CoreMIDI.h>

#include "Simulator/SimulatedDevice.h"
#include "Stand-ins/CoreMIDI/Server.h"

#import <Foundation/Foundation.h>

#include <cstring>
#include <string>

using coremidistandin::Server;

const CFStringRef kMIDIPropertyName = CFSTR("name");
const CFStringRef kMIDIPropertyManufacturer = CFSTR("manufacturer");
const CFStringRef kMIDIPropertyModel = CFSTR("model");
const CFStringRef kMIDIPropertyDisplayName = CFSTR("displayName");
const CFStringRef kMIDIPropertyOffline = CFSTR("offline");
const CFStringRef kMIDIPropertyUniqueID = CFSTR("uniqueID");

namespace {

const OSStatus paramErr = -50;

bool Is(CFStringRef property, CFStringRef key) {
    return property != NULL && [(NSString*)property isEqualToString:(NSString*)key];
}

// A string property of any object: false when the object has no such property.
bool StringProperty(Server& server, MIDIObjectRef object, CFStringRef property,
                    std::string& value) {
    const auto endpoint = server.endpoints.find(object);
    if (endpoint != server.endpoints.end()) {
        const coremidistandin::EndpointSpec& spec = endpoint->second.spec;
        if (Is(property, kMIDIPropertyName))
            value = spec.name;
        else if (Is(property, kMIDIPropertyManufacturer))
            value = spec.manufacturer;
        else if (Is(property, kMIDIPropertyDisplayName) && spec.displayNameReadable)
            value = spec.displayName.empty() ? spec.name : spec.displayName;
        else
            return false;
        return true;
    }
    const auto device = server.devices.find(object);
    if (device != server.devices.end()) {
        if (Is(property, kMIDIPropertyName))
            value = device->second.name;
        else if (Is(property, kMIDIPropertyManufacturer))
            value = device->second.manufacturer;
        else
            return false;
        return true;
    }
    const auto entity = server.entities.find(object);
    if (entity != server.entities.end() && Is(property, kMIDIPropertyName)) {
        value = entity->second.name;
        return true;
    }
    return false;
}

bool Exists(Server& server, MIDIObjectRef object) {
    return server.endpoints.count(object) || server.devices.count(object) ||
           server.entities.count(object);
}

MIDIEndpointRef At(const std::vector<MIDIEndpointRef>& order, ItemCount index) {
    return index < order.size() ? order[index] : 0;
}

} // namespace

OSStatus MIDIClientCreate(CFStringRef, MIDINotifyProc, void*, MIDIClientRef* outClient) {
    if (outClient == NULL)
        return paramErr;
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    *outClient = server.NewRef();
    server.clients[*outClient];
    return noErr;
}

OSStatus MIDIClientDispose(MIDIClientRef client) {
    Server& server = Server::Instance();
    {
        std::lock_guard<std::mutex> guard(server.lock);
        if (server.clients.erase(client) == 0)
            return kMIDIInvalidClient;
    }
    return noErr;
}

static OSStatus CreatePort(MIDIClientRef client, bool input, MIDIReadProc readProc, void* refCon,
                           MIDIPortRef* outPort) {
    if (outPort == NULL)
        return paramErr;
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    if (server.clients.count(client) == 0)
        return kMIDIInvalidClient;
    *outPort = server.NewRef();
    Server::Port& port = server.ports[*outPort];
    port.input = input;
    port.readProc = readProc;
    port.refCon = refCon;
    return noErr;
}

OSStatus MIDIInputPortCreate(MIDIClientRef client, CFStringRef, MIDIReadProc readProc, void* refCon,
                             MIDIPortRef* outPort) {
    return CreatePort(client, true, readProc, refCon, outPort);
}

OSStatus MIDIOutputPortCreate(MIDIClientRef client, CFStringRef, MIDIPortRef* outPort) {
    return CreatePort(client, false, NULL, NULL, outPort);
}

OSStatus MIDIPortDispose(MIDIPortRef port) {
    Server& server = Server::Instance();
    {
        std::lock_guard<std::mutex> guard(server.lock);
        if (server.ports.erase(port) == 0)
            return kMIDIInvalidPort;
    }
    server.WaitForDelivery();
    return noErr;
}

OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    const auto found = server.ports.find(port);
    if (found == server.ports.end() || !found->second.input)
        return kMIDIInvalidPort;
    const auto endpoint = server.endpoints.find(source);
    if (endpoint == server.endpoints.end())
        return kMIDIObjectNotFound;
    if (!endpoint->second.source)
        return kMIDIWrongEndpointType;
    found->second.connections[source] = connRefCon;
    return noErr;
}

OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) {
    Server& server = Server::Instance();
    {
        std::lock_guard<std::mutex> guard(server.lock);
        const auto found = server.ports.find(port);
        if (found == server.ports.end())
            return kMIDIInvalidPort;
        if (found->second.connections.erase(source) == 0)
            return kMIDINoConnection;
    }
    server.WaitForDelivery();
    return noErr;
}

ItemCount MIDIGetNumberOfDevices(void) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    return server.deviceOrder.size();
}

MIDIDeviceRef MIDIGetDevice(ItemCount deviceIndex0) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    return At(server.deviceOrder, deviceIndex0);
}

// Devices that a user describes by hand in the studio setup; there are none here.
ItemCount MIDIGetNumberOfExternalDevices(void) {
    return 0;
}

MIDIDeviceRef MIDIGetExternalDevice(ItemCount) {
    return 0;
}

ItemCount MIDIGetNumberOfSources(void) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    return server.sourceOrder.size();
}

MIDIEndpointRef MIDIGetSource(ItemCount sourceIndex0) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    return At(server.sourceOrder, sourceIndex0);
}

ItemCount MIDIGetNumberOfDestinations(void) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    return server.destinationOrder.size();
}

MIDIEndpointRef MIDIGetDestination(ItemCount destIndex0) {
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    return At(server.destinationOrder, destIndex0);
}

OSStatus MIDIEndpointGetEntity(MIDIEndpointRef inEndpoint, MIDIEntityRef* outEntity) {
    if (outEntity == NULL)
        return paramErr;
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    const auto endpoint = server.endpoints.find(inEndpoint);
    // Endpoints that no device owns have no entity, as virtual ones on a Mac.
    if (endpoint == server.endpoints.end() || endpoint->second.entity == 0)
        return kMIDIObjectNotFound;
    *outEntity = endpoint->second.entity;
    return noErr;
}

OSStatus MIDIObjectGetStringProperty(MIDIObjectRef obj, CFStringRef propertyID, CFStringRef* str) {
    if (str == NULL)
        return paramErr;
    Server& server = Server::Instance();
    std::string value;
    {
        std::lock_guard<std::mutex> guard(server.lock);
        if (!Exists(server, obj))
            return kMIDIObjectNotFound;
        if (!StringProperty(server, obj, propertyID, value))
            return kMIDIUnknownProperty;
    }
    NSString* string = [[NSString alloc] initWithUTF8String:value.c_str()];
    if (string == nil)
        return kMIDIUnknownProperty;
    *str = (CFStringRef)string;
    return noErr;
}

OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef obj, CFStringRef propertyID, SInt32* outValue) {
    if (outValue == NULL)
        return paramErr;
    Server& server = Server::Instance();
    std::lock_guard<std::mutex> guard(server.lock);
    if (!Exists(server, obj))
        return kMIDIObjectNotFound;
    if (Is(propertyID, kMIDIPropertyUniqueID)) {
        *outValue = static_cast<SInt32>(obj);
        return noErr;
    }
    if (Is(propertyID, kMIDIPropertyOffline)) {
        const auto endpoint = server.endpoints.find(obj);
        *outValue = endpoint == server.endpoints.end() ? 0 : server.OfflineLocked(endpoint->second);
        return noErr;
    }
    return kMIDIUnknownProperty;
}

OSStatus MIDIObjectGetProperties(MIDIObjectRef obj, CFPropertyListRef* outProperties, Boolean) {
    if (outProperties == NULL)
        return paramErr;
    Server& server = Server::Instance();
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    NSMutableDictionary* properties = [[NSMutableDictionary alloc] init];
    {
        std::lock_guard<std::mutex> guard(server.lock);
        if (!Exists(server, obj)) {
            [properties release];
            [pool drain];
            return kMIDIObjectNotFound;
        }
        const CFStringRef keys[] = {kMIDIPropertyName, kMIDIPropertyManufacturer,
                                    kMIDIPropertyDisplayName};
        for (CFStringRef key : keys) {
            std::string value;
            NSString* text = StringProperty(server, obj, key, value)
                                 ? [NSString stringWithUTF8String:value.c_str()]
                                 : nil;
            if (text != nil)
                [properties setObject:text forKey:(NSString*)key];
        }
        [properties setObject:[NSNumber numberWithInt:static_cast<int>(obj)]
                       forKey:(NSString*)kMIDIPropertyUniqueID];
        const auto endpoint = server.endpoints.find(obj);
        if (endpoint != server.endpoints.end())
            [properties setObject:[NSNumber numberWithInt:server.OfflineLocked(endpoint->second)]
                           forKey:(NSString*)kMIDIPropertyOffline];
    }
    [pool drain];
    *outProperties = (CFPropertyListRef)properties;
    return noErr;
}

MIDIPacket* MIDIPacketListInit(MIDIPacketList* pktlist) {
    pktlist->numPackets = 0;
    return &pktlist->packet[0];
}

MIDIPacket* MIDIPacketListAdd(MIDIPacketList* pktlist, ByteCount listSize, MIDIPacket* curPacket,
                              MIDITimeStamp time, ByteCount nData, const Byte* data) {
    // The length field has 16 bits; longer data cannot be one packet.
    if (nData > 0xFFFF)
        return NULL;
    MIDIPacket* packet = pktlist->numPackets == 0 ? curPacket : MIDIPacketNext(curPacket);
    const Byte* end = packet->data + nData;
    if (end > reinterpret_cast<const Byte*>(pktlist) + listSize)
        return NULL;
    packet->timeStamp = time;
    packet->length = static_cast<UInt16>(nData);
    if (nData > 0)
        std::memcpy(packet->data, data, nData);
    ++pktlist->numPackets;
    return packet;
}

OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef dest, const MIDIPacketList* pktlist) {
    if (pktlist == NULL)
        return paramErr;
    Server& server = Server::Instance();
    SimulatedDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> guard(server.lock);
        const auto found = server.ports.find(port);
        if (found == server.ports.end() || found->second.input)
            return kMIDIInvalidPort;
        const auto endpoint = server.endpoints.find(dest);
        if (endpoint == server.endpoints.end())
            return kMIDIObjectNotFound;
        if (endpoint->second.source)
            return kMIDIWrongEndpointType;
        if (++endpoint->second.sends == endpoint->second.spec.refusedSend)
            return kMIDIMessageSendErr;
        const MIDIPacket* packet = &pktlist->packet[0];
        for (UInt32 n = 0; n < pktlist->numPackets; ++n, packet = MIDIPacketNext(packet))
            endpoint->second.packetSizes.push_back(packet->length);
        device = endpoint->second.device;
    }
    // The device takes the bytes outside the lock: its replies may come back at once.
    if (device != nullptr) {
        const MIDIPacket* packet = &pktlist->packet[0];
        for (UInt32 n = 0; n < pktlist->numPackets; ++n, packet = MIDIPacketNext(packet))
            device->Receive(packet->data, packet->length);
    }
    return noErr;
}
