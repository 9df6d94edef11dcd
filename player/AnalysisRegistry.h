// The process-wide list of subscribers that the one display callback routes frames through.
#ifndef KESTRAVA_PLAYER_ANALYSISREGISTRY_H
#define KESTRAVA_PLAYER_ANALYSISREGISTRY_H

#include "AnalysisSubscriber.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstddef>

// Holds an ACE_Thread_Mutex for the guard's lifetime; releases only what it acquired.
class MutexGuard {
  public:
    explicit MutexGuard(ACE_Thread_Mutex &mutex) noexcept
        : mutex_(mutex), acquired_(mutex.acquire() != -1) {}
    ~MutexGuard() {
        if (acquired_) {
            mutex_.release();
        }
    }
    MutexGuard(const MutexGuard &) = delete;
    MutexGuard &operator=(const MutexGuard &) = delete;
    bool acquired() const { return acquired_; }

  private:
    ACE_Thread_Mutex &mutex_;
    const bool acquired_;
};

// Frames are walked without a lock, so a host function may open, close or destroy any player
// object, its own included, and replace callbacks, while frames of other objects go on. Each
// SDK thread that walks announces itself in a walker slot; removal waits only for the threads
// that may be calling the removed subscriber.
class AnalysisRegistry {
  public:
    // The one registry, created on first use and never destroyed; null only when it could
    // not be created (a later call tries again).
    static AnalysisRegistry *instance() noexcept;

    // True while any thread is inside a frame's walk: the module's code is still running.
    static bool dispatching() noexcept;

    // Both always return 0; a subscriber occurs at most once, in order of registration.
    int add(AnalysisSubscriber *subscriber) noexcept;
    // Once this returns, the subscriber's host function is called no more and runs nowhere,
    // except on a thread that is itself inside that function (removal from its own callback
    // completes when it returns) or waiting in a removal of its own (waiting there would
    // deadlock).
    int remove(AnalysisSubscriber *subscriber) noexcept;

    // Offers the frame to every registered subscriber, in order of registration.
    void dispatchFrame(LONG port, char *data, LONG size, LONG width, LONG height, LONG stamp,
                       LONG type, LONG reserved);

    virtual ~AnalysisRegistry() = default;

    // Enough for every SDK thread that is inside a frame at the same moment; more wait.
    static constexpr unsigned kWalkers = 64;

  private:
    struct Entries;
    struct Walker {
        std::atomic<unsigned> claim{0};                       // odd while a walk is under way
        std::atomic<DWORD> thread{0};                         // the walking thread; 0 when unknown
        std::atomic<AnalysisSubscriber *> calling{nullptr};   // whose host function runs now
        std::atomic<bool> removing{false};                    // its thread waits in remove
        char padding[64 - 3 * sizeof(void *) - sizeof(bool)]; // about a cache line each
    };
    class WalkerClaim;

    AnalysisRegistry() = default;
    AnalysisRegistry(const AnalysisRegistry &) = delete;
    AnalysisRegistry &operator=(const AnalysisRegistry &) = delete;

    bool append(AnalysisSubscriber *subscriber);
    void retire(Entries *old) noexcept;
    void reclaim() noexcept;
    void waitUntilNotCalling(const AnalysisSubscriber *subscriber) noexcept;
    bool markRemoving(DWORD self, bool on) noexcept; // true if `self` is inside a frame

    // Serialises add and remove (never held by a walk, so a host function may take it).
    ACE_Thread_Mutex lock_;
    // The entries that walks read: replaced as a whole, appended to, and cleared in place
    // under lock_; read without it.
    std::atomic<Entries *> entries_{nullptr};
    Entries *retired_ = nullptr; // guarded by lock_: replaced entries that a walk may still read
    Walker walkers_[kWalkers];
};

// The display callback handed to the SDK for every port.
void CALLBACK onDisplayFrame(LONG port, char *data, LONG size, LONG width, LONG height, LONG stamp,
                             LONG type, LONG reserved);

#endif
