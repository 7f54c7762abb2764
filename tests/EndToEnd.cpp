#include "tests/EndToEnd.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

using Clock = std::chrono::steady_clock;

Bytes Messages(std::size_t total, std::size_t messageSize, unsigned char seed) {
    Bytes bytes;
    while (bytes.size() < total) {
        bytes.push_back(0xF0);
        for (std::size_t i = 2; i < messageSize; ++i)
            bytes.push_back(static_cast<unsigned char>((seed + bytes.size() * 7) & 0x7F));
        bytes.push_back(0xF7);
    }
    return bytes;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteUpdate(const std::string& path, const std::vector<Update::SysExPortion>& portions,
                 const std::string& portName, const std::string& pacing) {
    Bytes file;
    CreateUpdateFileHeader(file, "Widget", Version{1, 5}, "", 0, 0, 0);
    AddMacPortName(file, portName);
    AddWindowsPortParameters(file, pacing);
    for (const auto& portion : portions)
        AddSysExPortion(file, portion.sysEx, portion.delay);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), file.size());
}

Process::Process(const std::string& dir, const std::string& label, std::vector<std::string> argv)
    : out(dir + "/" + label + ".out"), err(dir + "/" + label + ".err") {
    pid = fork();
    if (pid == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
}

Process::~Process() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

int Process::Wait(std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (pid > 0 && Clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

bool Process::WaitForOutput(const std::string& text, std::chrono::seconds limit) const {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (Out().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void Process::Interrupt() const {
    if (pid > 0)
        kill(pid, SIGINT);
}

void ConsoleEndToEnd::SetUp() {
    dir = std::filesystem::temp_directory_path() /
          (api + "-e2e-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
}

void ConsoleEndToEnd::TearDown() {
    std::filesystem::remove_all(dir);
}

std::string ConsoleEndToEnd::Write(const std::vector<Update::SysExPortion>& portions) const {
    const std::string path = (dir / "widget.upd").string();
    WriteUpdate(path, portions, "Widget MIDI");
    return path;
}

std::unique_ptr<Process> ConsoleEndToEnd::Device(const std::string& update,
                                                 std::vector<std::string> words) const {
    std::vector<std::string> args = {cli,           "device",           "--" + api,
                                     "Widget MIDI", "--device-expects", update};
    args.insert(args.end(), words.begin(), words.end());
    return std::make_unique<Process>(dir.string(), "device", args);
}

std::unique_ptr<Process> ConsoleEndToEnd::Send(const std::string& update) const {
    return std::make_unique<Process>(dir.string(), "send",
                                     std::vector<std::string>{cli, "send", update, "--midi", api});
}

std::string ConsoleEndToEnd::Report(Process& device) {
    device.Interrupt();
    EXPECT_EQ(device.Wait(std::chrono::seconds(20)), 0) << device.Out() << device.Err();
    return device.Out();
}

} // namespace testsupport
