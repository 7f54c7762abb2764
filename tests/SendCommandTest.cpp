// The console's send command end to end against the simulated device, in virtual time:
// each device behaviour gives its verdict and exit status, and what the device received
// is checked against the file.

#include "Console/Commands.h"
#include "Console/ConsoleDisplay.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/Update.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::Bytes;
using testsupport::Hex;
namespace fs = std::filesystem;
using midiupdate::SendRequest;

namespace {

const char* const ACCEPTED = "The 'Widget' was updated sucessfully to version 1.05.";
const char* const DEVICE_ERROR =
    "There was an error sending the update file.\nPlease restart the device and try again.";
const char* const NO_REPLY =
    "The update has been sent. Please check your device for update status.";

struct Outcome {
    int status;
    std::vector<nlohmann::json> events;
    std::string err;

    std::string Completed() const {
        return Value("completed").is_null() ? "(none)" : Value("completed");
    }
    // The value of the last event with this key; null for none.
    nlohmann::json Value(const std::string& key) const {
        for (auto event = events.rbegin(); event != events.rend(); ++event)
            if (event->contains(key))
                return (*event)[key];
        return nullptr;
    }
    std::string IntegrityText() const {
        const nlohmann::json integrity = Value("integrity");
        if (integrity.is_null())
            return "(none)";
        return integrity.value("text", "identical");
    }
    bool Has(const nlohmann::json& wanted) const {
        return std::find(events.begin(), events.end(), wanted) != events.end();
    }
    bool HasStatus(const std::string& text) const { return Has({{"status", text}}); }
};

class Send : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("send-test-" + std::string(test->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);

        Bytes file;
        CreateUpdateFileHeader(file, "Widget", Version{1, 5}, "Put the Widget in update mode.", 0,
                               0, 0);
        AddMacPortName(file, "Widget Port$Widget Port 2");
        AddSysExPortion(file, Portion(3000, 1), 1000);
        AddSysExPortion(file, Portion(5000, 2), 2000);
        AddSysExPortion(file, Portion(700, 3), 0);
        Write("widget.upd", file);
        Write("raw.syx", Portion(4000, 4));
    }
    void TearDown() override { fs::remove_all(dir); }

    static Bytes Portion(std::size_t size, unsigned char seed) {
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<unsigned char>((i * 7 + seed) & 0x7F);
        bytes.front() = 0xF0;
        bytes.back() = 0xF7;
        return bytes;
    }

    void Write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    std::string Path(const std::string& name) const { return (dir / name).string(); }

    SendRequest Request(const std::string& file = "widget.upd") const {
        SendRequest request;
        request.path = Path(file);
        request.simulate = true;
        request.virtualClock = true;
        request.events = true;
        return request;
    }

    static Outcome Run(const SendRequest& request) {
        std::ostringstream out, err;
        Outcome outcome;
        outcome.status = midiupdate::Send(request, out, err);
        outcome.err = err.str();
        std::istringstream lines(out.str());
        for (std::string line; std::getline(lines, line);)
            outcome.events.push_back(nlohmann::json::parse(line)); // stdout holds only events
        return outcome;
    }

    fs::path dir;
};

