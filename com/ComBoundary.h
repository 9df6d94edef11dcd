// Where a call leaves the component for a host (a COM method, an export, a callback into a host's
// thread) nothing may unwind: every DLL has its own C++ runtime, so the host could not catch it.
// Each such edge runs its body through comBoundary, which turns anything thrown into a status.
#ifndef KESTRAVA_COM_COMBOUNDARY_H
#define KESTRAVA_COM_COMBOUNDARY_H

#include <windows.h>

#include <new>
#include <utility>

namespace kestrava {

// The statuses a caught exception becomes: one for allocation failure, one for the rest.
struct BoundaryStatus {
    HRESULT outOfMemory;
    HRESULT otherwise;
};

// What COM callers expect of a module edge or of IDispatch.
constexpr BoundaryStatus kComFailure{E_OUTOFMEMORY, E_UNEXPECTED};
// Player methods know one failure, the refusal; hosts test for S_FALSE and nothing else.
constexpr BoundaryStatus kRefused{S_FALSE, S_FALSE};

template <class Body> HRESULT comBoundary(BoundaryStatus status, Body &&body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc &) {
        return status.outOfMemory;
    } catch (...) {
        return status.otherwise;
    }
}

template <class Body> HRESULT comBoundary(Body &&body) noexcept {
    return comBoundary(kComFailure, std::forward<Body>(body));
}

} // namespace kestrava

#endif
