#include <CoreFoundation/CoreFoundation.h>

#import <Foundation/Foundation.h>

#include <map>
#include <mutex>
#include <string>

namespace {

NSStringEncoding ToNSStringEncoding(CFStringEncoding encoding) {
    switch (encoding) {
    case kCFStringEncodingMacRoman:
        return NSMacOSRomanStringEncoding;
    case kCFStringEncodingISOLatin1:
        return NSISOLatin1StringEncoding;
    case kCFStringEncodingASCII:
        return NSASCIIStringEncoding;
    default:
        return NSUTF8StringEncoding;
    }
}

} // namespace

CFStringRef __CFStringMakeConstantString(const char* cString) {
    // One string per text, kept for good: callers never release constant strings.
    static std::mutex lock;
    static std::map<std::string, NSString*>* strings = new std::map<std::string, NSString*>;
    std::lock_guard<std::mutex> guard(lock);
    NSString*& string = (*strings)[cString];
    if (string == nil)
        string = [[NSString alloc] initWithUTF8String:cString];
    return (CFStringRef)string;
}

CFTypeRef CFRetain(CFTypeRef object) {
    return [(id)object retain];
}

void CFRelease(CFTypeRef object) {
    [(id)object release];
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cString,
                                      CFStringEncoding encoding) {
    // NULL when the bytes are not valid in the encoding, as on a Mac.
    return (CFStringRef)[[NSString alloc] initWithCString:cString
                                                 encoding:ToNSStringEncoding(encoding)];
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
    if (string == NULL || buffer == NULL || bufferSize <= 0)
        return false;
    return [(NSString*)string getCString:buffer
                               maxLength:static_cast<NSUInteger>(bufferSize)
                                encoding:ToNSStringEncoding(encoding)]
               ? true
               : false;
}

CFIndex CFStringGetLength(CFStringRef string) {
    return static_cast<CFIndex>([(NSString*)string length]);
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
    // A UTF-16 unit takes at most three UTF-8 bytes; the 8-bit encodings take one.
    return encoding == kCFStringEncodingUTF8 ? length * 3 : length;
}

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    const CFAbsoluteTime now = [NSDate timeIntervalSinceReferenceDate];
    [pool drain];
    return now;
}
