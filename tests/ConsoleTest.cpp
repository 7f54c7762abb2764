#include "Console/Commands.h"
#include "MidiUpdateLib/Update.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::Bytes;
using testsupport::Hex;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Each test works in a directory of its own, and that directory is where pack writes.
class Console : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / ("console-test-" + std::string(test->name()) + "-" +
                                           std::to_string(std::random_device()()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        Write("a.syx", Hex("F0 7D 01 02 F7"));
        Write("b.syx", Hex("F0 7D 03 F7 F0 7D 04 F7"));
        Write("c.syx", Hex("F0 F7"));
        Write("head.png", Hex("89 'PNG' 0D 0A 1A 0A"));
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    void Write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    std::string Contents(const std::string& name) const {
        std::ifstream stream(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(stream), {});
    }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Arguments naming the test's files are given as "@name".
    Outcome Run(std::vector<std::string> args) const {
        for (std::string& arg : args)
            if (arg.size() > 1 && arg[0] == '@')
                arg = Path(arg.substr(1));
        args.insert(args.begin(), "midi-updater-cli");
        std::ostringstream out, err;
        const int status = midiupdate::RunConsole(args, out, err);
        return {status, out.str(), err.str()};
    }

    // pack with defaults for the required options that `args` leaves out.
    Outcome Pack(std::vector<std::string> args) const {
        const std::pair<std::string, std::string> defaults[] = {
            {"-o", "@out.upd"}, {"--product", "P"}, {"--version", "1.05"}};
        for (const auto& [option, value] : defaults)
            if (std::find(args.begin(), args.end(), option) == args.end())
                args.insert(args.begin(), {option, value});
        args.insert(args.begin(), "pack");
        return Run(args);
    }

    nlohmann::json InfoJson(const std::string& name) const {
        const Outcome info = Run({"info", "--json", "@" + name});
        EXPECT_EQ(info.status, 0) << info.err;
        return nlohmann::json::parse(info.out);
    }

    fs::path dir;
};

TEST_F(Console, PackThenInfoGivesBackEveryValueInCommandLineOrder) {
    const Outcome pack = Run({"pack",
                              "-o",
                              "@out.upd",
                              "--product",
                              "Synth 9",
                              "--version",
                              "3.07",
                              "--message",
                              "Line 1\nLine 2",
                              "--header-values",
                              "1,2,65535",
                              "--portion",
                              "@b.syx@1500",
                              "--mac-ports",
                              "M1$M2",
                              "--image",
                              "@head.png",
                              "--windows-params",
                              "win:1:name:W$X:ideal:512:max:1024:delay:10:unprepdelay:5",
                              "--portion=" + Path("a.syx"),
                              "--image",
                              "@head.png",
                              "--windows-params",
                              "win:1:delay:20:chunks:no",
                              "--portion",
                              "@c.syx@0"});
    ASSERT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(pack.err, "");

    const Outcome info = Run({"info", "--json", "@out.upd"});
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out,
              R"({"productName":"Synth 9","version":"3.07","message":"Line 1\nLine 2",)"
              R"("headerValues":[1,2,65535],"imageBytes":16,"portions":[{"bytes":8,"delay":1500,)"
              R"("messages":2,"strayBytes":0},{"bytes":5,"delay":0,"messages":1,"strayBytes":0},)"
              R"({"bytes":2,"delay":0,"messages":1,"strayBytes":0}],"totalSysExSize":15,)"
              R"("macPortNames":["M1","M2"],"windows":{"names":["W","X"],"ideal":512,"max":1024,)"
              R"("delay":20,"unprepDelay":5,"chunks":false}})"
              "\n");
}

TEST_F(Console, RecordsAreWrittenInCommandLineOrder) {
    ASSERT_EQ(Pack({"--header-values", "7,8,9", "--mac-ports", "M", "--portion", "@a.syx@5",
                    "--windows-params", "win:1:delay:10", "--image", "@head.png", "--portion",
                    "@c.syx", "--mac-ports", "N"})
                  .status,
              0);
    Bytes expected;
    CreateUpdateFileHeader(expected, "P", Version{1, 5}, "", 7, 8, 9);
    AddMacPortName(expected, "M");
    AddSysExPortion(expected, Hex("F0 7D 01 02 F7"), 5);
    AddWindowsPortParameters(expected, "win:1:delay:10");
    AddImage(expected, Hex("89 'PNG' 0D 0A 1A 0A"));
    AddSysExPortion(expected, Hex("F0 F7"), 0);
    AddMacPortName(expected, "N");
    EXPECT_EQ(Contents("out.upd"), std::string(expected.begin(), expected.end()));
}

