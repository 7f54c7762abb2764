// Feeds the SysEx collector slices of arbitrary bytes, with long runs of one byte so
// messages can outgrow the collector's limit, and compares every completion, and
// HasSysEx after every slice, with a plain reading of the rules.

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/SysExCollector.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Expect(bool same, const char* what) {
    if (!same) {
        std::fprintf(stderr, "collector: %s\n", what);
        std::abort();
    }
}

// F0 opens a message (a second F0 inside one is data), F7 closes it, nothing outside
// one is kept, and a message that outgrows the limit is dropped whole.
struct Reference {
    bool inMessage = false;
    Bytes message;
    std::vector<Bytes> completed;
    bool hasSysEx = false;

    void Add(unsigned char byte) {
        if (inMessage) {
            message.push_back(byte);
            if (byte == 0xF7) {
                inMessage = false;
                completed.push_back(message);
                hasSysEx = true;
            } else if (message.size() >= SysExCollector::maxMessageSize) {
                inMessage = false;
                message.clear();
            }
        } else if (byte == 0xF0) {
            message = {0xF0};
            inMessage = true;
            hasSysEx = false;
        }
    }
};

struct Seen {
    SysExCollector* collector;
    std::vector<Bytes> completed;
    static void Fn(void* context) {
        auto* self = static_cast<Seen*>(context);
        Expect(self->collector->HasSysEx(), "no message during its completion");
        self->completed.push_back(self->collector->message);
    }
};

} // namespace

// Every dropped message writes a diagnostic line.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetTraceSink([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    SysExCollector collector;
    Seen seen{&collector, {}};
    collector.onComplete = &Seen::Fn;
    collector.context = &seen;
    Reference reference;
    std::size_t total = 0;
    std::size_t checked = 0; // completions compared so far
    while (input.remaining_bytes() > 0 && total < 300000) {
        Bytes slice;
        if (input.ConsumeIntegralInRange(0, 7) == 0) {
            const auto count = input.ConsumeIntegralInRange<std::size_t>(1, 70000);
            slice.assign(count, input.ConsumeIntegral<unsigned char>());
        } else {
            slice = input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange(1, 64));
        }
        total += slice.size();
        for (unsigned char byte : slice) {
            collector.Add(byte);
            reference.Add(byte);
        }
        Expect(collector.HasSysEx() == reference.hasSysEx, "HasSysEx");
        Expect(seen.completed.size() == reference.completed.size(), "completion count");
        for (; checked < seen.completed.size(); ++checked)
            Expect(seen.completed[checked] == reference.completed[checked], "completion");
        Expect(collector.message.size() <= SysExCollector::maxMessageSize,
               "message outgrew the limit");
    }
    return 0;
}
