#include "Application/TextBridge.h"

NSString* NSStringFromText(const std::string& text) {
    NSString* string = [[NSString alloc] initWithBytes:text.data()
                                                length:text.size()
                                              encoding:NSUTF8StringEncoding];
    if (string == nil) // every byte sequence is Latin-1
        string = [[NSString alloc] initWithBytes:text.data()
                                          length:text.size()
                                        encoding:NSISOLatin1StringEncoding];
    return [string autorelease];
}

std::string TextFromNSString(NSString* string) {
    const char* utf8 = [string UTF8String];
    return utf8 ? std::string(utf8) : std::string();
}
