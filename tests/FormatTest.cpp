#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/MidiPort.h"
#include "MidiUpdateLib/Version.h"

#include <gtest/gtest.h>

#include <climits>

TEST(BytesToHuman, ThresholdsAndUnits) {
    const std::pair<unsigned int, const char*> cases[] = {
        {0, "0 bytes"},        {1, "1 byte"},      {2, "2 bytes"},
        {1023, "1023 bytes"},  {1024, "1.0KB"},    {1536, "1.5KB"},
        {1048575, "1024.0KB"}, {1048576, "1.0MB"}, {UINT_MAX, "4096.0MB"},
    };
    for (const auto& [count, text] : cases)
        EXPECT_EQ(BytesToHuman(count), text) << count;
}

TEST(Split, KeepsInnerEmptyPiecesButNoTrailingOne) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Split("", ':'), V{});
    EXPECT_EQ(Split("abc", ':'), V{"abc"});
    EXPECT_EQ(Split("a::b", ':'), (V{"a", "", "b"}));
    EXPECT_EQ(Split("a:", ':'), V{"a"});
    EXPECT_EQ(Split(":a", ':'), (V{"", "a"}));
    EXPECT_EQ(Split("::", ':'), (V{"", ""}));
}

TEST(ToLower, OnlyAsciiCapitalsChange) {
    EXPECT_EQ(ToLower("AbC-Z@[\xC4"), "abc-z@[\xC4");
}

TEST(ParseYesNo, WordsAndNumbers) {
    for (const char* yes : {"yes", "YES", "True", "true", "1", "2", "7 days", " 3", "-1",
                            "99999999999999999999", "-99999999999999999999"})
        EXPECT_TRUE(ParseYesNo(yes)) << yes;
    for (const char* no :
         {"", "0", "no", "false", "y", "on", "yes ", " yes", "00000000000000000000"})
        EXPECT_FALSE(ParseYesNo(no)) << no;
}

TEST(ParseLeadingInt, ReadsLikeAtoiAndSaturates) {
    using midiupdate::ParseLeadingInt;
    EXPECT_EQ(ParseLeadingInt("4096"), 4096);
    EXPECT_EQ(ParseLeadingInt("  \t-12abc"), -12);
    EXPECT_EQ(ParseLeadingInt("+7"), 7);
    EXPECT_EQ(ParseLeadingInt("abc"), 0);
    EXPECT_EQ(ParseLeadingInt("- 5"), 0);
    EXPECT_EQ(ParseLeadingInt("2147483647"), INT_MAX);
    EXPECT_EQ(ParseLeadingInt("-2147483648"), INT_MIN);
    EXPECT_EQ(ParseLeadingInt("2147483648"), INT_MAX);
    EXPECT_EQ(ParseLeadingInt("-2147483649"), INT_MIN);
    EXPECT_EQ(ParseLeadingInt("184467440737095516161844674407370955161"), INT_MAX);
}

TEST(ParseDecimal, WholeTextOfDigitsWithinTheLimit) {
    using midiupdate::ParseDecimal;
    unsigned long long value = 7;
    EXPECT_TRUE(ParseDecimal("0", 10, value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(ParseDecimal("4294967295", 0xFFFFFFFFull, value));
    EXPECT_EQ(value, 0xFFFFFFFFull);
    for (const char* bad :
         {"", " 1", "1 ", "+1", "-1", "1x", "4294967296", "99999999999999999999999999"}) {
        value = 7;
        EXPECT_FALSE(ParseDecimal(bad, 0xFFFFFFFFull, value)) << bad;
        EXPECT_EQ(value, 7u) << bad;
    }
}

TEST(PutPortNamesIntoSet, NonEmptyNamesOnceEach) {
    for (const char* text : {"A$B", "A$$B$", "B$A$A"}) {
        std::set<std::string> names;
        PutPortNamesIntoSet(names, text);
        EXPECT_EQ(names, (std::set<std::string>{"A", "B"})) << text;
    }
    std::set<std::string> names{"keep"};
    PutPortNamesIntoSet(names, "$$$");
    PutPortNamesIntoSet(names, " spaced name ");
    EXPECT_EQ(names, (std::set<std::string>{"keep", " spaced name "}));
}

TEST(ByteText, ShowsAtMostTwentyBytes) {
    EXPECT_EQ(ToString(std::vector<unsigned char>{}), "{ }");
    EXPECT_EQ(ToString(std::vector<unsigned char>{0xF0, 0x7E, 0x00}), "{ 0xf0 0x7e 0x00 }");
    std::vector<unsigned char> many(25, 0xAB);
    std::string expected = "{";
    for (int i = 0; i < 20; ++i)
        expected += " 0xab";
    EXPECT_EQ(ToString(many), expected + " }");
}

TEST(Version, Texts) {
    EXPECT_EQ(Version{}.ToString(), "0.00");
    EXPECT_EQ((Version{1, 5}).ToString(), "1.05");
    EXPECT_EQ((Version{1, 123}).ToString(), "1.123");
    EXPECT_EQ((Version{65535, 65535}).ToString(), "65535.65535");
    EXPECT_EQ(MidiUpdateLib_Version + " (" + MidiUpdateLib_Build + ")", "1.05 (alpha)");
}
