#pragma once

// What a simulated device is like and how it answers, as plain data, with the parsers
// for the texts that front ends take (so every front end reads them the same way) and
// the messages the device sends.

#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/Version.h"
#include "Simulator/Integrity.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class Update;

// How the device answers one portion.
enum class ReplyKind {
    Accept,         // one status message, flags 00
    Error,          // one status message, flags 01
    BusyThenAccept, // `busyReports` busy reports (flags 20) 500 ms apart, then accepted
    BusyForever,    // a busy report every 500 ms for as long as the device lives
    Silent,         // nothing
    Garbage,        // a SysEx message that is not a status message
    // A status message whose F7 never comes: its header, then data past the 64 KiB a
    // receiver holds of one message, then one status message, flags 00.
    RunOn,
};

// How the identity reply is broken, for a device with a version.
enum class IdentityFault {
    None,
    Short,   // closed right after the manufacturer id
    Foreign, // another universal reply (its sub-id differs)
    NoF7,    // whole, but never closed
};

struct StatusReply {
    ReplyKind kind = ReplyKind::Accept;
    unsigned int busyReports = 0; // BusyThenAccept only
};

// One reply per portion, in order; the last one repeats. Empty: every portion accepted.
using StatusScript = std::vector<StatusReply>;

struct SimulatedDeviceConfig {
    std::string name = "Simulated Device"; // up to 16 characters go into the identity reply
    StatusScript script;
    std::optional<Version> version; // none: identity requests go unanswered
    IdentityFault identityFault = IdentityFault::None;
    // One byte (01..7F), or three starting with 00.
    std::vector<unsigned char> manufacturerId{0x7D};
    unsigned char familyLow = 0x01;
    unsigned char familyHigh = 0x00;
    unsigned char model = 0x01;

    unsigned int appearsAfter = 0; // ms after construction before it is present
    unsigned int vanishAfterPortion =
        0;                      // portion number (1-based) after which it vanishes; 0 never
    unsigned int vanishFor = 0; // ms it stays away then
    // It goes halfway through that portion instead: the rest of the portion is lost, and
    // what arrives after it is back begins the next portion.
    bool vanishMidPortion = false;

    unsigned int replyLatency = 10; // ms from the stimulus to each first reply
    // Byte counts of the portions to expect, in order; this alone decides where a portion
    // ends. Bytes beyond them are kept as one extra portion that is never answered.
    std::vector<std::size_t> portionSizes;
    // The expected portions' bytes as the port delivers them (the update's own portions,
    // or a stand-in's framed form of them), owned by the host and valid while bytes
    // arrive. When given they decide where portions end instead of `portionSizes`, and
    // every byte is compared with them as it arrives (SimulatedDevice::Integrity).
    std::vector<ByteView> expected;
    // Keep every byte that arrives, for ReceivedPortions: a copy as large as the update.
    bool keepReceived = true;

    // Deliver replies on a thread of the device's own (as a platform's receive thread
    // would) instead of on the scheduler's thread.
    bool ownDeliveryThread = false;
    // Once every expected portion has arrived, bytes that are not an identity request
    // begin a new transfer of the same portions, as a device updated again does.
    bool servesAgain = false;
};

// The byte counts of an update's portions, for `portionSizes`.
std::vector<std::size_t> PortionSizes(const Update& update);

// Why the device could not present itself as configured (empty when it can): a bad
// manufacturer id, family or model byte, or a version the identity reply cannot carry.
std::string ConfigProblem(const SimulatedDeviceConfig& config);

// Text forms. Each parser returns false and sets `error` to a message for the user on
// bad text, leaving `result` unchanged.
//   script:  "accept,busy:3,silent"  (accept, error, busy, busy:N, silent, garbage, endless)
//   identity: "short", "foreign" or "no-f7"
//   version: "MAJOR.MINOR", MINOR two digits ("1.05" is 1 and 5; "1.5" is refused)
//   vanish:  "PORTION:MILLISECONDS" ("2:3000": after portion 2, away for 3 s)
bool ParseStatusScript(const std::string& text, StatusScript& result, std::string& error);
bool ParseIdentityFault(const std::string& text, IdentityFault& result, std::string& error);
bool ParseDeviceVersion(const std::string& text, Version& result, std::string& error);
bool ParseVanish(const std::string& text, unsigned int& portion, unsigned int& milliseconds,
                 std::string& error);
std::string StatusScriptText(const StatusScript& script); // as ParseStatusScript reads it

// The largest major version an identity reply can carry (high part 7F).
constexpr unsigned int maxDeviceMajorVersion = MAX_DEVICE_MAJOR_VERSION;

// The device's messages besides StatusMessage (MidiUpdateLib/SendUpdate.h).
std::vector<unsigned char> GarbageMessage(); // 13 bytes, but not a status message
std::vector<unsigned char> RunOnMessage();   // a status header and data to 65 KiB, no F7
// The reply to the identity request, broken as `identityFault` says; empty when no version is
// configured or the configuration cannot be encoded.
std::vector<unsigned char> IdentityReply(const SimulatedDeviceConfig& config);
