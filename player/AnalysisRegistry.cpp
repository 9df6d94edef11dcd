#include "AnalysisRegistry.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace {

std::atomic<AnalysisRegistry *> theRegistry{nullptr};

} // namespace

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

int AnalysisRegistry::add(AnalysisSubscriber *subscriber) noexcept {
    try {
        MutexGuard guard(lock_);
        if (guard.acquired() &&
            std::find(subscribers_.begin(), subscribers_.end(), subscriber) == subscribers_.end()) {
            subscribers_.push_back(subscriber);
        }
    } catch (...) {
        // No memory for the entry: the subscriber stays out, as when the lock fails.
    }
    return 0;
}

int AnalysisRegistry::remove(AnalysisSubscriber *subscriber) noexcept {
    MutexGuard guard(lock_);
    if (guard.acquired()) {
        auto found = std::find(subscribers_.begin(), subscribers_.end(), subscriber);
        if (found != subscribers_.end()) {
            subscribers_.erase(found);
        }
    }
    return 0;
}

void AnalysisRegistry::dispatchFrame(LONG port, char *data, LONG size, LONG width, LONG height,
                                     LONG stamp, LONG type, LONG reserved) {
    MutexGuard guard(lock_);
    if (!guard.acquired()) {
        return;
    }
    for (const AnalysisSubscriber *subscriber : subscribers_) {
        subscriber->deliverFrame(port, data, size, width, height, stamp, type, reserved);
    }
}

void AnalysisRegistry::setCallback(AnalysisSubscriber &subscriber, AnalysisCallback callback,
                                   LONG userData, LONG reversed) noexcept {
    MutexGuard guard(lock_);
    // Without the lock the values are still written: a torn set for one frame beats losing
    // the host's request.
    subscriber.callback = callback;
    subscriber.userData = userData;
    subscriber.reversed = reversed;
}

void AnalysisRegistry::setPort(AnalysisSubscriber &subscriber, LONG port) noexcept {
    MutexGuard guard(lock_);
    subscriber.port = port;
}

void AnalysisSubscriber::setCallback(AnalysisCallback newCallback, LONG newUserData,
                                     LONG newReversed) noexcept {
    if (AnalysisRegistry *registry = AnalysisRegistry::instance()) {
        registry->setCallback(*this, newCallback, newUserData, newReversed);
        return;
    }
    // No registry means nothing is registered, so no SDK thread can be reading these.
    callback = newCallback;
    userData = newUserData;
    reversed = newReversed;
}

void CALLBACK onDisplayFrame(LONG port, char *data, LONG size, LONG width, LONG height, LONG stamp,
                             LONG type, LONG reserved) {
    try {
        if (AnalysisRegistry *registry = AnalysisRegistry::instance()) {
            registry->dispatchFrame(port, data, size, width, height, stamp, type, reserved);
        }
    } catch (...) {
        // Nothing may unwind into the SDK's thread.
    }
}
