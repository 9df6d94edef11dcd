// Late binding through each interface's IDispatch, with the component registered.
#include "ComTestSupport.h"

#include <Doubles.h>

#include <cstdlib>
#include <memory>
#include <thread>

using comtest::ComPtr;
using comtest::Server;

namespace {

class Dispatch : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = new Server;
        ASSERT_TRUE(server->loaded());
        ASSERT_EQ(S_OK, server->registerServer());
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        doubles::resetAll();
        object = server->create<IBaseFilePlay>(IID_IBaseFilePlay);
        ASSERT_TRUE(object);
    }

    template <class T> ComPtr<T> as(REFIID iid) {
        ComPtr<T> itf;
        object->QueryInterface(iid, itf.outVoid());
        return itf;
    }

    static ::testing::AssertionResult resolves(IDispatch *dispatch,
                                               std::initializer_list<const wchar_t *> names,
                                               std::initializer_list<DISPID> expected) {
        std::vector<LPOLESTR> list;
        for (const wchar_t *name : names) {
            list.push_back(const_cast<LPOLESTR>(name));
        }
        std::vector<DISPID> ids(list.size(), 12345);
        HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, list.data(), static_cast<UINT>(list.size()),
                                             LOCALE_USER_DEFAULT, ids.data());
        if (hr != S_OK) {
            return ::testing::AssertionFailure() << "GetIDsOfNames returned 0x" << std::hex << hr;
        }
        if (ids != std::vector<DISPID>(expected)) {
            auto failure = ::testing::AssertionFailure() << "DISPIDs:";
            for (DISPID id : ids) {
                failure << ' ' << id;
            }
            return failure;
        }
        return ::testing::AssertionSuccess();
    }

    static HRESULT idOf(IDispatch *dispatch, const wchar_t *name, DISPID *id) {
        LPOLESTR list = const_cast<LPOLESTR>(name);
        return dispatch->GetIDsOfNames(IID_NULL, &list, 1, LOCALE_USER_DEFAULT, id);
    }

    static Server *server;
    ComPtr<IBaseFilePlay> object;
};

Server *Dispatch::server = nullptr;

} // namespace

TEST_F(Dispatch, ObjectDispatchIsThePrimaryInterface) {
    ComPtr<IDispatch> dispatch = as<IDispatch>(IID_IDispatch);
    EXPECT_TRUE(resolves(dispatch.get(), {L"OpenFile"}, {1}));
    EXPECT_TRUE(resolves(dispatch.get(), {L"PlayPos"}, {12}));
    EXPECT_TRUE(resolves(dispatch.get(), {L"RefreshPlay"}, {14}));
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, idOf(dispatch.get(), L"TotalTime", &id));
}

TEST_F(Dispatch, EachInterfaceAnswersFromItsOwnTypeInformation) {
    ComPtr<IFileInfo> info = as<IFileInfo>(IID_IFileInfo);
    EXPECT_TRUE(resolves(info.get(), {L"TotalTime"}, {1}));
    EXPECT_TRUE(resolves(info.get(), {L"PictureSize"}, {9}));
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, idOf(info.get(), L"OpenFile", &id));
    EXPECT_TRUE(resolves(as<IPlayFrame>(IID_IPlayFrame).get(), {L"IFrameBackward"}, {4}));
    EXPECT_TRUE(resolves(as<ICapture>(IID_ICapture).get(), {L"GetPicture"}, {1}));
    EXPECT_TRUE(resolves(as<IConvert>(IID_IConvert).get(), {L"Convert"}, {1}));
    EXPECT_TRUE(resolves(as<IExtendHalvet>(IID_IExtendHalvet).get(), {L"SetAnalyzeCallBack"}, {1}));
}

TEST_F(Dispatch, NamesResolveInAnyLetterCase) {
    ComPtr<IDispatch> dispatch = as<IDispatch>(IID_IDispatch);
    EXPECT_TRUE(resolves(dispatch.get(), {L"openfile"}, {1}));
    EXPECT_TRUE(resolves(dispatch.get(), {L"PLAYPOS"}, {12}));
    EXPECT_TRUE(resolves(dispatch.get(), {L"OpenFile"}, {1}));
}

