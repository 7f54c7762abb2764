#pragma once

// Sending an update to the device: waiting for its port, portions cut into chunks,
// the device's status and identity replies, and the verdict.

#include "MidiUpdateLib/MidiPort.h"
#include "MidiUpdateLib/Progress.h"
#include "MidiUpdateLib/Update.h"

#include <cassert>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What the sender decided, for hosts that act on it without reading texts.
enum class TransferVerdict {
    Accepted,    // status accepted, a confirmed version, or a version reported for a 0.00 file
    Unconfirmed, // no reply, or a reply without a version
    Failed,      // the device reported an error, or a different version
};

// A view [start, end) of bytes owned by someone else.
template <class T> struct Range {
    T* start;
    T* end;

    std::size_t Size() const { return static_cast<std::size_t>(end - start); }
    bool Empty() const { return start == end; }
    void TrimFromFront(unsigned long n);
};

template <class T> void Range<T>::TrimFromFront(unsigned long n) {
    start += n;
    assert(start <= end);
}

// The next chunk of `remaining`: at least idealSize bytes, grown up to maxSize until it
// ends just after an F7 or 0A byte.
Range<unsigned char> NextSysExChunk(Range<unsigned char> remaining, unsigned long idealSize,
                                    unsigned long maxSize);
// The share of `total` that lies before `remaining` (0.0 to 1.0).
float PercentageDone(const Range<unsigned char>& total, const Range<unsigned char>& remaining);

class SysExSender {
public:
    explicit SysExSender(MidiPort& port);
    virtual ~SysExSender();

    // The whole transfer; ends with one Completed report. Throws nothing of its own.
    TransferVerdict Send(Update& update, UpdateProgress& progress);

    virtual bool SendPortion(Update::SysExPortion& portion, UpdateProgress& progress) = 0;

    bool SendChunked(Update::SysExPortion& portion, MidiPort& port, UpdateProgress& progress);

    // Told, before the verdict, of each portion (numbered from 1) some of whose bytes
    // the port knows did not reach the device. Such a transfer never ends in success.
    std::function<void(unsigned int portion, unsigned long long bytes)> onUndelivered;

protected:
    MidiPort& port;

private:
    // One portion once the port is connected, to its pause; the status it ended with.
    int SendWhileConnected(Update::SysExPortion& portion, unsigned int number,
                           UpdateProgress& progress, unsigned long long& lost);
};

class SimpleSysExSender : public SysExSender {
public:
    using SysExSender::SysExSender;
    bool SendPortion(Update::SysExPortion& portion, UpdateProgress& progress) override;
};

// Sends each portion in one piece. Not part of the Windows program.
class OneShotSysExSender : public SysExSender {
public:
    using SysExSender::SysExSender;
    bool SendPortion(Update::SysExPortion& portion, UpdateProgress& progress) override;
};

// Waits up to about ten seconds for the port, then lets it fall back to other ports.
bool CheckConnected(MidiPort& port);
// The portion's pause after it has been sent.
void DoDelay(Update::SysExPortion& portion, UpdateProgress& progress);

// ---- The device protocol's bytes: their one home, for the sender, the simulated
// device, the benchmarks and the tests ----

// The identity request to all devices: F0 7E 7F 06 01 F7.
extern const unsigned char deviceEnquiry[6];

// The device's status message: 13 bytes, F0 00 00 3F 73, five bytes, the flags, F7.
extern const unsigned char statusMessageHeader[5];
const std::size_t STATUS_MESSAGE_SIZE = 13;
const std::size_t STATUS_FLAGS_OFFSET = 11;
std::vector<unsigned char> StatusMessage(unsigned char flags);

// The identity reply as the sender reads it: F0 7E 00 06 02, the manufacturer id (one
// byte, or three starting with 00), then from the end of the id: family (2 bytes) and
// model, the version (4 bytes), five more bytes, a name of up to 16 bytes, F7.
extern const unsigned char identityReplyHeader[5];
const std::size_t IDENTITY_FAMILY_OFFSET = 0; // from the end of the manufacturer id
const std::size_t IDENTITY_VERSION_OFFSET = 3;
const std::size_t IDENTITY_NAME_OFFSET = 12;
const std::size_t IDENTITY_NAME_SIZE = 16;
struct IdentityReplyFields {
    std::vector<unsigned char> manufacturer;
    unsigned char family[2] = {0, 0};
    unsigned char model = 0;
    unsigned char version[4] = {0, 0, 0, 0}; // see DeviceVersionBytes
    std::string name;                        // bytes as they stand; cut to 16
};
std::vector<unsigned char> IdentityReply(const IdentityReplyFields& fields);
// Whether `message` is an identity reply from any device (its third byte, the device's
// id, answers a request to all whatever it is).
bool IsIdentityReply(const std::vector<unsigned char>& message);
// The version bytes H L D1 D2, read back as "%d.%d%d" of H * 22 + L, D1, D2: so the
// device's text equals the file's "%u.%02u" for major up to 7F * 22 + 21 and minor < 100.
const unsigned int MAX_DEVICE_MAJOR_VERSION = 0x7F * 22 + 21;
void DeviceVersionBytes(unsigned int major, unsigned int minor, unsigned char bytes[4]);

struct DeviceInfo {
    std::string manufacturer;
    std::string family;
    std::string version;
    std::string name;
};

// An identity reply read field by field; a field the reply does not hold stays empty.
DeviceInfo ParseDeviceEnquiryResponse(const std::vector<unsigned char>& reply);
std::string ToString(std::vector<int> values); // "%02X " each

// Update status codes.
enum : int {
    UPDATE_STATUS_NONE = 0,
    UPDATE_STATUS_ACCEPTED = 1,
    UPDATE_STATUS_BUSY = 2,
    UPDATE_STATUS_ERROR = 3
};

int CheckSysExUpdateStatus(const std::vector<unsigned char>& message);
// The status of the first message the port offers within the time limit.
int GetUpdateStatus(MidiPort& port, unsigned int timeLimitMilliseconds);
// The whole wait for the device after one portion.
int WaitForUpdateToFinish(MidiPort& port, UpdateProgress& progress);
