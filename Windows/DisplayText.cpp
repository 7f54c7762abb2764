#include "Windows/DisplayText.h"

namespace {

std::wstring Widen(const std::string& bytes, UINT codePage) {
    if (bytes.empty())
        return std::wstring();
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), size, &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring& wide, UINT codePage) {
    if (wide.empty())
        return std::string();
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, &bytes[0], length, nullptr, nullptr);
    return bytes;
}

// The locale's ANSI code page, which the manifest's UTF-8 does not change: what a
// Western Windows wrote its files in.
UINT LegacyCodePage() {
    DWORD codePage = 0;
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(WCHAR)) &&
        codePage != 0 && codePage != CP_UTF8)
        return codePage;
    return 1252;
}

} // namespace

bool IsUtf8(const std::string& bytes) {
    return bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

std::string DisplayTextIn(const std::string& bytes, UINT legacy, UINT target,
                          std::size_t bufferSize) {
    std::wstring wide = Widen(bytes, IsUtf8(bytes) ? CP_UTF8 : legacy);
    // Every character takes a byte at least.
    if (bufferSize != 0 && wide.size() >= bufferSize)
        wide.erase(bufferSize - 1);
    std::string text = Narrow(wide, target);
    // Cut whole characters (a surrogate pair is one) until it fits with its terminator.
    while (bufferSize != 0 && text.size() >= bufferSize && !wide.empty()) {
        std::size_t cut = wide.size() - 1;
        if (cut > 0 && wide[cut] >= 0xDC00 && wide[cut] <= 0xDFFF)
            --cut;
        wide.erase(cut);
        text = Narrow(wide, target);
    }
    return text;
}

std::string DisplayText(const std::string& bytes, std::size_t bufferSize) {
    // GetACP: UTF-8 where the manifest is honoured (Windows 10 1903 and later, Wine 8),
    // the legacy code page on older systems, which then show what they can.
    return DisplayTextIn(bytes, LegacyCodePage(), GetACP(), bufferSize);
}
