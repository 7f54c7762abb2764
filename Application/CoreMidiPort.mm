#include "Application/CoreMidiPort.h"

#include "Application/TextBridge.h"

#include <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>

namespace {

// The job's thread and CoreMIDI's thread have no autorelease pool of their own.
class Pool {
public:
    Pool() : pool([[NSAutoreleasePool alloc] init]) {}
    ~Pool() { [pool drain]; }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

private:
    NSAutoreleasePool* pool;
};

void LogError(NSString* label, OSStatus status) {
    NSError* error = [NSError errorWithDomain:NSMachErrorDomain code:status userInfo:nil];
    NSLog(@"Error (%@): %u:%@", label, static_cast<unsigned>(status), error);
}

void Release(CFTypeRef object) {
    if (object != NULL)
        CFRelease(object);
}

// A packet holds at most this many bytes: its length field has 16 bits.
const unsigned long packetLimit = 65536;
// Room for the list's and the packet's headers in front of the data.
const unsigned long packetListSlack = 100;

} // namespace

CoreMidiPort::CoreMidiPort(const std::set<std::string>& names) : portNames(names) {
    Pool pool;
    NSLog(@"%s", "CoreMidiPort");

    OSStatus status = MIDIClientCreate(CFSTR("MIDI Updater"), NULL, NULL, &client);
    if (status != noErr)
        LogError(@"Creating MIDI client", status);
    status = MIDIOutputPortCreate(client, CFSTR("MIDI Updater Port"), &outputPort);
    if (status != noErr)
        LogError(@"Create output MIDI port", status);
    status = MIDIInputPortCreate(client, CFSTR("MIDI Updater Input Port"),
                                 &CoreMidiPort::MIDIReadFn, this, &inputPort);
    if (status != noErr)
        LogError(@"Create input MIDI port", status);
}

CoreMidiPort::~CoreMidiPort() {
    Pool pool;
    NSLog(@"%s", "~CoreMidiPort");
    DisposeOfEndpoint();
    // Once the input port is gone CoreMIDI calls MIDIReadFn no more, so the members it
    // touches may go after it.
    if (outputPort != 0) {
        const OSStatus status = MIDIPortDispose(outputPort);
        if (status != noErr)
            LogError(@"Dispose MIDI port", status);
    }
    if (inputPort != 0) {
        const OSStatus status = MIDIPortDispose(inputPort);
        if (status != noErr)
            LogError(@"Dispose MIDI port", status);
    }
    if (client != 0) {
        const OSStatus status = MIDIClientDispose(client);
        if (status != noErr)
            LogError(@"Dispose MIDI client", status);
    }
}

bool CoreMidiPort::IsRecognisedPort(NSString* name) const {
    if ([name UTF8String] == NULL)
        return false;
    if (portNames.empty())
        return true;
    // The update's names are bytes, shown decoded (UTF-8, else Latin-1): the device is
    // the one whose name reads as the user sees it, whatever the bytes' encoding.
    for (const std::string& portName : portNames)
        if ([NSStringFromText(portName) isEqualToString:name])
            return true;
    return false;
}

bool CoreMidiPort::EndpointHasRightName(MIDIEndpointRef candidate) {
    if (candidate == 0)
        return false;
    Pool pool;
    CFStringRef name = NULL;
    CFStringRef manufacturer = NULL;
    CFStringRef displayName = NULL;
    MIDIObjectGetStringProperty(candidate, kMIDIPropertyName, &name);
    MIDIObjectGetStringProperty(candidate, kMIDIPropertyManufacturer, &manufacturer);
    const OSStatus status =
        MIDIObjectGetStringProperty(candidate, kMIDIPropertyDisplayName, &displayName);
    bool recognised = false;
    if (status != noErr) {
        LogError(@"Getting dest name", status);
    } else if (IsRecognisedPort((NSString*)name) || IsRecognisedPort((NSString*)displayName)) {
        NSLog(@"%s:   Name=%@:%@ recognised", "EndpointHasRightName", (NSString*)name,
              (NSString*)displayName);
        recognised = true;
    } else {
        NSLog(@"%s:   (%@:%@:%@) not recognised", "EndpointHasRightName", (NSString*)name,
              (NSString*)manufacturer, (NSString*)displayName);
    }
    Release(name);
    Release(manufacturer);
    Release(displayName);
    return recognised;
}