TEST_F(Send, EachDeviceBehaviourGivesItsVerdictAndExitStatus) {
    struct Case {
        const char* status;
        const char* deviceVersion; // nullptr: no identity reply
        int exit;
        std::string completed;
    };
    const Case cases[] = {
        {"accept", nullptr, 0, ACCEPTED},
        {"busy:3", nullptr, 0, ACCEPTED},
        {"accept,error,accept", nullptr, 0, ACCEPTED}, // only the last portion decides
        {"error", nullptr, 4, DEVICE_ERROR},
        {"accept,accept,error", "1.05", 4, DEVICE_ERROR},
        {"silent", nullptr, 3, NO_REPLY},
        {"garbage", nullptr, 3, NO_REPLY},
        {"busy", nullptr, 3, NO_REPLY},
        {"silent", "1.05", 0, ACCEPTED},
        {"busy", "1.05", 0, ACCEPTED},
        {"silent", "1.06", 4,
         "The 'Widget' firmware version is now 1.06.\nThe update file version was 1.05.\n"
         "The update process did not complete successfully."},
    };
    for (const Case& c : cases) {
        SendRequest request = Request();
        request.deviceWords = {"--device-status", c.status};
        if (c.deviceVersion)
            request.deviceWords.insert(request.deviceWords.end(),
                                       {"--device-version", c.deviceVersion});
        const Outcome outcome = Run(request);
        const std::string label =
            std::string(c.status) + " / " + (c.deviceVersion ? c.deviceVersion : "no version");
        EXPECT_EQ(outcome.status, c.exit) << label << "\n" << outcome.err;
        EXPECT_EQ(outcome.Completed(), c.completed) << label;
        EXPECT_EQ(outcome.Value("integrity"),
                  nlohmann::json::parse(R"({"identical":true,"portions":3,"bytes":8700})"))
            << label << "\n"
            << outcome.err;
    }
}

TEST_F(Send, PlainSysExFileAndTheDevicesVersion) {
    SendRequest request = Request("raw.syx");
    request.deviceWords = {"--device-status", "silent", "--device-version", "2.00"};
    Outcome outcome = Run(request);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.Completed(),
              "The update has been sent to the device sucessfully.\nIt is now at version "
              "firmware 2.00.");
    EXPECT_TRUE(outcome.Has({{"message", SYSEX_MESSAGE}}));

    request.deviceWords.resize(2);
    outcome = Run(request);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.Completed(), NO_REPLY);
}

TEST_F(Send, EventsAreTheOnlyOutputAndComeInOrder) {
    const Outcome outcome = Run(Request());
    ASSERT_FALSE(outcome.events.empty());
    // The Mac form says it is loading before anything else; the Windows form does not.
    const std::size_t first = midiupdate::windowsForm ? 0 : 1;
    if (!midiupdate::windowsForm) {
        EXPECT_EQ(outcome.events.front(), nlohmann::json({{"status", "Loading update file"}}));
    }
    EXPECT_EQ(outcome.events.at(first),
              nlohmann::json({{"message", "Put the Widget in update mode."}}));
    // The verdict, then the results a program needs, also as events.
    ASSERT_GE(outcome.events.size(), 3u);
    EXPECT_EQ(outcome.events.end()[-3], nlohmann::json({{"completed", ACCEPTED}}));
    EXPECT_TRUE(outcome.events.end()[-2].contains("virtualTime"));
    EXPECT_TRUE(outcome.events.back().contains("integrity"));
    EXPECT_TRUE(outcome.HasStatus("Looking for Widget to update..."));
    EXPECT_TRUE(outcome.HasStatus("Sending chunk #3 of 3"));
    EXPECT_TRUE(outcome.HasStatus("Sent 2.9KB of 2.9KB"));
    float last = 0.0f;
    for (const auto& event : outcome.events) {
        ASSERT_EQ(event.size(), 1u) << event;
        if (event.contains("progress")) {
            const float progress = event["progress"];
            EXPECT_GE(progress, 0.0f);
            EXPECT_LE(progress, 1.0f);
            last = progress;
        }
    }
    EXPECT_EQ(last, 1.0f);
    EXPECT_EQ(outcome.err.find("Virtual time: "), std::string::npos) << outcome.err;
}

