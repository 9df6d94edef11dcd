#include "SafeReplace.h"

#include "Owned.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

using kestrava::FileHandle;

HANDLE createForWriting(const std::wstring &path, DWORD disposition, DWORD access) {
    return CreateFileW(path.c_str(), access, 0, nullptr, disposition,
                       FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Where the last part of a path starts: after its last separator, or after a drive's colon.
std::wstring::size_type nameStart(const std::wstring &path) {
    const std::wstring::size_type end = path.find_last_of(L"\\/:");
    return end == std::wstring::npos ? 0 : end + 1;
}

std::wstring base36(unsigned long value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), L"0123456789abcdefghijklmnopqrstuvwxyz"[value % 36]);
        value /= 36;
    } while (value);
    return digits;
}

// A file created beside the target, removed again unless it took the target's place. Its name
// is never longer than the target's, so a target within the path limit has a temporary within
// it too; a short name leaves few candidates, and when none can be made, file() is empty. It is
// moved and removed through its own handle, opened with DELETE: a folder that lets files be made
// but not deleted (Write without Modify) refuses a removal by name.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::wstring &target) {
        static std::atomic<unsigned long> made{0};
        const std::wstring::size_type start = nameStart(target);
        const std::wstring::size_type room = target.size() - start;
        for (int attempt = 0; room > 0 && attempt < 16 && !file_; ++attempt) {
            // The count first: it changes with every attempt, and cutting keeps it longest.
            std::wstring name = L"~" + base36(++made) + base36(GetCurrentProcessId());
            name.resize(std::min(name.size(), room));
            file_.reset(createForWriting(target.substr(0, start) + name, CREATE_NEW,
                                         GENERIC_WRITE | DELETE));
            if (!file_ && GetLastError() != ERROR_FILE_EXISTS) {
                break;
            }
        }
    }
    ~TemporaryFile() {
        if (file_ && !placed_) {
            // Emptied first: where even the handle may not remove it, nothing of it stays.
            FILE_END_OF_FILE_INFO empty{};
            SetFileInformationByHandle(file_.get(), FileEndOfFileInfo, &empty, sizeof empty);
            FILE_DISPOSITION_INFO remove{TRUE};
            SetFileInformationByHandle(file_.get(), FileDispositionInfo, &remove, sizeof remove);
        }
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    FileHandle &file() { return file_; }
    // Takes the target's place, replacing a file there, then closes; the move is on the disk
    // when it returns. On failure the file stays open, to be removed.
    bool replace(const std::wstring &target, DWORD &error) {
        const size_t nameBytes = target.size() * sizeof(wchar_t);
        std::vector<BYTE> block(sizeof(FILE_RENAME_INFO) + nameBytes);
        auto *rename = reinterpret_cast<FILE_RENAME_INFO *>(block.data());
        rename->ReplaceIfExists = TRUE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(nameBytes);
        std::copy(target.begin(), target.end(), rename->FileName);
        if (!SetFileInformationByHandle(file_.get(), FileRenameInfo, rename,
                                        static_cast<DWORD>(block.size()))) {
            return false;
        }
        placed_ = true;
        if (!FlushFileBuffers(file_.get()) || !CloseHandle(file_.release())) {
            error = GetLastError();
        }
        return true;
    }

  private:
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

bool samePath(const std::wstring &one, const std::wstring &other) {
    return CompareStringOrdinal(one.c_str(), -1, other.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// True when the open target's final path is not its folder's final path and its own name: it was
// reached through a symbolic link. Wine shows a Unix symbolic link as a plain file, with no
// reparse point, but resolves it here. False when a path cannot be had.
bool reachedThroughLink(HANDLE target, const std::wstring &path) {
    const std::wstring reached = finalPath(target);
    if (reached.empty()) {
        return false;
    }
    // Mostly the final path is the full path itself, and nothing more need be asked.
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size > 0) {
        std::wstring full(size, L'\0');
        const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
        const std::wstring prefix = L"\\\\?\\";
        full.resize(length < size ? length : 0);
        if (!full.empty() && reached.compare(0, prefix.size(), prefix) == 0 &&
            samePath(reached.substr(prefix.size()), full)) {
            return false;
        }
    }
    // Otherwise the folder may have been reached through a link, or by another name (a short
    // name, a substituted drive), which does not matter: the file's own name does.
    const std::wstring::size_type start = nameStart(path);
    FileHandle folder(CreateFileW((path.substr(0, start) + L".").c_str(), FILE_READ_ATTRIBUTES,
                                  kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                  nullptr));
    std::wstring expected = folder ? finalPath(folder.get()) : std::wstring();
    if (expected.empty()) {
        return false;
    }
    if (expected.back() != L'\\') {
        expected += L'\\';
    }
    return !samePath(expected + path.substr(start), reached);
}

enum class Target { Absent, File, Device, Link };

// What is at the path now. A device (such as NUL) has nothing to replace; a link (a symbolic
// link or other reparse point, or a file with more than one name) would be cut by a replacement.
Target inspect(const std::wstring &path) {
    FileHandle probe(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
    const DWORD attributes = GetFileAttributesW(path.c_str()); // the link's own, not followed
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

// Writes every byte. On failure, a short write included, `error` is the system's code.
bool writeAll(HANDLE file, const BYTE *bytes, DWORD size, DWORD &error) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file, bytes, size, &written, nullptr)) {
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
    return true;
}

// The target itself, created or truncated and written through; a failed write leaves what it
// wrote.
SafeReplaceResult writeInPlace(const std::wstring &path, const BYTE *bytes, DWORD size) {
    SafeReplaceResult result;
    FileHandle file(createForWriting(path, CREATE_ALWAYS, GENERIC_WRITE));
    if (!file) {
        result.failure = SafeReplaceResult::NotOpened;
    } else if (!writeAll(file.get(), bytes, size, result.error) || !CloseHandle(file.release())) {
        if (!result.error) {
            result.error = GetLastError();
        }
        result.failure = SafeReplaceResult::NotWritten;
    }
    return result;
}

} // namespace

SafeReplaceResult safeReplace(const std::wstring &target, const BYTE *bytes, DWORD size) {
    const Target found = inspect(target);
    if (found == Target::Device || found == Target::Link) {
        return writeInPlace(target, bytes, size);
    }
    TemporaryFile picture(target);
    if (!picture.file()) {
        return writeInPlace(target, bytes, size);
    }
    SafeReplaceResult result;
    if (!writeAll(picture.file().get(), bytes, size, result.error) ||
        !FlushFileBuffers(picture.file().get())) {
        if (!result.error) {
            result.error = GetLastError();
        }
        result.failure = SafeReplaceResult::NotWritten;
    } else if (!picture.replace(target, result.error)) {
        // The folder lets files be made and written but not renamed (no DELETE), or the target
        // is held open without sharing: written in place, as where no new file may be made.
        return writeInPlace(target, bytes, size);
    } else if (result.error) {
        result.failure = SafeReplaceResult::NotWritten;
    }
    return result;
}
