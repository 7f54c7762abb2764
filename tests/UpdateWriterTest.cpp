#include "MidiUpdateLib/Update.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using testsupport::Bytes;
using testsupport::Hex;

TEST(UpdateWriter, FieldWritersAreLittleEndian) {
    Bytes buffer;
    Append(buffer, static_cast<unsigned char>(0xAB));
    Append(buffer, static_cast<unsigned short>(0x1234));
    Append(buffer, 0x89ABCDEFu);
    Append(buffer, std::string("hi"));
    Append(buffer, Hex("00 FF"));
    EXPECT_EQ(buffer, Hex("AB 34 12 EF CD AB 89 02 00 00 00 'hi' 02 00 00 00 00 FF"));
}

TEST(UpdateWriter, TheSmallestHeader) {
    Bytes buffer = Hex("DE AD");
    CreateUpdateFileHeader(buffer, "X", Version{1, 5}, "", 0, 0, 0);
    EXPECT_EQ(buffer, Hex("'VornUpdateFile' 04 00 01 00 00 00 'X' 01 00 05 00 00 00 00 00"
                          "00 00 00 00 00 00"));
    EXPECT_EQ(buffer.size(), 35u);
}

TEST(UpdateWriter, Records) {
    Bytes buffer;
    AddSysExPortion(buffer, Hex("F0 7E F7"), 200);
    EXPECT_EQ(buffer, Hex("01 00 00 00 03 00 00 00 F0 7E F7 C8 00 00 00"));
    buffer.clear();
    AddImage(buffer, {});
    EXPECT_EQ(buffer, Hex("02 00 00 00 00 00 00 00"));
    buffer.clear();
    AddWindowsPortParameters(buffer, "w");
    AddMacPortName(buffer, "A$B");
    EXPECT_EQ(buffer, Hex("03 00 00 00 01 00 00 00 'w' 05 00 00 00 03 00 00 00 'A$B'"));
}

TEST(UpdateWriter, ReadsBackToTheSameValues) {
    Bytes file;
    CreateUpdateFileHeader(file, "Synth 9", Version{3, 42}, "Read me\nfirst", 1, 65535, 3);
    AddImage(file, Hex("89 'PNG' 0D 0A"));
    AddSysExPortion(file, Hex("F0 00 00 3F 73 01 F7"), 1500);
    AddMacPortName(file, "Synth 9 Port 1$Synth 9 Port 2");
    AddWindowsPortParameters(file, "win:1:name:Synth 9:ideal:512:max:1024:chunks:no");
    AddSysExPortion(file, Bytes(70000, 0x42), 0);

    std::istringstream stream(std::string(file.begin(), file.end()), std::ios::binary);
    const Update update(stream);
    EXPECT_EQ(update.productName, "Synth 9");
    EXPECT_EQ(update.version.ToString(), "3.42");
    EXPECT_EQ(update.message, "Read me\nfirst");
    EXPECT_EQ(update.headerValue1, 1);
    EXPECT_EQ(update.headerValue2, 65535);
    EXPECT_EQ(update.headerValue3, 3);
    EXPECT_EQ(update.image, Hex("89 'PNG' 0D 0A"));
    ASSERT_EQ(update.sysExPortions.size(), 2u);
    EXPECT_EQ(update.sysExPortions[0].sysEx, Hex("F0 00 00 3F 73 01 F7"));
    EXPECT_EQ(update.sysExPortions[0].delay, 1500u);
    EXPECT_EQ(update.sysExPortions[1].sysEx, Bytes(70000, 0x42));
    EXPECT_EQ(update.macPortNames, (std::set<std::string>{"Synth 9 Port 1", "Synth 9 Port 2"}));
    EXPECT_EQ(update.windowsParameters.names, std::set<std::string>{"Synth 9"});
    EXPECT_EQ(update.windowsParameters.ideal, 512);
    EXPECT_EQ(update.windowsParameters.max, 1024);
    EXPECT_FALSE(update.windowsParameters.chunks);
}