TEST_F(Send, DeviceThatAppearsLateOrVanishesBetweenPortions) {
    SendRequest late = Request();
    late.deviceWords = {"--device-appears-after", "180000"};
    Outcome outcome = Run(late);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_FALSE(outcome.HasStatus("Could not send chunk #1 of 3. Retrying..."));
    EXPECT_GE(outcome.Value("virtualTime"), 180000) << outcome.err;

    SendRequest vanishing = Request();
    vanishing.deviceWords = {"--device-vanishes-after-portion=1:40000"};
    outcome = Run(vanishing);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_TRUE(outcome.HasStatus("Could not send chunk #2 of 3. Retrying..."));
    EXPECT_FALSE(outcome.HasStatus("Could not send chunk #3 of 3. Retrying..."));
    EXPECT_EQ(outcome.IntegrityText(), "identical");

    // Gone inside a portion, the first or the last: the bytes sent meanwhile are lost,
    // and a later acceptance must not read as success. The device's own report decides
    // the exit status.
    const std::pair<const char*, nlohmann::json> cuts[] = {
        {"1:20000", {{"portion", 1}, {"bytes", 1500}}},
        {"3:20000", {{"portion", 3}, {"bytes", 350}}},
    };
    for (const auto& [words, undelivered] : cuts) {
        SendRequest cut = Request();
        cut.deviceWords = {"--device-vanishes-during-portion", words};
        outcome = Run(cut);
        EXPECT_EQ(outcome.status, 6) << words << "\n" << outcome.err;
        EXPECT_EQ(outcome.Completed(), DEVICE_ERROR) << words;
        const auto told = std::find(outcome.events.begin(), outcome.events.end(),
                                    nlohmann::json{{"undelivered", undelivered}});
        const auto verdict = std::find(outcome.events.begin(), outcome.events.end(),
                                       nlohmann::json{{"completed", DEVICE_ERROR}});
        EXPECT_TRUE(told < verdict) << words << "\n" << outcome.err;
    }
}

TEST_F(Send, GivingUpOnADeviceThatNeverAppears) {
    SendRequest request = Request();
    request.deviceWords = {"--device-name", "Some Other Port"}; // not a name the update accepts
    // Milliseconds, not rounded up to the next connection check a second later.
    request.giveUpAfter = 1500;
    const Outcome outcome = Run(request);
    EXPECT_EQ(outcome.status, 5);
    EXPECT_EQ(outcome.Value("failure"), "Gave up waiting for the device after 1500 ms.");
    EXPECT_EQ(outcome.Value("virtualTime"), 1500);
}

TEST_F(Send, AnUnnamedDeviceIsNeverAskedAndVirtualTimeDoesNotWaitForEver) {
    // No portions: the verdict rests on the identity request alone, which must not reach
    // a device the update does not name.
    Bytes empty;
    CreateUpdateFileHeader(empty, "Widget", Version{1, 5}, "", 0, 0, 0);
    Write("empty.upd", empty);
    SendRequest request = Request("empty.upd");
    request.deviceWords = {"--device-name", "Some Other Port", "--device-version", "1.05"};
    Outcome outcome = Run(request);
    EXPECT_EQ(outcome.status, 3);
    EXPECT_EQ(outcome.Completed(), NO_REPLY);

    // With portions, waiting for it in virtual time ends after a virtual day.
    request.path = Path("widget.upd");
    outcome = Run(request);
    EXPECT_EQ(outcome.status, 5);
    EXPECT_EQ(outcome.Value("failure"), "Gave up waiting for the device after 86400000 ms.");
}

TEST_F(Send, IntegrityCheckCatchesACorruptedByte) {
    SendRequest request = Request();
    request.corruptByte = std::make_pair(std::size_t{1}, std::size_t{2500});
    const Outcome outcome = Run(request);
    EXPECT_EQ(outcome.status, 6);
    EXPECT_EQ(outcome.Completed(), ACCEPTED); // the device did not notice; we do
    const nlohmann::json integrity = {
        {"identical", false},
        {"portions", 3},
        {"bytes", 8700},
        {"portion", 2},
        {"offset", 2500},
        {"expected", 0x5E},
        {"received", 0x5F},
        {"text", "device received 3 portions, 8.5KB; portion 2 differs from the update file "
                 "at byte 2500 (file 0x5e, device 0x5f)"}};
    EXPECT_EQ(outcome.Value("integrity"), integrity);

    // A device that expects another update tells the first difference from it.
    request = Request();
    request.deviceWords = {"--device-expects", Path("raw.syx")};
    const Outcome other = Run(request);
    EXPECT_EQ(other.status, 6);
    EXPECT_EQ(other.IntegrityText(), "device received 2 portions, 8.5KB; portion 1 differs from "
                                     "the update file at byte 1 (file 0x0b, device 0x08)");
}

