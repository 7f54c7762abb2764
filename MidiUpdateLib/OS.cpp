#include "MidiUpdateLib/OS.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

// Supplied by the platform's body.
void EmitPlatformTrace(const std::string& record);

namespace {

std::atomic<Clock*> installedClock{nullptr};

std::mutex traceSinkLock;
std::shared_ptr<const TraceSink> traceSink;

std::string FormatList(const char* format, va_list arguments) {
    std::vector<char> buffer(formatBufferSize);
    int written = std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    if (written < 0)
        return std::string();
    return std::string(buffer.data());
}

} // namespace

std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string result = FormatList(format, arguments);
    va_end(arguments);
    return result;
}

void Trace(const char* format, ...) {
    try {
        va_list arguments;
        va_start(arguments, format);
        std::string record = FormatList(format, arguments);
        va_end(arguments);

        std::shared_ptr<const TraceSink> sink;
        {
            std::lock_guard<std::mutex> guard(traceSinkLock);
            sink = traceSink;
        }
        if (sink)
            (*sink)(record);
        else
            EmitPlatformTrace(record);
    } catch (...) {
        // A diagnostic must never end a transfer.
    }
}

void SetTraceSink(TraceSink sink) {
    std::shared_ptr<const TraceSink> replacement;
    if (sink)
        replacement = std::make_shared<const TraceSink>(std::move(sink));
    std::lock_guard<std::mutex> guard(traceSinkLock);
    traceSink = std::move(replacement);
}

void SetClock(Clock* clock) {
    installedClock.store(clock);
}

unsigned int TimeNow() {
    Clock* clock = installedClock.load();
    return clock ? clock->TimeNow() : SystemClock().TimeNow();
}

void SleepFor(unsigned int milliseconds) {
    Clock* clock = installedClock.load();
    if (clock)
        clock->SleepFor(milliseconds);
    else
        SystemClock().SleepFor(milliseconds);
}
