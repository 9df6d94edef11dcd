#include "KestravaClass.h"

#include "ComObject.h"

#include <KestravaCOM.h>

namespace kestrava {

HRESULT createKestravaObject(IUnknown *outer, REFIID iid, void **object) {
    if (outer) {
        return AggregatedPlayer<KestravaCOM>::create(outer, iid, object);
    }
    return StandalonePlayer<KestravaCOM>::create(iid, object);
}

} // namespace kestrava
