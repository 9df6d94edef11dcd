// How both doubles hand out what they recorded.
#ifndef KESTRAVA_TESTS_DOUBLES_RECORDS_H
#define KESTRAVA_TESTS_DOUBLES_RECORDS_H

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// `text` cut to fit `size` bytes with its terminator; a null text as an empty one.
inline void copyText(char *target, std::size_t size, const char *text) {
    std::strncpy(target, text ? text : "", size - 1);
    target[size - 1] = '\0';
}

// Record `index` into `out`: 1, or 0 when there is no such record or nowhere to put it.
template <class Record> int copyRecord(const std::vector<Record> &records, int index, Record *out) {
    if (!out || index < 0 || index >= static_cast<int>(records.size())) {
        return 0;
    }
    *out = records[static_cast<std::size_t>(index)];
    return 1;
}

} // namespace

#endif
