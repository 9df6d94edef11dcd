#include "PortTable.h"

#include "Player.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace playctrl {

namespace {
struct Slot {
    std::shared_ptr<Player> player; // null: the port is free
    bool released = false;          // freed by the host, its player still closing
};

struct Table {
    std::mutex mutex; // guards slots
    Slot slots[kPortCount];
    std::atomic<unsigned long> errors[kPortCount] = {}; // last code of each port
    std::atomic<unsigned long> outOfRangeError{kParameterInvalid};
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
        if (!t.slots[port].player) {
            t.slots[port].player = std::make_shared<Player>(port);
            t.slots[port].released = false;
            return port;
        }
    }
    return -1;
}

void releasePort(LONG port) {
    checkPort(port);
    Table &t = table();
    std::shared_ptr<Player> player;
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        Slot &slot = t.slots[port];
        if (!slot.player || slot.released) {
            throw EngineError{kOrderIncorrect};
        }
        // From now on the port is gone for every caller, while the player closes its file.
        slot.released = true;
        player = slot.player;
    }
    try {
        if (player->release()) {
            finishRelease(port, player.get());
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(t.mutex);
        if (t.slots[port].player == player) {
            t.slots[port].released = false;
        }
        throw;
    }
}

void finishRelease(LONG port, const Player *player) {
    Table &t = table();
    std::shared_ptr<Player> last; // destroyed outside the lock
    std::lock_guard<std::mutex> lock(t.mutex);
    Slot &slot = t.slots[port];
    if (slot.player.get() == player && slot.released) {
        last.swap(slot.player);
        slot.released = false;
    }
}

std::shared_ptr<Player> playerOf(LONG port) {
    checkPort(port);
    Table &t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const Slot &slot = t.slots[port];
    if (!slot.player || slot.released) {
        throw EngineError{kOrderIncorrect};
    }
    return slot.player;
}

void forEachPlayer(void (*fn)(Player &)) {
    std::vector<std::shared_ptr<Player>> all;
    {
        Table &t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        for (auto &slot : t.slots) {
            if (slot.player && !slot.released) {
                all.push_back(slot.player);
            }
        }
    }
    for (auto &p : all) {
        fn(*p);
    }
}

void setLastError(LONG port, unsigned long code) {
    Table &t = table();
    if (port >= 0 && port < kPortCount) {
        t.errors[port] = code;
    } else {
        t.outOfRangeError = code;
    }
}

unsigned long lastError(LONG port) {
    Table &t = table();
    if (port >= 0 && port < kPortCount) {
        return t.errors[port];
    }
    return t.outOfRangeError;
}

} // namespace playctrl
