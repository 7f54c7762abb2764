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
    ASSERT_EQ(Pack({"--product", "Evil\x1B[2J", "--message", "a\nb\x07"}).status, 0);
    const Outcome info = Run({"info", "@out.upd"});
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out.find('\x1B'), std::string::npos);
    EXPECT_EQ(info.out.find('\x07'), std::string::npos);
    EXPECT_NE(info.out.find("Evil\\x1B[2J"), std::string::npos) << info.out;
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

    EXPECT_EQ(Run({"pack", "--product", "P", "--version", "1.00"}).status, 2);
    EXPECT_EQ(Run({}).status, 2);
}

TEST_F(Console, UnwritableOutputLeavesNoTemporaryFile) {
    const Outcome pack = Run({"pack", "-o", "@missing-dir/out.upd", "--product", "P", "--version",
                              "1.00", "--portion", "@a.syx"});
    EXPECT_EQ(pack.status, 1);
    EXPECT_NE(pack.err.find("cannot write"), std::string::npos) << pack.err;
    fs::create_directory(Path("out.upd")); // rename onto a directory fails after the write
    EXPECT_EQ(Pack({"--portion", "@a.syx"}).status, 1);
    EXPECT_EQ(Files(),
              (std::vector<std::string>{"a.syx", "b.syx", "c.syx", "head.png", "out.upd"}));
}

TEST_F(Console, VersionShowsTheLibraryVersion) {
    const Outcome version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "1.05 (alpha)\n");
}

} // namespace