TEST_F(Dispatch, ParameterNamesResolveToTheirPositions) {
    ComPtr<IDispatch> dispatch = as<IDispatch>(IID_IDispatch);
    EXPECT_TRUE(resolves(dispatch.get(), {L"SetVolume", L"nPercent"}, {11, 0}));
    EXPECT_TRUE(resolves(dispatch.get(), {L"OpenFile", L"hWnd", L"fileName"}, {1, 1, 0}));
    EXPECT_TRUE(resolves(dispatch.get(), {L"setvolume", L"NPERCENT"}, {11, 0}));
    // Later names are parameters only: a member's name there, a wrong one or a null one is
    // unknown in its own slot.
    const std::vector<std::vector<const wchar_t *>> unknownParameters = {
        {L"SetVolume", L"nPencent"}, {L"SetVolume", L"Play"}, {L"SetVolume", nullptr}};
    for (const auto &list : unknownParameters) {
        std::vector<LPOLESTR> names;
        for (const wchar_t *name : list) {
            names.push_back(const_cast<LPOLESTR>(name));
        }
        std::vector<DISPID> ids(names.size(), 12345);
        EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, names.data(), 2,
                                                              LOCALE_USER_DEFAULT, ids.data()));
        EXPECT_EQ((std::vector<DISPID>{11, DISPID_UNKNOWN}), ids);
    }
    LPOLESTR none[] = {nullptr, const_cast<LPOLESTR>(L"nPercent")};
    std::vector<DISPID> ids(2, 12345);
    EXPECT_EQ(DISP_E_UNKNOWNNAME,
              dispatch->GetIDsOfNames(IID_NULL, none, 2, LOCALE_USER_DEFAULT, ids.data()));
    EXPECT_EQ((std::vector<DISPID>{DISPID_UNKNOWN, DISPID_UNKNOWN}), ids);
}

TEST_F(Dispatch, RegionInterfaceHasTypeInformationButNoMembers) {
    ComPtr<IRegionManify> region = as<IRegionManify>(IID_IRegionManify);
    UINT count = 0;
    EXPECT_EQ(S_OK, region->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    for (const wchar_t *name : {L"Play", L"OpenFile", L"TotalTime", L"StepForward", L"Convert",
                                L"GetPicture", L"SetAnalyzeCallBack", L"PlayPos", L"x"}) {
        DISPID id = 0;
        EXPECT_EQ(DISP_E_UNKNOWNNAME, idOf(region.get(), name, &id)) << comtest::narrow(name);
    }
}

TEST_F(Dispatch, TypeInformationIsSharedAndIgnoresTheIndex) {
    ComPtr<IDispatch> dispatch = as<IDispatch>(IID_IDispatch);
    ComPtr<ITypeInfo> first, fifth;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, first.out()));
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(5, LOCALE_USER_DEFAULT, fifth.out()));
    EXPECT_EQ(first.get(), fifth.get());
    ComPtr<IBaseFilePlay> other = server->create<IBaseFilePlay>(IID_IBaseFilePlay);
    ComPtr<ITypeInfo> others;
    ASSERT_EQ(S_OK, other->GetTypeInfo(0, LOCALE_USER_DEFAULT, others.out()));
    EXPECT_EQ(first.get(), others.get());
    ComPtr<ITypeInfo2> extended;
    EXPECT_EQ(S_OK, first->QueryInterface(IID_ITypeInfo2, extended.outVoid()));
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, first->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(IID_IBaseFilePlay, attr->guid));
    first->ReleaseTypeAttr(attr);
    EXPECT_EQ(E_POINTER, dispatch->GetTypeInfo(0, 0, nullptr));
}