namespace {

// A Mac keeps the endpoints of a device seen on another USB socket, offline, under the
// same name and possibly listed first: taking the first match would wait on that ghost
// for ever (or listen to it and hear no reply). The first match that is online wins; an
// offline one only when there is nothing else, so IsConnected reports it.
template <typename Count, typename Get, typename Matches>
MIDIEndpointRef FirstMatch(Count count, Get get, Matches matches) {
    MIDIEndpointRef offlineMatch = 0;
    for (ItemCount index = 0; index < count(); ++index) {
        const MIDIEndpointRef candidate = get(index);
        if (!matches(candidate))
            continue;
        SInt32 offline = 0;
        if (MIDIObjectGetIntegerProperty(candidate, kMIDIPropertyOffline, &offline) != noErr ||
            offline == 0)
            return candidate;
        if (offlineMatch == 0)
            offlineMatch = candidate;
    }
    return offlineMatch;
}

} // namespace

void CoreMidiPort::FindEndpoint() {
    DisposeOfEndpoint();
    Pool pool;
    auto matches = [this](MIDIEndpointRef candidate) { return EndpointHasRightName(candidate); };
    NSLog(@"%s: Looking for output port", "FindEndpoint");
    endpoint = FirstMatch(MIDIGetNumberOfDestinations, MIDIGetDestination, matches);
    if (endpoint == 0)
        return;

    NSLog(@"%s: Looking for input port", "FindEndpoint");
    if (const MIDIEndpointRef found = FirstMatch(MIDIGetNumberOfSources, MIDIGetSource, matches))
        source = found;
    if (source != 0) {
        NSLog(@"%s: Connecting input port", "FindEndpoint");
        const OSStatus status = MIDIPortConnectSource(inputPort, source, this);
        if (status != noErr)
            LogError(@"Connecting input", status);
        else
            NSLog(@"Connected Input port");
    } else {
        NSLog(@"Couldn't find a matching input endpoint");
    }
}

bool CoreMidiPort::IsConnected() {
    if (endpoint == 0)
        FindEndpoint();
    if (endpoint == 0)
        return false;
    Pool pool;
    SInt32 offline = 0;
    const OSStatus status = MIDIObjectGetIntegerProperty(endpoint, kMIDIPropertyOffline, &offline);
    if (status != noErr) {
        LogError(@"Getting offline properties", status);
        DisposeOfEndpoint();
        return false;
    }
    if (offline != 0) {
        NSLog(@"Entity offline=%d", static_cast<int>(offline));
        DisposeOfEndpoint();
    }
    return endpoint != 0;
}

void CoreMidiPort::Disconnect() {
    DisposeOfEndpoint();
}

void CoreMidiPort::DisposeOfEndpoint() {
    if (source != 0)
        MIDIPortDisconnectSource(inputPort, source);
    endpoint = 0;
    // A message from before the disconnection is not an answer to anything after it.
    MidiPort::ClearLastSysEx();
}

void CoreMidiPort::Send(const unsigned char* data, unsigned long size) {
    Pool pool;
    NSLog(@"%s(%u bytes to core MIDI)", "Send", static_cast<unsigned>(size));
    if (endpoint == 0) {
        NSLog(@"%s: not connected; %lu bytes not sent", "Send", size);
        Undelivered(size);
        return;
    }
    // A device unplugged since the last check leaves its endpoint offline, or takes it
    // away; MIDISend would take the bytes all the same and they would reach nobody.
    SInt32 offline = 0;
    const OSStatus state = MIDIObjectGetIntegerProperty(endpoint, kMIDIPropertyOffline, &offline);
    if (state != noErr || offline != 0) {
        NSLog(@"%s: the device has gone; %lu bytes not sent", "Send", size);
        Undelivered(size);
        return;
    }
    if (size >= packetLimit) {
        // Cut to 16 bits, the length would send a fragment and skip the rest unnoticed.
        NSLog(@"%s: %lu bytes do not fit one MIDI packet; nothing sent", "Send", size);
        Undelivered(size);
        return;
    }
    // On the stack, sized for the largest packet: no allocation per chunk.
    alignas(8) Byte buffer[packetLimit + packetListSlack];
    MIDIPacketList* list = reinterpret_cast<MIDIPacketList*>(buffer);
    MIDIPacket* packet = MIDIPacketListInit(list);
    packet = MIDIPacketListAdd(list, size + packetListSlack, packet, 0, size, data);
    if (packet == NULL) {
        NSLog(@"%s: packet list too small for %lu bytes; nothing sent", "Send", size);
        Undelivered(size);
        return;
    }
    const OSStatus status = MIDISend(outputPort, endpoint, list);
    if (status != noErr) {
        LogError(@"Sending MIDI", status);
        Undelivered(size);
    }
}

