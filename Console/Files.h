#pragma once

// The console's one way to write a file's bytes out: until everything is written or the
// write fails, whatever interrupts it on the way.

#include <cstddef>

namespace midiupdate {

// Writes all `size` bytes, again after interruptions. False, with errno set, on failure.
bool WriteAll(int fd, const void* data, std::size_t size);

} // namespace midiupdate
