#pragma once

#include "MidiUpdateLib/SysExCollector.h"

#include <mutex>
#include <string>
#include <vector>

// The device as the transfer sees it: bytes out, whether it is there, and the most
// recent complete SysEx message that came back. Platform ports feed received bytes to
// `sysExCollector` on their receiving thread; everything else runs on the job's thread.
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

protected:
    SysExCollector sysExCollector;
    // Written on the receiving thread, copied and emptied on the job's thread: every
    // access holds lastSysExLock so each replace, copy and empty is indivisible.
    std::vector<unsigned char> lastSysEx;
    std::mutex lastSysExLock;
};

// The first bytes of a sequence in hexadecimal, for diagnostics: "{ 0xf0 0x7e 0x00 }".
std::string ToString(const std::vector<unsigned char>& bytes);
