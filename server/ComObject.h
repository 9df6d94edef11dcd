// Concrete COM objects over the player class: identity, interface map, reference counting and
// late binding. The player class implements the interfaces' own methods; everything a COM
// client needs beyond that lives here.
#ifndef KESTRAVA_SERVER_COMOBJECT_H
#define KESTRAVA_SERVER_COMOBJECT_H

#include "ComBoundary.h"
#include "Module.h"
#include "TypeInfoCache.h"

#include <Kestrava.h>

#include <atomic>
#include <new>
#include <stdexcept>

namespace kestrava {

// The parts shared by standalone and aggregated objects.
template <class Player> class ObjectCore : public Player {
  public:
    // Answers from the interface map only; IUnknown is the caller's business.
    HRESULT queryInterfaceMap(REFIID iid, void **object) {
        if (IsEqualIID(iid, IID_IBaseFilePlay) || IsEqualIID(iid, IID_IDispatch)) {
            *object = static_cast<IBaseFilePlay *>(this);
        } else if (IsEqualIID(iid, IID_ICapture)) {
            *object = static_cast<ICapture *>(this);
        } else if (IsEqualIID(iid, IID_IConvert)) {
            *object = static_cast<IConvert *>(this);
        } else if (IsEqualIID(iid, IID_IExtendHalvet)) {
            *object = static_cast<IExtendHalvet *>(this);
        } else if (IsEqualIID(iid, IID_IFileInfo)) {
            *object = static_cast<IFileInfo *>(this);
        } else if (IsEqualIID(iid, IID_IPlayFrame)) {
            *object = static_cast<IPlayFrame *>(this);
        } else if (IsEqualIID(iid, IID_IRegionManify)) {
            *object = static_cast<IRegionManify *>(this);
        } else {
            return E_NOINTERFACE;
        }
        return S_OK;
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
    // The final-construction step runs with the count raised by one, so nothing it does can
    // destroy the object; then `query` hands it out, and a failure of either destroys it.
    template <class Query> HRESULT finishConstruction(Query query) {
        ++refs_;
        HRESULT hr = this->FinalConstruct();
        --refs_;
        if (SUCCEEDED(hr)) {
            hr = query();
        }
        if (FAILED(hr)) {
            destroy();
        }
        return hr;
    }

    // The lock count drops only once the player's destruction has finished, so the module
    // cannot be unloaded while destruction code still runs.
    void destroy() {
        refs_.store(1); // nothing during destruction may destroy the object again
        this->FinalRelease();
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
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = this->identity();
        } else if (FAILED(this->queryInterfaceMap(iid, object))) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
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
            if (!object) {
                return E_POINTER;
            }
            *object = nullptr;
            if (IsEqualIID(iid, IID_IUnknown)) {
                *object = static_cast<IUnknown *>(this);
            } else if (FAILED(owner_->queryInterfaceMap(iid, object))) {
                return E_NOINTERFACE;
            }
            static_cast<IUnknown *>(*object)->AddRef();
            return S_OK;
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
