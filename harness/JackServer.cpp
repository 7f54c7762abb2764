#include "harness/JackServer.h"

#include "Linux/JackConnection.h"

#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

// Only what JACK clients need: the native protocol, client nodes, links, and a dummy
// driver that runs the graph with no sound hardware; one fixed period, as jackd has.
std::string PipeWireConfig(const std::string& name, unsigned int periodFrames) {
    std::string config = R"(context.properties = {
    core.daemon = true
    core.name = @NAME@
    link.max-buffers = 16
    default.clock.rate = 48000
    default.clock.quantum = @PERIOD@
    default.clock.min-quantum = @PERIOD@
    default.clock.max-quantum = @PERIOD@
}
context.spa-libs = { support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = metadata args = { metadata.name = default } }
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver
               node.group = pipewire.dummy priority.driver = 20000 } }
]
)";
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"@NAME@", name},
                                     {"@PERIOD@", std::to_string(periodFrames)}})
        for (std::size_t at; (at = config.find(key)) != std::string::npos;)
            config.replace(at, key.size(), value);
    return config;
}

} // namespace

JackServer::JackServer(unsigned int periodFrames) : pipeWire(midiupdate::OnPipeWire()) {
    // PipeWire does not wait for a late client as jackd does (--timeout below): a client
    // that the loaded machine ran late lost its cycles' events, at 256 frames often, at
    // 1024 (a desktop's usual period) now and then; the tests at 2048 (43 ms) passed
    // beside two busy loops, and carry 1 MiB in under two seconds even so.
    if (periodFrames == 0)
        periodFrames = pipeWire ? 2048 : 256;
    period = periodFrames;
    name = "midi-updater-test-" + std::to_string(getpid());
    logPath = "/tmp/" + name + ".log";
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    if (pipeWire) {
        runtimeDir = "/tmp/" + name + ".pipewire";
        std::error_code error;
        std::filesystem::remove_all(runtimeDir, error);
        std::filesystem::create_directory(runtimeDir, error);
        std::filesystem::permissions(runtimeDir, std::filesystem::perms::owner_all, error);
        configPath = runtimeDir + "/pipewire.conf";
        std::ofstream(configPath) << PipeWireConfig(name, periodFrames);
        setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        setenv("PIPEWIRE_REMOTE", name.c_str(), 1);
    }
    Start();
}

bool JackServer::Start() {
    if (pid > 0)
        return ready;
    ready = false;
    const std::string period = std::to_string(this->period);
    // The dummy driver sleeps this long between cycles whatever the period: a period's time.
    const std::string wait = std::to_string(this->period * 1000000ull / 48000);
    // Servers that start at the same moment now and then leave a client of one unable to
    // attach its shared memory (status 0x21), so tests start theirs one at a time.
    const int startLock =
        open("/tmp/midi-updater-test-jackd.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (startLock >= 0)
        flock(startLock, LOCK_EX);
    pid = fork();
    if (pid == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        if (!configPath.empty())
            execlp("pipewire", "pipewire", "-c", configPath.c_str(), static_cast<char*>(nullptr));
        // Not real-time: the machine is shared, and the dummy driver needs no deadlines.
        // A client that misses cycles under load is not thrown out for five seconds.
        execlp("jackd", "jackd", "--no-realtime", "--name", name.c_str(), "--timeout", "5000", "-d",
               "dummy", "--rate", "48000", "--period", period.c_str(), "--wait", wait.c_str(),
               "--capture", "0", "--playback", "0", static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid > 0 && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            break;
        }
        jack_status_t jackStatus{};
        jack_client_t* probe = jack_client_open(
            "probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &jackStatus,
            name.c_str());
        if (probe) {
            jack_client_close(probe);
            ready = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (startLock >= 0)
        close(startLock);
    return ready;
}

JackServer::~JackServer() {
    Stop();
    std::remove(logPath.c_str());
    if (!runtimeDir.empty()) {
        std::error_code error;
        std::filesystem::remove_all(runtimeDir, error);
    }
}

void JackServer::Stop() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Clients that outlived the server (tests that stop it) leave their semaphores. The
    // server's files carry its name then '_': another test's server, whose process id
    // begins with ours, keeps its own.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error))
        if (entry.path().filename().string().find(name + "_") != std::string::npos)
            std::filesystem::remove(entry.path(), error);
}

std::string JackServer::Log() const {
    std::ifstream file(logPath);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace testsupport
