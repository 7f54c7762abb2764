#include "Windows/TestHooks.h"

#include "MidiUpdateLib/OS.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <string>

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

} // namespace

void StartTestHooks(HWND window) {
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
