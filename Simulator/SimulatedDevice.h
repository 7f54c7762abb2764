#pragma once

// The device's side of an update, without hardware: it takes the bytes sent to it,
// keeps them per portion exactly as received, answers each portion as scripted and the
// identity request with its version, and comes and goes as configured. Whoever connects
// it (a port, a platform stand-in) feeds its input and sets its output.

#include "Simulator/DeviceConfig.h"
#include "Simulator/ReplyScheduler.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class SimulatedDevice {
public:
    // Receives the device's messages, each whole, on the scheduler's thread or, with
    // `ownDeliveryThread`, on the device's own thread; never two at once.
    using Output = std::function<void(const unsigned char* data, std::size_t size)>;

    // Present-time and vanish-time count from TimeNow() at construction, so a virtual
    // clock must be installed first.
    SimulatedDevice(SimulatedDeviceConfig config, std::unique_ptr<ReplyScheduler> scheduler);
    // Cancels every pending reply; waits for one being delivered.
    ~SimulatedDevice();
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    // Replaces the output; waits for a delivery in progress, so after it returns the old
    // output is never called again. Not to be called from inside the output.
    void SetOutput(Output output);

    // Bytes arriving on the device's input, sliced in any way. Ignored while absent.
    // A portion is answered `replyLatency` after its last byte; the first byte of the
    // next portion voids whatever is still due for it (busy reports included). A whole
    // identity request is answered wherever it arrives.
    void Receive(const unsigned char* data, std::size_t size);

    bool IsPresent() const; // as of TimeNow()

    const SimulatedDeviceConfig& Config() const { return config; }

    // What arrived, per portion, byte for byte: every portion begun so far, then the
    // extra portion when bytes came beyond the expected ones. An identity request that
    // comes after all expected portions is not part of any portion. Empty portions
    // unless `keepReceived`.
    std::vector<std::vector<unsigned char>> ReceivedPortions() const;
    // What arrived against `expected`; none when no expected bytes were given.
    std::optional<IntegrityReport> Integrity() const;
    std::size_t CompletedPortions() const; // expected portions received in full
    std::size_t IdentityRequests() const;  // how many arrived
    std::size_t BytesIgnored() const;      // arrived while absent

    // What one transfer brought, for a device that serves again.
    struct TransferReport {
        std::size_t completedPortions = 0;
        std::size_t identityRequests = 0;
        std::optional<IntegrityReport> integrity;
    };
    // Every transfer so far, the one under way (or the only one) last.
    std::vector<TransferReport> Transfers() const;

    // Test-only fault: flips the low bit of the byte at `offset` of portion `index` as it
    // arrives, or in ReceivedPortions() if it has arrived and is kept.
    void CorruptReceivedByte(std::size_t index, std::size_t offset);

private:
    struct Lifetime;
    class DeliveryThread;

    // Where the identity request is matched in the incoming stream.
    enum class Match { No, Possible, Complete };
    Match MatchRequest(unsigned char byte);

    bool PresentLocked() const;
    void ReceiveByte(unsigned char byte);
    void Store(unsigned char byte);
    bool AllPortionsReceived() const;
    void BeginTransfer(); // another transfer of the same portions
    TransferReport CurrentTransfer() const;
    void CompleteReachedPortions();
    void CompletePortion(std::size_t index);

    void ScheduleStatus(unsigned int delay, std::uint64_t chain, std::size_t portion,
                        StatusReply reply, unsigned int busySent);
    void StatusDue(std::uint64_t chain, std::size_t portion, StatusReply reply,
                   unsigned int busySent);
    void ScheduleIdentityReply();
    void Emit(const std::vector<unsigned char>& message, const std::string& what);

    const SimulatedDeviceConfig config;
    const std::vector<unsigned char> identityReply;
    std::shared_ptr<Lifetime> lifetime;
    std::unique_ptr<ReplyScheduler> scheduler;
    std::unique_ptr<DeliveryThread> deliveryThread;

    std::mutex outputLock; // held while the output runs
    Output output;

    mutable std::mutex stateLock; // everything below
    const unsigned int createdAt;
    mutable bool appeared = false;
    mutable bool away = false;
    unsigned int awaySince = 0;
    const std::vector<std::size_t> sizes; // where each expected portion ends
    std::optional<IntegrityCheck> integrity;
    // One per expected portion, then the extra one.
    std::vector<std::size_t> counts;
    std::vector<std::vector<unsigned char>> portions; // only with `keepReceived`
    std::size_t current = 0;                          // the portion bytes go to
    std::vector<unsigned char> heldBack; // may still turn out to be an identity request
    std::uint64_t chain = 0;             // replies of an older chain are void
    bool inMessage = false;
    bool requestCandidate = false;
    std::size_t requestMatched = 0;
    std::size_t identityRequests = 0;
    std::size_t identityRequestsBefore = 0; // in the transfers that have ended
    std::vector<TransferReport> ended;
    std::size_t bytesIgnored = 0;
    std::set<std::pair<std::size_t, std::size_t>> corruptions; // (index, offset) yet to arrive
};
