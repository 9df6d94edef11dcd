// Self-registration read back from the registry: the entries, their removal, regsvr32, and a
// thousand rounds that leave nothing behind.
#include "ComTestSupport.h"

#include <map>
#include <vector>

using comtest::hasString;
using comtest::keyExists;
using comtest::narrow;
using comtest::Server;
using comtest::valueExists;

namespace {

const std::wstring kClsidKey = L"CLSID\\{5428B9E4-1807-4443-B436-6D1C33BDEB62}";
const std::wstring kTypeLibKey = L"TypeLib\\{AE8D5F57-91E0-4FB2-8FF8-E967A158A807}";
const wchar_t *const kInterfaceKeys[] = {
    L"Interface\\{0D0C5ED7-625C-46DD-8E2C-24ED955103D0}",
    L"Interface\\{402B3633-3638-4968-8AE2-98B4218709A0}",
    L"Interface\\{DF272E0B-30D8-4074-854B-0F8F82B94B53}",
    L"Interface\\{025E7014-1CC7-42E9-9F66-65F4387D5086}",
    L"Interface\\{9A39DB16-CC3F-4E51-BE8F-35A92E8668D0}",
    L"Interface\\{8ED2912B-8343-458F-878E-F39F180EBD5D}",
    L"Interface\\{E016061C-D38F-4533-8DA8-50C70DCBAD5F}",
};

std::wstring modulePathOf(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// Every entry of the registration table, with `path` as the server's file.
::testing::AssertionResult registeredAt(const std::wstring &path) {
    const HKEY cr = HKEY_CLASSES_ROOT;
    const std::wstring clsid = L"{5428B9E4-1807-4443-B436-6D1C33BDEB62}";
    struct Expected {
        std::wstring key;
        const wchar_t *name;
        std::wstring value;
    } table[] = {
        {L"Kestrava.KestravaCOM.1", L"", L"KestravaCOM Class"},
        {L"Kestrava.KestravaCOM.1\\CLSID", L"", clsid},
        {L"Kestrava.KestravaCOM", L"", L"KestravaCOM Class"},
        {L"Kestrava.KestravaCOM\\CLSID", L"", clsid},
        {L"Kestrava.KestravaCOM\\CurVer", L"", L"Kestrava.KestravaCOM.1"},
        {kClsidKey, L"", L"KestravaCOM Class"},
        {kClsidKey + L"\\ProgID", L"", L"Kestrava.KestravaCOM.1"},
        {kClsidKey + L"\\VersionIndependentProgID", L"", L"Kestrava.KestravaCOM"},
        {kClsidKey + L"\\InprocServer32", L"", path},
        {kClsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {kClsidKey + L"\\TypeLib", L"", L"{AE8D5F57-91E0-4FB2-8FF8-E967A158A807}"},
    };
    for (const Expected &e : table) {
        ::testing::AssertionResult r = hasString(cr, e.key, e.name, e.value);
        if (!r) {
            return r;
        }
    }
    if (!keyExists(cr, kClsidKey + L"\\Programmable")) {
        return ::testing::AssertionFailure() << "no Programmable key";
    }
    if (!keyExists(cr, kTypeLibKey + L"\\1.0\\0\\" + comtest::kTypeLibPlatform)) {
        return ::testing::AssertionFailure() << "type library not registered";
    }
    for (const wchar_t *itf : kInterfaceKeys) {
        if (!keyExists(cr, itf)) {
            return ::testing::AssertionFailure() << narrow(itf) << " not registered";
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult nothingOfOursRemains() {
    std::vector<std::wstring> ours = {L"Kestrava.KestravaCOM.1", L"Kestrava.KestravaCOM", kClsidKey,
                                      kTypeLibKey};
    ours.insert(ours.end(), std::begin(kInterfaceKeys), std::end(kInterfaceKeys));
    for (const std::wstring &key : ours) {
        if (keyExists(HKEY_CLASSES_ROOT, key)) {
            return ::testing::AssertionFailure() << narrow(key) << " remains";
        }
    }
    if (!keyExists(HKEY_CLASSES_ROOT, L"CLSID")) {
        return ::testing::AssertionFailure() << "CLSID was removed";
    }
    return ::testing::AssertionSuccess();
}

// Keys and values below `path`, flattened.
void dump(HKEY root, const std::wstring &path, bool recursive,
          std::map<std::wstring, std::wstring> &out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    out[path] = L"<key>";
    wchar_t name[512];
    BYTE data[2048];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 512, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        out[path + L"|" + name] = std::to_wstring(type) + L":" +
                                  std::wstring(reinterpret_cast<wchar_t *>(data), size / 2);
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 512;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        children.push_back(path.empty() ? name : path + L"\\" + name);
    }
    RegCloseKey(key);
    for (const std::wstring &child : children) {
        if (recursive) {
            dump(root, child, true, out);
        } else {
            out[child] = L"<key>";
        }
    }
}

// What registration could touch: the names under the class root and its three collections,
// and everything below the keys that are ours.
std::map<std::wstring, std::wstring> snapshot() {
    std::map<std::wstring, std::wstring> all;
    for (const wchar_t *collection : {L"", L"CLSID", L"Interface", L"TypeLib"}) {
        dump(HKEY_CLASSES_ROOT, collection, false, all);
    }
    std::vector<std::wstring> ours = {L"Kestrava.KestravaCOM.1", L"Kestrava.KestravaCOM", kClsidKey,
                                      kTypeLibKey};
    ours.insert(ours.end(), std::begin(kInterfaceKeys), std::end(kInterfaceKeys));
    for (const std::wstring &key : ours) {
        dump(HKEY_CLASSES_ROOT, key, true, all);
    }
    return all;
}

DWORD runRegsvr32(const std::wstring &arguments) {
    std::wstring command = L"regsvr32.exe " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 0xFFFFFFFF;
    }
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// A copy of the component and the libraries beside it in a folder of its own.
std::wstring copyComponentTo(const std::wstring &folderName) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + folderName + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const wchar_t *file :
         {L"Kestrava.DLL", L"PlayCtrl.dll", L"QorLog.dll", L"CommonModule.dll"}) {
        std::wstring from = comtest::exeDirectory() + file;
        if (GetFileAttributesW(from.c_str()) != INVALID_FILE_ATTRIBUTES) {
            CopyFileW(from.c_str(), (folder + file).c_str(), FALSE);
        }
    }
    return folder + L"Kestrava.DLL";
}

// Rewrites one resource of a copied module.
bool patchResource(const std::wstring &module, const wchar_t *type, WORD id, const void *data,
                   DWORD size) {
    HANDLE update = BeginUpdateResourceW(module.c_str(), FALSE);
    if (!update) {
        return false;
    }
    BOOL ok = UpdateResourceW(update, type, MAKEINTRESOURCEW(id),
                              MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),
                              const_cast<void *>(data), size);
    return EndUpdateResourceW(update, !ok) && ok;
}

const char kNotALibrary[] = "not a type library";

std::wstring folderOf(const std::wstring &path) {
    return path.substr(0, path.rfind(L'\\') + 1);
}

// The type library widl built, as a Windows path.
std::wstring builtTypeLibrary() {
    std::string unixPath = KESTRAVA_TLB_PATH;
    std::wstring path = L"Z:";
    for (char c : unixPath) {
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    }
    return path;
}

class Registration : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.loaded());
        ASSERT_EQ(S_OK, server.unregisterServer());
    }
    void TearDown() override { server.unregisterServer(); }
    Server server;
};

} // namespace

