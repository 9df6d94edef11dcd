#include "CData.h"

#include <cstring>
#include <new>

// Nothing here throws: an exception could not be caught by a caller in another DLL. A text that
// cannot get memory leaves the CData as it was.
namespace {

// The one empty text: emptying never needs memory, so it never fails, and c_str is never null.
char emptyText[1] = {'\0'};

// A heap copy of `length` characters of `text` and then `more`, or null without memory.
char *join(const char *text, size_t length, const char *more, size_t moreLength) noexcept {
    char *joined = new (std::nothrow) char[length + moreLength + 1];
    if (joined != nullptr) {
        std::memcpy(joined, text, length);
        std::memcpy(joined + length, more, moreLength);
        joined[length + moreLength] = '\0';
    }
    return joined;
}

void release(char *text) noexcept {
    if (text != emptyText) {
        delete[] text;
    }
}

} // namespace

CData::CData() : text_(emptyText) {}

CData::CData(const char *text) : text_(emptyText) {
    *this = text;
}

CData::CData(const CData &other) : text_(emptyText) {
    *this = other.text_;
}

CData &CData::operator=(const CData &other) {
    if (this != &other) {
        *this = other.text_;
    }
    return *this;
}

CData::~CData() {
    release(text_);
}

CData &CData::operator=(const char *text) {
    if (text == nullptr || *text == '\0') {
        release(text_);
        text_ = emptyText;
        return *this;
    }
    // Copy first: the text may point into our own buffer.
    if (char *copy = join(text, std::strlen(text), "", 0)) {
        release(text_);
        text_ = copy;
    }
    return *this;
}

CData &CData::operator+=(const char *text) {
    if (text == nullptr || *text == '\0') {
        return *this;
    }
    if (char *joined = join(text_, std::strlen(text_), text, std::strlen(text))) {
        release(text_);
        text_ = joined;
    }
    return *this;
}

const char *CData::c_str() const {
    return text_;
}
