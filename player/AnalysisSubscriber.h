// One player object's entry in the frame registry: the host's analysis function and the port
// whose frames it wants.
#ifndef KESTRAVA_PLAYER_ANALYSISSUBSCRIBER_H
#define KESTRAVA_PLAYER_ANALYSISSUBSCRIBER_H

#include <windows.h>

#include <atomic>

// The host's analysis function: frame data, size, width, height, userData, reversed. userData
// is pointer-sized: 64-bit hosts pass addresses in it.
//
// Its thread and re-entry contract (AnalysisRegistry.h says how the registry keeps it):
// - It runs on the engine's thread of its object's port, never on the host's apartment thread,
//   and one at a time in the process whatever its object; a frame shown from inside it, on its
//   own thread, calls it again.
// - From inside, on its own object or any other, it may call OpenFile, CloseFile,
//   SetAnalyzeCallBack and every getter, and release the last reference. A CloseFile or last
//   release of its own object completes when it returns: its frame is the last. Calls that move
//   or capture another object (Play, Pause, Stop, speed, positioning, stepping, GetPicture) wait
//   for that object's engine thread, which may wait for this function's turn: hosts make them
//   from their own thread.
// - Through those calls it reaches these fields of KestravaCOM on the engine's thread: `port`
//   (atomic), `renderWindow`, `fileName`, `playState` and `registered_` (no lock: a host does
//   not call one object from two threads at once), and the three values below (never waits).
typedef void(CALLBACK *AnalysisCallback)(char *data, LONG size, LONG width, LONG height,
                                         LONG_PTR userData, LONG reversed);

class AnalysisSubscriber {
  public:
    AnalysisSubscriber() = default;
    AnalysisSubscriber(const AnalysisSubscriber &) = delete;
    AnalysisSubscriber &operator=(const AnalysisSubscriber &) = delete;
    virtual ~AnalysisSubscriber() = default;

    // Replaces the three values as one set, from any thread, without a lock: it waits at most
    // for another thread's replacement, never for a host function.
    void setCallback(AnalysisCallback newCallback, LONG_PTR newUserData, LONG newReversed) noexcept;

    // Runs on an SDK thread. Touches nothing of this record once the host function is called:
    // the host may destroy its object from inside.
    void deliverFrame(LONG framePort, char *data, LONG size, LONG width, LONG height, LONG, LONG,
                      LONG) const {
        const LONG own = port.load(std::memory_order_relaxed);
        if (framePort != own || own == -1) {
            return; // not this object's frame, or no port of its own
        }
        AnalysisCallback host;
        LONG_PTR hostUserData;
        LONG hostReversed;
        readCallback(host, hostUserData, hostReversed);
        if (host) {
            host(data, size, width, height, hostUserData, hostReversed);
        }
    }

    // True when a frame of `framePort` would call a host function now.
    bool wantsFrame(LONG framePort) const {
        const LONG own = port.load(std::memory_order_relaxed);
        return framePort == own && own != -1 && callback_.load(std::memory_order_relaxed);
    }

    // The owning player's SDK port (-1: none), read by SDK threads while registered.
    std::atomic<LONG> port{-1};

  private:
    friend class AnalysisRegistry;

    void readCallback(AnalysisCallback &host, LONG_PTR &hostUserData, LONG &hostReversed) const {
        for (unsigned attempt = 1;; ++attempt) {
            const unsigned before = version_.load(std::memory_order_acquire);
            host = callback_.load(std::memory_order_relaxed);
            hostUserData = userData_.load(std::memory_order_relaxed);
            hostReversed = reversed_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if ((before & 1u) == 0 && version_.load(std::memory_order_relaxed) == before) {
                return;
            }
            if (attempt % 64 == 0) {
                SwitchToThread(); // the replacing thread was preempted mid-way
            } else {
                YieldProcessor();
            }
        }
    }

    // A sequence count: odd while a replacement is under way. Readers retry until they have
    // read all three values between two equal even counts.
    std::atomic<unsigned> version_{0};
    std::atomic<AnalysisCallback> callback_{nullptr};
    std::atomic<LONG_PTR> userData_{0};
    std::atomic<LONG> reversed_{0};
    // Non-zero while the owner opens or closes its file (AnalysisRegistry::Withdrawal).
    std::atomic<unsigned> withdrawals_{0};
};

#endif
