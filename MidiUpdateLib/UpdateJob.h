#pragma once

// One chosen file turned into one transfer, reporting through the application.

#include "MidiUpdateLib/MidiPort.h"
#include "MidiUpdateLib/Progress.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/Update.h"
#include "MidiUpdateLib/Version.h"

#include <fstream>
#include <memory>
#include <string>
#include <vector>

enum class JobFailure { ParseError, StdException, Unknown };

class UpdateJobHost {
public:
    virtual ~UpdateJobHost() = default;
    virtual void JobStarted() = 0;
    virtual UpdateProgress& ProgressSink() = 0;
    virtual void ShowProduct(const std::string& productName, const Version& version) = 0;
    virtual void ConfirmMessage(const std::string& message) = 0;
    virtual void ShowImage(const std::vector<unsigned char>& image) = 0;
    virtual void TransferStarting() = 0;
    virtual std::unique_ptr<MidiPort> CreatePort(const Update& update) = 0;
    // reason: what(), empty for an unknown exception; midiupdate::JobFailureText
    // (PlatformForm.h) gives the program's text for it. The job has logged it already.
    virtual void ReportFailure(JobFailure kind, const std::string& reason) = 0;
    virtual void JobFinished(bool succeeded) = 0;
    virtual void Log(const std::string& line) = 0;
    // What the sender decided, after Send returns; nothing the user sees depends on it.
    virtual void TransferEnded(TransferVerdict /*verdict*/) {}
    // Before the verdict, for each portion some bytes of which did not reach the device.
    virtual void PortionUndelivered(unsigned int /*portion*/, unsigned long long /*bytes*/) {}
};

// Opens the update file for reading in binary mode. One that cannot be opened throws
// ParseError "cannot open PATH (the system's reason)", as the console says it.
void OpenUpdateFile(std::ifstream& stream, const std::string& path);

// Runs one job to its end on the calling thread. Never lets an exception escape: a
// failure destroys what the job made (the port first closes the device), then goes to
// ReportFailure; JobFinished is the last call on every way out. The Mac application's
// thread owns the autorelease pool, so it logs "Update thread releasing pool..." and
// "Update thread done" around releasing it, after this returns.
void RunUpdateJob(const std::string& path, UpdateJobHost& host);