TEST_F(Send, RejectedFilesAndBadArguments) {
    Outcome outcome = Run(Request("missing.upd"));
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.Value("failure"),
              "cannot open " + Path("missing.upd") + " (No such file or directory)");

    SendRequest real = Request();
    real.simulate = false;
    outcome = Run(real);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("--virtual-clock needs --simulate"), std::string::npos);
    real.virtualClock = false;
    real.midi = "none";
    outcome = Run(real);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_NE(outcome.err.find("--midi must be alsa or jack"), std::string::npos);

    // Through the command line: chunk sizes, and device options that need --simulate.
    const auto console = [this](std::vector<std::string> args) {
        args.insert(args.begin(), {"midi-updater-cli", "send"});
        args.push_back(Path("widget.upd"));
        std::ostringstream out, err;
        return midiupdate::RunConsole(args, out, err);
    };
    EXPECT_EQ(console({"--simulate", "--virtual-clock", "--chunk-sizes", "1,1"}), 0);
    for (const char* sizes : {"0,5", "5", "5,", "-1,5", "2048,16384,1", "99999999999,1"})
        EXPECT_EQ(console({"--simulate", "--chunk-sizes", sizes}), 2) << sizes;
    EXPECT_EQ(console({"--device-status", "error"}), 2);

    for (auto change : std::vector<std::function<void(SendRequest&)>>{
             [](SendRequest& r) {
                 r.deviceWords = {"--device-status", "accept,maybe"};
             },
             [](SendRequest& r) {
                 r.deviceWords = {"--device-version", "1.5.3"};
             },
             [](SendRequest& r) {
                 r.deviceWords = {"--device-vanishes-after-portion", "2"};
             },
             [](SendRequest& r) {
                 r.deviceWords = {"--device-expects", "missing.upd"};
             },
         }) {
        SendRequest request = Request();
        change(request);
        EXPECT_EQ(Run(request).status, 2);
    }
}

TEST_F(Send, PlainLinesWhenNotATerminal) {
    SendRequest request = Request();
    request.events = false;
    std::ostringstream out, err;
    EXPECT_EQ(midiupdate::Send(request, out, err), 0);
    const std::string text = out.str();
    EXPECT_NE(text.find("Put the Widget in update mode.\n"), std::string::npos);
    EXPECT_NE(text.find("Status: Device has accepted update.\n"), std::string::npos);
    EXPECT_NE(text.find("Progress: 100%\n"), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find(std::string(ACCEPTED) + "\n"), std::string::npos);
}

TEST(ConsoleDisplay, TheLiveBarNeverCutsACharacter) {
    std::ostringstream out, err;
    {
        const auto display = midiupdate::MakeConsoleDisplay(
            midiupdate::ConsoleDisplay::Form::Terminal, out, err, 60);
        std::string status;
        for (int i = 0; i < 20; ++i)
            status += "\xC3\xA4\xE2\x82\xAC"; // a-umlaut, euro sign
        display->Status(status);
        display->Finish();
    }
    std::size_t drawn = 0;
    for (std::size_t at = out.str().find("\r\033[K"); at != std::string::npos;) {
        const std::size_t next = out.str().find("\r\033[K", at + 1);
        const std::string line =
            out.str().substr(at + 4, next == std::string::npos ? next : next - at - 4);
        EXPECT_NO_THROW(nlohmann::json(line).dump()) << line; // throws on invalid UTF-8
        const auto characters = std::count_if(line.begin(), line.end(), [](char c) {
            return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        });
        EXPECT_LE(characters, 59) << line;
        drawn += line.empty() ? 0 : 1;
        at = next;
    }
    EXPECT_GE(drawn, 1u);
}

