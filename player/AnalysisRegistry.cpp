#include "AnalysisRegistry.h"

#include "ComBoundary.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

std::atomic<AnalysisRegistry *> theRegistry{nullptr};
std::atomic<long> framesInside{0}; // threads inside onDisplayFrame

// Waits a little longer each round: the processor first, then other threads, then the clock.
void backOff(unsigned &round) {
    ++round;
    if (round < 16) {
        YieldProcessor();
    } else if (round < 64) {
        SwitchToThread();
    } else {
        Sleep(1);
    }
}

} // namespace

// One generation of the entry list. Entries are appended and cleared in place, never moved,
// so a walk that began on it stays valid; when it is full it is replaced by a compacted copy
// and freed once every walk that might still read it has ended.
struct AnalysisRegistry::Entries {
    explicit Entries(size_t size)
        : capacity(size), slots(new (std::nothrow) std::atomic<AnalysisSubscriber *>[size]) {
        for (size_t i = 0; slots && i < size; ++i) {
            slots[i].store(nullptr, std::memory_order_relaxed);
        }
    }
    const size_t capacity;
    std::atomic<size_t> count{0};
    std::unique_ptr<std::atomic<AnalysisSubscriber *>[]> slots;
    Entries *nextRetired = nullptr;
    unsigned claimsAtRetirement[kWalkers] = {}; // each walker's claim when this was replaced
};

// A walker slot held for one frame's walk by the calling thread.
class AnalysisRegistry::WalkerClaim {
  public:
    explicit WalkerClaim(Walker *walkers) noexcept {
        const DWORD self = GetCurrentThreadId();
        unsigned index = (self >> 2) % kWalkers; // spreads threads over the slots
        for (unsigned round = 0;; backOff(round)) {
            for (unsigned n = 0; n < kWalkers; ++n, index = (index + 1) % kWalkers) {
                Walker &walker = walkers[index];
                unsigned claim = walker.claim.load(std::memory_order_relaxed);
                if ((claim & 1u) == 0 && walker.claim.compare_exchange_strong(claim, claim + 1)) {
                    walker.thread.store(self, std::memory_order_relaxed);
                    walker_ = &walker;
                    claim_ = claim + 1;
                    return;
                }
            }
        }
    }
    ~WalkerClaim() {
        walker_->calling.store(nullptr);
        // Cleared before the claim ends, so no other walk's slot ever shows this thread.
        walker_->thread.store(0);
        walker_->claim.store(claim_ + 1);
    }
    WalkerClaim(const WalkerClaim &) = delete;
    WalkerClaim &operator=(const WalkerClaim &) = delete;
    Walker &walker() const { return *walker_; }

  private:
    Walker *walker_ = nullptr;
    unsigned claim_ = 0;
};

AnalysisRegistry *AnalysisRegistry::instance() noexcept {
    AnalysisRegistry *existing = theRegistry.load(std::memory_order_acquire);
    if (existing) {
        return existing;
    }
    // Two first callers may both build one; the loser discards its own, unpublished copy.
    AnalysisRegistry *created = new (std::nothrow) AnalysisRegistry;
    if (!created) {
        return nullptr;
    }
    if (theRegistry.compare_exchange_strong(existing, created, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
        return created;
    }
    delete created;
    return existing;
}

// The turn taken for one host call, given back on every path, a throwing host function's too.
class AnalysisRegistry::TurnHeld {
  public:
    explicit TurnHeld(AnalysisRegistry &registry) noexcept : registry_(registry) {}
    ~TurnHeld() { registry_.giveBackTurn(); }
    TurnHeld(const TurnHeld &) = delete;
    TurnHeld &operator=(const TurnHeld &) = delete;

  private:
    AnalysisRegistry &registry_;
};

AnalysisRegistry::Withdrawal::Withdrawal(AnalysisSubscriber &subscriber) noexcept
    : subscriber_(subscriber) {
    subscriber_.withdrawals_.fetch_add(1);
    if (AnalysisRegistry *registry = theRegistry.load(std::memory_order_acquire)) {
        registry->wakeWaiting(); // a frame of it that waits already gives up now
    }
}

AnalysisRegistry::Withdrawal::~Withdrawal() {
    subscriber_.withdrawals_.fetch_sub(1);
}

long AnalysisRegistry::framesInFlight() noexcept {
    return framesInside.load();
}

void AnalysisRegistry::add(AnalysisSubscriber *subscriber) noexcept {
    kestrava::LockGuard<ACE_Thread_Mutex> guard(lock_);
    if (guard.acquired()) {
        reclaim();
        append(subscriber); // without memory for the entry the subscriber stays out
    }
}

bool AnalysisRegistry::append(AnalysisSubscriber *subscriber) {
    Entries *current = entries_.load(std::memory_order_relaxed);
    const size_t count = current ? current->count.load(std::memory_order_relaxed) : 0;
    size_t live = 0;
    for (size_t i = 0; i < count; ++i) {
        AnalysisSubscriber *entry = current->slots[i].load(std::memory_order_relaxed);
        if (entry == subscriber) {
            return true;
        }
        live += entry != nullptr;
    }
    if (current && count < current->capacity) {
        current->slots[count].store(subscriber);
        current->count.store(count + 1);
        return true;
    }
    std::unique_ptr<Entries> next(new (std::nothrow) Entries(std::max<size_t>(8, 2 * (live + 1))));
    if (!next || !next->slots) {
        return false;
    }
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (AnalysisSubscriber *entry = current->slots[i].load(std::memory_order_relaxed)) {
            next->slots[kept++].store(entry, std::memory_order_relaxed);
        }
    }
    next->slots[kept++].store(subscriber, std::memory_order_relaxed);
    next->count.store(kept, std::memory_order_relaxed);
    entries_.store(next.release());
    if (current) {
        retire(current);
    }
    return true;
}

