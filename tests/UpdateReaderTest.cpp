#include "MidiUpdateLib/Update.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>

using testsupport::Bytes;
using testsupport::Hex;

// The largest single allocation, to prove the reader trusts no byte count for memory.
namespace {
std::atomic<std::size_t> largestAllocation{0};
}

// Not inlined, nor the deletes: GCC would see free() meet a pointer from new, or the
// reverse, and warn wrongly.
#if defined(__GNUC__)
#define NOT_INLINED __attribute__((noinline))
#else
#define NOT_INLINED
#endif

NOT_INLINED void* operator new(std::size_t size) {
    std::size_t seen = largestAllocation.load();
    while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
NOT_INLINED void operator delete(void* p) noexcept {
    std::free(p);
}
NOT_INLINED void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

std::string AsText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Update Read(const Bytes& bytes) {
    std::istringstream stream(AsText(bytes), std::ios::binary);
    return Update(stream);
}

std::string Rejection(const Bytes& bytes) {
    try {
        Read(bytes);
    } catch (const ParseError& e) {
        return e.what();
    }
    return "accepted";
}

Bytes Header(const std::string& product = "AB", Version version = {1, 5},
             const std::string& message = "hello") {
    Bytes file;
    CreateUpdateFileHeader(file, product, version, message, 7, 8, 9);
    return file;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char* const BAD_HEADER = "Update file was invalid (bad header).";
const char* const WRONG_VERSION =
    "Update file is wrong version. Please check you have the latest version of the updater.";
const char* const TRUNCATED = "Update file was truncated. Did it download correctly?";
const char* const UNRECOGNISED = "File contains unrecognised data. Please Please check you have "
                                 "the latest version of the updater.";

} // namespace

TEST(UpdateReader, TheSmallWorkedExample) {
    const Bytes file = Hex("'VornUpdateFile' 04 00 02 00 00 00 'AB' 01 00 05 00"
                           "07 00 00 00 '<sysex>' 00 00 00 00 00 00"
                           "01 00 00 00 03 00 00 00 F0 7E F7 C8 00 00 00"
                           "05 00 00 00 03 00 00 00 'A$B'");
    ASSERT_EQ(file.size(), 69u);
    const Update update = Read(file);
    EXPECT_EQ(update.productName, "AB");
    EXPECT_EQ(update.version.ToString(), "1.05");
    EXPECT_EQ(update.message, SYSEX_MESSAGE);
    ASSERT_EQ(update.sysExPortions.size(), 1u);
    EXPECT_EQ(update.sysExPortions[0].sysEx, Hex("F0 7E F7"));
    EXPECT_EQ(update.sysExPortions[0].delay, 200u);
    EXPECT_EQ(update.macPortNames, (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(update.windowsParameters.names, std::set<std::string>{"AB"});
    EXPECT_EQ(SYSEX_MESSAGE.size(), 315u);
}

TEST(UpdateReader, HeaderOnlyFileUsesTheProductNameAsPort) {
    const Update update = Read(Header("Widget"));
    EXPECT_TRUE(update.sysExPortions.empty());
    EXPECT_TRUE(update.image.empty());
    EXPECT_EQ(update.macPortNames, std::set<std::string>{"Widget"});
    EXPECT_EQ(update.windowsParameters.names, std::set<std::string>{"Widget"});
    EXPECT_EQ(update.windowsParameters.ideal, 1024);
    EXPECT_EQ(update.message, "hello");
    EXPECT_EQ(update.headerValue1, 7);
    EXPECT_EQ(update.headerValue2, 8);
    EXPECT_EQ(update.headerValue3, 9);
    EXPECT_EQ(update.TotalSysExSize(), 0u);
}

TEST(UpdateReader, RecordsAccumulateInFileOrder) {
    Bytes file = Header("P");
    AddSysExPortion(file, Bytes(10, 1), 5);
    AddImage(file, Hex("01 02"));
    AddMacPortName(file, "M1$M2");
    AddSysExPortion(file, {}, 77);
    AddWindowsPortParameters(file, "win:1:name:W1:max:4096");
    AddImage(file, Hex("03"));
    AddMacPortName(file, "M2$M3");
    AddWindowsPortParameters(file, "win:1:name:W2");
    AddSysExPortion(file, Bytes(5, 2), 0);
    const Update update = Read(file);

    ASSERT_EQ(update.sysExPortions.size(), 3u);
    EXPECT_EQ(update.sysExPortions[0].sysEx, Bytes(10, 1));
    EXPECT_EQ(update.sysExPortions[1].sysEx, Bytes{});
    EXPECT_EQ(update.sysExPortions[1].delay, 77u);
    EXPECT_EQ(update.sysExPortions[2].sysEx, Bytes(5, 2));
    EXPECT_EQ(update.TotalSysExSize(), 15u);
    EXPECT_EQ(update.image, Hex("01 02 03"));
    EXPECT_EQ(update.macPortNames, (std::set<std::string>{"M1", "M2", "M3"}));
    EXPECT_EQ(update.windowsParameters.names, (std::set<std::string>{"W1", "W2"}));
    EXPECT_EQ(update.windowsParameters.max, 4096);
}

TEST(UpdateReader, OnlyTheExactSysExMarkBecomesTheStandardMessage) {
    EXPECT_EQ(Read(Header("P", {}, "<sysex>")).message, SYSEX_MESSAGE);
    EXPECT_EQ(Read(Header("P", {}, "<SYSEX>")).message, "<SYSEX>");
    EXPECT_EQ(Read(Header("P", {}, "<sysex> ")).message, "<sysex> ");
    EXPECT_EQ(Read(Header("P", {}, "")).message, "");
}

TEST(UpdateReader, TextBytesAreKeptAsStored) {
    const std::string odd("N\0\xFF\xC3(", 5);
    const Update update = Read(Header(odd, {2, 123}, odd));
    EXPECT_EQ(update.productName, odd);
    EXPECT_EQ(update.message, odd);
    EXPECT_EQ(update.version.ToString(), "2.123");
}

TEST(UpdateReader, Rejections) {
    Bytes wrongVersion = Header();
    wrongVersion[14] = 3;
    Bytes badTag = Header();
    Append(badTag, 4u);

    EXPECT_EQ(Rejection({}), BAD_HEADER);
    EXPECT_EQ(Rejection(Hex("'VornUpdateFil'")), BAD_HEADER);
    EXPECT_EQ(Rejection(Hex("'vornUpdateFile' 04 00")), BAD_HEADER);
    EXPECT_EQ(Rejection(Hex("F0")), BAD_HEADER);
    EXPECT_EQ(Rejection(Hex("F0 01 02 03")), BAD_HEADER);
    EXPECT_EQ(Rejection(Hex("'VornUpdateFile'")), WRONG_VERSION);
    EXPECT_EQ(Rejection(Hex("'VornUpdateFile' 04")), WRONG_VERSION);
    EXPECT_EQ(Rejection(wrongVersion), WRONG_VERSION);
    {
        // The diagnostic names the reader's line from the source root, not the build
        // machine's path.
        std::ostringstream diagnostic;
        std::streambuf* const saved = std::cerr.rdbuf(diagnostic.rdbuf());
        const std::string rejection = Rejection(badTag);
        std::cerr.rdbuf(saved);
        EXPECT_EQ(rejection, UNRECOGNISED);
        EXPECT_EQ(diagnostic.str().rfind("MidiUpdateLib/Update.cpp:", 0), 0u) << diagnostic.str();
    }
    for (unsigned int tag : {0u, 4u, 6u, 0xFFFFFFFFu}) {
        Bytes file = Header();
        AddImage(file, Hex("01"));
        Append(file, tag);
        Append(file, 0u);
        EXPECT_EQ(Rejection(file), UNRECOGNISED) << tag;
    }
}

TEST(UpdateReader, EveryCutOfTheHeaderIsTruncated) {
    const Bytes header = Header("Product", {1, 2}, "msg");
    for (std::size_t size = 16; size < header.size(); ++size)
        EXPECT_EQ(Rejection(Bytes(header.begin(), header.begin() + size)), TRUNCATED) << size;
    EXPECT_EQ(Rejection(header), "accepted");
}

TEST(UpdateReader, UnreadableFileIsABadHeader) {
    std::ifstream missing("/nonexistent/file.upd", std::ios::binary);
    try {
        Update update(missing);
        FAIL() << "accepted";
    } catch (const ParseError& e) {
        EXPECT_STREQ(e.what(), BAD_HEADER);
    }
}

// Once a tag has been read, any cut in the rest of its record rejects the file: sending
// what came before would flash part of a firmware. One to three bytes where a tag would
// start are still ignored, as old files may carry them.
TEST(UpdateReader, CutShortRecords) {
    struct Record {
        const char* what;
        Bytes bytes;
        std::size_t dataFrom, dataTo; // cuts in here are "Trucated sysex"
    };
    Record records[] = {
        {"portion", {}, 8, 11}, {"image", {}, 0, 0}, {"windows", {}, 0, 0}, {"mac", {}, 0, 0}};
    AddSysExPortion(records[0].bytes, Hex("F0 01 F7"), 0x01020304);
    AddImage(records[1].bytes, Hex("03 04 05"));
    AddWindowsPortParameters(records[2].bytes, "win:1:name:Device:max:99");
    AddMacPortName(records[3].bytes, "Device Port");
    const Bytes base = Header("P") + records[0].bytes;

    for (const Record& record : records) {
        EXPECT_EQ(Rejection(base + record.bytes), "accepted") << record.what;
        for (std::size_t keep = 1; keep < record.bytes.size(); ++keep) {
            const std::string expected = keep < 4 ? "accepted"
                                         : keep >= record.dataFrom && keep < record.dataTo
                                             ? "Trucated sysex"
                                             : TRUNCATED;
            EXPECT_EQ(Rejection(base + Bytes(record.bytes.begin(), record.bytes.begin() + keep)),
                      expected)
                << record.what << " cut after " << keep << " bytes";
        }
    }
    EXPECT_EQ(Read(base + Hex("01 00 00")).sysExPortions.size(), 1u);
}

TEST(UpdateReader, HugeByteCountsCostNoMoreThanTheFile) {
    // Nothing at all after the count is the case where the block stays empty.
    for (std::size_t trailing : {std::size_t{1024}, std::size_t{0}})
        for (unsigned int tag : {1u, 2u, 3u, 5u}) {
            Bytes file = Header("P") + Bytes(1024, 0);
            file.resize(Header("P").size());
            Append(file, tag);
            Append(file, 0xFFFFFFFFu);
            file.resize(file.size() + trailing, 0x55);

            largestAllocation = 0;
            try {
                Read(file);
            } catch (const ParseError&) {
            }
            EXPECT_LT(largestAllocation.load(), 64u * 1024) << "tag " << tag;
        }
    largestAllocation = 0;
    Bytes header = Hex("'VornUpdateFile' 04 00 FF FF FF FF 'tiny'");
    EXPECT_EQ(Rejection(header), TRUNCATED);
    EXPECT_LT(largestAllocation.load(), 64u * 1024);
}

TEST(SysExFile, RecognisedByFirstF0AndALaterF7) {
    const Update two = Read(Hex("F0 F7"));
    ASSERT_EQ(two.sysExPortions.size(), 1u);
    EXPECT_EQ(two.sysExPortions[0].sysEx, Hex("F0 F7"));

    const Bytes whole = Hex("F0 01 02 03 F7");
    const Update update = Read(whole);
    EXPECT_EQ(update.productName, "<SysEx Update Device>");
    EXPECT_EQ(update.version.ToString(), "0.00");
    EXPECT_EQ(update.message, SYSEX_MESSAGE);
    ASSERT_EQ(update.sysExPortions.size(), 1u);
    EXPECT_EQ(update.sysExPortions[0].sysEx, whole);
    EXPECT_EQ(update.sysExPortions[0].delay, 0u);
    EXPECT_TRUE(update.macPortNames.empty());
    EXPECT_TRUE(update.windowsParameters.names.empty());
    EXPECT_TRUE(update.image.empty());

    // Everything after the first F7 is sent too, whatever it is.
    const Bytes trailing = Hex("F0 F7 00 11 'VornUpdateFile' F0");
    EXPECT_EQ(Read(trailing).sysExPortions[0].sysEx, trailing);
}

namespace {

// Claims `claimed` bytes when asked for its size but delivers only `delivered`,
// like a file that shrinks or a device that fails part way.
class ShortReadBuffer : public std::streambuf {
public:
    ShortReadBuffer(Bytes bytes, std::size_t claimed) : bytes(std::move(bytes)), claimed(claimed) {
        char* begin = reinterpret_cast<char*>(this->bytes.data());
        setg(begin, begin, begin + this->bytes.size());
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        if (dir == std::ios_base::end && off == 0) {
            atEnd = true;
            return pos_type(off_type(claimed));
        }
        if (dir == std::ios_base::beg)
            return seekpos(pos_type(off), std::ios_base::in);
        return pos_type(off_type(atEnd ? claimed : gptr() - eback()));
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode) override {
        atEnd = false;
        setg(eback(), eback() + off_type(pos), egptr());
        return pos;
    }

private:
    Bytes bytes;
    std::size_t claimed;
    bool atEnd = false;
};

} // namespace

TEST(SysExFile, ShortReadIsRejected) {
    ShortReadBuffer buffer(Hex("F0 01 02 F7"), 10);
    std::istream stream(&buffer);
    try {
        Update update(stream);
        FAIL() << "accepted";
    } catch (const ParseError& e) {
        EXPECT_STREQ(e.what(), "Failed to load all of the sysex file. (Got:4 was;10)");
    }
}
