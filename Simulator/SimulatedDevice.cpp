#include "Simulator/SimulatedDevice.h"

#include "MidiUpdateLib/OS.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <thread>

namespace {

std::vector<std::size_t> ExpectedSizes(const SimulatedDeviceConfig& config) {
    if (config.expected.empty())
        return config.portionSizes;
    std::vector<std::size_t> sizes;
    for (const ByteView& view : config.expected)
        sizes.push_back(view.size);
    return sizes;
}

} // namespace

// Replies still pending on a scheduler when the device goes hold this, not the device:
// they find it dead and do nothing. Each reply runs holding `lock`, so the destructor
// waits for one in progress.
struct SimulatedDevice::Lifetime {
    std::mutex lock;
    bool alive = true;
};

// Runs work on a thread of the device's own and waits for it, so the receiving side is
// really concurrent while a virtual clock's sleeper still returns only after delivery.
class SimulatedDevice::DeliveryThread {
public:
    DeliveryThread() : thread([this] { Run(); }) {}

    ~DeliveryThread() {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        changed.notify_all();
        thread.join();
    }

    void RunAndWait(std::function<void()> work) {
        std::unique_lock<std::mutex> guard(lock);
        const std::uint64_t ticket = ++submitted;
        jobs.push_back(std::move(work));
        changed.notify_all();
        changed.wait(guard, [&] { return finished >= ticket; });
    }

private:
    void Run() {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            changed.wait(guard, [&] { return stopping || !jobs.empty(); });
            if (jobs.empty())
                return;
            std::function<void()> work = std::move(jobs.front());
            jobs.pop_front();
            guard.unlock();
            work();
            guard.lock();
            ++finished;
            changed.notify_all();
        }
    }

    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<void()>> jobs;
    std::uint64_t submitted = 0;
    std::uint64_t finished = 0;
    bool stopping = false;
    std::thread thread; // last: starts once everything above exists
};

SimulatedDevice::SimulatedDevice(SimulatedDeviceConfig configuration,
                                 std::unique_ptr<ReplyScheduler> replyScheduler)
    : config(std::move(configuration)), identityReply(IdentityReply(config)),
      lifetime(std::make_shared<Lifetime>()), scheduler(std::move(replyScheduler)),
      createdAt(TimeNow()), sizes(ExpectedSizes(config)), counts(sizes.size() + 1, 0),
      portions(config.keepReceived ? sizes.size() + 1 : 0) {
    if (!config.expected.empty())
        integrity.emplace(config.expected);
    if (config.ownDeliveryThread)
        deliveryThread = std::make_unique<DeliveryThread>();
    const std::string problem = ConfigProblem(config);
    if (!problem.empty())
        Trace("SimulatedDevice: %s; identity requests go unanswered\n", problem.c_str());
    std::lock_guard<std::mutex> guard(stateLock);
    CompleteReachedPortions(); // leading empty portions
}

SimulatedDevice::~SimulatedDevice() {
    {
        std::lock_guard<std::mutex> guard(lifetime->lock);
        lifetime->alive = false;
    }
    // No reply runs now, and none will reach this object again.
    deliveryThread.reset();
    scheduler.reset();
}

void SimulatedDevice::SetOutput(Output replacement) {
    std::lock_guard<std::mutex> guard(outputLock);
    output = std::move(replacement);
}

bool SimulatedDevice::IsPresent() const {
    std::lock_guard<std::mutex> guard(stateLock);
    return PresentLocked();
}

bool SimulatedDevice::PresentLocked() const {
    const unsigned int now = TimeNow();
    // Latched, so readings only ever compare across short spans and survive the wrap.
    if (!appeared) {
        if (now - createdAt < config.appearsAfter)
            return false;
        appeared = true;
    }
    if (away) {
        if (now - awaySince < config.vanishFor)
            return false;
        away = false;
    }
    return true;
}

void SimulatedDevice::Receive(const unsigned char* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(stateLock);
    if (!PresentLocked()) {
        bytesIgnored += size;
        Trace("SimulatedDevice: absent, %lu bytes ignored\n", static_cast<unsigned long>(size));
        return;
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (away) { // vanished after a portion that ended inside this call
            bytesIgnored += size - i;
            Trace("SimulatedDevice: vanished, %lu bytes ignored\n",
                  static_cast<unsigned long>(size - i));
            return;
        }
        ReceiveByte(data[i]);
    }
}

