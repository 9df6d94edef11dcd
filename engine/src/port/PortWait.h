// A wait of one of the engine's threads for the threads of a port. A callback may call any
// export, so an engine thread can come to wait for a port whose threads, in turn, wait for it:
// such a wait is refused with kOrderIncorrect instead of entered. Host threads wait freely:
// no engine thread ever waits for a host thread.
#ifndef KESTRAVA_PLAYCTRL_PORTWAIT_H
#define KESTRAVA_PLAYCTRL_PORTWAIT_H

#include <windows.h>

namespace playctrl {

class PortWait {
  public:
    // Throws EngineError{kOrderIncorrect} when the wait could close a circle.
    explicit PortWait(LONG target);
    ~PortWait();
    PortWait(const PortWait &) = delete;
    PortWait &operator=(const PortWait &) = delete;

  private:
    LONG from_ = -1, to_ = -1;
};

} // namespace playctrl

#endif
