#ifndef KESTRAVA_PLAYER_ANSITEXT_H
#define KESTRAVA_PLAYER_ANSITEXT_H

#include <windows.h>

#include <string>

// The wide text in the system's ANSI code page; a null text gives "". Returns false when
// Windows cannot convert it. May throw std::bad_alloc.
bool toAnsi(const wchar_t *text, std::string &ansi);

#endif
