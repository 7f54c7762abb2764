#include "MidiUpdateLib/MidiPort.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/SysExCollector.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "tests/FakeMidiPort.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

using testsupport::Bytes;
using testsupport::Hex;

namespace {

// Only what the base gives, plus a way in for received bytes.
class BasePort : public MidiPort {
public:
    unsigned long IdealChunkSize() override { return 1; }
    unsigned long MaxChunkSize() override { return 1; }
    bool IsConnected() override { return true; }
    void Disconnect() override {}
    void Send(const unsigned char*, unsigned long) override {}
    void Receive(const Bytes& bytes) {
        for (unsigned char byte : bytes)
            sysExCollector.Add(byte);
    }
    // A port that loses everything it sends, the identity request included.
    void Lose(unsigned long bytes) { Undelivered(bytes); }
    std::vector<unsigned char> Ask(const Bytes& reply) {
        return AwaitIdentityReply(1000, 50, "BasePort::ReceiveSysEx", [this, reply] {
            Lose(6);
            CollectReceived(reply.data(), reply.size());
            return true;
        });
    }
};

// Hex bytes, where "XX*N" stands for N bytes XX.
Bytes Expand(const std::string& text) {
    Bytes bytes;
    std::istringstream tokens(text);
    std::string token;
    while (tokens >> token) {
        const std::size_t star = token.find('*');
        const Bytes one = Hex(token.substr(0, star));
        const std::size_t count =
            star == std::string::npos ? 1 : std::stoul(token.substr(star + 1));
        for (std::size_t i = 0; i < count; ++i)
            bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

struct Completions {
    std::vector<Bytes> messages;
    std::vector<bool> hadSysEx;
    SysExCollector* collector = nullptr;
    static void Fn(void* context) {
        auto* self = static_cast<Completions*>(context);
        self->messages.push_back(self->collector->message);
        self->hadSysEx.push_back(self->collector->HasSysEx());
    }
};

} // namespace

TEST(SysExCollector, ReassemblesOnlyWhatLiesBetweenF0AndF7) {
    struct Case {
        const char* input;
        std::vector<const char*> completed;
    };
    const Case cases[] = {
        {"F0 01 02 F7", {"F0 01 02 F7"}},
        {"00 7F F7", {}},                       // outside a message: dropped
        {"F0 41 F8 10 F7", {"F0 41 F8 10 F7"}}, // real-time byte kept as data
        {"F0 01 F0 02 F7", {"F0 01 F0 02 F7"}}, // a second F0 does not restart
        {"F0 01 F7 42 F0 02 03 F7", {"F0 01 F7", "F0 02 03 F7"}},
        {"F7 F0 01 02", {}}, // never closed
        // The longest message kept is 64 KiB; a longer one is dropped whole, and the
        // collector hears the next F0 instead of taking every later reply as its data.
        {"F0 01*65534 F7", {"F0 01*65534 F7"}},
        {"F0 01*65535 F7 F0 02 F7", {"F0 02 F7"}},
        {"F0 01*70000 F0 03 F7 F0 04 F7", {"F0 03 F7", "F0 04 F7"}},
        {"F0 01*65530 F0 05 F7", {"F0 01*65530 F0 05 F7"}}, // within the limit F0 is data
    };
    for (const Case& c : cases) {
        SysExCollector collector;
        Completions seen;
        seen.collector = &collector;
        collector.onComplete = &Completions::Fn;
        collector.context = &seen;
        for (unsigned char byte : Expand(c.input))
            collector.Add(byte);
        std::vector<Bytes> expected;
        for (const char* message : c.completed)
            expected.push_back(Expand(message));
        EXPECT_EQ(seen.messages, expected) << c.input;
        EXPECT_EQ(seen.hadSysEx, std::vector<bool>(expected.size(), true)) << c.input;
    }
}

TEST(SysExCollector, HasSysExOnlyBetweenACompletionAndTheNextStart) {
    SysExCollector collector; // no onComplete: completing must not call through null
    std::vector<bool> states;
    for (unsigned char byte : Hex("F0 01 F7 F0 02")) {
        collector.Add(byte);
        states.push_back(collector.HasSysEx());
    }
    EXPECT_EQ(states, (std::vector<bool>{false, false, true, false, false}));
}

TEST(MidiPort, KeepsTheLastCompleteMessageAndTracesIt) {
    testsupport::TraceCapture trace;
    BasePort port;
    port.Receive(Hex("F0 01"));
    EXPECT_TRUE(port.LastSysEx().empty());
    port.Receive(Hex("02 F7")); // a second receive buffer completes it
    EXPECT_EQ(port.LastSysEx(), Hex("F0 01 02 F7"));
    EXPECT_EQ(port.LastSysEx(), Hex("F0 01 02 F7")); // reading leaves it there
    EXPECT_EQ(trace.Records(),
              (std::vector<std::string>{midiupdate::TraceName("MidiPort", "GotSysEx") +
                                        ": 4 bytes { 0xf0 0x01 0x02 0xf7 }\n"}));

    port.Receive(Hex("F0 05 F7 F0 06 F7"));
    EXPECT_EQ(port.LastSysEx(), Hex("F0 06 F7"));
    port.ClearLastSysEx();
    EXPECT_TRUE(port.LastSysEx().empty());
    EXPECT_TRUE(port.ReceiveSysEx(5000, Hex("F0 7E 7F 06 01 F7").data(), 6).empty());
    EXPECT_TRUE(port.ReceiveSysEx(0, nullptr, 0).empty());
}

// Only the update's bytes count, from any thread; the port's own request never does.
TEST(MidiPort, CountsUndeliveredBytesButNeverTheIdentityRequest) {
    testsupport::TraceCapture trace;
    VirtualClock clock;
    ScopedClock installed(clock);
    BasePort port;
    port.Lose(10);
    std::thread([&port] { port.Lose(5); }).join();
    const Bytes reply = Hex("F0 7E 11 06 02 41 01 02 03 00 01 00 05 F7");
    // A status report right behind the reply does not hide it.
    Bytes received = Hex("F0 01 F7");
    received.insert(received.end(), reply.begin(), reply.end());
    const Bytes status = StatusMessage(0x00);
    received.insert(received.end(), status.begin(), status.end());
    EXPECT_EQ(port.Ask(received), reply);
    EXPECT_EQ(port.UndeliveredBytes(), 15u);
    EXPECT_EQ(port.Ask(Hex("F0 01 F7")), Bytes{});
    EXPECT_EQ(clock.Elapsed(), 1000u);
    port.Lose(1);
    EXPECT_EQ(port.UndeliveredBytes(), 16u);
}

TEST(MidiPort, ToStringShowsTwentyBytesAtMost) {
    EXPECT_EQ(ToString(Bytes{}), "{ }");
    EXPECT_EQ(ToString(Hex("F0 7E 00")), "{ 0xf0 0x7e 0x00 }");
    const std::string twenty = ToString(Bytes(20, 0xAB));
    EXPECT_EQ(ToString(Bytes(25, 0xAB)), twenty);
    EXPECT_EQ(twenty.size(), 1 + 20 * 5 + 2u); // "{", " 0xab" twenty times, " }"
}

// The receiving thread replaces the store while the job's thread copies and empties
// it: every copy must be one whole message. Meant to run under ThreadSanitizer.
TEST(MidiPort, TheStoreIsSafeBetweenTheReceivingThreadAndTheWorker) {
    testsupport::TraceCapture trace; // keeps the thousands of GotSysEx lines quiet
    testsupport::FakeMidiPort port;
    const int count = 2000;
    const auto message = [](int i) {
        Bytes bytes{0xF0, static_cast<unsigned char>(i >> 7), static_cast<unsigned char>(i & 0x7F)};
        bytes.insert(bytes.end(), static_cast<std::size_t>(i % 50),
                     static_cast<unsigned char>(i % 0x70));
        bytes.push_back(0xF7);
        return bytes;
    };

    std::atomic<bool> done{false};
    std::thread receiver([&] {
        for (int i = 0; i < count; ++i) {
            const Bytes bytes = message(i);
            // Split like two receive buffers.
            port.Feed(Bytes(bytes.begin(), bytes.begin() + 2));
            port.Feed(Bytes(bytes.begin() + 2, bytes.end()));
            // Now and then the worker is let to take one, so on a busy machine it does
            // not find only the messages it raced with.
            while (i % 100 == 0 && !port.LastSysEx().empty())
                std::this_thread::yield();
        }
        done = true;
    });

    int seen = 0;
    int torn = 0;
    int last = -1;
    bool finished = false;
    while (!finished) {
        finished = done.load(); // one more look after the receiver has ended
        const Bytes copy = port.LastSysEx();
        port.ClearLastSysEx();
        if (copy.empty())
            continue;
        ++seen;
        const int i = copy.size() >= 3 ? (copy[1] << 7) | copy[2] : -1;
        if (i < 0 || i >= count || copy != message(i) || i <= last)
            ++torn;
        last = i;
    }
    receiver.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(seen, 0);
    // Not every message is seen: one completing between the copy and the clearing is
    // dropped, which the status polling accepts.
}

TEST(ThreadSafe, TakeHandsEachValueOverOnceWhileItIsBeingReplaced) {
    ThreadSafe<Bytes> store;
    const int count = 10000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i <= count; ++i)
            store.Set(
                Bytes{static_cast<unsigned char>(i >> 7), static_cast<unsigned char>(i & 0x7F)});
        done = true;
    });
    int last = 0;
    int outOfOrder = 0;
    for (bool finished = false; !finished;) {
        finished = done.load(); // one more look after the writer has ended
        const Bytes taken = store.Take();
        if (taken.empty())
            continue;
        const int i = (taken[0] << 7) | taken[1];
        if (i <= last) // taken twice, or torn
            ++outOfOrder;
        last = i;
    }
    writer.join();
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(last, count);
    EXPECT_EQ(store.Take(), Bytes{});
    store.Set(Hex("F0 F7"));
    store.Clear();
    EXPECT_EQ(store.Get(), Bytes{});
}
