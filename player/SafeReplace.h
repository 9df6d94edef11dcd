// Writes a file's whole new content so that a failed write never destroys the old one: beside
// the target under a temporary name, flushed, then moved over it. Where that cannot be done (no
// new file may be made in the folder, or the target is a link that a replacement would cut), the
// target itself is written, as a plain write-through create does; so it is when the move is
// refused (a folder that grants Write but not Modify).
#ifndef KESTRAVA_PLAYER_SAFEREPLACE_H
#define KESTRAVA_PLAYER_SAFEREPLACE_H

#include <windows.h>

#include <string>

struct SafeReplaceResult {
    enum Failure { None, NotOpened, NotWritten };
    Failure failure = None;
    DWORD error = 0; // the system's code when NotWritten
};

// Replaces the file at `target` with exactly `size` bytes. May throw std::bad_alloc.
SafeReplaceResult safeReplace(const std::wstring &target, const BYTE *bytes, DWORD size);

#endif
