// COM identity, reference counting and aggregation for any class that lists its own interfaces.
// `Base` implements the interfaces' methods and gives `interfaceMap(IUnknown *unknown)` (rows
// that queryInterface walks, IUnknown answered by `unknown`) and `identity()`; `Lifetime` gives
// static `lock()` and `unlock()`, the module's count of living objects.
#ifndef KESTRAVA_COM_OBJECTCORE_H
#define KESTRAVA_COM_OBJECTCORE_H

#include "InterfaceMap.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

namespace kestrava {

// The parts shared by standalone and aggregated objects.
template <class Base, class Lifetime> class ObjectCore : public Base {
  protected:
    // `query` hands the new object out; when it cannot, the object is destroyed.
    template <class Query> HRESULT finishConstruction(Query query) {
        const HRESULT hr = query();
        if (FAILED(hr)) {
            destroy();
        }
        return hr;
    }

    // The lock count drops only once the destruction has finished, so the module cannot be
    // unloaded while destruction code still runs.
    void destroy() {
        refs_.store(1); // nothing during destruction may destroy the object again
        delete this;
        Lifetime::unlock();
    }

    // Atomic: a host's analysis function may release the object on an engine thread.
    std::atomic<ULONG> refs_{0};
};

// An object on its own.
template <class Base, class Lifetime>
class StandaloneObject final : public ObjectCore<Base, Lifetime> {
  public:
    StandaloneObject() { Lifetime::lock(); }

    static HRESULT create(REFIID iid, void **object) {
        auto *created = new (std::nothrow) StandaloneObject;
        if (!created) {
            return E_OUTOFMEMORY;
        }
        return created->finishConstruction([&] { return created->QueryInterface(iid, object); });
    }

    // One override serves every interface of the map.
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

    using ObjectCore<Base, Lifetime>::refs_;
    using ObjectCore<Base, Lifetime>::destroy;
    using ObjectCore<Base, Lifetime>::finishConstruction;
};

// An object inside an outer object: its interfaces speak for the outer object, the inner
// IUnknown owns the lifetime.
template <class Base, class Lifetime>
class AggregatedObject final : public ObjectCore<Base, Lifetime> {
  public:
    explicit AggregatedObject(IUnknown *outer) : outer_(outer), inner_(this) { Lifetime::lock(); }

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

    using ObjectCore<Base, Lifetime>::refs_;
    using ObjectCore<Base, Lifetime>::destroy;
    using ObjectCore<Base, Lifetime>::finishConstruction;

    IUnknown *outer_; // not held: the outer object owns us
    Inner inner_;
};

} // namespace kestrava

#endif