// The real program's exit status after up to 60 s (a sanitizer build on a busy machine
// is slow); SIGKILL and -1 if it has not ended.
int WaitForExit(pid_t child) {
    for (int tries = 0; tries < 6000; ++tries) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

// The real program, in real time, on a terminal (live bar) and on a pipe (events). A stop
// request while it waits for the device ends it cleanly with 128 + the signal; a hangup
// once bytes have gone out, or a reader that goes away, does not cut the transfer short.
TEST_F(Send, SignalsAndAVanishingTerminalOrReader) {
    Bytes twoPortions;
    CreateUpdateFileHeader(twoPortions, "Widget", Version{1, 5}, "", 0, 0, 0);
    AddMacPortName(twoPortions, "Widget Port");
    AddSysExPortion(twoPortions, Portion(3000, 1), 0);
    AddSysExPortion(twoPortions, Portion(3000, 2), 0);
    Write("two.upd", twoPortions);

    const struct {
        bool terminal;
        int signal;      // 0: the terminal or reader goes away
        bool afterChunk; // else while the device is awaited
        int exit;
    } cases[] = {
        {false, SIGINT, false, 130}, {true, SIGINT, false, 130},  {false, SIGTERM, false, 143},
        {true, SIGTERM, false, 143}, {false, SIGHUP, false, 129}, {true, 0, false, 129},
        {false, SIGHUP, true, 0},    {true, 0, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Format("%s, signal %d, %s", c.terminal ? "terminal" : "pipe", c.signal,
                            c.afterChunk ? "after the first chunk" : "while waiting"));
        int fd = -1;
        pid_t child = -1;
        if (c.terminal) {
            winsize size{};
            size.ws_col = 100;
            size.ws_row = 20;
            child = forkpty(&fd, nullptr, nullptr, &size);
        } else {
            int output[2];
            ASSERT_EQ(pipe(output), 0);
            child = fork();
            if (child == 0) {
                dup2(output[1], STDOUT_FILENO);
                close(output[0]);
            }
            close(output[1]);
            fd = output[0];
        }
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string file = Path(c.afterChunk ? "two.upd" : "widget.upd");
            execl(MIDI_UPDATER_CLI, MIDI_UPDATER_CLI, "send", "--simulate",
                  c.terminal ? "--device-name=Widget Port" : "--events", "--device-appears-after",
                  c.afterChunk ? "0" : "600000", file.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }

        // Wait for the moment, then act; read on to the end while the output is there.
        const char* const moment = c.afterChunk ? "Sent 2." : "Looking for Widget";
        std::string seen;
        char buffer[4096];
        bool acted = false;
        for (ssize_t n; !acted && (n = read(fd, buffer, sizeof buffer)) > 0;) {
            seen.append(buffer, static_cast<std::size_t>(n));
            if (seen.find(moment) == std::string::npos)
                continue;
            acted = true;
            if (c.signal)
                kill(child, c.signal);
            if (c.signal == 0 || c.afterChunk) {
                close(fd); // the terminal closes (a hangup) or the reader goes away
                fd = -1;
            }
        }
        for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
            seen.append(buffer, static_cast<std::size_t>(n));
        if (fd >= 0)
            close(fd);
        EXPECT_TRUE(acted) << seen;
        EXPECT_EQ(WaitForExit(child), c.exit) << seen;
        if (c.terminal && c.signal) {
            // The live line was cleared and the reason given.
            EXPECT_NE(seen.find("\r\033[KInterrupted: the transfer was stopped"), std::string::npos)
                << seen;
        } else if (!c.terminal && c.exit > 128) {
            EXPECT_NE(seen.find(Format("{\"interrupted\":%d}\n", c.exit)), std::string::npos)
                << seen;
        }
    }
}

// A FIFO nobody writes to blocks the open; a termination request still ends the program.
TEST_F(Send, TerminationWhileAFifoIsBeingOpened) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string fifo = Path("fifo");
        execl(MIDI_UPDATER_CLI, MIDI_UPDATER_CLI, "send", "--simulate", "-q", fifo.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    usleep(300000); // time to reach the open
    kill(child, SIGTERM);
    EXPECT_EQ(WaitForExit(child), 128 + SIGTERM);
}

} // namespace
