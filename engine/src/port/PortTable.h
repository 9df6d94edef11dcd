// The 32 ports and their last error codes. The table lives until the process ends: it is never
// destroyed, so neither process exit nor an unload waits for a port's threads.
#ifndef KESTRAVA_PLAYCTRL_PORTTABLE_H
#define KESTRAVA_PLAYCTRL_PORTTABLE_H

#include "base/Errors.h"
#include "base/ModuleThread.h"

#include <windows.h>

#include <memory>

namespace playctrl {

class Port;

// Lowest free port, or -1.
LONG acquirePort();
// Closes the port's file and frees the port. From inside the port's own display callback
// both complete once the callback has returned; until then the port is not handed out again.
void releasePort(LONG port);
// The object of an allocated port. Throws kParameterInvalid or kOrderIncorrect.
std::shared_ptr<Port> portOf(LONG port);
// Every allocated port, for calls that apply to all ports.
void forEachPort(void (*fn)(Port &));

// The outcome of the calling thread's call on `port`.
void setLastError(LONG port, unsigned long code);
// The code of the calling thread's last call on `port`; a thread that has not called on it
// lately reads the port's latest code.
unsigned long lastError(LONG port);

} // namespace playctrl

#endif
