// ICapture: the current picture as a JPEG or BMP file, exactly the SDK's bytes.
#include "KestravaCOM.h"

#include "AnsiText.h"
#include "ComBoundary.h"
#include "LogStatement.h"
#include "SdkWrappers.h"

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
    void close() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

  private:
    HANDLE handle_;
};

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
    DWORD pictureSize = 0;
    int captured = -1;
    switch (type) {
    case kJpeg:
        captured = SdkGetJPEG(port, buffer, capacity, &pictureSize);
        break;
    case kBmp:
        captured = SdkGetBMP(port, buffer, capacity, &pictureSize);
        break;
    default:
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Unsupport capture type: ", type, " file: ", path);
        return false;
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
    FileHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Could not open file.", path);
        return false;
    }
    try {
        DWORD written = 0;
        const BOOL wrote = WriteFile(file.get(), buffer, pictureSize, &written, nullptr);
        file.close();
        if (!wrote) {
            const DWORD error = GetLastError();
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Write File error: ", error, path);
            return false;
        }
        return true;
    } catch (...) {
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Save File ERROR: ", path);
        return false;
    }
}
