#include "port/PortTable.h"

#include "port/Port.h"

#include <array>
#include <mutex>
#include <vector>

namespace playctrl {

namespace {
struct Slot {
    std::shared_ptr<Port> port; // null: the port is free
    bool released = false;      // freed by the host, its port still closing
};

// One port's last code, kept apart for the last few threads that called on it: a thread
// that reads the code right after its own failed call gets that call's code, even while
// another thread's calls on the same port succeed meanwhile.
class LastError {
  public:
    explicit LastError(unsigned long initial = kNoError) : latest_(initial) {}

    void setForCaller(unsigned long code) {
        DWORD self = GetCurrentThreadId();
        std::lock_guard<std::mutex> lock(mutex_);
        Entry *entry = find(self);
        if (!entry) {
            entry = &recent_[next_];
            next_ = (next_ + 1) % recent_.size();
        }
        *entry = Entry{self, code};
        latest_ = code;
    }

    // Something that happened to the port itself, not to one caller: every thread reads it.
    void setForAll(unsigned long code) {
        std::lock_guard<std::mutex> lock(mutex_);
        recent_.fill(Entry{});
        latest_ = code;
    }

    unsigned long get() {
        std::lock_guard<std::mutex> lock(mutex_);
        const Entry *entry = find(GetCurrentThreadId());
        return entry ? entry->code : latest_;
    }

  private:
    struct Entry {
        DWORD thread = 0; // 0 is no thread's id
        unsigned long code = kNoError;
    };

    Entry *find(DWORD thread) {
        for (Entry &e : recent_) {
            if (e.thread == thread) {
                return &e;
            }
        }
        return nullptr;
    }

    std::mutex mutex_; // a leaf: nothing else is taken while it is held
    std::array<Entry, 8> recent_{};
    size_t next_ = 0;
    unsigned long latest_;
};

struct Table {
    std::mutex mutex; // guards slots
    Slot slots[kPortCount];
    LastError errors[kPortCount];
    LastError outOfRangeError{kParameterInvalid};
};

Table &table() {
    static Table *t = new Table; // never destroyed: see PortTable.h
    return *t;
}

void checkPort(LONG port) {
    if (port < 0 || port >= kPortCount) {
        throw EngineError{kParameterInvalid};
    }
}
} // namespace

LONG acquirePort() {
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (LONG port = 0; port < kPortCount; ++port) {
        if (!t.slots[port].port) {
            t.slots[port].port = std::make_shared<Port>(port);
            t.slots[port].released = false;
            return port;
        }
    }
    return -1;
}

void releasePort(LONG port) {
    checkPort(port);
    Table &t = table();
    std::shared_ptr<Port> object;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        Slot &slot = t.slots[port];
        if (!slot.port || slot.released) {
            throw EngineError{kOrderIncorrect};
        }
        // From now on the port is gone for every caller, while it closes its file.
        slot.released = true;
        object = slot.port;
    }
    try {
        if (object->release()) {
            finishRelease(port, object.get());
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(t.mutex);
        if (t.slots[port].port == object) {
            t.slots[port].released = false;
        }
        throw;
    }
}

void finishRelease(LONG port, const Port *object) {
    Table &t = table();
    std::shared_ptr<Port> last; // destroyed outside the lock
    std::lock_guard<std::mutex> lock(t.mutex);
    Slot &slot = t.slots[port];
    if (slot.port.get() == object && slot.released) {
        last.swap(slot.port);
        slot.released = false;
    }
}

std::shared_ptr<Port> portOf(LONG port) {
    checkPort(port);
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const Slot &slot = t.slots[port];
    if (!slot.port || slot.released) {
        throw EngineError{kOrderIncorrect};
    }
    return slot.port;
}

void forEachPort(void (*fn)(Port &)) {
    std::vector<std::shared_ptr<Port>> all;
    {
        Table &t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        for (auto &slot : t.slots) {
            if (slot.port && !slot.released) {
                all.push_back(slot.port);
            }
        }
    }
    for (auto &p : all) {
        fn(*p);
    }
}

namespace {
LastError &errorsOf(LONG port) {
    Table &t = table();
    return port >= 0 && port < kPortCount ? t.errors[port] : t.outOfRangeError;
}
} // namespace

void setLastError(LONG port, unsigned long code) {
    errorsOf(port).setForCaller(code);
}

void setPortError(LONG port, unsigned long code) {
    errorsOf(port).setForAll(code);
}

unsigned long lastError(LONG port) {
    return errorsOf(port).get();
}

} // namespace playctrl
