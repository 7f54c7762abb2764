#include "tests/JackServer.h"

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

JackServer::JackServer(unsigned int periodFrames) {
    name = "midi-updater-test-" + std::to_string(getpid());
    logPath = "/tmp/" + name + ".log";
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    const std::string period = std::to_string(periodFrames);
    // The dummy driver sleeps this long between cycles whatever the period: a period's time.
    const std::string wait = std::to_string(periodFrames * 1000000ull / 48000);
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
}

JackServer::~JackServer() {
    Stop();
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
    std::remove(logPath.c_str());
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