void AnalysisRegistry::retire(Entries *old) noexcept {
    // Read after the replacement was published: a walk that claims later reads the new list.
    for (unsigned i = 0; i < kWalkers; ++i) {
        old->claimsAtRetirement[i] = walkers_[i].claim.load();
    }
    old->nextRetired = retired_;
    retired_ = old;
}

void AnalysisRegistry::reclaim() noexcept {
    Entries **link = &retired_;
    while (Entries *old = *link) {
        bool read = false;
        for (unsigned i = 0; i < kWalkers && !read; ++i) {
            const unsigned then = old->claimsAtRetirement[i];
            read = (then & 1u) && walkers_[i].claim.load() == then;
        }
        if (read) {
            link = &old->nextRetired;
        } else {
            *link = old->nextRetired;
            delete old;
        }
    }
}

void AnalysisRegistry::remove(AnalysisSubscriber *subscriber) noexcept {
    bool found = false;
    {
        kestrava::LockGuard<ACE_Thread_Mutex> guard(lock_);
        if (!guard.acquired()) {
            return;
        }
        auto clear = [&](Entries *list) {
            const size_t count = list ? list->count.load(std::memory_order_relaxed) : 0;
            for (size_t i = 0; i < count; ++i) {
                if (list->slots[i].load(std::memory_order_relaxed) == subscriber) {
                    list->slots[i].store(nullptr);
                    found = true;
                }
            }
        };
        clear(entries_.load(std::memory_order_relaxed));
        // A walk may still be reading a replaced list: clear the entry there too.
        for (Entries *old = retired_; old; old = old->nextRetired) {
            clear(old);
        }
        reclaim();
    }
    // Outside the lock: a host function we wait for may itself add or remove.
    if (found) {
        wakeWaiting(); // a frame waiting for its turn to call it gives up now
        waitUntilNotCalling(subscriber);
    }
}

void AnalysisRegistry::waitUntilNotCalling(const AnalysisSubscriber *subscriber) noexcept {
    const DWORD self = GetCurrentThreadId();
    for (Walker &walker : walkers_) {
        const unsigned claim = walker.claim.load();
        if ((claim & 1u) == 0 || walker.thread.load() == self) {
            continue; // idle, or this thread's own walk (removal from inside the callback)
        }
        // Until that walk ends or announces another record: it has then passed this one or
        // will find its entry cleared. Announcing none, it may be reading this one. A walk
        // holding the turn for this record leaves when the host function returns; one waiting
        // for the turn gives up now that the entry is cleared.
        for (unsigned round = 0; walker.claim.load() == claim; backOff(round)) {
            const AnalysisSubscriber *calling = walker.calling.load();
            if (calling && calling != subscriber) {
                break;
            }
        }
    }
}

