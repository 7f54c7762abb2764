#include "MidiUpdateLib/VirtualClock.h"
#include "Windows/CommandLine.h"
#include "Windows/DisplayText.h"
#include "Windows/HeaderImage.h"
#include "Windows/MessageBoxes.h"
#include "Windows/ProgressDisplay.h"
#include "Windows/WindowsJobHost.h"
#include "Windows/WindowsUpdateProgress.h"
#include "tests/FakeMidiPort.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <stdexcept>

using testsupport::Bytes;
using testsupport::FakeMidiPort;

namespace {

TEST(WindowsProgram, CommandLinePath) {
    const struct {
        const char* label;
        const char* commandLine;
        const char* path;
    } rows[] = {
        {"quoted, with a space", "\"Z:\\my updates\\fw.upd\"", "Z:\\my updates\\fw.upd"},
        {"bare, used as it is", "Z:\\updates\\fw.upd", "Z:\\updates\\fw.upd"},
        {"blanks around", "  \"C:\\a b\\fw.upd\"  ", "C:\\a b\\fw.upd"},
        {"words after the quoted path", "\"C:\\fw.upd\" /x", "C:\\fw.upd"},
        {"no closing quote", "\"C:\\a b\\fw.upd", "C:\\a b\\fw.upd"},
        {"nothing", "", ""},
        {"blanks only", " \t ", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CommandLinePath(row.commandLine), row.path) << row.label;
}

// UTF-8 as it is, anything else in the legacy code page; cut between characters.
TEST(WindowsProgram, DisplayText) {
    const struct {
        const char* label;
        std::string bytes;
        UINT target;
        std::size_t bufferSize;
        std::string shown;
    } rows[] = {
        {"ASCII", "Example Synth", CP_UTF8, 0, "Example Synth"},
        {"UTF-8 stays",
         "Gr\xC3\xB6\xC3\x9F"
         "e \xE5\x9B\xBA",
         CP_UTF8, 0,
         "Gr\xC3\xB6\xC3\x9F"
         "e \xE5\x9B\xBA"},
        {"cp1252 read as cp1252",
         "Gr\xF6\xDF"
         "e \x80",
         CP_UTF8, 0,
         "Gr\xC3\xB6\xC3\x9F"
         "e \xE2\x82\xAC"},
        {"a cut UTF-8 sequence is not UTF-8", "\xE5\x9B", CP_UTF8, 0, "\xC3\xA5\xE2\x80\xBA"},
        {"UTF-8 for an A function in cp1252",
         "Gr\xC3\xB6\xC3\x9F"
         "e",
         1252, 0,
         "Gr\xF6\xDF"
         "e"},
        {"cut before a character that does not fit", "ab\xE5\x9B\xBA", CP_UTF8, 5, "ab"},
        {"a character that fits with the terminator", "ab\xE5\x9B\xBA", CP_UTF8, 6,
         "ab\xE5\x9B\xBA"},
        {"a surrogate pair is one character", "a\xF0\x9F\x8E\xB9", CP_UTF8, 5, "a"},
        {"empty", "", CP_UTF8, 0, ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DisplayTextIn(row.bytes, 1252, row.target, row.bufferSize), row.shown)
            << row.label;
}

// An image's size read from its file's header, so a huge one is never decoded.
TEST(WindowsProgram, HeaderImageSizes) {
    const struct {
        const char* label;
        Bytes bytes;
        bool known;
        unsigned long width, height;
        bool tooLarge;
    } rows[] = {
        {"PNG header-sized",
         testsupport::Hex("89 'PNG' 0D 0A 1A 0A 00 00 00 0D 'IHDR' 00 00 01 F4 00 00 00 C8"), true,
         500, 200, false},
        {"PNG 20000 x 20000",
         testsupport::Hex("89 'PNG' 0D 0A 1A 0A 00 00 00 0D 'IHDR' 00 00 4E 20 00 00 4E 20"), true,
         20000, 20000, true},
        {"PNG 4096 x 4096, the largest",
         testsupport::Hex("89 'PNG' 0D 0A 1A 0A 00 00 00 0D 'IHDR' 00 00 10 00 00 00 10 00"), true,
         4096, 4096, false},
        {"PNG cut in its header", testsupport::Hex("89 'PNG' 0D 0A 1A 0A 00 00 00 0D 'IHDR' 00 00"),
         false, 0, 0, false},
        {"GIF 1 x 5000", testsupport::Hex("'GIF89a' 01 00 88 13"), true, 1, 5000, true},
        {"BMP top-down",
         testsupport::Hex("'BM' 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                          "80 02 00 00 88 FF FF FF"),
         true, 640, 120, false},
        {"JPEG: size in the frame after other segments",
         testsupport::Hex("FF D8 FF E0 00 04 00 00 FF C0 00 0B 08 4E 20 27 10 01 01 11 00"), true,
         10000, 20000, true},
        {"JPEG without a frame", testsupport::Hex("FF D8 FF E0 00 04 00 00 FF D9 00 00 00 00 00"),
         false, 0, 0, false},
        {"not an image", testsupport::Hex("00 01 02 03"), false, 0, 0, false},
    };
    for (const auto& row : rows) {
        unsigned long width = 0;
        unsigned long height = 0;
        EXPECT_EQ(ImageFileSize(row.bytes.data(), row.bytes.size(), width, height), row.known)
            << row.label;
        if (row.known) {
            EXPECT_EQ(width, row.width) << row.label;
            EXPECT_EQ(height, row.height) << row.label;
        }
        EXPECT_EQ(ImageTooLarge(row.bytes.data(), row.bytes.size()), row.tooLarge) << row.label;
    }
}

TEST(WindowsProgram, BarPositions) {
    const struct {
        const char* label;
        float fraction;
        int position;
    } rows[] = {
        {"start", 0.0f, 0},        {"truncated, not rounded", 0.999f, 99},
        {"whole", 1.0f, 100},      {"half", 0.5f, 50},
        {"below 0", -0.25f, 0},    {"above 1", 1.5f, 100},
        {"NaN", std::nanf(""), 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ProgressBarPosition(row.fraction), row.position) << row.label;

    // The animation: 3, 6, ..., 99, then back to 0.
    EXPECT_EQ(NextAnimationPosition(0), 3);
    EXPECT_EQ(NextAnimationPosition(96), 99);
    EXPECT_EQ(NextAnimationPosition(99), 0);
}

TEST(WindowsProgram, CenteredBoxStaysOnTheDesktop) {
    const RECT desktop{0, 0, 800, 600};
    const RECT box{0, 0, 300, 100}; // only its size counts
    const struct {
        const char* label;
        RECT owner;
        LONG x, y;
    } rows[] = {
        {"centred over the owner", {100, 100, 500, 300}, 150, 150},
        {"odd sizes truncate", {0, 0, 401, 201}, 50, 50},
        {"past the left and top", {-300, -200, 0, 0}, 0, 0},
        {"past the right and bottom", {700, 550, 900, 650}, 500, 500},
    };
    for (const auto& row : rows) {
        const POINT at = CenteredPosition(row.owner, box, desktop);
        EXPECT_EQ(at.x, row.x) << row.label;
        EXPECT_EQ(at.y, row.y) << row.label;
    }
}

// What the worker posts, in order: "DONE 1", "ERROR text", ...
class RecordingPost : public WindowPost {
public:
    std::vector<std::string> posted;

    bool Post(UINT message, WPARAM wParam, LPARAM lParam) override {
        const char* names[] = {"PROGRESS", "ERROR",     "DONE", "PRODUCT",
                               "TICK",     "COMPLETED", "IMAGE"};
        std::string record = names[message - WM_USER];
        if (message == WM_UPDATE_DONE)
            record += " " + std::to_string(lParam);
        else if (message == WM_UPDATE_IMAGE)
            DeleteObject(reinterpret_cast<HBITMAP>(lParam));
        else if (PostedText text = TakeText(lParam))
            record += std::string(" ") + text.get();
        else if (message == WM_UPDATE_PROGRESS)
            record += " " + std::to_string(static_cast<int>(wParam));
        posted.push_back(record);
        return true;
    }

    std::size_t Count(const std::string& prefix) const {
        std::size_t count = 0;
        for (const std::string& record : posted)
            count += record.compare(0, prefix.size(), prefix) == 0;
        return count;
    }
};

std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = testing::TempDir() + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Exactly one "done" per job, last, whatever way the job ends; a failure's error box
// comes before it.
TEST(WindowsProgram, OneDoneMessagePerJob) {
    const Bytes sysEx = testsupport::Hex("F0 7D 01 02 03 F7");
    const struct {
        const char* label;
        Bytes file;
        bool portThrows;
        std::vector<std::string> expected; // in order, among what is posted
        const char* done;
    } rows[] = {
        {"accepted",
         sysEx,
         false,
         {"PRODUCT  Product: '<SysEx Update Device>' \tFirmware version: 0.00", "PROGRESS 100",
          "COMPLETED The update has been sent to the device sucessfully.\nIt is now at version "
          "firmware 1.05."},
         "DONE 1"},
        {"file fails to load",
         testsupport::Hex("00 01 02"),
         false,
         {"ERROR Update file was invalid (bad header)."},
         "DONE 0"},
        {"port fails", sysEx, true, {"PRODUCT", "ERROR no device"}, "DONE 0"},
    };
    for (const auto& row : rows) {
        VirtualClock clock;
        ScopedClock installed(clock);
        const std::string path = WriteFile("job.syx", row.file);
        RecordingPost window;
        std::atomic<bool> indeterminate{false};
        WindowsUpdateProgress progress(window, indeterminate);
        WindowsJobHost host(
            window, progress,
            [&](const Update&) -> std::unique_ptr<MidiPort> {
                if (row.portThrows)
                    throw std::runtime_error("no device");
                auto port = std::make_unique<FakeMidiPort>();
                port->identityReply = testsupport::IdentityReply({0x7D}, 1, {0, 1, 0, 5}, "Widget");
                port->lastSysExAnswers = {testsupport::none};
                return port;
            },
            [](const std::vector<unsigned char>&) -> HBITMAP { return nullptr; });
        RunUpdateJob(path, host);

        ASSERT_FALSE(window.posted.empty()) << row.label;
        EXPECT_EQ(window.posted.back(), row.done) << row.label;
        EXPECT_EQ(window.Count("DONE"), 1u) << row.label;
        std::size_t next = 0;
        for (const std::string& expected : row.expected) {
            while (next < window.posted.size() &&
                   window.posted[next].compare(0, expected.size(), expected) != 0)
                ++next;
            EXPECT_LT(next, window.posted.size()) << row.label << ": no " << expected;
        }
    }
}

} // namespace
