#pragma once

// The Mac program's MIDI port, over CoreMIDI. One client with one output and one input
// port; the device's destination and source are found by name. The job's thread runs
// every operation; CoreMIDI's receiving thread runs MIDIReadFn, which feeds the base's
// collector and so its last-message store. All diagnostics go to the system log.

#include "MidiUpdateLib/MidiPort.h"

#include <CoreMIDI/CoreMIDI.h>

#include <set>
#include <string>
#include <vector>

@class NSString;

class CoreMidiPort : public MidiPort {
public:
    // Creates the client and its ports; looks for no device yet.
    explicit CoreMidiPort(const std::set<std::string>& names);
    ~CoreMidiPort() override;

    unsigned long IdealChunkSize() override { return 2048; }
    unsigned long MaxChunkSize() override { return 16384; }
    // Searches when not connected; an offline device answers false and is searched for
    // afresh next time.
    bool IsConnected() override;
    void Disconnect() override;
    // One packet per chunk. A packet's length has 16 bits: 65536 bytes or more are
    // refused (logged, nothing sent, counted as undelivered).
    void Send(const unsigned char* data, unsigned long size) override;
    void Synchronise() override {}
    // The identity request is never sent here: always empty.
    std::vector<unsigned char> ReceiveSysEx(unsigned int timeoutMilliseconds,
                                            const unsigned char* request,
                                            unsigned long size) override;
    // Each received message once: the store is emptied as it is read.
    std::vector<unsigned char> LastSysEx() override;
    // Leaves the store alone: a message that completes between the sender's LastSysEx
    // and this is returned by the next LastSysEx rather than lost.
    void ClearLastSysEx() override {}

    void FindEndpoint();
    bool EndpointHasRightName(MIDIEndpointRef endpoint);
    // Whole text, case-sensitive, against the names decoded as the window shows them;
    // every readable name when no names were given.
    bool IsRecognisedPort(NSString* name) const;
    void DisposeOfEndpoint();
    void MidiRead(const MIDIPacketList* packets, void* readRefCon);
    static void MIDIReadFn(const MIDIPacketList* packets, void* readRefCon, void* connRefCon);

private:
    const std::set<std::string> portNames;
    MIDIClientRef client = 0;
    MIDIPortRef outputPort = 0;
    MIDIPortRef inputPort = 0;
    MIDIEndpointRef endpoint = 0; // the destination; 0: not connected
    MIDIEndpointRef source = 0;   // kept across searches
};

// Logs every MIDI device and destination present, with their properties. Main thread.
void ListInterfaces();