bool AnalysisRegistry::takeTurn(Walker &walker, const std::atomic<AnalysisSubscriber *> &entry,
                                const AnalysisSubscriber &subscriber) noexcept {
    const DWORD self = GetCurrentThreadId();
    // A frame shown from inside a host function, on its thread, goes on as a plain lock would.
    if (turn_.holder.load() == self) {
        ++turn_.depth;
        return true;
    }
    DWORD none = 0;
    if (turn_.waiting.load() == 0 && turn_.holder.compare_exchange_strong(none, self)) {
        turn_.depth = 1;
        return true;
    }
    bool granted = false;
    {
        kestrava::LockGuard<SRWLOCK> guard(turn_.lock);
        walker.ticket = ++turn_.tickets;
        ++turn_.waiting; // before the holder is looked at: see giveBackTurn()
        for (;;) {
            none = 0;
            if (oldestWaiting(walker) && turn_.holder.compare_exchange_strong(none, self)) {
                granted = true;
                break;
            }
            // Whoever removes, opens or closes it may be the holder, waiting for this thread.
            if (entry.load() != &subscriber || subscriber.withdrawals_.load() != 0) {
                break;
            }
            SleepConditionVariableSRW(&turn_.changed, &turn_.lock, INFINITE, 0);
        }
        walker.ticket = 0;
        --turn_.waiting;
    }
    if (granted) {
        turn_.depth = 1;
    } else {
        wakeWaiting(); // it may have been first in line
    }
    return granted;
}

// Frames take the turn in the order they asked for it, so every port gets its share.
bool AnalysisRegistry::oldestWaiting(const Walker &walker) const noexcept {
    for (const Walker &other : walkers_) {
        if (other.ticket != 0 && other.ticket < walker.ticket) {
            return false;
        }
    }
    return true;
}

void AnalysisRegistry::giveBackTurn() noexcept {
    if (--turn_.depth == 0) {
        // A waiter counts itself before it looks at the holder, and this looks at the count
        // after freeing the turn: one of the two sees the other.
        turn_.holder.store(0);
        wakeWaiting();
    }
}

// Wakes the waiting frames to look again at what they wait for, changed before this call. The
// lock orders that change before a waiter's next look, or after its sleep began.
void AnalysisRegistry::wakeWaiting() noexcept {
    if (turn_.waiting.load() == 0) {
        return; // a frame that counts itself from now on sees the change
    }
    { kestrava::LockGuard<SRWLOCK> passed(turn_.lock); }
    WakeAllConditionVariable(&turn_.changed);
}

void AnalysisRegistry::dispatchFrame(LONG port, char *data, LONG size, LONG width, LONG height,
                                     LONG stamp, LONG type, LONG reserved) {
    WalkerClaim claim(walkers_);
    Walker &walker = claim.walker();
    const Entries *entries = entries_.load(); // after the claim: see retire()
    if (!entries) {
        return;
    }
    const size_t count = entries->count.load();
    for (size_t i = 0; i < count; ++i) {
        const std::atomic<AnalysisSubscriber *> &entry = entries->slots[i];
        AnalysisSubscriber *subscriber = entry.load();
        // Read while this walk announces no record, for which remove() waits.
        if (!subscriber || !subscriber->wantsFrame(port)) {
            continue;
        }
        walker.calling.store(subscriber);
        if (entry.load() == subscriber && takeTurn(walker, entry, *subscriber)) {
            TurnHeld turn(*this);
            if (entry.load() == subscriber) { // not removed while it waited
                subscriber->deliverFrame(port, data, size, width, height, stamp, type, reserved);
            }
        }
        // A full fence, not a release: the next entry is read only once remove() can see that
        // this record is left, or it might take the old announcement for a later one.
        walker.calling.exchange(nullptr);
    }
}

void AnalysisSubscriber::setCallback(AnalysisCallback newCallback, LONG_PTR newUserData,
                                     LONG newReversed) noexcept {
    unsigned version = version_.load(std::memory_order_relaxed);
    for (unsigned round = 0;; backOff(round)) {
        if ((version & 1u) == 0 &&
            version_.compare_exchange_weak(version, version + 1, std::memory_order_acquire,
                                           std::memory_order_relaxed)) {
            break;
        }
        version = version_.load(std::memory_order_relaxed); // another thread is replacing them
    }
    std::atomic_thread_fence(std::memory_order_release);
    callback_.store(newCallback, std::memory_order_relaxed);
    userData_.store(newUserData, std::memory_order_relaxed);
    reversed_.store(newReversed, std::memory_order_relaxed);
    version_.store(version + 2, std::memory_order_release);
}

void CALLBACK onDisplayFrame(LONG port, char *data, LONG size, LONG width, LONG height, LONG stamp,
                             LONG type, LONG reserved) {
    framesInside.fetch_add(1);
    kestrava::comBoundary([&] {
        if (AnalysisRegistry *registry = AnalysisRegistry::instance()) {
            registry->dispatchFrame(port, data, size, width, height, stamp, type, reserved);
        }
        return S_OK; // the engine takes no status: what was thrown ends here
    });
    // The last step: a host function may have released the last object, and the module may be
    // unloaded as soon as this count is zero.
    framesInside.fetch_sub(1);
}
