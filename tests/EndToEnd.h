#pragma once

// Helpers for tests that run whole programs (the console program, amidi, aseqdump) as
// separate processes in real time, each bounded by the wall clock.

#include "MidiUpdateLib/Update.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// SysEx messages of `messageSize` bytes (F0 … F7) filling about `total` bytes, their
// data bytes from `seed`.
Bytes Messages(std::size_t total, std::size_t messageSize, unsigned char seed);

std::string ReadText(const std::string& path);

// An update file at `path` for the product "Widget" on the port `portName`, paced
// with the given Windows parameters text.
void WriteUpdate(const std::string& path, const std::vector<Update::SysExPortion>& portions,
                 const std::string& portName,
                 const std::string& pacing = "win:0:ideal:2048:max:16384:delay:0");

// One run of a program, standard output and error in files `dir/label.out|.err`.
// Killed when destroyed while still running.
class Process {
public:
    Process(const std::string& dir, const std::string& label, std::vector<std::string> argv);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The exit status (128 + signal when killed by one), or -1 when it did not end in
    // time (the destructor then kills it).
    int Wait(std::chrono::seconds limit);
    bool WaitForOutput(const std::string& text, std::chrono::seconds limit) const;
    void Interrupt() const;
    std::string Out() const { return ReadText(out); }
    std::string Err() const { return ReadText(err); }

private:
    const std::string out;
    const std::string err;
    pid_t pid = -1;
};

// `send` and `device` of the console program `cli` against each other over one MIDI
// API ("alsa" or "jack"), the device named "Widget MIDI", in a folder of the test's own.
class ConsoleEndToEnd : public ::testing::Test {
protected:
    ConsoleEndToEnd(std::string api, std::string cli) : api(std::move(api)), cli(std::move(cli)) {}
    void SetUp() override;
    void TearDown() override;

    // An update for the device, paced as fast as the API takes it.
    std::string Write(const std::vector<Update::SysExPortion>& portions) const;
    std::unique_ptr<Process> Device(const std::string& update,
                                    std::vector<std::string> words) const;
    std::unique_ptr<Process> Send(const std::string& update) const;
    // Ends the device and returns its report.
    static std::string Report(Process& device);

    const std::string api;
    const std::string cli;
    std::filesystem::path dir;
};

} // namespace testsupport
