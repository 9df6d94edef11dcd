// The last error code of one port, as PlayM4_GetLastError reads it.
#ifndef KESTRAVA_PLAYCTRL_LASTERROR_H
#define KESTRAVA_PLAYCTRL_LASTERROR_H

#include "base/Errors.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace playctrl {

// One port's last code, kept apart for the threads that called on it most recently: a thread
// that reads the code right after its own failed call gets that call's code, even while other
// threads' calls on the same port succeed meanwhile.
class LastError {
  public:
    explicit LastError(unsigned long initial = kNoError) : initial_(initial), latest_(initial) {}

    void setForCaller(unsigned long code);

    // Something that happened to the port itself, not to one caller: every thread reads it.
    void setForAll(unsigned long code) {
        std::lock_guard<std::mutex> lock(mutex_);
        recent_.fill(Entry{});
        latest_ = code;
    }

    // A port handed out or given back: no code of its last use remains.
    void clear() { setForAll(initial_); }

    unsigned long get();

  private:
    struct Entry {
        uint64_t thread = 0; // 0 is no thread's number
        unsigned long code = kNoError;
        uint64_t set = 0; // when, counted in calls on the port
    };

    Entry *find(uint64_t thread) {
        for (Entry &e : recent_) {
            if (e.thread == thread) {
                return &e;
            }
        }
        return nullptr;
    }

    std::mutex mutex_; // a leaf: nothing else is taken while it is held
    std::array<Entry, 8> recent_{};
    uint64_t sets_ = 0;
    const unsigned long initial_;
    unsigned long latest_;
};

} // namespace playctrl

#endif
