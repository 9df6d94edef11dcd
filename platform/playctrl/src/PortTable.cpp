#include "PortTable.h"

#include "Player.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace playctrl {

namespace {
std::mutex tableMutex;                         // guards players
std::shared_ptr<Player> players[kPortCount];   // null: the port is free
std::atomic<unsigned long> errors[kPortCount]; // last code of each port
std::atomic<unsigned long> outOfRangeError{kParameterInvalid};
} // namespace

LONG acquirePort() {
    std::lock_guard<std::mutex> lock(tableMutex);
    for (LONG port = 0; port < kPortCount; ++port)
        if (!players[port]) {
            players[port] = std::make_shared<Player>(port);
            return port;
        }
    return -1;
}

std::shared_ptr<Player> releasePort(LONG port) {
    std::shared_ptr<Player> player = playerOf(port);
    // Closing first: it refuses on the engine's own threads, and the port stays allocated.
    if (player->isOpen())
        player->close();
    std::lock_guard<std::mutex> lock(tableMutex);
    if (players[port] != player)
        throw EngineError{kOrderIncorrect};
    players[port].reset();
    return player;
}

std::shared_ptr<Player> playerOf(LONG port) {
    if (port < 0 || port >= kPortCount)
        throw EngineError{kParameterInvalid};
    std::lock_guard<std::mutex> lock(tableMutex);
    if (!players[port])
        throw EngineError{kOrderIncorrect};
    return players[port];
}

void forEachPlayer(void (*fn)(Player &)) {
    std::vector<std::shared_ptr<Player>> all;
    {
        std::lock_guard<std::mutex> lock(tableMutex);
        for (auto &p : players)
            if (p)
                all.push_back(p);
    }
    for (auto &p : all)
        fn(*p);
}

void setLastError(LONG port, unsigned long code) {
    if (port >= 0 && port < kPortCount)
        errors[port] = code;
    else
        outOfRangeError = code;
}

unsigned long lastError(LONG port) {
    if (port >= 0 && port < kPortCount)
        return errors[port];
    return outOfRangeError;
}

} // namespace playctrl
