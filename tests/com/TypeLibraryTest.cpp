// The type library and the other resources, read back from the built module.
#include "ComTestSupport.h"

#include <algorithm>
#include <vector>

using comtest::componentPath;
using comtest::ComPtr;
using comtest::narrow;

namespace {

const GUID kStdOle2 = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct Param {
    const wchar_t *name;
    VARTYPE type; // VT_PTR means a pointer to VT_I4
    USHORT flags; // PARAMFLAG_*
};

struct Member {
    DISPID id;
    INVOKEKIND kind;
    const wchar_t *name;
    std::vector<Param> params;
};

struct Interface {
    const wchar_t *name;
    const IID *iid;
    std::vector<Member> members;
};

// LONG_PTR: a 32-bit long in the 32-bit library, a 64-bit integer in the 64-bit one.
constexpr VARTYPE kPointerSized = sizeof(void *) == 8 ? VT_I8 : VT_I4;
constexpr USHORT kOutRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
const Param kVal = {L"pVal", VT_PTR, kOutRetval};

std::vector<Member> methods(std::initializer_list<const wchar_t *> names) {
    std::vector<Member> result;
    DISPID id = 1;
    for (const wchar_t *name : names) {
        result.push_back({id++, INVOKE_FUNC, name, {}});
    }
    return result;
}

const std::vector<Interface> &expectedInterfaces() {
    static const std::vector<Interface> interfaces = {
        {L"IExtendHalvet",
         &IID_IExtendHalvet,
         {{1,
           INVOKE_FUNC,
           L"SetAnalyzeCallBack",
           {{L"pCallback", kPointerSized, 0},
            {L"userdata", kPointerSized, 0},
            {L"reversed", VT_I4, 0}}}}},
        {L"IFileInfo",
         &IID_IFileInfo,
         {{1, INVOKE_PROPERTYGET, L"TotalTime", {kVal}},
          {2, INVOKE_PROPERTYGET, L"PlayedTime", {kVal}},
          {3, INVOKE_PROPERTYGET, L"TotalFrame", {kVal}},
          {4, INVOKE_PROPERTYGET, L"PlayedFrame", {kVal}},
          {5, INVOKE_FUNC, L"SetCurPlayTime", {{L"nTime", VT_I4, 0}}},
          {6, INVOKE_FUNC, L"SetCurPlayFrame", {{L"nFrameNum", VT_I4, 0}}},
          {7, INVOKE_FUNC, L"SetCurPlayTimeEx", {{L"nTime", VT_I4, 0}}},
          {8, INVOKE_PROPERTYGET, L"PlayedTimeEx", {kVal}},
          {9,
           INVOKE_PROPERTYGET,
           L"PictureSize",
           {{L"pWidth", VT_PTR, 0}, {L"pHeight", VT_PTR, kOutRetval}}}}},
        {L"IRegionManify", &IID_IRegionManify, {}},
        {L"IPlayFrame", &IID_IPlayFrame,
         methods({L"StepForward", L"StepBackward", L"IFrameForward", L"IFrameBackward"})},
        {L"IConvert",
         &IID_IConvert,
         {{1,
           INVOKE_FUNC,
           L"Convert",
           {{L"srcPath", VT_BSTR, 0}, {L"dstPath", VT_BSTR, 0}, {L"nConvertType", VT_I4, 0}}}}},
        {L"ICapture",
         &IID_ICapture,
         {{1, INVOKE_FUNC, L"GetPicture", {{L"nType", VT_INT, 0}, {L"strSavePath", VT_BSTR, 0}}}}},
        {L"IBaseFilePlay", &IID_IBaseFilePlay, [] {
             std::vector<Member> m = methods({L"OpenFile", L"CloseFile", L"Play", L"Pause", L"Stop",
                                              L"Tune", L"Mute", L"Fast", L"Slow", L"SetPlayPos",
                                              L"SetVolume", L"PlayPos", L"Volume", L"RefreshPlay"});
             m[0].params = {{L"fileName", VT_BSTR, 0}, {L"hWnd", VT_I4, 0}};
             m[9].params = {{L"nPencent", VT_INT, 0}};
             m[10].params = {{L"nPercent", VT_INT, 0}};
             m[11].kind = m[12].kind = INVOKE_PROPERTYGET;
             m[11].params = m[12].params = {kVal};
             return m;
         }()}};
    return interfaces;
}

std::wstring bstrText(BSTR s) {
    return s ? std::wstring(s, SysStringLen(s)) : std::wstring();
}

std::wstring documentation(ITypeInfo *info, MEMBERID id, std::wstring *helpString = nullptr) {
    BSTR name = nullptr, doc = nullptr;
    info->GetDocumentation(id, &name, &doc, nullptr, nullptr);
    std::wstring result = bstrText(name);
    if (helpString) {
        *helpString = bstrText(doc);
    }
    SysFreeString(name);
    SysFreeString(doc);
    return result;
}

class TypeLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, LoadTypeLibEx(componentPath().c_str(), REGKIND_NONE, library.out()));
    }
    ComPtr<ITypeLib> library;
};

