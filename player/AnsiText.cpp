#include "AnsiText.h"

bool toAnsi(const wchar_t *text, std::string &ansi) {
    ansi.clear();
    if (!text) {
        return true;
    }
    // Up to the first NUL, so a plain wide string passed where a BSTR belongs still works.
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return false;
    }
    ansi.resize(static_cast<size_t>(size));
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], size, nullptr, nullptr) != size) {
        ansi.clear();
        return false;
    }
    ansi.resize(static_cast<size_t>(size - 1)); // drop the converted NUL
    return true;
}
