#include "Linux/SpscRing.h"

#include <algorithm>
#include <cstring>

namespace midiupdate {
namespace {

std::size_t PowerOfTwoAtLeast(std::size_t n) {
    std::size_t size = 1;
    while (size < n)
        size <<= 1;
    return size;
}

} // namespace

SpscRing::SpscRing(std::size_t capacity)
    : buffer(PowerOfTwoAtLeast(capacity)), mask(buffer.size() - 1) {}

std::size_t SpscRing::Free() const {
    return buffer.size() -
           (written.load(std::memory_order_relaxed) - read.load(std::memory_order_acquire));
}

std::size_t SpscRing::Available() const {
    return written.load(std::memory_order_acquire) - read.load(std::memory_order_relaxed);
}

void SpscRing::CopyIn(std::size_t at, const unsigned char* data, std::size_t size) {
    const std::size_t offset = at & mask;
    const std::size_t first = std::min(size, buffer.size() - offset);
    std::memcpy(buffer.data() + offset, data, first);
    std::memcpy(buffer.data(), data + first, size - first);
}

bool SpscRing::Write(const unsigned char* data, std::size_t size) {
    return Write(data, size, nullptr, 0);
}

bool SpscRing::Write(const unsigned char* head, std::size_t headSize, const unsigned char* body,
                     std::size_t bodySize) {
    if (headSize + bodySize > Free())
        return false;
    const std::size_t at = written.load(std::memory_order_relaxed);
    CopyIn(at, head, headSize);
    if (bodySize)
        CopyIn(at + headSize, body, bodySize);
    written.store(at + headSize + bodySize, std::memory_order_release);
    return true;
}

std::size_t SpscRing::Peek(unsigned char* target, std::size_t size, std::size_t offset) const {
    const std::size_t available = Available();
    if (offset >= available)
        return 0;
    size = std::min(size, available - offset);
    const std::size_t from = (read.load(std::memory_order_relaxed) + offset) & mask;
    const std::size_t first = std::min(size, buffer.size() - from);
    std::memcpy(target, buffer.data() + from, first);
    std::memcpy(target + first, buffer.data(), size - first);
    return size;
}

void SpscRing::Consume(std::size_t size) {
    read.store(read.load(std::memory_order_relaxed) + size, std::memory_order_release);
}

} // namespace midiupdate