TEST_F(Registration, DirectCallWritesTheTable) {
    ASSERT_EQ(S_OK, server.registerServer());
    EXPECT_TRUE(registeredAt(modulePathOf(server.module())));
    std::wstring folder = comtest::exeDirectory();
    EXPECT_TRUE(hasString(HKEY_CLASSES_ROOT,
                          kTypeLibKey + L"\\1.0\\0\\" + comtest::kTypeLibPlatform, L"",
                          modulePathOf(server.module())));
    EXPECT_TRUE(
        hasString(HKEY_CLASSES_ROOT, kTypeLibKey + L"\\1.0", L"", L"Kestrava 1.0 Type Library"));
    std::wstring helpDir = folder.substr(0, folder.size() - 1); // the platform may drop the '\'
    ::testing::AssertionResult withSlash =
        hasString(HKEY_CLASSES_ROOT, kTypeLibKey + L"\\1.0\\HELPDIR", L"", folder);
    ::testing::AssertionResult withoutSlash =
        hasString(HKEY_CLASSES_ROOT, kTypeLibKey + L"\\1.0\\HELPDIR", L"", helpDir);
    EXPECT_TRUE(withSlash || withoutSlash) << withSlash.message();
}

TEST_F(Registration, Regsvr32FromAFolderWithAQuoteWritesThePathUnchanged) {
    std::wstring path = copyComponentTo(L"Kes'trava reg");
    EXPECT_EQ(0u, runRegsvr32(L"/s \"" + path + L"\""));
    EXPECT_TRUE(registeredAt(path));
    EXPECT_EQ(0u, runRegsvr32(L"/u /s \"" + path + L"\""));
    EXPECT_TRUE(nothingOfOursRemains());
}

TEST_F(Registration, DirectCallFromAFolderWithAQuoteWritesThePathUnchanged) {
    std::wstring path = copyComponentTo(L"it's here");
    {
        Server copy(path);
        ASSERT_TRUE(copy.loaded());
        ASSERT_EQ(S_OK, copy.registerServer());
        EXPECT_TRUE(registeredAt(path));
        EXPECT_EQ(S_OK, copy.unregisterServer());
    }
    EXPECT_TRUE(nothingOfOursRemains());
}

TEST_F(Registration, Regsvr32ReportsAMissingModule) {
    EXPECT_EQ(3u, runRegsvr32(L"/s \"" + comtest::exeDirectory() + L"NoSuch.DLL\""));
}

