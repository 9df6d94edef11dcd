// The process-wide list of subscribers that the one display callback routes frames through.
#ifndef KESTRAVA_PLAYER_ANALYSISREGISTRY_H
#define KESTRAVA_PLAYER_ANALYSISREGISTRY_H

#include "AnalysisSubscriber.h"
#include "Guards.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstddef>

// What the registry promises, and how:
// 1. Host functions run one at a time in the process, whatever their port: a frame calls one
//    only while it holds the turn (turn_), which the thread already holding it may take again.
// 2. A host function may open, close or release its own player object or any other, and add or
//    remove subscribers, from inside. Frames are walked without a lock, and nothing waits for
//    the turn except frames: a frame waiting for it whose subscriber is being removed, or whose
//    owner is opening or closing its file (Withdrawal), gives up its turn, because the engine
//    calls on that port wait for the very thread that is waiting.
// 3. SetAnalyzeCallBack never waits: the three values are published through a sequence count
//    (AnalysisSubscriber), and neither the turn nor lock_ is involved.
// 4. No leak on unload: DllCanUnloadNow holds the module while any thread is inside
//    onDisplayFrame, counted on entry and, as the very last step, on the way out.
// 5. Removal never frees a subscriber still being read: remove() clears the entry, then waits
//    for every other thread's walk that announces no record (it is between records, reading
//    entries) or this one (Walker::calling). A walk announces a record before it waits for the
//    turn or calls it, and reads the entry again after; it drops the announcement with a full
//    fence before it reads the next entry.
class AnalysisRegistry {
  public:
    // The one registry, created on first use and never destroyed; null only when it could
    // not be created (a later call tries again).
    static AnalysisRegistry *instance() noexcept;

    // Threads inside onDisplayFrame now: while any is, the module's code is still running.
    static long framesInFlight() noexcept;

    // A subscriber occurs at most once, in order of registration.
    void add(AnalysisSubscriber *subscriber) noexcept;
    // Once this returns, the subscriber's host function is called no more and runs nowhere,
    // except on this thread's own stack (removal from its own callback completes when it
    // returns).
    void remove(AnalysisSubscriber *subscriber) noexcept;

    // Offers the frame to every registered subscriber, in order of registration.
    void dispatchFrame(LONG port, char *data, LONG size, LONG width, LONG height, LONG stamp,
                       LONG type, LONG reserved);

    // Held by a player object while it opens or closes its file: the engine waits for the
    // port's thread then, so frames of the subscriber are dropped instead of waiting for a
    // host function, which may be the very one that is opening or closing it.
    class Withdrawal {
      public:
        explicit Withdrawal(AnalysisSubscriber &subscriber) noexcept;
        ~Withdrawal();
        Withdrawal(const Withdrawal &) = delete;
        Withdrawal &operator=(const Withdrawal &) = delete;

      private:
        AnalysisSubscriber &subscriber_;
    };

    virtual ~AnalysisRegistry() = default;

    // Enough for every SDK thread that is inside a frame at the same moment; more wait.
    static constexpr unsigned kWalkers = 64;

  private:
    struct Entries;
    struct Walker {
        std::atomic<unsigned> claim{0};                     // odd while a walk is under way
        std::atomic<DWORD> thread{0};                       // the walking thread; 0 when unknown
        std::atomic<AnalysisSubscriber *> calling{nullptr}; // the record it reads or calls
        // -- protected by turn_.lock
        unsigned long long ticket = 0; // when it began to wait; 0 = not waiting
        char padding[40];              // a cache line each, in both architectures
    };
    class WalkerClaim;
    class TurnHeld;

    // Who may call a host function now. Taken with one exchange while nobody waits; a thread
    // that has to wait does so on `changed`, under `lock`.
    struct Turn {
        std::atomic<DWORD> holder{0};
        unsigned depth = 0; // the holder's alone
        SRWLOCK lock = SRWLOCK_INIT;
        CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
        // -- protected by lock (waiting is read without it)
        std::atomic<unsigned> waiting{0};
        unsigned long long tickets = 0;
    };

    AnalysisRegistry() = default;
    AnalysisRegistry(const AnalysisRegistry &) = delete;
    AnalysisRegistry &operator=(const AnalysisRegistry &) = delete;

    bool append(AnalysisSubscriber *subscriber);
    void retire(Entries *old) noexcept;
    void reclaim() noexcept;
    void waitUntilNotCalling(const AnalysisSubscriber *subscriber) noexcept;
    bool takeTurn(Walker &walker, const std::atomic<AnalysisSubscriber *> &entry,
                  const AnalysisSubscriber &subscriber) noexcept;
    bool oldestWaiting(const Walker &walker) const noexcept;
    void giveBackTurn() noexcept;
    void wakeWaiting() noexcept;

    // Serialises add and remove (never held by a walk, so a host function may take it).
    ACE_Thread_Mutex lock_;
    // -- protected by lock_ (entries_ is read without it)
    // The entries that walks read: replaced as a whole, appended to, and cleared in place.
    std::atomic<Entries *> entries_{nullptr};
    Entries *retired_ = nullptr; // replaced entries that a walk may still read

    // -- without a lock: each walk claims a slot of its own
    Walker walkers_[kWalkers];
    Turn turn_;
};

// The display callback handed to the SDK for every port.
void CALLBACK onDisplayFrame(LONG port, char *data, LONG size, LONG width, LONG height, LONG stamp,
                             LONG type, LONG reserved);

#endif
