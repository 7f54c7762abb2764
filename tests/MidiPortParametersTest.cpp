#include "MidiUpdateLib/MidiPortParameters.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

MidiPortWindowsParameters Parsed(const std::string& text) {
    MidiPortWindowsParameters parameters = defaultMidiPortWindowsParameters;
    ParseMidiPortWindowsParameters(parameters, text);
    return parameters;
}

bool operator==(const MidiPortWindowsParameters& a, const MidiPortWindowsParameters& b) {
    return a.names == b.names && a.ideal == b.ideal && a.max == b.max && a.delay == b.delay &&
           a.unprepDelay == b.unprepDelay && a.chunks == b.chunks;
}

} // namespace

TEST(WindowsPortParameters, Defaults) {
    const MidiPortWindowsParameters& d = defaultMidiPortWindowsParameters;
    EXPECT_TRUE(d.names.empty());
    EXPECT_EQ(d.ideal, 1024);
    EXPECT_EQ(d.max, 3072);
    EXPECT_EQ(d.delay, 200);
    EXPECT_EQ(d.unprepDelay, 100);
    EXPECT_TRUE(d.chunks);
}

TEST(WindowsPortParameters, KeysAndValues) {
    MidiPortWindowsParameters expected = defaultMidiPortWindowsParameters;
    expected.names = {"Port A", "Port B"};
    expected.delay = 50;
    EXPECT_TRUE(Parsed("win:1:name:Port A$Port B:delay:50") == expected);

    auto all = Parsed("win:x:ideal:10:max:20:delay:30:unprepdelay:40:chunks:no");
    EXPECT_EQ(all.ideal, 10);
    EXPECT_EQ(all.max, 20);
    EXPECT_EQ(all.delay, 30);
    EXPECT_EQ(all.unprepDelay, 40);
    EXPECT_FALSE(all.chunks);

    EXPECT_EQ(Parsed("win:1:colour:red:max:4096").max, 4096);
    EXPECT_EQ(Parsed("win:1:ideal:abc").ideal, 0);
    EXPECT_EQ(Parsed("win:1:max:5:max:6").max, 6);
    EXPECT_EQ(Parsed("win:1:name:A:name:B").names, (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(Parsed("win:1:UnprepDelay:5").unprepDelay, 100); // keys are case-sensitive
}

TEST(WindowsPortParameters, TextsThatChangeNothing) {
    for (const char* text : {"", "win", "WIN:1:max:5", "nocolon", "win:1", "win:1:ideal",
                             "win:1:name:", "win:1:name:$$"})
        EXPECT_TRUE(Parsed(text) == defaultMidiPortWindowsParameters) << text;
}

TEST(WindowsPortParameters, ChunksFlag) {
    for (const char* off : {"no", "0", "false", "off"})
        EXPECT_FALSE(Parsed(std::string("win:1:chunks:") + off).chunks) << off;
    MidiPortWindowsParameters cleared = defaultMidiPortWindowsParameters;
    cleared.chunks = false;
    for (const char* on : {"yes", "TRUE", "1", "5"}) {
        MidiPortWindowsParameters p = cleared;
        ParseMidiPortWindowsParameters(p, std::string("win:1:chunks:") + on);
        EXPECT_TRUE(p.chunks) << on;
    }
}

TEST(WindowsPortParameters, HugeNumbersSaturate) {
    auto p = Parsed("win:1:ideal:99999999999999999999:delay:-99999999999999999999");
    EXPECT_EQ(p.ideal, INT_MAX);
    EXPECT_EQ(p.delay, INT_MIN);
}
