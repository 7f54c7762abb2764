#pragma once

// The library's only platform-dependent functions. Each platform supplies its body
// (OS_Linux.cpp, OS_Windows.cpp, OS_Mac.mm); the clock and trace seams are portable.

#include <functional>
#include <string>

#if defined(__MINGW32__) && defined(__GNUC__) && !defined(__clang__)
// mingw's own printf rules flag %zu and %p wrongly; the C library we format with is C99.
#define MIDIUPDATE_PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define MIDIUPDATE_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define MIDIUPDATE_PRINTF_LIKE(f, a)
#endif

// printf into a text, cut to the platform's formatting buffer.
std::string Format(const char* format, ...) MIDIUPDATE_PRINTF_LIKE(1, 2);

// One diagnostic record, formatted like Format. Never fails, never throws.
void Trace(const char* format, ...) MIDIUPDATE_PRINTF_LIKE(1, 2);

// Milliseconds from an arbitrary origin; wraps modulo 2^32, so only unsigned
// differences of two readings mean anything.
unsigned int TimeNow();
void SleepFor(unsigned int milliseconds);

// Where TimeNow and SleepFor go. Tests install a VirtualClock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual unsigned int TimeNow() = 0; // milliseconds, wraps modulo 2^32
    virtual void SleepFor(unsigned int milliseconds) = 0;
};

void SetClock(Clock* clock); // nullptr restores the system clock
Clock& SystemClock();

// A host may take trace records instead of the platform's output (the console keeps
// them out of its progress display). An empty sink restores the platform's output.
using TraceSink = std::function<void(const std::string& record)>;
void SetTraceSink(TraceSink sink);

// The platform's formatting buffer: the longest Format or Trace result is one less.
extern const unsigned int formatBufferSize;