// Checks one dual interface's dispatch and vtable descriptions against the table.
void checkInterface(ITypeLib *library, const Interface &expected) {
    SCOPED_TRACE(narrow(expected.name));
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(*expected.iid, dispatch.out()));
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    // The platform shows a dual interface's automation flag on its vtable side only.
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE, attr->wTypeFlags);
    EXPECT_EQ(0, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    dispatch->ReleaseTypeAttr(attr);
    std::wstring help;
    EXPECT_EQ(expected.name, documentation(dispatch.get(), MEMBERID_NIL, &help));
    EXPECT_EQ(std::wstring(expected.name) + L" Interface", help);

    // The vtable side: IDispatch from stdole2 as base, then the own methods in order.
    HREFTYPE vtableRef = 0;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &vtableRef));
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(vtableRef, vtable.out()));
    ASSERT_EQ(S_OK, vtable->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_EQ(expected.members.size(), attr->cFuncs);
    EXPECT_EQ(1, attr->cImplTypes);
    EXPECT_EQ(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, attr->wTypeFlags);
    vtable->ReleaseTypeAttr(attr);
    HREFTYPE baseRef = 0;
    ASSERT_EQ(S_OK, vtable->GetRefTypeOfImplType(0, &baseRef));
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(S_OK, vtable->GetRefTypeInfo(baseRef, base.out()));
    EXPECT_EQ(L"IDispatch", documentation(base.get(), MEMBERID_NIL));
    ComPtr<ITypeLib> baseLibrary;
    UINT baseIndex = 0;
    ASSERT_EQ(S_OK, base->GetContainingTypeLib(baseLibrary.out(), &baseIndex));
    TLIBATTR *baseLibAttr = nullptr;
    ASSERT_EQ(S_OK, baseLibrary->GetLibAttr(&baseLibAttr));
    EXPECT_TRUE(IsEqualGUID(kStdOle2, baseLibAttr->guid));
    EXPECT_EQ(2, baseLibAttr->wMajorVerNum);
    EXPECT_EQ(0, baseLibAttr->wMinorVerNum);
    baseLibrary->ReleaseTLibAttr(baseLibAttr);

    for (size_t i = 0; i < expected.members.size(); ++i) {
        const Member &member = expected.members[i];
        SCOPED_TRACE(narrow(member.name));
        FUNCDESC *func = nullptr;
        ASSERT_EQ(S_OK, vtable->GetFuncDesc(static_cast<UINT>(i), &func));
        EXPECT_EQ(member.id, func->memid);
        EXPECT_EQ(member.kind, func->invkind);
        EXPECT_EQ(FUNC_PUREVIRTUAL, func->funckind);
        EXPECT_EQ(CC_STDCALL, func->callconv);
        EXPECT_EQ(static_cast<SHORT>((7 + i) * sizeof(void *)), func->oVft);
        EXPECT_EQ(VT_HRESULT, func->elemdescFunc.tdesc.vt);
        EXPECT_EQ(0, func->wFuncFlags);
        EXPECT_EQ(0, func->cParamsOpt);
        ASSERT_EQ(member.params.size(), static_cast<size_t>(func->cParams));
        BSTR names[8] = {};
        UINT got = 0;
        ASSERT_EQ(S_OK, vtable->GetNames(func->memid, names, 8, &got));
        ASSERT_EQ(member.params.size() + 1, got);
        EXPECT_EQ(member.name, bstrText(names[0]));
        std::wstring help;
        documentation(vtable.get(), func->memid, &help);
        EXPECT_EQ((member.kind == INVOKE_FUNC ? L"method " : L"property ") +
                      std::wstring(member.name),
                  help);
        for (size_t p = 0; p < member.params.size(); ++p) {
            const Param &param = member.params[p];
            const ELEMDESC &element = func->lprgelemdescParam[p];
            EXPECT_EQ(param.name, bstrText(names[p + 1])) << "parameter " << p;
            EXPECT_EQ(param.type, element.tdesc.vt) << narrow(param.name);
            if (param.type == VT_PTR) {
                EXPECT_EQ(VT_I4, element.tdesc.lptdesc->vt) << narrow(param.name);
            }
            EXPECT_EQ(param.flags, element.paramdesc.wParamFlags) << narrow(param.name);
        }
        for (UINT n = 0; n < got; ++n) {
            SysFreeString(names[n]);
        }
        vtable->ReleaseFuncDesc(func);
    }
}

} // namespace

