#ifndef KESTRAVA_PLAYER_ANSITEXT_H
#define KESTRAVA_PLAYER_ANSITEXT_H

#include <windows.h>

#include <string>

// The wide text in the system's ANSI code page; a null text gives "". Returns false when
// Windows cannot convert it. May throw std::bad_alloc.
bool toAnsi(const wchar_t *text, std::string &ansi);

// True when the text converts to the ANSI code page and back unchanged; a null text does.
bool holdsInAnsi(const wchar_t *text);

// A path the code page cannot hold, spelt with the file system's short (8.3) names so that it
// converts exactly. With `lastPartMayBeNew`, only the folder is shortened (the file may not
// exist yet) and the last part must convert as it stands. False when there is no such spelling:
// no short name (the path, or its folder, does not exist; short names are off on the volume), or
// one that still does not convert. May throw std::bad_alloc.
bool shortAnsiPath(const wchar_t *path, bool lastPartMayBeNew, std::string &ansi);

#endif
