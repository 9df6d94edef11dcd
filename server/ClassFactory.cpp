#include "ClassFactory.h"

#include "ComBoundary.h"
#include "InterfaceMap.h"
#include "KestravaClass.h"
#include "Module.h"

#include <atomic>
#include <new>

namespace kestrava {
namespace {

class ClassFactory final : public IClassFactory {
  public:
    explicit ClassFactory(ObjectCreator creator) : creator_(creator) {}
    ClassFactory(const ClassFactory &) = delete;
    ClassFactory &operator=(const ClassFactory &) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override {
        const InterfaceEntry map[] = {{&IID_IUnknown, this}, {&IID_IClassFactory, this}};
        return queryInterface(map, iid, object);
    }

    // The module's own reference (count 1) does not keep the module loaded; a client's does.
    STDMETHODIMP_(ULONG) AddRef() override {
        LockGuard<ModuleLock> guard(countLock_);
        if (++refs_ == 2) {
            module::lock();
        }
        return refs_;
    }

    STDMETHODIMP_(ULONG) Release() override {
        ULONG refs;
        {
            LockGuard<ModuleLock> guard(countLock_);
            refs = --refs_;
            if (refs == 1) {
                module::unlock();
            }
        }
        if (refs == 0) {
            delete this;
        }
        return refs;
    }

    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID iid, void **object) override {
        if (!clearOut(object)) {
            return E_POINTER;
        }
        if (outer && !IsEqualIID(iid, IID_IUnknown)) {
            return CLASS_E_NOAGGREGATION;
        }
        return comBoundary([&] { return creator_(outer, iid, object); });
    }

    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            module::lock();
        } else {
            module::unlock();
        }
        return S_OK;
    }

  private:
    ObjectCreator creator_;
    ModuleLock countLock_;
    // -- protected by countLock_
    ULONG refs_ = 0;
};

// Written once under classObjectLock; read without it after the first test.
std::atomic<IUnknown *> classObject{nullptr};

} // namespace

HRESULT getClassObject(REFCLSID clsid, REFIID iid, void **object) {
    if (!clearOut(object)) {
        return E_POINTER;
    }
    if (!IsEqualCLSID(clsid, CLSID_KestravaCOM)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    if (!classObject.load(std::memory_order_acquire)) {
        LockGuard<ModuleLock> guard(module::classObjectLock());
        if (!classObject.load(std::memory_order_relaxed)) {
            ClassFactory *factory = new (std::nothrow) ClassFactory(&createKestravaObject);
            if (!factory) {
                return E_OUTOFMEMORY;
            }
            IUnknown *unknown = nullptr;
            factory->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unknown));
            classObject.store(unknown, std::memory_order_release);
        }
    }
    return classObject.load(std::memory_order_acquire)->QueryInterface(iid, object);
}

void releaseClassObject() {
    IUnknown *factory = classObject.exchange(nullptr);
    if (factory) {
        factory->Release();
    }
}

} // namespace kestrava