TEST_F(Dispatch, TypeInfoCountIsOneAndChecksItsPointer) {
    ComPtr<IFileInfo> info = as<IFileInfo>(IID_IFileInfo);
    UINT count = 7;
    EXPECT_EQ(S_OK, info->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(E_POINTER, info->GetTypeInfoCount(nullptr));
}

TEST_F(Dispatch, PropertyGetReturnsWhatTheMethodWrote) {
    PlayCtrlDouble_SetPlayPos(0.5f);
    ComPtr<IDispatch> dispatch = as<IDispatch>(IID_IDispatch);
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(S_OK, dispatch->Invoke(12, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                     &result, nullptr, nullptr));
    EXPECT_EQ(VT_I4, result.vt);
    EXPECT_EQ(50, result.lVal);
    LONG direct = 0;
    EXPECT_EQ(S_OK, object->get_PlayPos(&direct));
    EXPECT_EQ(50, direct);
}

TEST_F(Dispatch, InvokeConvertsArgumentsAndCallsThroughTheVtable) {
    ComPtr<IDispatch> dispatch = as<IDispatch>(IID_IDispatch);
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = SysAllocString(L"40"); // converted to int by the type information
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    doubles::clearRecords();
    EXPECT_EQ(S_OK, dispatch->Invoke(11, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                     nullptr, nullptr, nullptr));
    VariantClear(&arg);
    ASSERT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_SetVolume"));
    DoubleCall call = {};
    ASSERT_TRUE(PlayCtrlDouble_GetCall(0, &call));
    EXPECT_EQ(40 * 655, call.args[1]);
}

TEST_F(Dispatch, InvokeRefusesWhatTheInterfaceLacks) {
    ComPtr<IDispatch> dispatch = as<IDispatch>(IID_IDispatch);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              dispatch->Invoke(99, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                               nullptr, nullptr));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              dispatch->Invoke(11, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                               nullptr, nullptr));
    ComPtr<IFileInfo> info = as<IFileInfo>(IID_IFileInfo);
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(S_OK, info->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                 &result, nullptr, nullptr));
    EXPECT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_GetFileTime"));
}

namespace {

// From a multithreaded apartment: the object lives in an apartment COM makes for it, and every
// call crosses to it through proxies built from the registered interfaces.
void reachEveryInterfaceFromTheMultithreadedApartment() {
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        ComPtr<IUnknown> object;
        HRESULT hr = CoCreateInstance(CLSID_KestravaCOM, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IUnknown, object.outVoid());
        EXPECT_EQ(S_OK, hr) << std::hex << hr;
        for (REFIID iid : {IID_IBaseFilePlay, IID_IFileInfo, IID_IRegionManify, IID_IPlayFrame,
                           IID_IConvert, IID_ICapture, IID_IExtendHalvet}) {
            ComPtr<IUnknown> itf;
            hr = object ? object->QueryInterface(iid, itf.outVoid()) : E_POINTER;
            wchar_t name[40] = {};
            StringFromGUID2(iid, name, 40);
            EXPECT_EQ(S_OK, hr) << comtest::narrow(name) << ": 0x" << std::hex << hr;
        }
        ComPtr<IDispatch> dispatch;
        if (object && SUCCEEDED(object->QueryInterface(IID_IDispatch, dispatch.outVoid()))) {
            LPOLESTR name = const_cast<LPOLESTR>(L"Volume");
            DISPID id = 0;
            EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
            VARIANT result;
            VariantInit(&result);
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                  &result, nullptr, nullptr);
            EXPECT_EQ(S_OK, hr) << std::hex << hr;
            EXPECT_EQ(VT_I4, result.vt);
        } else {
            ADD_FAILURE() << "no IDispatch";
        }
    }
    CoUninitialize();
}

} // namespace

// With KESTRAVA_AS_REGISTERED set, the class is used as registered, whichever module that
// names, and this test registers nothing (side-by-side.sh).
TEST(CrossApartment, MultithreadedHostReachesEveryInterfaceAndCallsLateBound) {
    std::unique_ptr<Server> own;
    if (!std::getenv("KESTRAVA_AS_REGISTERED")) {
        own = std::make_unique<Server>();
        ASSERT_TRUE(own->loaded());
        ASSERT_EQ(S_OK, own->registerServer());
    }
    std::thread(reachEveryInterfaceFromTheMultithreadedApartment).join();
}
