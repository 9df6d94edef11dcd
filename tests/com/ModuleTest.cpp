// The module as COM sees it: exports, lock count, the cached class object, creation standalone
// and aggregated, object identity.
#include "ComTestSupport.h"
#include "HeapBytes.h"

#include <Doubles.h>
#include <ocidl.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

using comtest::ComPtr;
using comtest::Server;

namespace {

// Every exported name of a loaded module, from its export directory.
std::set<std::string> exportedNames(HMODULE module) {
    auto base = reinterpret_cast<const BYTE *>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    if (!dir.VirtualAddress) {
        return names;
    }
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
    auto nameRvas = reinterpret_cast<const DWORD *>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        names.insert(reinterpret_cast<const char *>(base + nameRvas[i]));
    }
    EXPECT_EQ(exports->NumberOfNames, exports->NumberOfFunctions);
    return names;
}

// An outer object that aggregates the component and hands out the inner interfaces it lets
// through; it counts the calls that reach it.
class Outer final : public IUnknown {
  public:
    explicit Outer(bool letFileInfoThrough) : letFileInfoThrough_(letFileInfoThrough) {}
    STDMETHODIMP QueryInterface(REFIID iid, void **object) override {
        ++queries;
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<IUnknown *>(this);
            AddRef();
            return S_OK;
        }
        if (!letFileInfoThrough_ && IsEqualIID(iid, IID_IFileInfo)) {
            return E_NOINTERFACE;
        }
        return inner ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    IUnknown *inner = nullptr;
    ULONG refs = 1;
    int queries = 0;

  private:
    bool letFileInfoThrough_;
};

class Module : public ::testing::Test {
  protected:
    void SetUp() override {
        doubles::resetAll();
        ASSERT_TRUE(server.loaded());
    }
    Server server;
};

} // namespace

TEST_F(Module, ExportsExactlyTheFourEntryPoints) {
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                     "DllUnregisterServer"}),
              exportedNames(server.module()));
}

TEST_F(Module, FreshModuleMayUnload) {
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

TEST_F(Module, ClassObjectForAnotherClassIsNotAvailable) {
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              server.getClassObject(IID_IBaseFilePlay, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, server.getClassObject(CLSID_KestravaCOM, IID_IClassFactory, nullptr));
}

TEST_F(Module, ClassObjectIsCachedAndClientReferencesHoldTheModule) {
    ComPtr<IClassFactory> first = server.factory();
    ComPtr<IClassFactory> second = server.factory();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(S_FALSE, server.canUnloadNow());
    first.reset();
    EXPECT_EQ(S_FALSE, server.canUnloadNow());
    second.reset();
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

TEST_F(Module, ClassObjectRefusesIClassFactory2AndStaysCached) {
    IClassFactory *before = server.factory().get(); // compared as an address only
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_NOINTERFACE, server.getClassObject(CLSID_KestravaCOM, IID_IClassFactory2, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(S_OK, server.canUnloadNow());
    ComPtr<IClassFactory> after = server.factory();
    EXPECT_EQ(before, after.get());
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, server.getClassObject(CLSID_KestravaCOM, IID_IUnknown, unknown.outVoid()));
    EXPECT_EQ(static_cast<IUnknown *>(after.get()), unknown.get());
}

TEST_F(Module, LockServerHoldsTheModuleUntilUnlocked) {
    ComPtr<IClassFactory> factory = server.factory();
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.reset();
    EXPECT_EQ(S_FALSE, server.canUnloadNow());
    factory = server.factory();
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.reset();
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

TEST_F(Module, LivingObjectHoldsTheModule) {
    ComPtr<IBaseFilePlay> object = server.create<IBaseFilePlay>(IID_IBaseFilePlay);
    ASSERT_TRUE(object);
    EXPECT_EQ(S_FALSE, server.canUnloadNow());
    object.reset();
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

TEST_F(Module, CreateInstanceChecksItsArguments) {
    ComPtr<IClassFactory> factory = server.factory();
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilePlay, nullptr));
    Outer outer(true);
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IBaseFilePlay, &object));
    EXPECT_EQ(nullptr, object);
    // No object was made: construction would have configured the log.
    EXPECT_EQ(0, QorLogDouble_InitCount());
    factory.reset();
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

TEST_F(Module, RefusedInterfaceDestroysTheNewObject) {
    ComPtr<IClassFactory> factory = server.factory();
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_ISupportErrorInfo, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_GE(QorLogDouble_InitCount(), 1); // it was made
    factory.reset();
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

TEST_F(Module, EveryInterfaceSharesOneIdentityAndOneCount) {
    ComPtr<IUnknown> identity = server.create<IUnknown>(IID_IUnknown);
    ASSERT_TRUE(identity);
    const IID *interfaces[] = {&IID_IBaseFilePlay, &IID_IDispatch,     &IID_ICapture,
                               &IID_IConvert,      &IID_IExtendHalvet, &IID_IFileInfo,
                               &IID_IPlayFrame,    &IID_IRegionManify};
    ComPtr<IUnknown> primary;
    ASSERT_EQ(S_OK, identity->QueryInterface(IID_IBaseFilePlay, primary.outVoid()));
    EXPECT_EQ(identity.get(), primary.get());
    for (const IID *iid : interfaces) {
        ComPtr<IUnknown> itf;
        ASSERT_EQ(S_OK, identity->QueryInterface(*iid, itf.outVoid()));
        ComPtr<IUnknown> back;
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IUnknown, back.outVoid()));
        EXPECT_EQ(identity.get(), back.get());
    }
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, identity->QueryInterface(IID_IDispatch, dispatch.outVoid()));
    EXPECT_EQ(static_cast<IUnknown *>(dispatch.get()), identity.get());
    ComPtr<IFileInfo> info;
    ASSERT_EQ(S_OK, identity->QueryInterface(IID_IFileInfo, info.outVoid()));
    EXPECT_NE(static_cast<IUnknown *>(info.get()), identity.get());
    // One count for all interfaces.
    ULONG before = identity->AddRef();
    EXPECT_EQ(before + 1, info->AddRef());
    info->Release();
    identity->Release();
}