TEST_F(TypeLibrary, LibraryAttributes) {
    TLIBATTR *attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(LIBID_KESTRAVALib, attr->guid));
    EXPECT_EQ(0u, attr->lcid);
    EXPECT_EQ(comtest::kSysKind, attr->syskind);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(0, attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE); // the loader's own flag
    library->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
    DWORD context = 1;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, &doc, &context, &helpFile));
    EXPECT_EQ(L"KESTRAVALib", bstrText(name));
    EXPECT_EQ(L"Kestrava 1.0 Type Library", bstrText(doc));
    EXPECT_EQ(L"", bstrText(helpFile));
    EXPECT_EQ(0u, context);
    SysFreeString(name);
    SysFreeString(doc);
    SysFreeString(helpFile);
}

TEST_F(TypeLibrary, TypesInOrder) {
    const wchar_t *order[] = {L"KestravaCOM", L"IExtendHalvet", L"IFileInfo", L"IRegionManify",
                              L"IPlayFrame",  L"IConvert",      L"ICapture",  L"IBaseFilePlay"};
    ASSERT_EQ(8u, library->GetTypeInfoCount());
    for (UINT i = 0; i < 8; ++i) {
        BSTR name = nullptr;
        ASSERT_EQ(S_OK, library->GetDocumentation(i, &name, nullptr, nullptr, nullptr));
        EXPECT_EQ(order[i], bstrText(name)) << "index " << i;
        SysFreeString(name);
    }
}

TEST_F(TypeLibrary, ClassAttributesAndInterfaces) {
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_KestravaCOM, coclass.out()));
    TYPEATTR *attr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    EXPECT_EQ(TYPEFLAG_FCANCREATE, attr->wTypeFlags);
    ASSERT_EQ(7, attr->cImplTypes);
    coclass->ReleaseTypeAttr(attr);
    std::wstring help;
    EXPECT_EQ(L"KestravaCOM", documentation(coclass.get(), MEMBERID_NIL, &help));
    EXPECT_EQ(L"KestravaCOM Class", help);
    for (UINT i = 0; i < 7; ++i) {
        const Interface &expected = expectedInterfaces()[i];
        HREFTYPE ref = 0;
        ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(i, &ref));
        ComPtr<ITypeInfo> itf;
        ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(ref, itf.out()));
        EXPECT_EQ(expected.name, documentation(itf.get(), MEMBERID_NIL)) << "index " << i;
        INT flags = -1;
        ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(i, &flags));
        EXPECT_EQ(i == 6 ? IMPLTYPEFLAG_FDEFAULT : 0, flags) << narrow(expected.name);
    }
}

TEST_F(TypeLibrary, EveryInterfaceMatchesItsTable) {
    for (const Interface &expected : expectedInterfaces()) {
        checkInterface(library.get(), expected);
    }
}

// ---- The module's other resources ----

namespace {

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD> *>(param)->push_back(language);
    return TRUE;
}

