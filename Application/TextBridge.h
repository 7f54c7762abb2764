#pragma once

// Texts from update files and the library are bytes, meant as UTF-8 but not checked:
// shown as UTF-8 where they are, as Latin-1 where not, so no text is ever nil.

#include <string>

#import <Foundation/Foundation.h>

NSString* NSStringFromText(const std::string& text); // autoreleased
std::string TextFromNSString(NSString* string);      // UTF-8; "" for nil
