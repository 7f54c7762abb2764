#pragma once

// A lock-free byte ring for exactly one producer thread and one consumer thread, safe
// to use from a real-time callback on either side: no locks, no allocation after
// construction. Written here rather than taken from libjack, whose ring buffer uses
// plain loads and stores that ThreadSanitizer reports as races.

#include <atomic>
#include <cstddef>
#include <vector>

namespace midiupdate {

class SpscRing {
public:
    explicit SpscRing(std::size_t capacity); // rounded up to a power of two

    std::size_t Capacity() const { return buffer.size(); }
    std::size_t Free() const;      // producer side
    std::size_t Available() const; // consumer side

    // Producer: all of `data`, or nothing when it does not fit.
    bool Write(const unsigned char* data, std::size_t size);
    // Producer: a header and its body as one record, both or neither.
    bool Write(const unsigned char* head, std::size_t headSize, const unsigned char* body,
               std::size_t bodySize);
    // Consumer: copies up to `size` bytes from `offset` on without taking them; returns
    // how many.
    std::size_t Peek(unsigned char* target, std::size_t size, std::size_t offset = 0) const;
    void Consume(std::size_t size);

private:
    void CopyIn(std::size_t at, const unsigned char* data, std::size_t size);

    std::vector<unsigned char> buffer;
    const std::size_t mask;
    // Running byte counts; only their difference modulo the capacity indexes the buffer.
    alignas(64) std::atomic<std::size_t> written{0};
    alignas(64) std::atomic<std::size_t> read{0};
};

} // namespace midiupdate