std::vector<WORD> languagesOf(HMODULE module, LPCWSTR type, LPCWSTR name) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(module, type, name, collectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

struct DataFile {
    HMODULE module = LoadLibraryExW(componentPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ~DataFile() { FreeLibrary(module); }
};

std::wstring versionString(const std::vector<BYTE> &block, const wchar_t *key) {
    wchar_t *value = nullptr;
    UINT length = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void **>(&value), &length)) {
        return L"<missing>";
    }
    return std::wstring(value, value + wcsnlen(value, length));
}

} // namespace

TEST(Resources, EveryResourceIsChineseSimplified) {
    DataFile file;
    ASSERT_TRUE(file.module);
    const std::vector<WORD> chinese = {0x0804};
    EXPECT_EQ(chinese, languagesOf(file.module, L"TYPELIB", MAKEINTRESOURCEW(1)));
    EXPECT_EQ(chinese, languagesOf(file.module, L"REGISTRY", MAKEINTRESOURCEW(101)));
    EXPECT_EQ(chinese, languagesOf(file.module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                   MAKEINTRESOURCEW(100 / 16 + 1)));
    EXPECT_EQ(chinese,
              languagesOf(file.module, MAKEINTRESOURCEW(16) /* RT_VERSION */, MAKEINTRESOURCEW(1)));
}

TEST(Resources, ProjectNameString) {
    DataFile file;
    wchar_t text[64] = {};
    ASSERT_GT(LoadStringW(file.module, 100, text, 64), 0);
    EXPECT_STREQ(L"Kestrava", text);
}

TEST(Resources, VersionBlock) {
    std::wstring path = componentPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);
    EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
    EXPECT_EQ(0u, fixed->dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

    WORD *translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    const std::pair<const wchar_t *, const wchar_t *> keys[] = {
        {L"CompanyName", L""},
        {L"FileDescription", L"Kestrava Module"},
        {L"FileVersion", L"1, 0, 0, 1"},
        {L"InternalName", L"Kestrava"},
        {L"LegalCopyright", nullptr},
        {L"OriginalFilename", L"Kestrava.DLL"},
        {L"ProductName", L"Kestrava Module"},
        {L"ProductVersion", L"1, 0, 0, 1"},
        {L"OLESelfRegister", L""},
    };
    // The keys appear in the block in this order.
    std::wstring raw(reinterpret_cast<const wchar_t *>(block.data()), block.size() / 2);
    size_t previous = 0;
    for (const auto &key : keys) {
        if (key.second) {
            EXPECT_EQ(key.second, versionString(block, key.first)) << narrow(key.first);
        } else {
            EXPECT_NE(L"<missing>", versionString(block, key.first)) << narrow(key.first);
        }
        size_t at = raw.find(std::wstring(key.first) + L'\0');
        ASSERT_NE(std::wstring::npos, at) << narrow(key.first);
        EXPECT_GT(at, previous) << narrow(key.first) << " out of order";
        previous = at;
    }
}

// The shipped DLLs, beside the doubles' folder: one version, read as an installer reads it, and
// each its own name and description.
TEST(Resources, EveryDllCarriesTheBuildsVersion) {
    const std::wstring shipped = comtest::exeDirectory() + L"..\\";
    std::vector<std::wstring> descriptions;
    for (const wchar_t *name :
         {L"Kestrava.DLL", L"PlayCtrl.dll", L"QorLog.dll", L"CommonModule.dll"}) {
        const std::wstring path = shipped + name;
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
        ASSERT_GT(size, 0u) << narrow(name) << " has no version block";
        std::vector<BYTE> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data())) << narrow(name);
        VS_FIXEDFILEINFO *fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(
            VerQueryValueW(block.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
        EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS) << narrow(name);
        EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS) << narrow(name);
        EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS) << narrow(name);
        EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS) << narrow(name);
        EXPECT_EQ(L"1, 0, 0, 1", versionString(block, L"FileVersion")) << narrow(name);
        EXPECT_EQ(L"1, 0, 0, 1", versionString(block, L"ProductVersion")) << narrow(name);
        EXPECT_EQ(name, versionString(block, L"OriginalFilename"));
        descriptions.push_back(versionString(block, L"FileDescription"));
    }
    std::sort(descriptions.begin(), descriptions.end());
    EXPECT_EQ(descriptions.end(), std::unique(descriptions.begin(), descriptions.end()))
        << "two DLLs share a description";
}
