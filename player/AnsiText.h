// Host paths arrive as wide BSTRs, but the engine takes ANSI names: these convert them
// exactly, or say that they cannot, so that a name is never swapped for a look-alike.
#ifndef KESTRAVA_PLAYER_ANSITEXT_H
#define KESTRAVA_PLAYER_ANSITEXT_H

#include <windows.h>

#include <string>

// The wide text in the system's ANSI code page; a null text gives "". Returns false when
// Windows cannot convert it. May throw std::bad_alloc.
bool toAnsi(const wchar_t *text, std::string &ansi);

// As toAnsi, but with `?` for every character the code page lacks, never a look-alike from
// Windows' best-fit table (ź as z): a name that cannot be held exactly is then a name no file
// can have, and never another file's.
bool toAnsiWithoutLookAlikes(const wchar_t *text, std::string &ansi);

// True when the text converts to the ANSI code page and back unchanged; a null text does.
bool holdsInAnsi(const wchar_t *text);

// An existing path the code page cannot hold, spelt with the file system's short (8.3) names so
// that it converts exactly. False when there is no such spelling: the path does not exist, short
// names are off on the volume, or one that still does not convert. May throw std::bad_alloc.
bool shortAnsiPath(const wchar_t *path, std::string &ansi);

#endif