TEST_F(Module, QueryInterfaceRefusesEverythingOutsideTheMap) {
    ComPtr<IFileInfo> object = server.create<IFileInfo>(IID_IFileInfo);
    ASSERT_TRUE(object);
    const IID *refused[] = {&IID_ISupportErrorInfo, &IID_IProvideClassInfo,
                            &IID_IConnectionPointContainer, &IID_IClassFactory, &IID_IMarshal};
    for (const IID *iid : refused) {
        void *itf = reinterpret_cast<void *>(1);
        EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(*iid, &itf));
        EXPECT_EQ(nullptr, itf);
    }
    EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IUnknown, nullptr));
}

TEST_F(Module, AggregatedObjectSpeaksForItsOuterObject) {
    ComPtr<IClassFactory> factory = server.factory();
    Outer outer(true);
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown,
                                            reinterpret_cast<void **>(&outer.inner)));
    factory.reset();
    EXPECT_EQ(S_FALSE, server.canUnloadNow());
    EXPECT_EQ(1u, outer.refs);

    // The inner IUnknown answers for itself.
    ComPtr<IUnknown> innerAgain;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IUnknown, innerAgain.outVoid()));
    EXPECT_EQ(outer.inner, innerAgain.get());
    innerAgain.reset();

    IBaseFilePlay *play = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IBaseFilePlay, reinterpret_cast<void **>(&play)));
    EXPECT_EQ(2u, outer.refs); // the interface's reference went to the outer object
    play->AddRef();
    EXPECT_EQ(3u, outer.refs);
    play->Release();

    IUnknown *identity = nullptr;
    int queriesBefore = outer.queries;
    ASSERT_EQ(S_OK, play->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)));
    EXPECT_EQ(static_cast<IUnknown *>(&outer), identity);
    EXPECT_EQ(queriesBefore + 1, outer.queries);
    identity->Release();

    IFileInfo *info = nullptr;
    ASSERT_EQ(S_OK, play->QueryInterface(IID_IFileInfo, reinterpret_cast<void **>(&info)));
    info->Release();
    play->Release();
    EXPECT_EQ(1u, outer.refs);

    EXPECT_EQ(0u, outer.inner->Release());
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

TEST_F(Module, AggregatedObjectKeepsToWhatItsOuterObjectRefuses) {
    ComPtr<IClassFactory> factory = server.factory();
    Outer outer(false);
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown,
                                            reinterpret_cast<void **>(&outer.inner)));
    IBaseFilePlay *play = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(IID_IBaseFilePlay, reinterpret_cast<void **>(&play)));
    void *info = reinterpret_cast<void *>(1);
    EXPECT_EQ(E_NOINTERFACE, play->QueryInterface(IID_IFileInfo, &info));
    EXPECT_EQ(nullptr, info);
    play->Release();
    outer.inner->Release();
}

