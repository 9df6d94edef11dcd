// ICapture: the current picture as a JPEG or BMP file, exactly the SDK's bytes, written so that
// a failed snapshot never destroys the previous one (SafeReplace.h).
#include "KestravaCOM.h"

#include "AnsiText.h"
#include "ComBoundary.h"
#include "LogStatement.h"
#include "SafeReplace.h"
#include "SdkWrappers.h"

#include <memory>
#include <new>
#include <string>

namespace {

constexpr int kJpeg = 1;
constexpr int kBmp = 2;
// The most a capture ever allocates: an 8192 x 8192 picture at four bytes a pixel, and a header.
constexpr DWORD kLargestPicture = 8192u * 8192u * 4u + 1024u;

// One SDK capture of the given type; a buffer too small answers 1, unlogged, unless `last`.
int fetchPicture(int type, LONG port, BYTE *buffer, DWORD capacity, DWORD *size,
                 bool last) noexcept {
    if (last) {
        return type == kJpeg ? SdkGetJPEG(port, buffer, capacity, size)
                             : SdkGetBMP(port, buffer, capacity, size);
    }
    return type == kJpeg ? SdkTryGetJPEG(port, buffer, capacity, size)
                         : SdkTryGetBMP(port, buffer, capacity, size);
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
        // The file is made under the host's own wide name. The log names it in the code page,
        // with `?` for what the code page lacks, never a look-alike.
        std::string path;
        if (!toAnsi(strSavePath, path) ||
            (!holdsInAnsi(strSavePath) && !toAnsiWithoutLookAlikes(strSavePath, path))) {
            return S_FALSE;
        }
        return savePicture(nType, path.c_str(), strSavePath, buffer.get(), kPictureCapacity)
                   ? S_OK
                   : S_FALSE;
    });
}

bool KestravaCOM::savePicture(int type, const char *path, const wchar_t *target, BYTE *buffer,
                              DWORD capacity) noexcept {
    if (type != kJpeg && type != kBmp) {
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Unsupport capture type: ", type, " file: ", path);
        return false;
    }
    std::unique_ptr<BYTE[]> larger; // for a picture that the first buffer cannot hold
    auto enlarge = [&](DWORD size) {
        larger.reset(); // the old one goes first: the two together may not fit
        larger.reset(new (std::nothrow) BYTE[size]);
        if (!larger) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "New picture memory ERROR!");
            return false;
        }
        buffer = larger.get();
        capacity = size;
        return true;
    };
    DWORD pictureSize = 0;
    int captured = fetchPicture(type, port, buffer, capacity, &pictureSize, false);
    if (captured == 1) {
        // Too small (a BMP of 720p or more, a JPEG of a detailed 4K picture): once more, at the
        // size the engine named, checked against the cap before anything is allocated.
        if (pictureSize > kLargestPicture) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL,
                          "Picture larger than the capture buffer: ", pictureSize, " file: ", path);
            return false;
        }
        if (!enlarge(pictureSize)) {
            return false;
        }
        pictureSize = 0;
        captured = fetchPicture(type, port, buffer, capacity, &pictureSize, true);
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
        if (!*target) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Could not open file.", path);
            return false;
        }
        const SafeReplaceResult written = safeReplace(target, buffer, pictureSize);
        if (written.failure == SafeReplaceResult::NotOpened) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Could not open file.", path);
            return false;
        }
        if (written.failure == SafeReplaceResult::NotWritten) {
            LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Write File error: ", written.error, path);
            return false;
        }
        return true;
    } catch (...) {
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Save File ERROR: ", path);
        return false;
    }
}
