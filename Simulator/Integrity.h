#pragma once

// Whether a device received exactly the expected portions, judged byte by byte as the
// bytes arrive, so no copy of what arrived is kept. Every host prints the same line.
// Not thread-safe: its owner (the simulated device) serialises the calls.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Bytes owned by someone else (an update's portions, or a stand-in's framed copies).
struct ByteView {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

struct IntegrityReport {
    bool identical = false;
    std::size_t portions = 0; // portions the device received, begun or whole
    std::uint64_t bytes = 0;  // bytes it received in all
    std::uint64_t cutOff = 0; // bytes of portions cut short (Cut) that never came
    // The first difference, when not identical: the 1-based portion (0 when the
    // difference is bytes beyond the expected portions), and for a byte that differs its
    // offset in the portion and both values.
    std::size_t portion = 0;
    std::optional<std::uint64_t> offset;
    unsigned char expectedByte = 0;
    unsigned char receivedByte = 0;
    // "device received 3 portions, 8.5KB, identical to the update file", or with the
    // first difference after a semicolon.
    std::string text;
};

class IntegrityCheck {
public:
    // The views are read only while bytes arrive; Report works without them.
    explicit IntegrityCheck(std::vector<ByteView> expected);

    // One byte of portion `portion` (0-based; the count of expected portions for bytes
    // beyond them), in arrival order.
    void Arrived(std::size_t portion, unsigned char byte);
    // The device went in the middle of `portion`: the rest of it will not come, and the
    // next byte belongs to the next portion. Not identical then, but not a difference.
    void Cut(std::size_t portion);
    IntegrityReport Report() const;

private:
    struct Difference {
        std::size_t portion;
        std::uint64_t offset;
        unsigned char expected;
        unsigned char received;
    };

    std::vector<ByteView> expected;
    std::vector<std::uint64_t> received; // per portion, then the bytes beyond them
    std::vector<bool> cut;               // per portion
    std::optional<Difference> difference;
};

// The views of an update's own portions; the update must outlive the bytes' arrival.
class Update;
std::vector<ByteView> PortionViews(const Update& update);
