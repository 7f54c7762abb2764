#include "Windows/TestHooks.h"

#include "MidiUpdateLib/OS.h"
#include "Windows/AppState.h"
#include "Windows/MessageBoxes.h"
#include "Windows/Resources.h"
#include "Windows/StartUpdate.h"
#include "Windows/WindowMessages.h"

#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring Environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return std::wstring();
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, &value[0], size));
    return value;
}

// A drop of `path` as the shell makes one: a DROPFILES block with wide names, each ended
// by a zero and the list by another, in movable memory the drop handler frees.
HDROP MakeDrop(const std::wstring& path) {
    const SIZE_T size = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block)
        return nullptr;
    auto* files = static_cast<DROPFILES*>(GlobalLock(block));
    files->pFiles = sizeof(DROPFILES);
    files->pt = POINT{10, 10};
    files->fNC = FALSE;
    files->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), path.c_str(),
                path.size() * sizeof(wchar_t));
    GlobalUnlock(block);
    return static_cast<HDROP>(block);
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &bytes[0], length, nullptr, nullptr);
    return bytes;
}

// The repeated offer: paths offered one after the other, each once the window is idle
// again, every box answered with its default button, and what the process holds logged
// after each.
struct Soak {
    std::vector<std::string> paths;
    int offers = 0;
    int offered = 0;
    int done = 0; // WM_UPDATE_DONE messages taken: one per offer
    HHOOK messageHook = nullptr;
};
Soak soak;

LRESULT CALLBACK CountDoneFn(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_UPDATE_DONE)
        ++soak.done;
    return CallNextHookEx(soak.messageHook, code, wParam, lParam);
}

BOOL CALLBACK AnswerBoxFn(HWND window, LPARAM) {
    char className[16] = {};
    if (IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
        std::strcmp(className, "#32770") == 0)
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void LogHoldings(int offer) {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    // Wine 8 reports no GUI objects, no handle count and no PrivateUsage (all 0); the
    // pagefile usage is the private commit on Windows and under Wine alike.
    Trace("Soak: after %d: %lu GDI objects, %lu USER objects, %lu handles, %lu KB private, %lu "
          "KB working set\n",
          offer, static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)),
          static_cast<unsigned long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)),
          static_cast<unsigned long>(handles),
          static_cast<unsigned long>(memory.PagefileUsage / 1024),
          static_cast<unsigned long>(memory.WorkingSetSize / 1024));
}

void CALLBACK SoakTimerFn(HWND window, UINT, UINT_PTR timer, DWORD) {
    // Runs in the boxes' own message loops too, so it answers them.
    EnumThreadWindows(GetCurrentThreadId(), AnswerBoxFn, 0);
    if (app.busy || app.starting || ModalUiOpen() || soak.done < soak.offered)
        return;
    LogHoldings(soak.offered);
    if (soak.offered == soak.offers) {
        KillTimer(window, timer);
        UnhookWindowsHookEx(soak.messageHook);
        Trace("Soak: done\n");
        PostMessageA(window, WM_CLOSE, 0, 0);
        return;
    }
    const std::string& path =
        soak.paths[static_cast<std::size_t>(soak.offered) % soak.paths.size()];
    ++soak.offered;
    if (KeepPathToOpen(path))
        PostMessageA(window, WM_COMMAND, IDM_OPEN, 1);
}

void StartSoak(HWND window) {
    // MIDI_UPDATER_TEST_OFFERS: "COUNT|PATH|PATH...", the paths offered in turn COUNT
    // times in all; the program closes after the last.
    const std::string words = Utf8(Environment(L"MIDI_UPDATER_TEST_OFFERS"));
    std::size_t bar = words.find('|');
    if (bar == std::string::npos)
        return;
    soak.offers = std::atoi(words.substr(0, bar).c_str());
    while (bar != std::string::npos) {
        const std::size_t next = words.find('|', bar + 1);
        soak.paths.push_back(
            words.substr(bar + 1, next == std::string::npos ? next : next - bar - 1));
        bar = next;
    }
    soak.messageHook = SetWindowsHookExA(WH_GETMESSAGE, CountDoneFn, nullptr, GetCurrentThreadId());
    SetTimer(window, 0x50AC, 100, SoakTimerFn);
}

} // namespace

void StartTestHooks(HWND window) {
    StartSoak(window);
    // MIDI_UPDATER_TEST_DROP: a path dropped on the window once it is up, through the
    // window's own drop handler.
    const std::wstring dropped = Environment(L"MIDI_UPDATER_TEST_DROP");
    if (!dropped.empty()) {
        if (HDROP drop = MakeDrop(dropped)) {
            Trace("Test: dropping a file\n");
            if (!PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0))
                GlobalFree(drop);
        }
    }
}
