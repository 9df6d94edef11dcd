// The process-wide list of subscribers that the one display callback routes frames through.
#ifndef KESTRAVA_PLAYER_ANALYSISREGISTRY_H
#define KESTRAVA_PLAYER_ANALYSISREGISTRY_H

#include "AnalysisSubscriber.h"

#include <ace/Thread_Mutex.h>

#include <list>

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

class AnalysisRegistry {
  public:
    // The one registry, created on first use and never destroyed; null only when it could
    // not be created (a later call tries again).
    static AnalysisRegistry *instance() noexcept;

    // Both always return 0; a subscriber occurs at most once.
    int add(AnalysisSubscriber *subscriber) noexcept;
    int remove(AnalysisSubscriber *subscriber) noexcept;

    // Offers the frame to every subscriber under the lock. Once remove(s) has returned, s's
    // host function is neither running nor called again.
    void dispatchFrame(LONG port, char *data, LONG size, LONG width, LONG height, LONG stamp,
                       LONG type, LONG reserved);

    // Sets a subscriber's port under the lock, for a subscriber that may be registered.
    void setPort(AnalysisSubscriber &subscriber, LONG port) noexcept;

    // Sets the subscriber's three callback values under the lock.
    void setCallback(AnalysisSubscriber &subscriber, AnalysisCallback callback, LONG userData,
                     LONG reversed) noexcept;

    virtual ~AnalysisRegistry() = default;

  private:
    AnalysisRegistry() = default;
    AnalysisRegistry(const AnalysisRegistry &) = delete;
    AnalysisRegistry &operator=(const AnalysisRegistry &) = delete;

    // The one lock of the player objects (no lock order to keep): held for add, remove, each
    // frame's whole walk including the host functions, and callback replacement. A host
    // function must therefore not open or close files.
    ACE_Thread_Mutex lock_;
    std::list<AnalysisSubscriber *> subscribers_; // guarded by lock_; not owned
};

// The display callback handed to the SDK for every port.
void CALLBACK onDisplayFrame(LONG port, char *data, LONG size, LONG width, LONG height, LONG stamp,
                             LONG type, LONG reserved);

#endif