SimulatedDevice::Match SimulatedDevice::MatchRequest(unsigned char byte) {
    // A device's MIDI parser: F0 starts a message, F7 ends it, any other status byte
    // abandons it, real-time bytes pass through it.
    if (byte >= 0xF8)
        return inMessage && requestCandidate ? Match::Possible : Match::No;
    if (byte == 0xF0) {
        inMessage = true;
        requestCandidate = true;
        requestMatched = 1;
        return Match::Possible;
    }
    if (!inMessage)
        return Match::No;
    if (byte == 0xF7) {
        const bool complete = requestCandidate && requestMatched == sizeof deviceEnquiry - 1;
        inMessage = false;
        requestCandidate = false;
        return complete ? Match::Complete : Match::No;
    }
    if (byte >= 0x80) {
        inMessage = false;
        requestCandidate = false;
        return Match::No;
    }
    if (requestCandidate && requestMatched < sizeof deviceEnquiry - 1 &&
        byte == deviceEnquiry[requestMatched]) {
        ++requestMatched;
        return Match::Possible;
    }
    requestCandidate = false;
    return Match::No;
}

void SimulatedDevice::ReceiveByte(unsigned char byte) {
    const Match match = MatchRequest(byte);
    if (match == Match::Complete) {
        ++identityRequests;
        ScheduleIdentityReply();
    }
    // Once every expected portion is in, a message is held back until it shows whether
    // it is an identity request (at most six bytes), so the sender's closing request is
    // not taken for data. Before that, bytes are firmware even when they look like a
    // request: a portion may begin with those very bytes.
    if (!heldBack.empty()) {
        if (match == Match::Complete) {
            heldBack.clear();
            return;
        }
        if (match == Match::Possible && byte != 0xF0) {
            heldBack.push_back(byte);
            return;
        }
        std::vector<unsigned char> held;
        held.swap(heldBack);
        for (unsigned char b : held)
            Store(b);
    }
    if (match == Match::Possible && byte == 0xF0 && AllPortionsReceived()) {
        heldBack.push_back(byte);
        return;
    }
    Store(byte);
}

bool SimulatedDevice::AllPortionsReceived() const {
    return current == sizes.size();
}

void SimulatedDevice::BeginTransfer() {
    ended.push_back(CurrentTransfer());
    identityRequestsBefore = identityRequests;
    std::fill(counts.begin(), counts.end(), 0);
    for (std::vector<unsigned char>& portion : portions)
        portion.clear();
    current = 0;
    if (integrity)
        integrity.emplace(config.expected);
    ++chain; // nothing still due for the last transfer is sent
    Trace("SimulatedDevice: transfer %lu begins\n", static_cast<unsigned long>(ended.size() + 1));
    CompleteReachedPortions(); // leading empty portions
}

SimulatedDevice::TransferReport SimulatedDevice::CurrentTransfer() const {
    TransferReport report;
    report.completedPortions = current;
    report.identityRequests = identityRequests - identityRequestsBefore;
    if (integrity)
        report.integrity = integrity->Report();
    return report;
}

void SimulatedDevice::Store(unsigned char byte) {
    if (config.servesAgain && !sizes.empty() && AllPortionsReceived())
        BeginTransfer();
    std::size_t& count = counts[current];
    if (count == 0)
        ++chain; // a new portion: replies still due for earlier ones are void
    if (!corruptions.empty() && corruptions.erase({current, count}) != 0)
        byte ^= 0x01;
    if (integrity)
        integrity->Arrived(current, byte);
    if (config.keepReceived)
        portions[current].push_back(byte);
    ++count;
    if (config.vanishMidPortion && config.vanishFor > 0 &&
        config.vanishAfterPortion == current + 1 &&
        count == std::max<std::size_t>(1, sizes[current] / 2) && count < sizes[current]) {
        away = true;
        awaySince = TimeNow();
        Trace("SimulatedDevice: vanishing for %u ms inside portion %lu\n", config.vanishFor,
              static_cast<unsigned long>(current + 1));
        if (integrity)
            integrity->Cut(current);
        ++chain; // nothing is answered for it
        ++current;
    }
    CompleteReachedPortions();
}

void SimulatedDevice::CompleteReachedPortions() {
    while (current < sizes.size() && counts[current] >= sizes[current]) {
        CompletePortion(current);
        ++current;
    }
}

void SimulatedDevice::CompletePortion(std::size_t index) {
    Trace("SimulatedDevice: portion %lu received, %lu bytes\n",
          static_cast<unsigned long>(index + 1), static_cast<unsigned long>(counts[index]));
    if (config.vanishFor > 0 && !config.vanishMidPortion &&
        config.vanishAfterPortion == index + 1) {
        away = true;
        awaySince = TimeNow();
        Trace("SimulatedDevice: vanishing for %u ms\n", config.vanishFor);
    }
    if (counts[index] == 0)
        return; // nothing seen, nothing to answer
    ++chain;
    StatusReply reply;
    if (!config.script.empty())
        reply = config.script[std::min(index, config.script.size() - 1)];
    if (reply.kind != ReplyKind::Silent)
        ScheduleStatus(config.replyLatency, chain, index, reply, 0);
}

