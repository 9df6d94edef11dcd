// ICapture: the current picture as a JPEG or BMP file, exactly the SDK's bytes. The file is
// written beside the target under a temporary name and replaces the target only once every
// byte is on the disk, so a failed snapshot never destroys the previous one.
#include "KestravaCOM.h"

#include "AnsiText.h"
#include "ComBoundary.h"
#include "LogStatement.h"
#include "SdkWrappers.h"

#include <atomic>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr int kJpeg = 1;
constexpr int kBmp = 2;

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    HANDLE get() const { return handle_; }
    void reset(HANDLE handle) {
        close();
        handle_ = handle;
    }
    bool close() {
        const bool closed = handle_ == INVALID_HANDLE_VALUE || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

  private:
    HANDLE handle_;
};

// A file created beside the target, deleted again unless it took the target's place.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string &target) {
        static std::atomic<unsigned> made{0};
        const std::string::size_type end = target.find_last_of("\\/:");
        const std::string folder = end == std::string::npos ? "" : target.substr(0, end + 1);
        for (int attempt = 0; attempt < 16 && file_.get() == INVALID_HANDLE_VALUE; ++attempt) {
            path_ = folder + "~kestrava-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(++made) + ".tmp";
            file_.reset(CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file_.get() == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
                break;
            }
        }
    }
    ~TemporaryFile() {
        file_.close();
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
    FileHandle file_{INVALID_HANDLE_VALUE};
    bool placed_ = false;
};

// A target that exists but is no disk file (a device such as NUL) has nothing to replace: it
// is written in place.
bool isDevice(const char *path) {
    FileHandle probe(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    return probe.get() != INVALID_HANDLE_VALUE && GetFileType(probe.get()) != FILE_TYPE_DISK;
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
    if ((flush && !FlushFileBuffers(file.get())) || !file.close()) {
        error = GetLastError();
        return false;
    }
    return true;
}

// One SDK capture of the given type.
int fetchPicture(int type, LONG port, BYTE *buffer, DWORD capacity, DWORD *size) noexcept {
    return type == kJpeg ? SdkGetJPEG(port, buffer, capacity, size)
                         : SdkGetBMP(port, buffer, capacity, size);
}

} // namespace

HRESULT KestravaCOM::GetPicture(int nType, BSTR strSavePath) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (!strSavePath) {
            return S_FALSE; // no path: ask the SDK for nothing and create nothing
        }
        std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kPictureCapacity]);
        if (!buffer) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "New picture memory ERROR!");
            return S_FALSE;
        }
        std::string path;
        if (!toAnsi(strSavePath, path)) {
            return S_FALSE;
        }
        return savePicture(nType, path.c_str(), buffer.get(), kPictureCapacity) ? S_OK : S_FALSE;
    });
}

bool KestravaCOM::savePicture(int type, const char *path, BYTE *buffer, DWORD capacity) noexcept {
    if (type != kJpeg && type != kBmp) {
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Unsupport capture type: ", type, " file: ", path);
        return false;
    }
    DWORD pictureSize = 0;
    int captured = fetchPicture(type, port, buffer, capacity, &pictureSize);
    std::unique_ptr<BYTE[]> fitting; // for a picture that the first buffer cannot hold
    if (captured != 0 && pictureSize > capacity) {
        fitting.reset(new (std::nothrow) BYTE[pictureSize]);
        if (!fitting) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "New picture memory ERROR!");
            return false;
        }
        buffer = fitting.get();
        capacity = pictureSize;
        pictureSize = 0;
        captured = fetchPicture(type, port, buffer, capacity, &pictureSize);
    }
    if (captured != 0) {
        return false;
    }
    if (pictureSize > capacity) {
        // More than the buffer holds: writing a cut picture would leave a corrupt file.
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Picture larger than the capture buffer: ", pictureSize,
                      " file: ", path);
        return false;
    }
    try {
        DWORD error = 0;
        if (!*path) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Could not open file.", path);
            return false;
        }
        if (isDevice(path)) {
            FileHandle device(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL,
                                          nullptr));
            if (device.get() == INVALID_HANDLE_VALUE) {
                LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Could not open file.", path);
                return false;
            }
            if (!writeWhole(device, buffer, pictureSize, false, error)) {
                LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Write File error: ", error, path);
                return false;
            }
            return true;
        }
        TemporaryFile picture(path);
        if (picture.file().get() == INVALID_HANDLE_VALUE) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Could not open file.", path);
            return false;
        }
        if (!writeWhole(picture.file(), buffer, pictureSize, true, error)) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Write File error: ", error, path);
            return false;
        }
        if (!picture.replace(path)) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Could not open file.", path);
            return false;
        }
        return true;
    } catch (...) {
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Save File ERROR: ", path);
        return false;
    }
}