std::vector<unsigned char> CoreMidiPort::ReceiveSysEx(unsigned int, const unsigned char*,
                                                      unsigned long) {
    return {};
}

std::vector<unsigned char> CoreMidiPort::LastSysEx() {
    std::vector<unsigned char> message;
    std::lock_guard<std::mutex> guard(lastSysExLock);
    message.swap(lastSysEx);
    return message;
}

void CoreMidiPort::MIDIReadFn(const MIDIPacketList* packets, void* readRefCon, void* connRefCon) {
    static_cast<CoreMidiPort*>(connRefCon)->MidiRead(packets, readRefCon);
}

void CoreMidiPort::MidiRead(const MIDIPacketList* packets, void*) {
    const MIDIPacket* packet = &packets->packet[0];
    for (UInt32 n = 0; n < packets->numPackets; ++n) {
        for (UInt16 i = 0; i < packet->length; ++i)
            sysExCollector.Add(packet->data[i]);
        packet = MIDIPacketNext(packet);
    }
}

namespace {

// One destination with its properties and its entity's, for the log.
void LogDestination(ItemCount index, MIDIEndpointRef destination) {
    const char* const name = "ListInterfaces";
    NSLog(@"%s:   destination index %u", name, static_cast<unsigned>(index));

    CFStringRef endpointName = NULL;
    OSStatus status = MIDIObjectGetStringProperty(destination, kMIDIPropertyName, &endpointName);
    if (status != noErr) {
        LogError(@"Getting dest name", status);
    } else {
        NSLog(@"Name=%@", (NSString*)endpointName);
        CFRelease(endpointName);
    }

    CFPropertyListRef properties = NULL;
    status = MIDIObjectGetProperties(destination, &properties, true);
    if (status != noErr) {
        LogError(@"Getting properties", status);
    } else {
        NSLog(@"Properties=%@", (id)properties);
        CFRelease(properties);
    }

    MIDIEntityRef entity = 0;
    CFPropertyListRef entityProperties = NULL;
    status = MIDIEndpointGetEntity(destination, &entity);
    if (status == noErr)
        status = MIDIObjectGetProperties(entity, &entityProperties, true);
    if (status != noErr) {
        LogError(@"Getting entity properties", status);
    } else {
        NSLog(@"Entity properties=%@", (id)entityProperties);
        CFRelease(entityProperties);
    }

    SInt32 offline = 0;
    status = MIDIObjectGetIntegerProperty(destination, kMIDIPropertyOffline, &offline);
    if (status != noErr)
        LogError(@"Getting offline properties", status);
    else
        NSLog(@"Entity offline=%d", static_cast<int>(offline));
    NSLog(@"Done");
}

} // namespace

void ListInterfaces() {
    Pool pool;
    const char* const name = "ListInterfaces";
    NSLog(@"%s: # external devices=%u", name,
          static_cast<unsigned>(MIDIGetNumberOfExternalDevices()));
    NSLog(@"%s: # devices=%u", name, static_cast<unsigned>(MIDIGetNumberOfDevices()));
    NSLog(@"%s: # sources=%u", name, static_cast<unsigned>(MIDIGetNumberOfSources()));
    NSLog(@"%s: # destinations=%u", name, static_cast<unsigned>(MIDIGetNumberOfDestinations()));

    MIDIClientRef client = 0;
    const OSStatus status = MIDIClientCreate(CFSTR("MIDI Updater"), NULL, NULL, &client);
    if (status != noErr)
        LogError(@"Creating MIDI client", status);

    const ItemCount externalDevices = MIDIGetNumberOfExternalDevices();
    for (ItemCount index = 0; index < externalDevices; ++index) {
        NSLog(@"%s: index %u", name, static_cast<unsigned>(index));
        MIDIGetDevice(index);
    }

    const ItemCount destinations = MIDIGetNumberOfDestinations();
    for (ItemCount index = 0; index < destinations; ++index)
        if (const MIDIEndpointRef destination = MIDIGetDestination(index))
            LogDestination(index, destination);

    if (client != 0)
        MIDIClientDispose(client);
    NSLog(@"Found all interfaces");
}
