#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/SimulatedDevice.h"
#include "Simulator/SimulatedMidiPort.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <thread>

using testsupport::Bytes;
using testsupport::Hex;
using testsupport::Message;

namespace {

// What the device said and when, as (virtual ms since the rig started, what): status
// flags, or one of the codes below.
enum : int { GARBAGE = -1, IDENTITY = -2, OTHER = -3 };
using Said = std::vector<std::pair<unsigned int, int>>;

int Kind(const Bytes& message) {
    if (message == GarbageMessage())
        return GARBAGE;
    if (CheckSysExUpdateStatus(message) != UPDATE_STATUS_NONE)
        return message[STATUS_FLAGS_OFFSET];
    if (message.size() > 5 &&
        std::equal(identityReplyHeader, identityReplyHeader + 5, message.begin()))
        return IDENTITY;
    return OTHER;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

const Bytes request(deviceEnquiry, deviceEnquiry + sizeof deviceEnquiry);

// A device on a virtual clock, with everything it says recorded.
class Rig {
public:
    explicit Rig(SimulatedDeviceConfig config, unsigned int start = 0)
        : clock(start), installed(clock), start(start),
          device(std::make_unique<SimulatedDevice>(
              std::move(config), std::make_unique<VirtualClockScheduler>(clock))) {
        device->SetOutput([this](const unsigned char* data, std::size_t size) {
            std::lock_guard<std::mutex> guard(lock);
            messages.emplace_back(Bytes(data, data + size));
            said.emplace_back(TimeNow() - this->start, Kind(messages.back()));
            threads.push_back(std::this_thread::get_id());
        });
    }

    void Send(const Bytes& bytes) { device->Receive(bytes.data(), bytes.size()); }
    void SleepUntil(unsigned int at) { SleepFor(at - (TimeNow() - start)); }
    Said Heard() {
        std::lock_guard<std::mutex> guard(lock);
        return said;
    }
    std::vector<Bytes> Messages() {
        std::lock_guard<std::mutex> guard(lock);
        return messages;
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard<std::mutex> guard(lock);
        return threads;
    }

    VirtualClock clock;
    ScopedClock installed;
    const unsigned int start;
    std::mutex lock;
    Said said;
    std::vector<Bytes> messages;
    std::vector<std::thread::id> threads;
    std::unique_ptr<SimulatedDevice> device; // last: its output uses the members above
};

SimulatedDeviceConfig Config(std::vector<std::size_t> sizes, const std::string& script = "accept") {
    SimulatedDeviceConfig config;
    config.portionSizes = std::move(sizes);
    std::string error;
    EXPECT_TRUE(ParseStatusScript(script, config.script, error)) << error;
    return config;
}

} // namespace

// ---- Input: reassembly, portions, identity requests ----

TEST(SimulatedDevice, RecordsPortionsExactlyWhateverTheSlicing) {
    // A second portion that starts like an identity request but is not one, a third that
    // is one byte for byte (firmware may begin so), a request after all of them, and
    // bytes beyond the expected ones.
    const Bytes first = Message(40, 1);
    const Bytes second = Join({Hex("F0 7E 7F 06 09"), Message(28, 2)});
    const Bytes third = Join({request, Message(9, 3)});
    const Bytes extra = Hex("F0 01 02 03 04 05 06 07 F7");
    const Bytes stream = Join({first, second, third, request, extra});
    const std::vector<std::vector<std::size_t>> slicings = {{1},        {2, 3}, {6},
                                                            {5, 1, 13}, {45},   {stream.size()}};

    for (const auto& slicing : slicings) {
        SCOPED_TRACE(::testing::PrintToString(slicing));
        SimulatedDeviceConfig config = Config({first.size(), second.size(), third.size()});
        config.version = Version{1, 5};
        Rig rig(config);
        std::size_t at = 0;
        for (std::size_t i = 0; at < stream.size(); ++i) {
            const std::size_t n = std::min(slicing[i % slicing.size()], stream.size() - at);
            rig.device->Receive(stream.data() + at, n);
            at += n;
        }
        EXPECT_EQ(rig.device->ReceivedPortions(),
                  (std::vector<Bytes>{first, second, third, extra}));
        EXPECT_EQ(rig.device->CompletedPortions(), 3u);
        EXPECT_EQ(rig.device->IdentityRequests(), 2u);
        SleepFor(100);
        // All arrived at once: each portion voids the one before's reply, the extra bytes
        // the third's; both identity requests are answered all the same.
        EXPECT_EQ(rig.Heard(), (Said{{10, IDENTITY}, {10, IDENTITY}}));
    }
}

TEST(SimulatedDevice, PortionEndsAtItsByteCountAndARequestInsideOneIsData) {
    const Bytes first = Join({Hex("F0 11 F7"), request}); // a portion holding a request
    const Bytes second = Message(7, 3);
    SimulatedDeviceConfig config = Config({first.size(), second.size()});
    config.version = Version{2, 0};
    Rig rig(config);

    rig.Send(Bytes(first.begin(), first.begin() + 5));
    rig.SleepUntil(50);
    EXPECT_EQ(rig.device->CompletedPortions(), 0u);
    rig.Send(Bytes(first.begin() + 5, first.end())); // portion 1 ends at 50
    rig.SleepUntil(150);
    rig.Send(Join({second, Hex("01 02 03")})); // portion 2, and bytes beyond, at 150
    rig.SleepUntil(400);

    EXPECT_EQ(rig.device->ReceivedPortions(), (std::vector<Bytes>{first, second, Hex("01 02 03")}));
    EXPECT_EQ(rig.device->IdentityRequests(), 1u);
    EXPECT_EQ(rig.Heard(), (Said{{60, IDENTITY}, {60, 0x00}}));
}

TEST(SimulatedDevice, EmptyExpectedPortionsCompleteUnanswered) {
    Rig rig(Config({0, 3, 0}));
    EXPECT_EQ(rig.device->CompletedPortions(), 1u);
    rig.Send(Hex("F0 01 F7"));
    EXPECT_EQ(rig.device->CompletedPortions(), 3u);
    SleepFor(100);
    EXPECT_EQ(rig.Heard(), (Said{{10, 0x00}}));
    EXPECT_EQ(rig.device->ReceivedPortions(), (std::vector<Bytes>{{}, Hex("F0 01 F7"), {}}));
}

// ---- Scripted replies ----

TEST(SimulatedDevice, AnswersEachPortionAsScripted) {
    struct Case {
        std::string script;
        std::size_t portions; // sent 10 s apart, from 0
        unsigned int latency;
        Said expected;
    };
    const std::vector<Case> cases = {
        {"accept", 1, 10, {{10, 0x00}}},
        {"error", 1, 10, {{10, 0x01}}},
        {"garbage", 1, 10, {{10, GARBAGE}}},
        {"endless", 1, 10, {{10, OTHER}, {20, 0x00}}},
        {"silent", 1, 10, {}},
        {"busy:3", 1, 10, {{10, 0x20}, {510, 0x20}, {1010, 0x20}, {1510, 0x00}}},
        {"busy:0", 1, 25, {{25, 0x00}}},
        {"silent", 1, 0, {}},
        {"accept", 1, 0, {{0, 0x00}}},
        {"error,busy:1,accept",
         4,
         10,
         {{10, 0x01}, {10010, 0x20}, {10510, 0x00}, {20010, 0x00}, {30010, 0x00}}},
        {" Garbage , SILENT,accept", 3, 10, {{10, GARBAGE}, {20010, 0x00}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        SimulatedDeviceConfig config = Config(std::vector<std::size_t>(c.portions, 4), c.script);
        config.replyLatency = c.latency;
        Rig rig(config);
        for (std::size_t i = 0; i < c.portions; ++i) {
            rig.SleepUntil(static_cast<unsigned int>(i * 10000));
            rig.Send(Hex("F0 01 02 F7"));
        }
        rig.SleepUntil(static_cast<unsigned int>(c.portions * 10000));
        EXPECT_EQ(rig.Heard(), c.expected);
    }
}

TEST(SimulatedDevice, BusyForeverKeepsReportingUntilTheNextPortion) {
    Rig rig(Config({4, 4}, "busy,accept"));
    rig.Send(Hex("F0 01 02 F7"));
    SleepFor(600000); // ten minutes
    Said heard = rig.Heard();
    ASSERT_EQ(heard.size(), 1200u);
    for (std::size_t i = 0; i < heard.size(); ++i)
        ASSERT_EQ(heard[i], (std::pair<unsigned int, int>(10 + 500 * i, 0x20)));
    EXPECT_EQ(rig.clock.Pending(), 1u); // one report at a time, not a growing queue

    rig.Send(Hex("F0 03 04 F7"));
    SleepFor(600000);
    heard = rig.Heard();
    EXPECT_EQ(heard.size(), 1201u);
    EXPECT_EQ(heard.back(), (std::pair<unsigned int, int>(600010, 0x00)));
}

// ---- Identity ----

namespace {

// The identity reply read the way the updater reads it.
struct ParsedIdentity {
    bool ok = false;
    std::string version;
    std::string name;
    std::size_t p = 0;
};

ParsedIdentity ParseIdentity(const Bytes& reply) {
    ParsedIdentity parsed;
    if (reply.size() < 5 || Bytes(reply.begin(), reply.begin() + 5) != Hex("F0 7E 00 06 02"))
        return parsed;
    const std::size_t p = reply.size() > 5 && reply[5] == 0x00 ? 8 : 6;
    if (reply.size() < p + 29 || reply.back() != 0xF7)
        return parsed;
    parsed.p = p;
    parsed.version =
        Format("%d.%d%d", reply[p + 3] * 22 + reply[p + 4], reply[p + 5], reply[p + 6]);
    for (std::size_t i = p + 12; i < p + 28 && reply[i] != 0 && reply[i] < 0x7F; ++i)
        parsed.name += static_cast<char>(reply[i]);
    parsed.ok = true;
    return parsed;
}

} // namespace

TEST(IdentityReply, EveryVersionReadsBackAsTheSameText) {
    SimulatedDeviceConfig config;
    config.name = "Synth";
    for (unsigned int major = 0; major <= 200; ++major) {
        for (unsigned int minor = 0; minor <= 99; ++minor) {
            config.version =
                Version{static_cast<unsigned short>(major), static_cast<unsigned short>(minor)};
            const Bytes reply = IdentityReply(config);
            const ParsedIdentity parsed = ParseIdentity(reply);
            ASSERT_TRUE(parsed.ok) << major << "." << minor;
            ASSERT_EQ(parsed.version, Format("%u.%02u", major, minor));
            for (unsigned char byte : Bytes(reply.begin() + 1, reply.end() - 1))
                ASSERT_LT(byte, 0x80) << major << "." << minor;
        }
    }
}

TEST(IdentityReply, CarriesManufacturerAndNameAndRefusesWhatItCannotEncode) {
    SimulatedDeviceConfig config;
    config.version = Version{maxDeviceMajorVersion, 99};
    config.manufacturerId = Hex("00 20 33");
    config.name = "A name longer than sixteen";
    ParsedIdentity parsed = ParseIdentity(IdentityReply(config));
    EXPECT_EQ(parsed.p, 8u);
    EXPECT_EQ(parsed.version, Format("%u.99", maxDeviceMajorVersion));
    EXPECT_EQ(parsed.name, "A name longer th");

    config.manufacturerId = Hex("7D");
    config.name = "Caf\xC3\xA9";
    parsed = ParseIdentity(IdentityReply(config));
    EXPECT_EQ(parsed.p, 6u);
    EXPECT_EQ(parsed.name, "Caf??");
    EXPECT_EQ(IdentityReply(config).size(), 35u);

    struct Bad {
        std::function<void(SimulatedDeviceConfig&)> change;
        std::string problem;
    };
    const std::vector<Bad> bad = {
        {[](SimulatedDeviceConfig& c) { c.version->major = maxDeviceMajorVersion + 1; },
         "major version 2816 is above 2815"},
        {[](SimulatedDeviceConfig& c) { c.version->minor = 100; },
         "minor version 100 is not below 100"},
        {[](SimulatedDeviceConfig& c) { c.manufacturerId = Hex("00"); }, "the manufacturer id"},
        {[](SimulatedDeviceConfig& c) { c.manufacturerId = Hex("80"); }, "the manufacturer id"},
        {[](SimulatedDeviceConfig& c) { c.manufacturerId = Hex("01 02 03"); },
         "the manufacturer id"},
        {[](SimulatedDeviceConfig& c) { c.model = 0x80; }, "the family and model"},
        {[](SimulatedDeviceConfig& c) { c.version.reset(); }, ""},
    };
    for (const Bad& b : bad) {
        SimulatedDeviceConfig broken = config;
        b.change(broken);
        EXPECT_EQ(ConfigProblem(broken).substr(0, b.problem.size()), b.problem);
        EXPECT_TRUE(IdentityReply(broken).empty());
    }

    // Broken on purpose: none of them may read as a version.
    const struct {
        IdentityFault fault;
        std::size_t size;
        bool closed;
    } faults[] = {{IdentityFault::Short, 7, true},
                  {IdentityFault::Foreign, 35, true},
                  {IdentityFault::NoF7, 34, false}};
    for (const auto& f : faults) {
        config.identityFault = f.fault;
        const Bytes reply = IdentityReply(config);
        EXPECT_EQ(reply.size(), f.size);
        EXPECT_EQ(reply.back() == 0xF7, f.closed);
        EXPECT_TRUE(ParseDeviceEnquiryResponse(reply).version.empty() ||
                    f.fault == IdentityFault::NoF7); // its collector never hands it on
    }
}

TEST(SimulatedDevice, AnswersIdentityRequestsOnlyWithAVersion) {
    SimulatedDeviceConfig config;
    config.version = Version{1, 5};
    config.replyLatency = 30;
    {
        Rig rig(config);
        rig.Send(Hex("F0 7E"));
        rig.Send(Hex("7F 06 01 F7 F0 7E 7F 06 01")); // the second is still open
        SleepFor(100);
        rig.Send(Hex("F7"));
        SleepFor(100);
        EXPECT_EQ(rig.Heard(), (Said{{30, IDENTITY}, {130, IDENTITY}}));
        EXPECT_EQ(ParseIdentity(rig.Messages()[0]).version, "1.05");
        EXPECT_EQ(rig.device->ReceivedPortions(), std::vector<Bytes>{});
    }
    {
        Rig silent(SimulatedDeviceConfig{});
        testsupport::TraceCapture traces;
        silent.Send(request);
        SleepFor(100);
        EXPECT_TRUE(silent.Heard().empty());
        EXPECT_EQ(silent.device->IdentityRequests(), 1u);
        EXPECT_TRUE(
            traces.Contains("SimulatedDevice: identity request, no version to answer with\n"));
    }
}

// ---- Presence ----

TEST(SimulatedDevice, AppearsLateAndVanishesAfterAPortion) {
    SimulatedDeviceConfig config = Config({4, 4, 4});
    config.appearsAfter = 1000;
    config.vanishAfterPortion = 2;
    config.vanishFor = 3000;
    Rig rig(config, 0xFFFFFE00u); // and across the clock's wrap
    const Bytes portion = Hex("F0 01 02 F7");

    EXPECT_FALSE(rig.device->IsPresent());
    rig.Send(portion); // nobody there
    EXPECT_EQ(rig.device->BytesIgnored(), 4u);
    rig.SleepUntil(999);
    EXPECT_FALSE(rig.device->IsPresent());
    rig.SleepUntil(1000);
    EXPECT_TRUE(rig.device->IsPresent());
    rig.Send(portion);
    rig.SleepUntil(2000);
    // Portion 2 and the start of portion 3 in one go: it vanishes in between.
    rig.Send(Join({portion, Hex("F0 01")}));
    EXPECT_FALSE(rig.device->IsPresent());
    EXPECT_EQ(rig.device->BytesIgnored(), 6u);
    rig.SleepUntil(4999);
    EXPECT_FALSE(rig.device->IsPresent());
    rig.SleepUntil(5000);
    EXPECT_TRUE(rig.device->IsPresent());
    rig.Send(portion);
    rig.SleepUntil(6000);

    EXPECT_EQ(rig.device->ReceivedPortions(), (std::vector<Bytes>{portion, portion, portion}));
    EXPECT_EQ(rig.Heard(), (Said{{1010, 0x00}, {5010, 0x00}})); // nothing while away
}

// ---- Faults and lifetime ----

TEST(SimulatedDevice, CorruptsAByteBeforeOrAfterItArrives) {
    Rig rig(Config({4, 4}));
    rig.device->CorruptReceivedByte(1, 3); // not there yet
    rig.Send(Hex("F0 10 20 F7"));
    rig.device->CorruptReceivedByte(0, 2); // already there
    rig.Send(Hex("F0 30 40 F7"));
    rig.device->CorruptReceivedByte(5, 0); // never arrives: harmless
    EXPECT_EQ(rig.device->ReceivedPortions(),
              (std::vector<Bytes>{Hex("F0 10 21 F7"), Hex("F0 30 40 F6")}));
}

// What arrives is judged against the expected bytes as it arrives, without a copy.
TEST(SimulatedDevice, ComparesWithTheExpectedPortionsAsTheyArrive) {
    const Bytes one = Hex("F0 10 20 F7");
    const Bytes two = Hex("F0 30 F7");
    const struct {
        const char* label;
        Bytes stream;
        std::string text;
        bool servesAgain = false; // then two transfers, the first identical
    } cases[] = {
        {"identical", Join({one, two}),
         "device received 2 portions, 7 bytes, identical to the update file"},
        {"byte differs", Join({one, Hex("F0 31 F7")}),
         "device received 2 portions, 7 bytes; portion 2 differs from the update file at byte 1 "
         "(file 0x30, device 0x31)"},
        {"cut short", Join({one, Hex("F0")}),
         "device received 2 portions, 5 bytes; portion 2: the device received 1 of its 3 bytes"},
        {"portion missing", one,
         "device received 1 portion, 4 bytes; the update file has 2 portions"},
        {"bytes beyond", Join({one, two, Hex("00 00")}),
         "device received 3 portions, 9 bytes; 2 bytes arrived beyond the update file's portions"},
        // Updated again: the identity request still belongs to the first transfer.
        {"served again",
         Join({one, two, Bytes(deviceEnquiry, deviceEnquiry + 6), one, Hex("F0 31 F7")}),
         "device received 2 portions, 7 bytes; portion 2 differs from the update file at byte 1 "
         "(file 0x30, device 0x31)",
         true},
    };
    for (const auto& c : cases) {
        SimulatedDeviceConfig config = Config({});
        config.expected = {{one.data(), one.size()}, {two.data(), two.size()}};
        config.keepReceived = false;
        config.servesAgain = c.servesAgain;
        Rig rig(config);
        rig.Send(c.stream);
        const std::optional<IntegrityReport> report = rig.device->Integrity();
        ASSERT_TRUE(report) << c.label;
        EXPECT_EQ(report->text, c.text) << c.label;
        EXPECT_EQ(report->identical, c.label == std::string("identical")) << c.label;
        const auto transfers = rig.device->Transfers();
        ASSERT_EQ(transfers.size(), c.servesAgain ? 2u : 1u) << c.label;
        if (c.servesAgain) {
            EXPECT_TRUE(transfers[0].integrity->identical) << c.label;
            EXPECT_EQ(transfers[0].identityRequests, 1u) << c.label;
            EXPECT_EQ(transfers[1].completedPortions, 2u) << c.label;
        }
        EXPECT_EQ(rig.device->ReceivedPortions().size(), report->portions) << c.label;
        for (const Bytes& kept : rig.device->ReceivedPortions())
            EXPECT_TRUE(kept.empty()) << c.label;
    }
    EXPECT_FALSE(Rig(Config({4})).device->Integrity()); // sizes alone: nothing to compare
}

TEST(SimulatedDevice, DestructionCancelsPendingReplies) {
    for (bool ownThread : {false, true}) {
        SCOPED_TRACE(ownThread ? "own delivery thread" : "delivered by the sleeper");
        SimulatedDeviceConfig config = Config({4}, "busy");
        config.version = Version{3, 1};
        config.ownDeliveryThread = ownThread;
        Rig rig(config);
        rig.Send(Hex("F0 01 02 F7"));
        rig.SleepUntil(1200);
        rig.Send(request); // its reply would be due at 1210
        rig.device.reset();
        SleepFor(10000);
        EXPECT_EQ(rig.Heard(), (Said{{10, 0x20}, {510, 0x20}, {1010, 0x20}}));
        EXPECT_EQ(rig.clock.Pending(), 0u); // the busy chain did not go on
    }
}

TEST(SimulatedDevice, OwnDeliveryThreadDeliversBeforeTheSleepReturns) {
    SimulatedDeviceConfig config = Config({4}, "busy:2");
    config.ownDeliveryThread = true;
    Rig rig(config);
    rig.Send(Hex("F0 01 02 F7"));
    rig.SleepUntil(10);
    EXPECT_EQ(rig.Heard(), (Said{{10, 0x20}}));
    rig.SleepUntil(1010);
    EXPECT_EQ(rig.Heard(), (Said{{10, 0x20}, {510, 0x20}, {1010, 0x00}}));
    for (std::thread::id id : rig.Threads())
        EXPECT_NE(id, std::this_thread::get_id());
}

TEST(RealTimeScheduler, RunsDueActionsInOrderAndDropsPendingOnesWhenDestroyed) {
    std::vector<int> ran;
    std::promise<void> done;
    auto scheduler = std::make_unique<RealTimeScheduler>();
    scheduler->Schedule(3600000, [&] { ran.push_back(99); }); // an hour: never
    for (int i = 0; i < 5; ++i)
        scheduler->Schedule(0, [&ran, i] { ran.push_back(i); });
    scheduler->Schedule(0, [&] { done.set_value(); });
    done.get_future().wait();
    scheduler.reset();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));

    // A device with a reply an hour away goes without waiting for it.
    SimulatedDeviceConfig config = Config({1});
    config.replyLatency = 3600000;
    SimulatedDevice device(config, std::make_unique<RealTimeScheduler>());
    device.Receive(Hex("00").data(), 1);
}

// ---- Texts ----

TEST(DeviceConfigTexts, ParseOrExplain) {
    struct Case {
        std::string text;
        std::string expected; // StatusScriptText of the result, or the error
    };
    const std::vector<Case> scripts = {
        {"accept,busy:3,silent", "accept,busy:3,silent"},
        {"error, garbage ,BUSY,busy:0", "error,garbage,busy,busy:0"},
        {"",
         "the status script is empty (use accept, error, busy, busy:N, silent, garbage or endless, "
         "separated by commas)"},
        {"accept,,error", "the status script 'accept,,error' has an empty entry"},
        {"accept,", "the status script 'accept,' has an empty entry"},
        {"accept,wait", "unknown status reply 'wait' (use accept, error, busy, busy:N, silent, "
                        "garbage or endless)"},
        {"busy:x", "the busy count in 'busy:x' must be a whole number from 0 to 1000000"},
        {"busy:-1", "the busy count in 'busy:-1' must be a whole number from 0 to 1000000"},
        {"busy:1000001",
         "the busy count in 'busy:1000001' must be a whole number from 0 to 1000000"},
    };
    for (const Case& c : scripts) {
        StatusScript script{StatusReply{ReplyKind::Silent}};
        std::string error;
        const bool ok = ParseStatusScript(c.text, script, error);
        EXPECT_EQ(ok ? StatusScriptText(script) : error, c.expected) << c.text;
        if (!ok) {
            EXPECT_EQ(StatusScriptText(script), "silent"); // unchanged
        }
    }

    const std::vector<Case> versions = {
        {"1.05", "1.05"},
        {"1.5", "the minor version in '1.5' must have two digits (1.05, 1.50)"},
        {" 2815.99 ", "2815.99"},
        {"0.00", "0.00"},
        {"1.100", "the minor version in '1.100' must have two digits (1.05, 1.50)"},
        {"2816.00", "the major version in '2816.00' is above 2815"},
        {"1", "version '1' is not MAJOR.MINOR (for example 1.05)"},
        {"1.", "version '1.' is not MAJOR.MINOR (for example 1.05)"},
        {"v1.05", "version 'v1.05' is not MAJOR.MINOR (for example 1.05)"},
        {"1.0.5", "version '1.0.5' is not MAJOR.MINOR (for example 1.05)"},
        {"-1.05", "version '-1.05' is not MAJOR.MINOR (for example 1.05)"},
    };
    for (const Case& c : versions) {
        Version version{7, 7};
        std::string error;
        const bool ok = ParseDeviceVersion(c.text, version, error);
        EXPECT_EQ(ok ? version.ToString() : error, c.expected) << c.text;
    }

    const std::vector<Case> vanishes = {
        {"2:3000", "2 3000"},
        {"1:0", "1 0"},
        {"0:100", "the vanish portion in '0:100' must be 1 or more (portions count from 1)"},
        {"2", "vanish '2' is not PORTION:MILLISECONDS (for example 2:3000)"},
        {"2:3s", "vanish '2:3s' is not PORTION:MILLISECONDS (for example 2:3000)"},
        {"2:4294967296", "vanish '2:4294967296' is not PORTION:MILLISECONDS (for example 2:3000)"},
    };
    for (const Case& c : vanishes) {
        unsigned int portion = 0;
        unsigned int milliseconds = 0;
        std::string error;
        const bool ok = ParseVanish(c.text, portion, milliseconds, error);
        EXPECT_EQ(ok ? Format("%u %u", portion, milliseconds) : error, c.expected) << c.text;
    }
}

TEST(DeviceOptions, ParseTheWordsEveryHostTakes) {
    const auto describe = [](const DeviceOptions& o) {
        return Format("%s%s %s %s %u %u:%u %s %lu,%lu", o.device.name.c_str(),
                      o.nameGiven ? "(given)" : "", StatusScriptText(o.device.script).c_str(),
                      o.device.version ? o.device.version->ToString().c_str() : "-",
                      o.device.appearsAfter, o.device.vanishAfterPortion, o.device.vanishFor,
                      o.expectsPath.c_str(), o.idealChunkSize, o.maxChunkSize);
    };
    const struct {
        std::vector<std::string> words;
        std::string expected; // describe() of the result, or the error
    } cases[] = {
        {{}, "Simulated Device  - 0 0:0  2048,16384"},
        {{"--device-name", "Widget Port", "--device-status=busy:2,error", "--device-version",
          "1.05", "--device-appears-after", "500", "--device-vanishes-after-portion", "2:3000",
          "--device-expects", "Z:\\fw.upd", "--chunk-sizes", "256,1024"},
         "Widget Port(given) busy:2,error 1.05 500 2:3000 Z:\\fw.upd 256,1024"},
        {{"--device-colour", "red"}, "unknown device option '--device-colour'"},
        {{"--device-vanishes-during-portion", "2:10"}, "Simulated Device  - 0 2:10  2048,16384"},
        {{"--device-identity", "late"}, "identity fault 'late' is not short, foreign or no-f7"},
        {{"widget"}, "unexpected word 'widget' (device options start with --)"},
        {{"--device-version"}, "--device-version needs a value"},
        {{"--device-appears-after", "-1"},
         "--device-appears-after needs milliseconds from 0 to 4294967295, not '-1'"},
        {{"--chunk-sizes", "0,5"}, "chunk sizes must be at least 1 byte: 0,5"},
        {{"--chunk-sizes", "5"}, "chunk sizes must be IDEAL,MAX in bytes, like 2048,16384: 5"},
        {{"--device-expects="}, "--device-expects needs a file"},
        {{"--device-status", "maybe"},
         "unknown status reply 'maybe' (use accept, error, busy, busy:N, silent, garbage or "
         "endless)"},
    };
    for (const auto& c : cases) {
        DeviceOptions options;
        std::string error;
        const bool ok = ParseDeviceOptions(c.words, options, error);
        EXPECT_EQ(ok ? describe(options) : error, c.expected) << ::testing::PrintToString(c.words);
    }

    const struct {
        std::string text;
        std::vector<std::string> words; // empty with `error` for a refusal
        std::string error;
    } splits[] = {
        {"  --device-status accept\t--device-version 1.05 \n",
         {"--device-status", "accept", "--device-version", "1.05"},
         ""},
        {"--device-expects 'Z:\\tmp\\my files\\fw.upd'",
         {"--device-expects", "Z:\\tmp\\my files\\fw.upd"},
         ""},
        {"\"a \\\" \\$ \\x\" b\\ c d\\\\e", {"a \" $ \\x", "b c", "d\\e"}, ""},
        {"'' x''y \"\"", {"", "xy", ""}, ""},
        {"a\\\nb", {"ab"}, ""},
        {"'open", {}, "unclosed ' in: 'open"},
        {"\"open", {}, "unclosed \" in: \"open"},
        {"end\\", {}, "a trailing backslash in: end\\"},
    };
    for (const auto& c : splits) {
        std::vector<std::string> words{"old"};
        std::string error;
        const bool ok = SplitShellWords(c.text, words, error);
        EXPECT_EQ(ok, c.error.empty()) << c.text;
        EXPECT_EQ(words, ok ? c.words : std::vector<std::string>{"old"}) << c.text; // kept on error
        EXPECT_EQ(error, c.error) << c.text;
    }

    // How the platform stand-ins take them.
    DeviceOptions options;
    std::string error;
    EXPECT_TRUE(ParseSimulateVariable(nullptr, options, error));
    EXPECT_TRUE(ParseSimulateVariable("--device-name 'My Synth' --device-expects 'Z:\\a b.upd'",
                                      options, error))
        << error;
    EXPECT_EQ(options.device.name + "|" + options.expectsPath, "My Synth|Z:\\a b.upd");
    EXPECT_FALSE(ParseSimulateVariable("--device-version '1.05", options, error));
    EXPECT_EQ(error, "MIDI_UPDATER_SIMULATE: unclosed ' in: --device-version '1.05");
}

// ---- The port ----

TEST(SimulatedMidiPort, ConnectsSendsAndHearsTheDevice) {
    for (bool ownThread : {false, true}) {
        SCOPED_TRACE(ownThread ? "own delivery thread" : "delivered by the sleeper");
        const Bytes portion = Message(5000, 4);
        SimulatedDeviceConfig config = Config({portion.size()});
        config.appearsAfter = 500;
        config.ownDeliveryThread = ownThread;
        Rig rig(config);
        testsupport::TraceCapture traces;
        SimulatedMidiPort port(*rig.device, 1024, 4096);
        EXPECT_EQ(port.IdealChunkSize(), 1024u);
        EXPECT_EQ(port.MaxChunkSize(), 4096u);

        EXPECT_FALSE(port.IsConnected());
        port.Send(portion.data(), 10);
        SleepFor(500);
        ASSERT_TRUE(port.IsConnected());
        for (std::size_t at = 0; at < portion.size(); at += 1024)
            port.Send(portion.data() + at, std::min<std::size_t>(1024, portion.size() - at));
        SleepFor(500);
        EXPECT_EQ(port.LastSysEx(), StatusMessage(0x00));
        port.Disconnect();
        port.Send(portion.data(), 3);

        EXPECT_EQ(rig.device->ReceivedPortions(), std::vector<Bytes>{portion});
        EXPECT_EQ(rig.device->BytesIgnored(), 0u);
        const auto traced = [&traces](const char* fn, const std::string& rest) {
            const char* owner = std::string(fn) == "GotSysEx" ? "MidiPort" : "SimulatedMidiPort";
            return traces.Contains(midiupdate::TraceName(owner, fn) + ": " + rest);
        };
        EXPECT_TRUE(traced("IsConnected", "Simulated device 'Simulated Device' not present\n"));
        EXPECT_TRUE(traced("Send", "Not connected, 10 bytes dropped\n"));
        EXPECT_TRUE(traced("IsConnected", "Opened simulated device 'Simulated Device'\n"));
        EXPECT_TRUE(traced("Disconnect", "Closed 'Simulated Device'\n"));
        EXPECT_TRUE(traced("Send", "Not connected, 3 bytes dropped\n"));
        EXPECT_TRUE(traced("GotSysEx", "13 bytes { 0xf0 0x00 0x00 0x3f 0x73 0x00 0x00 0x00 0x00 "
                                       "0x00 0x00 0x00 0xf7 }\n"));
    }
}

TEST(SimulatedMidiPort, ClosedPortHearsNothingAndAVanishedDeviceClosesIt) {
    SimulatedDeviceConfig config = Config({4}, "busy:2");
    config.vanishAfterPortion = 1;
    config.vanishFor = 100;
    Rig rig(config);
    SimulatedMidiPort port(*rig.device);
    ASSERT_TRUE(port.IsConnected());
    port.Send(Hex("F0 01 02 F7").data(), 4);
    EXPECT_FALSE(port.IsConnected()); // away for 100 ms: the busy report at 10 is lost
    SleepFor(200);
    port.Disconnect();
    SleepFor(500); // the one at 510 comes to a closed port
    EXPECT_TRUE(port.LastSysEx().empty());
    ASSERT_TRUE(port.IsConnected());
    SleepFor(500);
    EXPECT_EQ(port.LastSysEx(), StatusMessage(0x00));
}

TEST(SimulatedMidiPort, ReceiveSysExWaitsForTheIdentityReplyWithinTheLimit) {
    struct Case {
        std::string name;
        unsigned int start;
        bool version;
        unsigned int latency;
        unsigned int appearsAfter;
        unsigned int expectedElapsed;
        bool expectReply;
    };
    const std::vector<Case> cases = {
        {"prompt reply", 0, true, 10, 0, 50, true},
        {"no version", 0, false, 10, 0, 5000, false},
        {"reply just within the limit", 0, true, 4999, 0, 5000, true},
        {"reply just too late", 0, true, 5001, 0, 5000, false},
        {"device comes back late", 0, true, 10, 3020, 3100, true},
        {"device away throughout", 0, true, 10, 6000, 5000, false},
        {"no version across the wrap", 0xFFFFF000u, false, 10, 0, 5000, false},
        {"reply after the wrap", 0xFFFFF000u, true, 4500, 0, 4500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedDeviceConfig config;
        if (c.version)
            config.version = Version{1, 5};
        config.replyLatency = c.latency;
        config.appearsAfter = c.appearsAfter;
        Rig rig(config, c.start);
        SimulatedMidiPort port(*rig.device);
        const Bytes reply = port.ReceiveSysEx(5000, request.data(), request.size());
        EXPECT_EQ(rig.clock.Elapsed(), c.expectedElapsed);
        EXPECT_EQ(reply, c.expectReply ? IdentityReply(config) : Bytes{});
        EXPECT_EQ(rig.device->IdentityRequests(), c.appearsAfter < 5000 ? 1u : 0u);
    }
}

TEST(SimulatedMidiPort, IdentityReplyIsNotLostAmongBusyReports) {
    for (bool ownThread : {false, true}) {
        SCOPED_TRACE(ownThread ? "own delivery thread" : "delivered by the sleeper");
        SimulatedDeviceConfig config = Config({4}, "busy");
        config.version = Version{4, 20};
        config.replyLatency = 20;
        config.ownDeliveryThread = ownThread;
        Rig rig(config);
        SimulatedMidiPort port(*rig.device);
        ASSERT_TRUE(port.IsConnected());
        port.Send(Hex("F0 01 02 F7").data(), 4);
        SleepFor(990);
        // The reply comes at 1010, a busy report at 1020, and the port looks at 1040.
        const Bytes reply = port.ReceiveSysEx(5000, request.data(), request.size());
        EXPECT_EQ(ParseIdentity(reply).version, "4.20");
        EXPECT_EQ(port.LastSysEx(), StatusMessage(0x20));
    }
}