TEST_F(Module, TenThousandObjectsLeaveNoLockAndNoMemoryBehind) {
    PlayCtrlDouble_SetRecording(0);
    ComPtr<IClassFactory> factory = server.factory();
    auto churn = [&](int count) {
        for (int i = 0; i < count; ++i) {
            ComPtr<IBaseFilePlay> standalone;
            ASSERT_EQ(S_OK,
                      factory->CreateInstance(nullptr, IID_IBaseFilePlay, standalone.outVoid()));
            Outer outer(true);
            ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown,
                                                    reinterpret_cast<void **>(&outer.inner)));
            outer.inner->Release();
            if (i % 256 == 0) {
                QorLogDouble_ClearEntries(); // the double's own record of Init calls
            }
        }
    };
    churn(1000); // warm caches and the heap
    long long before = heapBytesInUse();
    ASSERT_GT(before, 0) << "the platform reports no heap blocks";
    churn(10000);
    long long after = heapBytesInUse();
    factory.reset();
    EXPECT_EQ(S_OK, server.canUnloadNow());
    // 20,000 objects: even a 16-byte leak each would show as 320 KB.
    EXPECT_LT(after - before, 128 * 1024) << "heap grew by " << (after - before);
}

// Threads that start together, each running `body(index)`.
template <class Body> void runTogether(int threads, Body body) {
    std::atomic<int> waiting{threads};
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back([&, i] {
            --waiting;
            while (waiting.load() > 0) {
                std::this_thread::yield();
            }
            body(i);
        });
    }
    for (std::thread &t : pool) {
        t.join();
    }
}

TEST_F(Module, ConcurrentFirstRequestsShareOneClassObject) {
    constexpr int kThreads = 8;
    std::vector<IUnknown *> seen(kThreads, nullptr);
    runTogether(kThreads, [&](int i) {
        server.getClassObject(CLSID_KestravaCOM, IID_IUnknown, reinterpret_cast<void **>(&seen[i]));
    });
    for (IUnknown *factory : seen) {
        EXPECT_EQ(seen[0], factory);
        if (factory) {
            factory->Release();
        }
    }
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

TEST_F(Module, ConcurrentFirstLateBindingLoadsOneTypeInformation) {
    ASSERT_EQ(S_OK, server.registerServer());
    constexpr int kThreads = 8;
    std::vector<ITypeInfo *> seen(kThreads, nullptr);
    std::vector<DISPID> ids(kThreads, 0);
    runTogether(kThreads, [&](int i) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            ComPtr<IFileInfo> object = server.create<IFileInfo>(IID_IFileInfo);
            if (object) {
                LPOLESTR name = const_cast<LPOLESTR>(L"PictureSize");
                object->GetIDsOfNames(IID_NULL, &name, 1, 0, &ids[i]);
                object->GetTypeInfo(0, 0, &seen[i]);
            }
        }
        CoUninitialize();
    });
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(9, ids[i]);
        EXPECT_NE(nullptr, seen[i]);
        EXPECT_EQ(seen[0], seen[i]);
        if (seen[i]) {
            seen[i]->Release();
        }
    }
    EXPECT_EQ(S_OK, server.canUnloadNow());
}

namespace {

// The analysis function releases the host's last reference to its own object.
IBaseFilePlay *releasedInside = nullptr;
Server *releasingServer = nullptr;
HRESULT unloadInsideFrame = E_FAIL;
void CALLBACK releasingHost(char *, LONG, LONG, LONG, LONG_PTR, LONG) {
    if (IBaseFilePlay *player = releasedInside) {
        releasedInside = nullptr;
        player->Release();
        unloadInsideFrame = releasingServer->canUnloadNow();
    }
}

} // namespace

TEST_F(Module, LastReleaseInsideTheAnalysisFunctionLetsTheModuleGoAfterTheFrame) {
    constexpr LONG kPort = 31;
    IBaseFilePlay *player = nullptr; // the one reference, which the host function releases
    ASSERT_EQ(S_OK, server.factory()->CreateInstance(nullptr, IID_IBaseFilePlay,
                                                     reinterpret_cast<void **>(&player)));
    ComPtr<IExtendHalvet> extension;
    ASSERT_EQ(S_OK, player->QueryInterface(IID_IExtendHalvet, extension.outVoid()));
    PlayCtrlDouble_SetNextPort(kPort);
    BSTR path = SysAllocString(L"clip.mp4");
    ASSERT_EQ(S_OK, player->OpenFile(path, 0));
    SysFreeString(path);
    ASSERT_EQ(S_OK, player->Play());
    ASSERT_EQ(S_OK,
              extension->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&releasingHost), 0, 0));
    extension.reset();
    releasingServer = &server;
    releasedInside = player;
    char frame[16] = {};
    EXPECT_EQ(1, PlayCtrlDouble_FireDisplay(kPort, frame, 16, 4, 2));
    EXPECT_EQ(nullptr, releasedInside);
    EXPECT_EQ(S_FALSE, unloadInsideFrame); // its code was still running
    EXPECT_EQ(S_OK, server.canUnloadNow());
    EXPECT_EQ(0, PlayCtrlDouble_PortsInUse());
    EXPECT_EQ(0, PlayCtrlDouble_OpenFiles());
    EXPECT_EQ(0, PlayCtrlDouble_FireDisplay(kPort, frame, 16, 4, 2)); // withdrawn
}
