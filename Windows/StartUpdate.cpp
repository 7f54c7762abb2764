#include "Windows/StartUpdate.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/Update.h"
#include "MidiUpdateLib/UpdateJob.h"
#include "Windows/AppState.h"
#include "Windows/HeaderImage.h"
#include "Windows/MainWindow.h"
#include "Windows/MessageBoxes.h"
#include "Windows/ProgressDisplay.h"
#include "Windows/WindowsJobHost.h"
#include "Windows/WindowsUpdateProgress.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// What the worker is given; the worker owns it from the moment it runs.
struct StartRequest {
    std::string path;
    HWND window;                      // where its reports go
    std::atomic<bool>& indeterminate; // the display's animation flag
};

void LogToStandardOutput(const char* line) {
    std::fputs(line, stdout);
    std::fflush(stdout);
}

// Starts the worker for `path`; false when no thread could be made.
bool StartWorker(const char* path) {
    StartRequest* request = new StartRequest{path, app.mainWindow, IndeterminateFlag()};
    app.busy = true;
    LogToStandardOutput("Creating worker thread!\n");
    HANDLE thread = CreateThread(nullptr, 0, UpdateWorkerThread, request, 0, nullptr);
    if (!thread) {
        LogToStandardOutput("CreateThread failed!\n");
        delete request;
        app.busy = false;
        return false;
    }
    // Nothing waits for the worker: its end is the "done" message.
    CloseHandle(thread);
    return true;
}

void LoadAndStart(HWND owner, const char* path) {
    std::ifstream stream;
    OpenUpdateFile(stream, path);
    Update update(stream);
    if (!update.message.empty()) {
        const std::string text = update.message + "\nClick OK to start.";
        // The update goes on whatever the answer: the box only informs.
        ShowMessageBox(owner, text.c_str(), "Important message about update", MB_ICONINFORMATION);
    }
    if (StartWorker(path))
        SetBusyLayout(1);
}

} // namespace

void StartUpdate(HWND owner, const char* path) {
    if (app.busy || app.starting)
        return;
    app.starting = true;
    JobFailure kind = JobFailure::Unknown;
    std::string reason;
    bool failed = true;
    try {
        LoadAndStart(owner, path);
        failed = false;
    } catch (const ParseError& error) {
        kind = JobFailure::ParseError;
        reason = error.what();
    } catch (const std::exception& error) {
        kind = JobFailure::StdException;
        reason = error.what();
    } catch (...) {
    }
    app.starting = false;
    if (failed) {
        Trace("%s", midiupdate::JobFailureLog(kind, reason).c_str());
        MainWindowPost window(app.mainWindow);
        PostFailure(window, kind, reason);
    }
}

void RefusePathTooLong() {
    MainWindowPost window(app.mainWindow);
    PostFailure(window, JobFailure::StdException,
                "The file's path is longer than " + std::to_string(maxPathCharacters) +
                    " characters.");
}

bool PathFits(const std::string& path) {
    if (path.size() >= sizeof app.path)
        return false;
    // Windows counts a path's characters in UTF-16.
    const int characters =
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    return static_cast<std::size_t>(characters) <= maxPathCharacters;
}

bool KeepPathToOpen(const std::string& path) {
    if (!PathFits(path)) {
        RefusePathTooLong();
        return false;
    }
    std::memcpy(app.path, path.c_str(), path.size() + 1);
    return true;
}

DWORD WINAPI UpdateWorkerThread(LPVOID parameter) {
    std::unique_ptr<StartRequest> request(static_cast<StartRequest*>(parameter));
    MainWindowPost window(request->window);
    WindowsUpdateProgress progress(window, request->indeterminate);
    WindowsJobHost host(window, progress, MakeUpdatePort, HeaderImageFromBytes);
    RunUpdateJob(request->path, host);
    return 1;
}
