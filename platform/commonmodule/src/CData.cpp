#include "CData.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Every CData owns a heap copy; an empty text is a real empty string so c_str() is never null.
char *duplicate(const char *text) {
    if (text == nullptr)
        text = "";
    const size_t length = std::strlen(text);
    char *copy = static_cast<char *>(std::malloc(length + 1));
    if (copy == nullptr)
        throw std::bad_alloc();
    std::memcpy(copy, text, length + 1);
    return copy;
}

} // namespace

CData::CData() : text_(duplicate("")) {}

CData::CData(const char *text) : text_(duplicate(text)) {}

CData::CData(const CData &other) : text_(duplicate(other.text_)) {}

CData &CData::operator=(const CData &other) {
    if (this != &other)
        *this = other.text_;
    return *this;
}

CData::~CData() {
    std::free(text_);
}

CData &CData::operator=(const char *text) {
    // Copy first: the text may point into our own buffer.
    char *copy = duplicate(text);
    std::free(text_);
    text_ = copy;
    return *this;
}

CData &CData::operator+=(const char *text) {
    if (text == nullptr || *text == '\0')
        return *this;
    const size_t mine = std::strlen(text_);
    const size_t theirs = std::strlen(text);
    char *joined = static_cast<char *>(std::malloc(mine + theirs + 1));
    if (joined == nullptr)
        throw std::bad_alloc();
    std::memcpy(joined, text_, mine);
    std::memcpy(joined + mine, text, theirs + 1);
    std::free(text_);
    text_ = joined;
    return *this;
}

const char *CData::c_str() const {
    return text_;
}
