#include "port/PortTable.h"

#include "port/Port.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace playctrl {

namespace {
struct Slot {
    std::shared_ptr<Port> port; // null: the port is free
    bool released = false;      // freed by the host, its port still closing
};

// Which thread calls: a number never given to another thread of the process, unlike a thread
// id, which Windows hands to a new thread once the old one has ended. Nothing is kept for a
// thread that ends: its entries are the least recent and go first.
uint64_t callingThread() {
    static std::atomic<uint64_t> last{0};
    thread_local const uint64_t self = ++last;
    return self;
}

// One port's last code, kept apart for the threads that called on it most recently: a thread
// that reads the code right after its own failed call gets that call's code, even while other
// threads' calls on the same port succeed meanwhile.
class LastError {
  public:
    explicit LastError(unsigned long initial = kNoError) : initial_(initial), latest_(initial) {}

    void setForCaller(unsigned long code) {
        const uint64_t self = callingThread();
        std::lock_guard<std::mutex> lock(mutex_);
        Entry *entry = find(self);
        if (!entry) {
            entry =
                &*std::min_element(recent_.begin(), recent_.end(),
                                   [](const Entry &a, const Entry &b) { return a.set < b.set; });
        }
        *entry = Entry{self, code, ++sets_};
        latest_ = code;
    }

    // Something that happened to the port itself, not to one caller: every thread reads it.
    void setForAll(unsigned long code) {
        std::lock_guard<std::mutex> lock(mutex_);
        recent_.fill(Entry{});
        latest_ = code;
    }

    // A port handed out or given back: no code of its last use remains.
    void clear() { setForAll(initial_); }

    unsigned long get() {
        std::lock_guard<std::mutex> lock(mutex_);
        const Entry *entry = find(callingThread());
        return entry ? entry->code : latest_;
    }

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
            t.errors[port].clear();
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
        t.errors[port].clear();
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
