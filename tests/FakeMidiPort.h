#pragma once

#include "MidiUpdateLib/MidiPort.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "tests/TestSupport.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// A port that answers from scripts and records every call, in order ("IsConnected",
// "Send 6", "ReceiveSysEx 5000 F0 7E 7F 06 01 F7", ...). A script gives its answers in
// order and then repeats its last one. Set the scripts before the port is used.
class FakeMidiPort : public MidiPort {
public:
    ~FakeMidiPort() override;

    std::vector<bool> connected{true}; // IsConnected answers
    // LastSysEx answers ({} for none); with no script, the port's own store answers,
    // filled through Feed as a platform's receiving thread would fill it.
    std::vector<Bytes> lastSysExAnswers;
    Bytes identityReply; // what ReceiveSysEx returns
    unsigned long idealChunkSize = 2048;
    unsigned long maxChunkSize = 16384;
    std::function<void(const Bytes& chunk)> onSend; // the device's reaction; may throw
    std::function<void()> onDestroy;

    // Received bytes, through the collector into the store; any thread.
    void Feed(const Bytes& bytes);
    // Bytes the port knows did not reach the device, as a platform port counts them.
    void Lose(unsigned long bytes) { Undelivered(bytes); }

    std::vector<std::string> Calls() const;
    std::size_t Count(const std::string& call) const;
    std::vector<Bytes> Sent() const; // every chunk, in order

    unsigned long IdealChunkSize() override;
    unsigned long MaxChunkSize() override;
    bool IsConnected() override;
    void PermitOtherPorts() override;
    void Disconnect() override;
    void Send(const unsigned char* data, unsigned long size) override;
    std::vector<unsigned char> ReceiveSysEx(unsigned int timeoutMilliseconds,
                                            const unsigned char* request,
                                            unsigned long size) override;
    std::vector<unsigned char> LastSysEx() override;
    void ClearLastSysEx() override;

private:
    void Record(std::string call);

    mutable std::mutex lock; // calls and sent
    std::mutex feedLock;     // one receiving thread at a time, as on a platform
    std::vector<std::string> calls;
    std::vector<Bytes> sent;
    std::size_t connectedUsed = 0;
    std::size_t lastSysExUsed = 0;
};

// What a device says.
Bytes IdentityReply(const Bytes& manufacturer, unsigned char family, const Bytes& version,
                    const std::string& name); // version: H L D1 D2

// The status reports the scripts use, by what they say; `none` is no message at all.
inline const Bytes accepted = StatusMessage(0x00);
inline const Bytes busy = StatusMessage(0x20);
inline const Bytes failed = StatusMessage(0x21); // error and busy bits: error wins
inline const Bytes none{};

// Bytes as "F0 7E 7F" for messages in tables and call records.
std::string HexText(const Bytes& bytes);

} // namespace testsupport
