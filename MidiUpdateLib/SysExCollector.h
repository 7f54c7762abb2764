#pragma once

#include <mutex>
#include <vector>

// Reassembles received bytes into complete SysEx messages. Only F7 ends a message;
// bytes outside a message are dropped. Touched by the receiving thread alone.
class SysExCollector {
public:
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
