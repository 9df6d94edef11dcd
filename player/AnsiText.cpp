#include "AnsiText.h"

#include <cwchar>

namespace {

bool convert(const wchar_t *text, std::string &ansi, DWORD flags, const char *missing) {
    ansi.clear();
    if (!text) {
        return true;
    }
    // Up to the first NUL, so a plain wide string passed where a BSTR belongs still works.
    const int size = WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, missing, nullptr);
    if (size <= 0) {
        return false;
    }
    ansi.resize(static_cast<size_t>(size));
    if (WideCharToMultiByte(CP_ACP, flags, text, -1, &ansi[0], size, missing, nullptr) != size) {
        ansi.clear();
        return false;
    }
    ansi.resize(static_cast<size_t>(size - 1)); // drop the converted NUL
    return true;
}

} // namespace

bool toAnsi(const wchar_t *text, std::string &ansi) {
    return convert(text, ansi, 0, nullptr);
}

bool toAnsiWithoutLookAlikes(const wchar_t *text, std::string &ansi) {
    // A code page that takes no such flag (UTF-8) holds every name exactly.
    return convert(text, ansi, WC_NO_BEST_FIT_CHARS, "?") || toAnsi(text, ansi);
}

namespace {

bool roundTrips(const wchar_t *text, const std::string &ansi) {
    const int size = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    if (size <= 0) {
        return false;
    }
    std::wstring back(static_cast<size_t>(size), L'\0');
    return MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &back[0], size) == size &&
           std::wcscmp(back.c_str(), text) == 0;
}

// Converts only what comes back unchanged.
bool toExactAnsi(const wchar_t *text, std::string &ansi) {
    return toAnsi(text, ansi) && roundTrips(text, ansi);
}

bool shortName(const std::wstring &path, std::wstring &shortened) {
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) {
        return false;
    }
    shortened.assign(size, L'\0');
    const DWORD length = GetShortPathNameW(path.c_str(), &shortened[0], size);
    if (length == 0 || length >= size) {
        return false;
    }
    shortened.resize(length);
    return true;
}

} // namespace

bool holdsInAnsi(const wchar_t *text) {
    std::string ansi;
    return !text || toExactAnsi(text, ansi);
}

bool shortAnsiPath(const wchar_t *path, std::string &ansi) {
    ansi.clear();
    std::wstring shortened;
    return path && shortName(path, shortened) && toExactAnsi(shortened.c_str(), ansi);
}