TEST_F(Console, MessagesAndPortionNames) {
    Write("note.txt", Hex("'from a file' 0A"));
    Write("x@y.syx", Hex("F0 01 F7"));
    EXPECT_EQ(Pack({"--sysex-message"}).status, 0);
    EXPECT_EQ(InfoJson("out.upd")["message"], SYSEX_MESSAGE);
    EXPECT_EQ(Pack({"--message-file", "@note.txt"}).status, 0);
    EXPECT_EQ(InfoJson("out.upd")["message"], "from a file\n");
    // An '@' not followed by a delay is part of the file's name.
    EXPECT_EQ(Pack({"--portion", "@x@y.syx", "--portion", "@x@y.syx@9"}).status, 0);
    EXPECT_EQ(InfoJson("out.upd")["portions"][1]["delay"], 9);
    EXPECT_EQ(InfoJson("out.upd")["portions"][0]["delay"], 0);
}

TEST_F(Console, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    ASSERT_EQ(Pack({"--product",
                    "A\xFF"
                    "B",
                    "--mac-ports", "\xC3"})
                  .status,
              0);
    const nlohmann::json json = InfoJson("out.upd");
    EXPECT_EQ(json["productName"], "A\xEF\xBF\xBD"
                                   "B");
    EXPECT_EQ(json["macPortNames"], nlohmann::json::parse(R"(["\ufffd"])"));
}

TEST_F(Console, PlainSysExFileHasNoPortNames) {
    const nlohmann::json json = InfoJson("b.syx");
    EXPECT_EQ(json["productName"], "<SysEx Update Device>");
    EXPECT_EQ(json["version"], "0.00");
    EXPECT_EQ(json["totalSysExSize"], 8);
    EXPECT_EQ(json["macPortNames"], nlohmann::json::array());
    EXPECT_EQ(json["windows"]["names"], nlohmann::json::array());
}