TEST_F(Registration, RegisteringAgainReplacesTheClassKey) {
    ASSERT_EQ(S_OK, server.registerServer());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CLASSES_ROOT, kClsidKey.c_str(), 0, KEY_ALL_ACCESS, &key));
    const wchar_t foreign[] = L"theirs";
    RegSetValueExW(key, L"Foreign", 0, REG_SZ, reinterpret_cast<const BYTE *>(foreign),
                   sizeof foreign);
    RegCloseKey(key);
    ASSERT_TRUE(valueExists(HKEY_CLASSES_ROOT, kClsidKey, L"Foreign"));

    ASSERT_EQ(S_OK, server.registerServer());
    EXPECT_FALSE(valueExists(HKEY_CLASSES_ROOT, kClsidKey, L"Foreign"));
    EXPECT_TRUE(registeredAt(modulePathOf(server.module())));
}

TEST_F(Registration, UnregisterKeepsTheClassCollectionAndKeysOthersPopulated) {
    ASSERT_EQ(S_OK, server.registerServer());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Kestrava.KestravaCOM\\Theirs", 0,
                                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);

    EXPECT_EQ(S_OK, server.unregisterServer());
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"Kestrava.KestravaCOM\\Theirs"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Kestrava.KestravaCOM\\CLSID"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Kestrava.KestravaCOM\\CurVer"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Kestrava.KestravaCOM.1"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Kestrava.KestravaCOM");
}

TEST_F(Registration, UnregisterOnACleanSystemSucceeds) {
    EXPECT_EQ(S_OK, server.unregisterServer());
    EXPECT_EQ(S_OK, server.unregisterServer());
    EXPECT_TRUE(nothingOfOursRemains());
}

TEST_F(Registration, AThousandRoundsLeaveTheRegistryAsTheyFoundIt) {
    std::map<std::wstring, std::wstring> before = snapshot();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(S_OK, server.registerServer()) << "round " << i;
        ASSERT_EQ(S_OK, server.unregisterServer()) << "round " << i;
    }
    std::map<std::wstring, std::wstring> after = snapshot();
    EXPECT_TRUE(nothingOfOursRemains());
    for (const auto &entry : after) {
        if (!before.count(entry.first)) {
            ADD_FAILURE() << "left behind: " << narrow(entry.first);
        }
    }
    for (const auto &entry : before) {
        if (!after.count(entry.first)) {
            ADD_FAILURE() << "removed: " << narrow(entry.first);
        }
    }
    EXPECT_EQ(before.size(), after.size());
}

TEST_F(Registration, TypeLibraryFallsBackToTheTlbBesideTheModule) {
    std::wstring path = copyComponentTo(L"tlb fallback");
    ASSERT_TRUE(patchResource(path, L"TYPELIB", 1, kNotALibrary, sizeof kNotALibrary));
    std::wstring tlb = folderOf(path) + L"Kestrava.tlb";
    ASSERT_TRUE(CopyFileW(builtTypeLibrary().c_str(), tlb.c_str(), FALSE));
    {
        Server copy(path);
        ASSERT_TRUE(copy.loaded());
        ASSERT_EQ(S_OK, copy.registerServer());
        EXPECT_TRUE(hasString(HKEY_CLASSES_ROOT,
                              kTypeLibKey + L"\\1.0\\0\\" + comtest::kTypeLibPlatform, L"", tlb));
        EXPECT_TRUE(hasString(HKEY_CLASSES_ROOT, kClsidKey + L"\\InprocServer32", L"", path));
        EXPECT_EQ(S_OK, copy.unregisterServer());
    }
    EXPECT_TRUE(nothingOfOursRemains());
    DeleteFileW(tlb.c_str());
}

TEST_F(Registration, MissingTypeLibraryFailsAfterTheScriptWasApplied) {
    std::wstring path = copyComponentTo(L"no tlb");
    ASSERT_TRUE(patchResource(path, L"TYPELIB", 1, kNotALibrary, sizeof kNotALibrary));
    DeleteFileW((folderOf(path) + L"Kestrava.tlb").c_str());
    {
        Server copy(path);
        ASSERT_TRUE(copy.loaded());
        EXPECT_TRUE(FAILED(copy.registerServer()));
        EXPECT_TRUE(hasString(HKEY_CLASSES_ROOT, kClsidKey + L"\\InprocServer32", L"", path));
        EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
        EXPECT_EQ(S_OK, copy.unregisterServer());
    }
    EXPECT_TRUE(nothingOfOursRemains());
}

TEST_F(Registration, MalformedScriptWritesNothingAndRegistersNoLibrary) {
    std::wstring path = copyComponentTo(L"bad script");
    const char script[] = "HKCR { Kestrava.KestravaCOM = s 'KestravaCOM Class' { CLSID = s 'x' ";
    ASSERT_TRUE(patchResource(path, L"REGISTRY", 101, script, sizeof script - 1));
    {
        Server copy(path);
        ASSERT_TRUE(copy.loaded());
        EXPECT_EQ(DISP_E_EXCEPTION, copy.registerServer());
    }
    EXPECT_TRUE(nothingOfOursRemains());
}
