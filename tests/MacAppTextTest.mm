#include "Application/TextBridge.h"

#include <gtest/gtest.h>

#include <string>

// Texts from update files reach the window as NSStrings; a nil one would raise or show
// nothing, so every byte sequence must give a string.
TEST(MacAppText, EveryByteSequenceGivesTheStringItMeans) {
    const struct {
        const char* label;
        std::string bytes;
        const char* shown; // UTF-8
    } cases[] = {
        {"plain", "Example Synth", "Example Synth"},
        {"UTF-8", "Synth\xc3\xa9", "Synth\xc3\xa9"},
        {"Latin-1, not UTF-8", "Synth\xe9", "Synth\xc3\xa9"},
        {"cut UTF-8 sequence", "Synth\xc3", "Synth\xc3\x83"},
        {"percent signs are no format", "100% %s %@", "100% %s %@"},
        {"empty", "", ""},
    };
    for (const auto& row : cases) {
        NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
        NSString* string = NSStringFromText(row.bytes);
        ASSERT_TRUE(string != nil) << row.label;
        EXPECT_EQ(TextFromNSString(string), row.shown) << row.label;
        [pool release];
    }
    EXPECT_EQ(TextFromNSString(nil), "");
}
