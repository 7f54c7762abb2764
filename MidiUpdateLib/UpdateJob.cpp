#include "MidiUpdateLib/UpdateJob.h"

#include "MidiUpdateLib/Error.h"
#include "MidiUpdateLib/PlatformForm.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

// Every object of the job lives in this function's frame, so all of them, the port
// above all (its destructor closes the device), are gone before a failure is reported.
void LoadAndSend(const std::string& path, UpdateJobHost& host) {
    host.Log(midiupdate::JobStartLog(path));
    host.JobStarted();
    const std::string loading = midiupdate::JobLoadingStatus();
    if (!loading.empty())
        host.ProgressSink().Status(loading);

    std::ifstream stream;
    OpenUpdateFile(stream, path);
    Update update(stream);
    for (const std::string& line : midiupdate::JobSummaryLog(update))
        host.Log(line);

    host.ShowProduct(update.productName, update.version);
    if (!update.message.empty())
        host.ConfirmMessage(update.message);
    if (!update.image.empty())
        host.ShowImage(update.image);
    host.TransferStarting();

    std::unique_ptr<MidiPort> port = host.CreatePort(update);
    if (!port)
        throw std::runtime_error("No MIDI port could be made for the update.");
    SimpleSysExSender sender(*port);
    sender.onUndelivered = [&host](unsigned int portion, unsigned long long bytes) {
        host.PortionUndelivered(portion, bytes);
    };
    const TransferVerdict verdict = sender.Send(update, host.ProgressSink());
    host.TransferEnded(verdict);
    // Leaving the frame destroys sender, port, update and stream, in that order.
}

} // namespace

void OpenUpdateFile(std::ifstream& stream, const std::string& path) {
    errno = 0;
    stream.open(path, std::ios::in | std::ios::binary);
    if (stream.is_open())
        return;
    // Read as empty, a missing or unreadable file would be called a bad one.
    const int reason = errno;
    throw ParseError("cannot open " + path + " (" +
                     (reason != 0 ? std::strerror(reason) : "reason unknown") + ")");
}

void RunUpdateJob(const std::string& path, UpdateJobHost& host) {
    bool succeeded = false;
    JobFailure kind = JobFailure::Unknown;
    std::string reason;
    try {
        LoadAndSend(path, host);
        succeeded = true;
    } catch (const ParseError& error) {
        kind = JobFailure::ParseError;
        try {
            reason = error.what();
        } catch (...) {
        }
    } catch (const std::exception& error) {
        kind = JobFailure::StdException;
        try {
            reason = error.what();
        } catch (...) {
        }
    } catch (...) {
        kind = JobFailure::Unknown;
    }

    // The application must return to idle whatever its own reports do.
    if (!succeeded) {
        try {
            const std::string line = midiupdate::JobFailureLog(kind, reason);
            if (!line.empty())
                host.Log(line);
        } catch (...) {
        }
        try {
            host.ReportFailure(kind, reason);
        } catch (...) {
        }
    }
    try {
        host.JobFinished(succeeded);
    } catch (...) {
    }
}
