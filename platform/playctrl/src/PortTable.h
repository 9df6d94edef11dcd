// The 32 ports and their last error codes.
#pragma once

#include "Errors.h"

#include <windows.h>

#include <memory>

namespace playctrl {

class Player;

constexpr LONG kPortCount = 32;

// Lowest free port, or -1.
LONG acquirePort();
// Closes the port's file and frees the port.
std::shared_ptr<Player> releasePort(LONG port);
// The player of an allocated port. Throws kParameterInvalid or kOrderIncorrect.
std::shared_ptr<Player> playerOf(LONG port);
// Every allocated player, for calls that apply to all ports.
void forEachPlayer(void (*fn)(Player &));

void setLastError(LONG port, unsigned long code);
unsigned long lastError(LONG port);

} // namespace playctrl
