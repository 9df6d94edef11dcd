// The player as the module serves it: late binding answered from the registered type
// information, and every object counted in the module's lock count. Identity, reference counting
// and aggregation come from com/ObjectCore.h; the interfaces, from the player's own map.
#ifndef KESTRAVA_SERVER_COMOBJECT_H
#define KESTRAVA_SERVER_COMOBJECT_H

#include "ComBoundary.h"
#include "Module.h"
#include "ObjectCore.h"
#include "TypeInfoCache.h"

#include <stdexcept>

namespace kestrava {

// The four IDispatch hooks of the player, each interface answering from its own type
// information.
template <class Player> class DispatchedPlayer : public Player {
  public:
    HRESULT dispatchTypeInfoCount(REFIID itf, UINT *count) override {
        return comBoundary([&] { return cache(itf)->typeInfoCount(count); });
    }
    HRESULT dispatchTypeInfo(REFIID itf, UINT index, LCID lcid, ITypeInfo **info) override {
        return comBoundary([&] { return cache(itf)->typeInfo(index, lcid, info); });
    }
    HRESULT dispatchIDsOfNames(REFIID itf, LPOLESTR *names, UINT count, LCID lcid,
                               DISPID *ids) override {
        return comBoundary([&] { return cache(itf)->idsOfNames(names, count, lcid, ids); });
    }
    HRESULT dispatchInvoke(REFIID itf, IDispatch *self, DISPID id, LCID lcid, WORD flags,
                           DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
                           UINT *argError) override {
        return comBoundary([&] {
            return cache(itf)->invoke(self, id, lcid, flags, params, result, exception, argError);
        });
    }

  private:
    // Every interface of the map has a record; anything else is a programming error.
    static TypeInfoCache *cache(REFIID itf) {
        TypeInfoCache *record = TypeInfoCache::forInterface(itf);
        if (!record) {
            throw std::logic_error("interface without type information");
        }
        return record;
    }
};

// Living objects keep the module loaded.
struct ModuleLifetime {
    static void lock() { module::lock(); }
    static void unlock() { module::unlock(); }
};

template <class Player>
using StandalonePlayer = StandaloneObject<DispatchedPlayer<Player>, ModuleLifetime>;
template <class Player>
using AggregatedPlayer = AggregatedObject<DispatchedPlayer<Player>, ModuleLifetime>;

} // namespace kestrava

#endif
