#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

// Reassembles received bytes into complete SysEx messages. Only F7 ends a message (a
// second F0 inside one is data); bytes outside a message are dropped, and so is a
// message that outgrows maxMessageSize. Touched by the receiving thread alone.
class SysExCollector {
public:
    // Far above any reply a device sends (13 and about 34 bytes); a message that never
    // ends is dropped here instead of growing without limit and swallowing every later
    // reply, and the collector waits for the next F0.
    static constexpr std::size_t maxMessageSize = 65536;

    SysExCollector() = default;

    void Add(unsigned char byte);
    bool HasSysEx() const; // a complete message is in `message`

    bool inMessage = false;
    std::vector<unsigned char> message;
    void (*onComplete)(void* context) = nullptr; // called on completion, on the adding thread
    void* context = nullptr;
};

// A value with the lock that guards it.
template <class T> class ThreadSafe {
public:
    T Get() {
        std::lock_guard<std::mutex> guard(lock);
        return value;
    }
    void Set(T replacement) {
        std::lock_guard<std::mutex> guard(lock);
        value = std::move(replacement);
    }
    // The value, leaving it empty, in one step: a replacement that comes in between a
    // copy and an empty would otherwise be lost.
    T Take() {
        std::lock_guard<std::mutex> guard(lock);
        T taken = std::move(value);
        value = T{};
        return taken;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(lock);
        value = T{};
    }

    T value{};
    std::mutex lock;
};
