#pragma once

// Stand-in for the CoreFoundation framework: Apple's names and signatures for exactly
// what our Mac sources use. CFStringRef is an NSString underneath, so casting between
// the two works as toll-free bridging does on a Mac. Thread-safe as the framework is.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// MacTypes, which the framework brings along.
typedef uint8_t Byte;
typedef uint8_t Boolean;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef int32_t OSStatus;
typedef unsigned long ItemCount;
typedef unsigned long ByteCount;
enum { noErr = 0 };

typedef long CFIndex;
typedef const void* CFTypeRef;
typedef const void* CFPropertyListRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef const struct __CFData* CFDataRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef double CFTimeInterval;
typedef CFTimeInterval CFAbsoluteTime;

#define kCFAllocatorDefault ((CFAllocatorRef)0)

typedef UInt32 CFStringEncoding;
enum {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingISOLatin1 = 0x0201,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUTF8 = 0x08000100,
};

// A string that lives as long as the program, as the framework's constant strings do.
// In Objective-C it is made by the compiler, so constants of static storage need no code
// before the runtime has started.
CFStringRef __CFStringMakeConstantString(const char* cString);
#ifdef __OBJC__
#define CFSTR(cString) ((CFStringRef) @"" cString "")
#else
#define CFSTR(cString) __CFStringMakeConstantString("" cString "")
#endif

CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);

CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* cString,
                                      CFStringEncoding encoding);
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);
CFIndex CFStringGetLength(CFStringRef string);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void);

#ifdef __cplusplus
}
#endif

// GNUstep spells the Mac's error domain differently.
#if defined(__OBJC__) && defined(GNUSTEP)
#define NSMachErrorDomain NSMACHErrorDomain
#endif