void SimulatedDevice::ScheduleStatus(unsigned int delay, std::uint64_t replyChain,
                                     std::size_t portion, StatusReply reply,
                                     unsigned int busySent) {
    std::shared_ptr<Lifetime> life = lifetime;
    scheduler->Schedule(delay, [life, this, replyChain, portion, reply, busySent] {
        std::lock_guard<std::mutex> guard(life->lock);
        if (life->alive)
            StatusDue(replyChain, portion, reply, busySent);
    });
}

void SimulatedDevice::StatusDue(std::uint64_t replyChain, std::size_t portion, StatusReply reply,
                                unsigned int busySent) {
    static const unsigned int busyInterval = 500;
    std::vector<unsigned char> message;
    const char* what = "accepted";
    {
        std::lock_guard<std::mutex> guard(stateLock);
        if (replyChain != chain)
            return;
        switch (reply.kind) {
        case ReplyKind::Accept:
            message = StatusMessage(0x00);
            break;
        case ReplyKind::Error:
            message = StatusMessage(0x01);
            what = "error";
            break;
        case ReplyKind::Garbage:
            message = GarbageMessage();
            what = "garbage";
            break;
        case ReplyKind::BusyThenAccept:
            if (busySent < reply.busyReports) {
                message = StatusMessage(0x20);
                what = "busy";
                ScheduleStatus(busyInterval, replyChain, portion, reply, busySent + 1);
            } else {
                message = StatusMessage(0x00);
            }
            break;
        case ReplyKind::RunOn:
            message = RunOnMessage();
            what = "a status that never ends";
            ScheduleStatus(config.replyLatency, replyChain, portion, StatusReply{}, 0);
            break;
        case ReplyKind::BusyForever:
            message = StatusMessage(0x20);
            what = "busy";
            ScheduleStatus(busyInterval, replyChain, portion, reply, busySent + 1);
            break;
        case ReplyKind::Silent:
            return;
        }
    }
    Emit(message, Format("%s for portion %lu", what, static_cast<unsigned long>(portion + 1)));
}

void SimulatedDevice::ScheduleIdentityReply() {
    if (identityReply.empty()) {
        Trace("SimulatedDevice: identity request, no version to answer with\n");
        return;
    }
    std::shared_ptr<Lifetime> life = lifetime;
    scheduler->Schedule(config.replyLatency, [life, this] {
        std::lock_guard<std::mutex> guard(life->lock);
        if (life->alive)
            Emit(identityReply, "identity reply");
    });
}

void SimulatedDevice::Emit(const std::vector<unsigned char>& message, const std::string& what) {
    if (!IsPresent()) {
        Trace("SimulatedDevice: absent, %s not sent\n", what.c_str());
        return;
    }
    Trace("SimulatedDevice: sending %s\n", what.c_str());
    auto deliver = [this, &message] {
        std::lock_guard<std::mutex> guard(outputLock);
        if (output)
            output(message.data(), message.size());
    };
    if (deliveryThread)
        deliveryThread->RunAndWait(deliver);
    else
        deliver();
}

std::vector<std::vector<unsigned char>> SimulatedDevice::ReceivedPortions() const {
    std::lock_guard<std::mutex> guard(stateLock);
    std::vector<std::vector<unsigned char>> received;
    for (std::size_t i = 0; i <= current && i < counts.size(); ++i) {
        if (i == current && counts[i] == 0)
            break;
        received.push_back(config.keepReceived ? portions[i] : std::vector<unsigned char>());
    }
    return received;
}

std::optional<IntegrityReport> SimulatedDevice::Integrity() const {
    std::lock_guard<std::mutex> guard(stateLock);
    if (!integrity)
        return std::nullopt;
    return integrity->Report();
}

std::size_t SimulatedDevice::CompletedPortions() const {
    std::lock_guard<std::mutex> guard(stateLock);
    return current;
}

std::size_t SimulatedDevice::IdentityRequests() const {
    std::lock_guard<std::mutex> guard(stateLock);
    return identityRequests;
}

std::vector<SimulatedDevice::TransferReport> SimulatedDevice::Transfers() const {
    std::lock_guard<std::mutex> guard(stateLock);
    std::vector<TransferReport> transfers = ended;
    transfers.push_back(CurrentTransfer());
    return transfers;
}

std::size_t SimulatedDevice::BytesIgnored() const {
    std::lock_guard<std::mutex> guard(stateLock);
    return bytesIgnored;
}

void SimulatedDevice::CorruptReceivedByte(std::size_t index, std::size_t offset) {
    std::lock_guard<std::mutex> guard(stateLock);
    if (index < counts.size() && offset < counts[index]) {
        if (config.keepReceived)
            portions[index][offset] ^= 0x01;
    } else {
        corruptions.insert({index, offset});
    }
}
