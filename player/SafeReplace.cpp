#include "SafeReplace.h"

#include "Owned.h"

#include <algorithm>
#include <atomic>
#include <string>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

using kestrava::FileHandle;

HANDLE createForWriting(const char *path, DWORD disposition) {
    return CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition,
                       FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Where the last part of a path starts: after its last separator, or after a drive's colon.
std::string::size_type nameStart(const std::string &path) {
    const std::string::size_type end = path.find_last_of("\\/:");
    return end == std::string::npos ? 0 : end + 1;
}

std::string base36(unsigned long value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36]);
        value /= 36;
    } while (value);
    return digits;
}

// A file created beside the target, deleted again unless it took the target's place. Its name
// is never longer than the target's, so a target within the path limit has a temporary within
// it too; a short name leaves few candidates, and when none can be made, file() is empty.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string &target) {
        static std::atomic<unsigned long> made{0};
        const std::string::size_type start = nameStart(target);
        const int room = MultiByteToWideChar(CP_ACP, 0, target.data() + start,
                                             static_cast<int>(target.size() - start), nullptr, 0);
        if (room <= 0) {
            return;
        }
        for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
            // The count first: it changes with every attempt, and cutting keeps it longest.
            std::string name = "~" + base36(++made) + base36(GetCurrentProcessId());
            name.resize(std::min(name.size(), static_cast<std::string::size_type>(room)));
            path_ = target.substr(0, start) + name;
            file_.reset(createForWriting(path_.c_str(), CREATE_NEW));
            if (!file_ && GetLastError() != ERROR_FILE_EXISTS) {
                break;
            }
        }
        if (!file_) {
            path_.clear();
        }
    }
    ~TemporaryFile() {
        file_.reset();
        if (!placed_ && !path_.empty()) {
            DeleteFileA(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    FileHandle &file() { return file_; }
    // Takes the target's place, replacing a file there; the move is on the disk when it returns.
    bool replace(const char *target) {
        placed_ = MoveFileExA(path_.c_str(), target,
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        return placed_;
    }

  private:
    std::string path_;
    FileHandle file_;
    bool placed_ = false;
};

// The final path of an open file or folder, links resolved; empty when the system cannot say.
std::wstring finalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()), 0);
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length + 1, L'\0');
    }
}

// ANSI text as the system's wide text.
std::wstring widen(const char *text, size_t size) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), &wide[0], length);
    }
    return wide;
}

bool samePath(const std::wstring &one, const std::wstring &other) {
    return CompareStringOrdinal(one.c_str(), -1, other.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// True when the open target's final path is not its folder's final path and its own name: it was
// reached through a symbolic link. Wine shows a Unix symbolic link as a plain file, with no
// reparse point, but resolves it here. False when a path cannot be had.
bool reachedThroughLink(HANDLE target, const std::string &path) {
    const std::wstring reached = finalPath(target);
    if (reached.empty()) {
        return false;
    }
    // Mostly the final path is the full path itself, and nothing more need be asked.
    const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size > 0) {
        std::string full(size, '\0');
        const DWORD length = GetFullPathNameA(path.c_str(), size, &full[0], nullptr);
        const std::wstring prefix = L"\\\\?\\";
        if (length > 0 && length < size && reached.compare(0, prefix.size(), prefix) == 0 &&
            samePath(reached.substr(prefix.size()), widen(full.data(), length))) {
            return false;
        }
    }
    // Otherwise the folder may have been reached through a link, or by another name (a short
    // name, a substituted drive), which does not matter: the file's own name does.
    const std::string::size_type start = nameStart(path);
    FileHandle folder(CreateFileA((path.substr(0, start) + ".").c_str(), FILE_READ_ATTRIBUTES,
                                  kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr));
    std::wstring expected = folder ? finalPath(folder.get()) : std::wstring();
    if (expected.empty()) {
        return false;
    }
    if (expected.back() != L'\\') {
        expected += L'\\';
    }
    return !samePath(expected + widen(path.data() + start, path.size() - start), reached);
}

enum class Target { Absent, File, Device, Link };

// What is at the path now. A device (such as NUL) has nothing to replace; a link (a symbolic
// link or other reparse point, or a file with more than one name) would be cut by a replacement.
Target inspect(const std::string &path) {
    FileHandle probe(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    const DWORD attributes = GetFileAttributesA(path.c_str()); // the link's own, not followed
    const bool reparse =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!probe) {
        return reparse ? Target::Link : Target::Absent; // a dangling link is still a link
    }
    if (GetFileType(probe.get()) != FILE_TYPE_DISK) {
        return Target::Device;
    }
    FILE_STANDARD_INFO information; // asks less than GetFileInformationByHandle, far faster
    if (reparse ||
        (GetFileInformationByHandleEx(probe.get(), FileStandardInfo, &information,
                                      sizeof information) &&
         information.NumberOfLinks > 1) ||
        reachedThroughLink(probe.get(), path)) {
        return Target::Link;
    }
    return Target::File;
}

// Writes every byte, then has them flushed and the handle closed. On failure, a short write
// included, `error` is the system's code.
bool writeWhole(FileHandle &file, const BYTE *bytes, DWORD size, bool flush, DWORD &error) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes, size, &written, nullptr)) {
            error = GetLastError();
            return false;
        }
        if (written == 0 || written > size) {
            error = ERROR_DISK_FULL; // accepted nothing more without saying why
            return false;
        }
        bytes += written;
        size -= written;
    }
    if ((flush && !FlushFileBuffers(file.get())) || !CloseHandle(file.release())) {
        error = GetLastError();
        return false;
    }
    return true;
}

// The target itself, created or truncated and written through; a failed write leaves what it
// wrote.
SafeReplaceResult writeInPlace(const char *path, const BYTE *bytes, DWORD size) {
    SafeReplaceResult result;
    FileHandle file(createForWriting(path, CREATE_ALWAYS));
    if (!file) {
        result.failure = SafeReplaceResult::NotOpened;
    } else if (!writeWhole(file, bytes, size, false, result.error)) {
        result.failure = SafeReplaceResult::NotWritten;
    }
    return result;
}

} // namespace

SafeReplaceResult safeReplace(const std::string &target, const BYTE *bytes, DWORD size) {
    const Target found = inspect(target);
    if (found == Target::Device || found == Target::Link) {
        return writeInPlace(target.c_str(), bytes, size);
    }
    TemporaryFile picture(target);
    if (!picture.file()) {
        return writeInPlace(target.c_str(), bytes, size);
    }
    SafeReplaceResult result;
    if (!writeWhole(picture.file(), bytes, size, true, result.error)) {
        result.failure = SafeReplaceResult::NotWritten;
    } else if (!picture.replace(target.c_str())) {
        result.failure = SafeReplaceResult::NotOpened;
    }
    return result;
}