TEST_F(Console, SummaryCannotDriveTheTerminal) {
    ASSERT_EQ(Pack({"--product", "Evil\x1B[2J\xFF", "--message", "a\r\nb\x07\rc"}).status, 0);
    const Outcome info = Run({"info", "@out.upd"});
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out.find('\x1B'), std::string::npos);
    EXPECT_EQ(info.out.find('\x07'), std::string::npos);
    // Invalid UTF-8 as U+FFFD, as --json shows it; a CRLF line end as a line end.
    EXPECT_NE(info.out.find("Evil\\x1B[2J\xEF\xBF\xBD\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("a\n                b\\x07\\x0Dc\n"), std::string::npos) << info.out;
}

TEST_F(Console, UnusableOrRejectedInputsSaySo) {
    Bytes wrongVersion;
    CreateUpdateFileHeader(wrongVersion, "P", Version{}, "", 0, 0, 0);
    wrongVersion[14] = 5;
    Write("wrong-version.upd", wrongVersion);
    Write("empty.upd", {});
    Write("only-f0.syx", Hex("F0 01 02"));
    Write("unreadable.upd", wrongVersion);
    fs::permissions(Path("unreadable.upd"), fs::perms::none);
    struct Case {
        std::string file;
        int status;
        std::string message; // the console's own checks prefix "info: " on standard error
    };
    std::vector<Case> cases = {
        {"missing.upd", 2, "cannot open @missing.upd (No such file or directory)"},
        {"", 2, "@ is a directory"},
        {"/dev/zero", 2, "/dev/zero is not a regular file or a pipe"},
        {"empty.upd", 1, "Update file was invalid (bad header)."},
        {"only-f0.syx", 1,
         "@only-f0.syx starts with F0 like a SysEx file but has no F7 to end a "
         "message"},
        {"wrong-version.upd", 1,
         "Update file is wrong version. Please check you have the latest "
         "version of the updater."},
    };
    if (geteuid() != 0) // permissions do not bind root
        cases.push_back({"unreadable.upd", 2, "cannot open @unreadable.upd (Permission denied)"});
    for (Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = c.file[0] == '/' ? c.file : Path(c.file);
        const std::size_t at = c.message.find('@');
        if (at != std::string::npos)
            c.message.replace(at, c.file.size() + 1, path);
        const bool own = c.status == 2 || at != std::string::npos;
        const std::string err = (own ? "info: " : "") + c.message + "\n";
        const Outcome json = Run({"info", "--json", path});
        EXPECT_EQ(json.status, c.status);
        EXPECT_EQ(json.out, nlohmann::json({{"error", c.message}}).dump() + "\n");
        EXPECT_EQ(json.err, err);
        const Outcome plain = Run({"info", path});
        EXPECT_EQ(plain.status, c.status);
        EXPECT_EQ(plain.out, "");
        EXPECT_EQ(plain.err, err);
    }
}

// The reader seeks, so standard input, pipes and FIFOs are read whole first.
TEST_F(Console, InputsThatArePipes) {
    Bytes file;
    CreateUpdateFileHeader(file, "Piped", Version{2, 1}, "", 0, 0, 0);
    AddSysExPortion(file, Hex("F0 7D 01 F7"), 0);
    Write("piped.upd", file);
    const std::string cli = MIDI_UPDATER_CLI;
    EXPECT_EQ(std::system(("cat " + Path("piped.upd") + " | " + cli + " info --json - > " +
                           Path("info.json"))
                              .c_str()),
              0);
    EXPECT_EQ(nlohmann::json::parse(Contents("info.json"))["productName"], "Piped");
    EXPECT_EQ(
        std::system(
            (cli + " info --json - < " + Path("piped.upd") + " > " + Path("info.json")).c_str()),
        0); // standard input that is a file
    EXPECT_EQ(nlohmann::json::parse(Contents("info.json"))["productName"], "Piped");

    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    std::thread writer([&] {
        std::ofstream(Path("fifo"), std::ios::binary) << std::string(file.begin(), file.end());
    });
    const Outcome send = Run({"send", "--simulate", "--virtual-clock", "-q", "@fifo"});
    writer.join();
    EXPECT_EQ(send.status, 0) << send.err;
    EXPECT_EQ(send.out, "The 'Piped' was updated sucessfully to version 2.01.\n");
}

TEST_F(Console, BadPackArgumentsWriteNothing) {
    Write("out.upd", Hex("'old'"));
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--version", "1.5"}, "exactly two digits"},
        {{"--version", "1.050"}, "exactly two digits"},
        {{"--version", "65536.00"}, "MAJOR.MINOR"},
        {{"--version", "-1.00"}, "MAJOR.MINOR"},
        {{"--version", "1"}, "MAJOR.MINOR"},
        {{"--product", ""}, "must not be empty"},
        {{"--header-values", "1,2"}, "three numbers"},
        {{"--header-values", "1,2,3,"}, "three numbers"},
        {{"--header-values", "1,,3"}, "'' is not a number"},
        {{"--header-values", "1,2,65536"}, "'65536' is not a number"},
        {{"--portion", "@missing.syx"}, "cannot open"},
        {{"--portion", "@a.syx@4294967296"}, "at most 4294967295"},
        {{"--portion", "@a.syx@-1"}, "the pause must be a whole number of milliseconds"},
        {{"--portion", "@a.syx@1e3"}, "not '1e3'"},
        // A name is shown escaped, so it cannot break the message or drive the terminal.
        {{"--portion", "@new\nline\x1B[2J.syx"}, "new\\nline\\x1B[2J.syx': cannot open"},
        {{"--portion", "@a.syx", "@b.syx"}, "not expected: "},
        {{"--image", "@."}, "cannot read"}, // a directory
        {{"--message-file", "@missing.txt"}, "cannot open"},
        {{"--message", "m", "--sysex-message"}, "excludes"},
        {{"--mac-ports", "$$"}, "names no port"},
        {{"--windows-params", "WIN:1:delay:5"}, "must start with 'win:1:'"},
        {{"--windows-params", "win:1:ideal:abc"}, "'ideal' needs a number"},
        {{"--windows-params", "win:1:delay:-5"}, "'delay' needs a number"},
        {{"--windows-params", "win:1:colour:red"}, "unknown key 'colour'"},
        {{"--windows-params", "win:1:name"}, "'name' has no value"},
        {{"--windows-params", "win:1:name:$"}, "'name' names no port"},
        {{"--windows-params", "win:1:chunks:maybe"}, "'chunks' needs yes or no"},
        {{"--frobnicate"}, "not expected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + (c.args.size() > 1 ? c.args[1] : ""));
        const Outcome pack = Pack(c.args);
        EXPECT_EQ(pack.status, 2);
        EXPECT_NE(pack.err.find(c.error), std::string::npos) << pack.err;
        EXPECT_EQ(pack.out, "");
    }
    EXPECT_EQ(Contents("out.upd"), "old");
    EXPECT_EQ(Files(),
              (std::vector<std::string>{"a.syx", "b.syx", "c.syx", "head.png", "out.upd"}));

    // A pause meant in seconds but written in milliseconds is worth a word, not a refusal.
    const Outcome long_pause = Pack({"--portion", "@a.syx@90000000", "-q"});
    EXPECT_EQ(long_pause.status, 0) << long_pause.err;
    EXPECT_NE(long_pause.err.find("a pause of 90000000 ms is more than a day"), std::string::npos);
    Write("out.upd", Hex("'old'"));

    EXPECT_EQ(Run({"pack", "--product", "P", "--version", "1.00"}).status, 2);
    EXPECT_EQ(Run({}).status, 2);
}

TEST_F(Console, UnwritableOutputLeavesNoTemporaryFile) {
    const Outcome pack = Run({"pack", "-o", "@missing-dir/out.upd", "--product", "P", "--version",
                              "1.00", "--portion", "@a.syx"});
    EXPECT_EQ(pack.status, 1);
    EXPECT_NE(pack.err.find("cannot write"), std::string::npos) << pack.err;
    EXPECT_EQ(Files(), (std::vector<std::string>{"a.syx", "b.syx", "c.syx", "head.png"}));

    // A full disk says so; here standard output is the full device.
    const std::string cli = MIDI_UPDATER_CLI;
    const int status = std::system(
        (cli + " pack -o - --product P --version 1.00 > /dev/full 2> " + Path("err.txt")).c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(Contents("err.txt"), "-o '-': cannot write (No space left on device)\n");
}

// pack never destroys anything: not its inputs, not what the output names, not a link.
TEST_F(Console, PackNeverDestroysAnything) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    fs::create_directory(Path("dir"));
    fs::create_symlink("a.syx", Path("link-to-input"));
    const struct {
        std::string output;
        std::vector<std::string> args;
        std::string error;
    } refusals[] = {
        {"@a.syx", {"--portion", "@a.syx"}, "is also an input (--portion '@a.syx')"},
        {"@link-to-input",
         {"--image", "@head.png", "--portion", "@b.syx", "--portion", "@a.syx"},
         "is also an input (--portion '@a.syx')"},
        {"@fifo", {}, "exists and is not a regular file; not replacing it"},
        {"@dir", {}, "exists and is not a regular file; not replacing it"},
        {"/dev/null", {}, "exists and is not a regular file; not replacing it"},
        {"@out.upd",
         {"--portion", "/dev/zero"},
         "--portion '/dev/zero': not a regular file or a pipe"},
        {"@out.upd", {"--portion", "@dir"}, "cannot read (it is a directory)"},
    };
    for (const auto& c : refusals) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), {"-o", c.output});
        const Outcome pack = Pack(args);
        std::string error = c.error;
        if (const std::size_t at = error.find('@'); at != std::string::npos)
            error.replace(at, 6, Path("a.syx"));
        EXPECT_EQ(pack.status, 2) << c.output << ": " << pack.err;
        EXPECT_NE(pack.err.find(error), std::string::npos) << c.output << ": " << pack.err;
    }
    EXPECT_EQ(Contents("a.syx"), std::string("\xF0\x7D\x01\x02\xF7"));
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));

    // Through a link to its target; an existing file keeps its mode.
    Write("target.upd", Hex("'old'"));
    fs::permissions(Path("target.upd"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("target.upd", Path("link.upd"));
    EXPECT_EQ(Pack({"-o", "@link.upd", "--portion", "@a.syx"}).status, 0);
    EXPECT_TRUE(fs::is_symlink(Path("link.upd")));
    EXPECT_EQ(InfoJson("target.upd")["totalSysExSize"], 5);
    EXPECT_EQ(fs::status(Path("target.upd")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// Content checks where files are made and shown: F0, data 00-7F, F7; real-time anywhere.
TEST_F(Console, SysExContentIsCheckedWhenPackedAndShown) {
    Write("realtime.syx", Hex("F0 41 F8 10 F7 FE F0 00 20 33 01 F7"));
    Write("between.syx", Hex("F0 41 10 F7 55 F0 42 F7"));
    Write("status.syx", Hex("F0 41 10 90 F7"));
    Write("unended.syx", Hex("F0 41 10 F7 F0 43 12"));
    const struct {
        const char* file;
        std::string error; // empty: packed
        int messages;
        int strayBytes;
    } cases[] = {
        {"realtime.syx", "", 2, 0},
        {"between.syx", "stray byte at offset 4 (byte 0x55 outside a message)", 2, 1},
        {"status.syx", "stray byte at offset 3 (status byte 0x90 inside the message at offset 0)",
         0, 5},
        {"unended.syx", "stray byte at offset 4 (the message at offset 4 has no F7)", 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Outcome strict = Pack({"--portion", std::string("@") + c.file});
        EXPECT_EQ(strict.status, c.error.empty() ? 0 : 2);
        EXPECT_NE(strict.err.find(c.error), std::string::npos) << strict.err;
        const Outcome allowed =
            Pack({"--allow-any-bytes", "-q", "--portion", std::string("@") + c.file});
        EXPECT_EQ(allowed.status, 0);
        EXPECT_EQ(allowed.out, "");
        const nlohmann::json portion = InfoJson("out.upd")["portions"][0];
        EXPECT_EQ(portion["messages"], c.messages);
        EXPECT_EQ(portion["strayBytes"], c.strayBytes);
        EXPECT_EQ(InfoJson(c.file)["portions"][0]["strayBytes"], c.strayBytes); // plain .syx too
    }
    const Outcome info = Run({"info", "@between.syx"});
    EXPECT_NE(info.out.find("  1: 8 bytes, 2 messages (manufacturer 41)\n       warning: 1 "
                            "stray byte; the first at offset 4: byte 0x55 outside a message\n"),
              std::string::npos)
        << info.out;
    const Outcome clean = Run({"info", "@realtime.syx"});
    EXPECT_NE(clean.out.find("2 messages (manufacturer 41)\n"), std::string::npos) << clean.out;
    EXPECT_EQ(clean.out.find("warning"), std::string::npos) << clean.out;

    // -o - writes the update itself to standard output, the summary to standard error.
    const Outcome toOut = Pack({"-o", "-", "--portion", "@a.syx"});
    EXPECT_EQ(toOut.status, 0);
    Bytes expected;
    CreateUpdateFileHeader(expected, "P", Version{1, 5}, "", 0, 0, 0);
    AddSysExPortion(expected, Hex("F0 7D 01 02 F7"), 0);
    EXPECT_EQ(toOut.out, std::string(expected.begin(), expected.end()));
    EXPECT_EQ(toOut.err, "Wrote standard output: 52 bytes, 1 portion, 5 bytes of SysEx\n");
}

TEST_F(Console, UnknownCommandsAndHelp) {
    const Outcome bogus = Run({"bogus", "x"});
    EXPECT_EQ(bogus.status, 2);
    EXPECT_EQ(bogus.err.rfind("midi-updater-cli: unknown command 'bogus' (commands: info, pack, "
                              "send",
                              0),
              0u)
        << bogus.err;
    const Outcome help = Run({"send", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--give-up-after MS"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Exit status:\n  0 "), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("143  terminated"), std::string::npos) << help.out;
    EXPECT_EQ(help.out.substr(help.out.size() - 12), "--events -\n\n") << help.out;
    EXPECT_NE(Run({"info", "--help"}).out.find("FILE REQUIRED"), std::string::npos);
}

// The device command refuses what it could never serve before it serves anything, and
// takes every word send --simulate takes for the device.
TEST_F(Console, DeviceRefusesWhatItCannotServe) {
    Pack({"--portion", "@a.syx"});
    const struct {
        std::vector<std::string> args;
        int status;
        std::string error;
    } cases[] = {
        {{"--jack", "W"}, 2, "--device-expects FILE is needed"},
        {{"--device-expects", "@out.upd"}, 2, "--jack NAME or --alsa NAME"},
        {{"--jack", "", "--device-expects", "@out.upd"}, 2, "1 to 63 bytes long, not 0"},
        {{"--jack", std::string(64, 'w'), "--device-expects", "@out.upd"}, 2, "not 64"},
        {{"--jack", "W", "--device-expects", "@missing.upd"}, 2, "cannot open"},
        // Accepted: only the missing JACK server stops it.
        {{"--jack", "W", "--device-expects", "@out.upd", "--device-identity", "short",
          "--device-vanishes-during-portion", "1:100"},
         1,
         "cannot serve on JACK"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "device");
        const Outcome device = Run(args);
        EXPECT_EQ(device.status, c.status) << device.err;
        EXPECT_NE(device.err.find(c.error), std::string::npos) << device.err;
    }
}

TEST_F(Console, VersionShowsTheLibraryVersion) {
    const Outcome version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "1.05 (alpha)\n");
}

} // namespace
