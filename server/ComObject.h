// Concrete COM objects over the player class: identity, interface map, reference counting and
// late binding. The player class implements the interfaces' own methods; everything a COM
// client needs beyond that lives here.
#ifndef KESTRAVA_SERVER_COMOBJECT_H
#define KESTRAVA_SERVER_COMOBJECT_H

#include "ComBoundary.h"
#include "InterfaceMap.h"
#include "Module.h"
#include "TypeInfoCache.h"

#include <Kestrava.h>

#include <array>
#include <atomic>
#include <new>
#include <stdexcept>

namespace kestrava {

// The parts shared by standalone and aggregated objects.
template <class Player> class ObjectCore : public Player {
  public:
    // The interface map; IUnknown is answered by `unknown`, which is the caller's business.
    std::array<InterfaceEntry, 9> interfaceMap(IUnknown *unknown) {
        IBaseFilePlay *base = this;
        return {{{&IID_IUnknown, unknown},
                 {&IID_IBaseFilePlay, base},
                 {&IID_IDispatch, base},
                 {&IID_ICapture, static_cast<ICapture *>(this)},
                 {&IID_IConvert, static_cast<IConvert *>(this)},
                 {&IID_IExtendHalvet, static_cast<IExtendHalvet *>(this)},
                 {&IID_IFileInfo, static_cast<IFileInfo *>(this)},
                 {&IID_IPlayFrame, static_cast<IPlayFrame *>(this)},
                 {&IID_IRegionManify, static_cast<IRegionManify *>(this)}}};
    }

    IUnknown *identity() { return static_cast<IBaseFilePlay *>(this); }

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

  protected:
    // `query` hands the new object out; when it cannot, the object is destroyed.
    template <class Query> HRESULT finishConstruction(Query query) {
        const HRESULT hr = query();
        if (FAILED(hr)) {
            destroy();
        }
        return hr;
    }

    // The lock count drops only once the player's destruction has finished, so the module
    // cannot be unloaded while destruction code still runs.
    void destroy() {
        refs_.store(1); // nothing during destruction may destroy the object again
        delete this;
        module::unlock();
    }

    // Atomic: a host's analysis function may release the object on an engine thread.
    std::atomic<ULONG> refs_{0};

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

// An object on its own.
template <class Player> class StandaloneObject final : public ObjectCore<Player> {
  public:
    StandaloneObject() { module::lock(); }

    static HRESULT create(REFIID iid, void **object) {
        auto *created = new (std::nothrow) StandaloneObject;
        if (!created) {
            return E_OUTOFMEMORY;
        }
        return created->finishConstruction([&] { return created->QueryInterface(iid, object); });
    }

    // One override serves all seven interfaces.
    STDMETHODIMP QueryInterface(REFIID iid, void **object) override {
        return queryInterface(this->interfaceMap(this->identity()), iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG refs = --refs_;
        if (refs == 0) {
            destroy();
        }
        return refs;
    }

  private:
    ~StandaloneObject() override = default;

    using ObjectCore<Player>::refs_;
    using ObjectCore<Player>::destroy;
    using ObjectCore<Player>::finishConstruction;
};

// An object inside an outer object: the seven interfaces speak for the outer object, the inner
// IUnknown owns the lifetime.
template <class Player> class AggregatedObject final : public ObjectCore<Player> {
  public:
    explicit AggregatedObject(IUnknown *outer) : outer_(outer), inner_(this) { module::lock(); }

    static HRESULT create(IUnknown *outer, REFIID iid, void **object) {
        auto *created = new (std::nothrow) AggregatedObject(outer);
        if (!created) {
            return E_OUTOFMEMORY;
        }
        return created->finishConstruction(
            [&] { return created->inner_.QueryInterface(iid, object); });
    }

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override {
        return outer_->QueryInterface(iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

  private:
    class Inner final : public IUnknown {
      public:
        explicit Inner(AggregatedObject *owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID iid, void **object) override {
            return queryInterface(owner_->interfaceMap(this), iid, object);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ++owner_->refs_; }
        STDMETHODIMP_(ULONG) Release() override {
            ULONG refs = --owner_->refs_;
            if (refs == 0) {
                owner_->destroy();
            }
            return refs;
        }

      private:
        AggregatedObject *owner_;
    };

    ~AggregatedObject() override = default;

    using ObjectCore<Player>::refs_;
    using ObjectCore<Player>::destroy;
    using ObjectCore<Player>::finishConstruction;

    IUnknown *outer_; // not held: the outer object owns us
    Inner inner_;
};

} // namespace kestrava

#endif
