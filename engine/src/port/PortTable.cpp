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

// Frees a port whose release was deferred, once its file is closed.
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
} // namespace

LONG acquirePort() {
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (LONG port = 0; port < kPortCount; ++port) {
        if (!t.slots[port].port) {
            t.slots[port].port = std::make_shared<Port>(
                port, t.errors[port], [port](const Port *object) { finishRelease(port, object); });
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

unsigned long lastError(LONG port) {
    return errorsOf(port).get();
}

} // namespace playctrl
