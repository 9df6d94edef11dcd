#include "port/LastError.h"

#include <algorithm>
#include <atomic>

namespace playctrl {

namespace {
// Which thread calls: a number never given to another thread of the process, unlike a thread
// id, which Windows hands to a new thread once the old one has ended. Nothing is kept for a
// thread that ends: its entries are the least recent and go first.
uint64_t callingThread() {
    static std::atomic<uint64_t> last{0};
    thread_local const uint64_t self = ++last;
    return self;
}
} // namespace

void LastError::setForCaller(unsigned long code) {
    const uint64_t self = callingThread();
    std::lock_guard<std::mutex> lock(mutex_);
    Entry *entry = find(self);
    if (!entry) {
        entry = &*std::min_element(recent_.begin(), recent_.end(),
                                   [](const Entry &a, const Entry &b) { return a.set < b.set; });
    }
    *entry = Entry{self, code, ++sets_};
    latest_ = code;
}

unsigned long LastError::get() {
    std::lock_guard<std::mutex> lock(mutex_);
    const Entry *entry = find(callingThread());
    return entry ? entry->code : latest_;
}

} // namespace playctrl
