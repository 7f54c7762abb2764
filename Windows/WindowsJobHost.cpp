#include "Windows/WindowsJobHost.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"

#include <cstdio>

WindowsJobHost::WindowsJobHost(WindowPost& window, UpdateProgress& progress, PortMaker makePort,
                               ImageDecoder decodeImage)
    : window(window), progress(progress), makePort(std::move(makePort)),
      decodeImage(std::move(decodeImage)) {}

void WindowsJobHost::ShowProduct(const std::string& productName, const Version& version) {
    PostText(window, WM_UPDATE_PRODUCT, 1,
             Format(" Product: '%s' \tFirmware version: %u.%02u", productName.c_str(),
                    static_cast<unsigned>(version.major), static_cast<unsigned>(version.minor)));
}

void WindowsJobHost::ShowImage(const std::vector<unsigned char>& image) {
    // The window thread swaps the bitmap in, so it never paints a half-made one.
    HBITMAP bitmap = decodeImage(image);
    if (bitmap && !window.Post(WM_UPDATE_IMAGE, 0, reinterpret_cast<LPARAM>(bitmap)))
        DeleteObject(bitmap);
}

void WindowsJobHost::TransferStarting() {
    std::fputs("Using Window MM library ********************************************\n", stdout);
    std::fflush(stdout);
}

std::unique_ptr<MidiPort> WindowsJobHost::CreatePort(const Update& update) {
    return makePort(update);
}

void WindowsJobHost::ReportFailure(JobFailure kind, const std::string& reason) {
    PostFailure(window, kind, reason);
    doneReported = true;
}

void WindowsJobHost::JobFinished(bool succeeded) {
    if (!doneReported)
        window.Post(WM_UPDATE_DONE, 1, succeeded ? 1 : 0);
    doneReported = true;
}

void WindowsJobHost::Log(const std::string& line) {
    Trace("%s", line.c_str());
}

void PostFailure(WindowPost& window, JobFailure kind, const std::string& reason) {
    PostText(window, WM_UPDATE_ERROR, keepProgressBar, midiupdate::JobFailureText(kind, reason));
    window.Post(WM_UPDATE_DONE, 0, 0);
}
