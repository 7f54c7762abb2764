#pragma once

// The device as the transfer sees it: bytes out, whether it is there, and the most
// recent complete SysEx message that came back.
//
// What every port must do (the sender relies on it):
// - IsConnected, Disconnect, Send, Synchronise, ReceiveSysEx, LastSysEx and
//   ClearLastSysEx run on the job's thread. Received bytes arrive on the platform's
//   receiving thread and go to `sysExCollector` (or through CollectReceived), and from
//   there to the last-message store under its lock.
// - Send takes any chunk up to MaxChunkSize and returns once the system has it. A byte
//   the port knows did not reach the device is counted with Undelivered: sent while not
//   connected, refused by the system or not prepared for good, sent while the device is
//   known to be gone (its port vanished, went offline, its client left). Any thread may
//   count (a server's process thread may be the one that finds out). A port that cannot
//   tell says nothing; bytes of the identity request are never counted.
// - Never throw, never wait without a limit except as the design says (a driver still
//   playing a message), and never drop a byte without counting it or tracing why.

#include "MidiUpdateLib/SysExCollector.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class MidiPort {
public:
    MidiPort();
    virtual ~MidiPort();
    MidiPort(const MidiPort&) = delete;
    MidiPort& operator=(const MidiPort&) = delete;

    virtual unsigned long IdealChunkSize() = 0;
    virtual unsigned long MaxChunkSize() = 0; // every Send up to this size is accepted
    virtual bool IsConnected() = 0;           // may search for and open the device
    virtual void PermitOtherPorts();          // widen the choice of device; default nothing
    virtual void Disconnect() = 0;
    virtual void Send(const unsigned char* data, unsigned long size) = 0;
    virtual void Synchronise();
    // The device's answer to `request`, empty for none. The base neither sends nor waits.
    virtual std::vector<unsigned char> ReceiveSysEx(unsigned int timeoutMilliseconds,
                                                    const unsigned char* request,
                                                    unsigned long size);
    virtual std::vector<unsigned char> LastSysEx(); // a copy; the store is unchanged
    virtual void ClearLastSysEx();

    static void GotSysExFn(void* context);
    void GotSysEx();

    // Bytes of the update the port knows did not reach the device, since it was made.
    unsigned long long UndeliveredBytes() const;

protected:
    // Any thread. Ignored for what the job's thread sends inside AwaitIdentityReply.
    void Undelivered(unsigned long bytes);

    // For ports that really ask the device: `sendRequest` is called (once, when it
    // returns true it has sent) until the request is out, then the identity reply that
    // CollectReceived captured is awaited, polling every `pollInterval` ms up to the
    // limit. `name` heads the trace lines. Empty for no reply.
    std::vector<unsigned char> AwaitIdentityReply(unsigned int timeoutMilliseconds,
                                                  unsigned int pollInterval,
                                                  const std::string& name,
                                                  const std::function<bool()>& sendRequest);
    // On the receiving thread: bytes from the device, in order, into the collector, with
    // identity replies kept apart so that a status report that follows one closely
    // cannot hide it from AwaitIdentityReply.
    void CollectReceived(const unsigned char* data, std::size_t size);
    // True on the job's thread while AwaitIdentityReply sends the request.
    static bool SendingRequest();

    SysExCollector sysExCollector;
    // Written on the receiving thread, copied and emptied on the job's thread: every
    // access holds lastSysExLock so each replace, copy and empty is indivisible.
    std::vector<unsigned char> lastSysEx;
    std::mutex lastSysExLock;

private:
    std::atomic<unsigned long long> undelivered{0};
    std::mutex identityLock;
    std::vector<unsigned char> identityReply;
};

// The first bytes of a sequence in hexadecimal, for diagnostics: "{ 0xf0 0x7e 0x00 }".
std::string ToString(const std::vector<unsigned char>& bytes);
