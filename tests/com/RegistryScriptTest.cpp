// The registry-script reader (text to tree) and the applier (tree to registry), the latter aimed
// at a key of the test's own under HKEY_CURRENT_USER.
#include "ComTestSupport.h"

#include "RegistryApplier.h"
#include "RegistryScript.h"

#include <gtest/gtest.h>

using namespace kestrava;
using comtest::hasString;
using comtest::keyExists;
using comtest::valueExists;

namespace {

constexpr int32_t kSyntaxError = static_cast<int32_t>(0x80020009);
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);

std::u16string u(const char *text) {
    return std::u16string(text, text + strlen(text));
}

int32_t parseText(const char *text, std::vector<rgs::RootBlock> &roots) {
    return rgs::parse(u(text), roots);
}

int32_t expandText(const char *text, std::u16string &out) {
    return rgs::expand(u(text), {{u"Module", u"C:\\it''s\\K.DLL"}}, out);
}

} // namespace

TEST(RegistryScriptReader, ReadsKeysValuesMarkersAndNesting) {
    std::vector<rgs::RootBlock> roots;
    ASSERT_EQ(0, parseText("HKCR { noremove CLSID { FORCEREMOVE {X} = s 'A ''quoted'' name' {"
                           " 'TypeLib' = s 'T' Inproc { VAL ThreadingModel = s 'Apartment' } } }"
                           " Plain }\nhkcu { }",
                           roots));
    ASSERT_EQ(2u, roots.size());
    ASSERT_EQ(2u, roots[0].entries.size());
    const rgs::Entry &clsid = roots[0].entries[0];
    EXPECT_EQ(rgs::Marker::NoRemove, clsid.marker);
    EXPECT_EQ(u"CLSID", clsid.name);
    ASSERT_EQ(1u, clsid.children.size());
    const rgs::Entry &key = clsid.children[0];
    EXPECT_EQ(rgs::Marker::ForceRemove, key.marker);
    EXPECT_EQ(u"{X}", key.name);
    EXPECT_TRUE(key.hasData);
    EXPECT_EQ(u"A 'quoted' name", key.data);
    ASSERT_EQ(2u, key.children.size());
    EXPECT_EQ(u"TypeLib", key.children[0].name);
    EXPECT_FALSE(key.children[0].hasBlock);
    const rgs::Entry &value = key.children[1].children.at(0);
    EXPECT_TRUE(value.isValue);
    EXPECT_EQ(u"ThreadingModel", value.name);
    EXPECT_EQ(u"Apartment", value.data);
    EXPECT_EQ(u"Plain", roots[0].entries[1].name);
    EXPECT_FALSE(roots[0].entries[1].hasData);
    EXPECT_TRUE(roots[1].entries.empty());
}

TEST(RegistryScriptReader, QuotedWordsAreNamesNotMarkers) {
    std::vector<rgs::RootBlock> roots;
    ASSERT_EQ(0, parseText("HKCR { 'NoRemove' 'val' }", roots));
    ASSERT_EQ(2u, roots[0].entries.size());
    EXPECT_EQ(rgs::Marker::None, roots[0].entries[0].marker);
    EXPECT_EQ(u"NoRemove", roots[0].entries[0].name);
    EXPECT_FALSE(roots[0].entries[1].isValue);
}

TEST(RegistryScriptReader, MalformedTextReadsNothing) {
    const char *bad[] = {
        "HKCR { Key = s 'unterminated }",
        "HKCR { Key { }",
        "HKCR {",
        "HKCR { Key {",
        "HKCR",
        "HKXX { }",
        "'HKCR' { }",
        "HKCR Key { }",
        "HKCR { Key = 'no type' }",
        "HKCR { Key = d '1' }",
        "HKCR { Key = s }",
        "HKCR { val Name 'x' }",
        "HKCR { val = s 'x' }",
        "HKCR { A\\B }",
        "HKCR { Delete Key }",
        "HKCR { NoRemove }",
        "HKCR { } }",
        "HKCR { '' }",
        "HKCR { App = s 'it's' }",
        "HKCR { Key {} }",
        "HKCR { Foo{ val X = s 'y' }Bar }",
        "HKCR { ForceRemove NoRemove CLSID { X } }",
        "HKCR { ForceRemove val X = s 'y' }",
        "HKCR { NoRemove Delete }",
        "HKCR { Key = s unquoted }",
        "HKCR { Key = S 'x' }",
        "HKCR { Key=s 'x' }",
        "HKCR { Key = s 'x'{ } }",
        "HKCR { A}B }",
        "HKCR { {A}B} }",
        "HKCR { val 'x' = s 'y'z' }",
        "HKCR{ }",
    };
    for (const char *text : bad) {
        std::vector<rgs::RootBlock> roots;
        EXPECT_EQ(kSyntaxError, parseText(text, roots)) << text;
        EXPECT_TRUE(roots.empty()) << text;
    }
}

TEST(RegistryScriptReader, DeepNestingIsRefusedNotRecursedWithoutBound) {
    std::string text = "HKCR {";
    for (int i = 0; i < 100000; ++i) {
        text += " k {";
    }
    std::vector<rgs::RootBlock> roots;
    EXPECT_EQ(kSyntaxError, parseText(text.c_str(), roots));
}

TEST(RegistryScriptReader, EmptyScriptHasNoBlocks) {
    std::vector<rgs::RootBlock> roots;
    EXPECT_EQ(0, parseText(" \r\n\t", roots));
    EXPECT_TRUE(roots.empty());
}

TEST(RegistryScriptExpansion, ReplacesNamesWithoutRegardToCaseAndUnescapesPercent) {
    std::u16string out;
    ASSERT_EQ(0, expandText("a %module% b %MODULE% 100%% %%x", out));
    EXPECT_EQ(u"a C:\\it''s\\K.DLL b C:\\it''s\\K.DLL 100% %x", out);
}

TEST(RegistryScriptExpansion, RefusesUnknownUnclosedAndOverlongNames) {
    std::u16string out;
    EXPECT_EQ(kSyntaxError, expandText("%OTHER%", out));
    EXPECT_EQ(kSyntaxError, expandText("abc %MODULE", out));
    EXPECT_EQ(kSyntaxError, expandText("abc %ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 and on", out));
    EXPECT_EQ(kFail, expandText("%ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456%", out));
    // 31 characters is still a name (unknown here), not an overlong one.
    EXPECT_EQ(kSyntaxError, expandText("%ABCDEFGHIJKLMNOPQRSTUVWXYZ01234%", out));
}

TEST(RegistryScriptExpansion, ModulePathWithQuoteReadsBackUnchanged) {
    std::u16string expanded;
    ASSERT_EQ(0, expandText("HKCR { K = s '%MODULE%' }", expanded));
    std::vector<rgs::RootBlock> roots;
    ASSERT_EQ(0, rgs::parse(expanded, roots));
    EXPECT_EQ(u"C:\\it's\\K.DLL", roots.at(0).entries.at(0).data);
}

// The applier, aimed at HKCU\Software\KestravaApplierTest.
class RegistryApplier : public ::testing::Test {
  protected:
    static constexpr const wchar_t *kBase = L"Software\\KestravaApplierTest";

    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }

    static std::wstring at(const wchar_t *relative) {
        return std::wstring(kBase) + (*relative ? L"\\" : L"") + relative;
    }

    static HRESULT apply(const char *block, RegistryMode mode) {
        std::string text =
            std::string("HKCU { NoRemove Software { NoRemove KestravaApplierTest { ") + block +
            " } } }";
        return applyRegistryScript(u(text.c_str()), {}, mode);
    }

    static void put(const wchar_t *relative, const wchar_t *name, const wchar_t *data) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, at(relative).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                       static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
};

TEST_F(RegistryApplier, RegisterWritesKeysDefaultsAndValuesAndUnregisterRemovesThem) {
    const char *block = "App = s 'Top' { Sub = s 'Inner' { val Named = s 'v' } Empty }";
    ASSERT_EQ(S_OK, apply(block, RegistryMode::Register));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"App"), L"", L"Top"));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"App\\Sub"), L"", L"Inner"));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"App\\Sub"), L"Named", L"v"));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, at(L"App\\Empty")));

    ASSERT_EQ(S_OK, apply(block, RegistryMode::Unregister));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, at(L"App")));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, at(L"")));
}

TEST_F(RegistryApplier, UnregisterKeepsKeysOthersPopulatedAndNoRemoveKeys) {
    const char *block = "App { Sub { val Named = s 'v' } } NoRemove Shared { Mine }";
    ASSERT_EQ(S_OK, apply(block, RegistryMode::Register));
    put(L"App\\Sub\\Foreign", L"x", L"y");

    ASSERT_EQ(S_OK, apply(block, RegistryMode::Unregister));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"App\\Sub\\Foreign"), L"x", L"y"));
    EXPECT_FALSE(valueExists(HKEY_CURRENT_USER, at(L"App\\Sub"), L"Named"));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, at(L"Shared")));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, at(L"Shared\\Mine")));
}

TEST_F(RegistryApplier, UnregisterOfMissingKeysSucceeds) {
    EXPECT_EQ(S_OK, apply("Nothing { Here { val X = s 'y' } }", RegistryMode::Unregister));
}

TEST_F(RegistryApplier, ForceRemoveReplacesTheSubtreeButNeverClsidOrTypeLib) {
    put(L"Forced\\Old", L"stale", L"1");
    put(L"CLSID\\Other", L"keep", L"1");
    put(L"typelib\\Other", L"keep", L"1");
    ASSERT_EQ(S_OK, apply("ForceRemove Forced = s 'new' ForceRemove CLSID { Mine }"
                          " ForceRemove TYPELIB { Mine }",
                          RegistryMode::Register));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"Forced"), L"", L"new"));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, at(L"Forced\\Old")));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"CLSID\\Other"), L"keep", L"1"));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"typelib\\Other"), L"keep", L"1"));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, at(L"CLSID\\Mine")));
}

TEST_F(RegistryApplier, FailedBlockRemovesOnlyWhatThisPassWrote) {
    put(L"Owned", L"Shared", L"theirs");
    put(L"Owned", L"Untouched", L"theirs");
    put(L"Owned\\TheirSub", L"x", L"y");
    // A key name past the registry's limit makes the pass fail after it has written.
    std::string tooLong(300, 'k');
    std::string block = "Owned = s 'ours' { val Shared = s 'ours' val Added = s 'ours'"
                        " NewKey { Deeper = s 'x' } } Broken { " +
                        tooLong + " }";
    EXPECT_EQ(DISP_E_EXCEPTION, apply(block.c_str(), RegistryMode::Register));

    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"Owned"), L"Shared", L"theirs"));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"Owned"), L"Untouched", L"theirs"));
    EXPECT_FALSE(valueExists(HKEY_CURRENT_USER, at(L"Owned"), L"Added"));
    EXPECT_FALSE(valueExists(HKEY_CURRENT_USER, at(L"Owned"), L""));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"Owned\\TheirSub"), L"x", L"y"));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, at(L"Owned\\NewKey")));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, at(L"Broken")));
}

TEST_F(RegistryApplier, FailedBlockRestoresAnOverwrittenDefaultValue) {
    put(L"Owned", L"", L"their default");
    std::string block = "Owned = s 'ours' " + std::string(300, 'k');
    EXPECT_EQ(DISP_E_EXCEPTION, apply(block.c_str(), RegistryMode::Register));
    EXPECT_TRUE(hasString(HKEY_CURRENT_USER, at(L"Owned"), L"", L"their default"));
}

TEST_F(RegistryApplier, MalformedScriptWritesNothing) {
    for (const char *block :
         {"Written = s 'x' Unclosed {", "App = s 'it's'", "Key {}", "Foo{ val X = s 'y' }Bar",
          "ForceRemove NoRemove CLSID { X }", "ForceRemove val X = s 'y'"}) {
        EXPECT_EQ(DISP_E_EXCEPTION, apply(block, RegistryMode::Register)) << block;
        EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, at(L""))) << block;
    }
    std::u16string unclosed = u"HKCU { Written = s '%" + std::u16string(40, u'x') + u"' }";
    EXPECT_EQ(DISP_E_EXCEPTION, applyRegistryScript(unclosed, {}, RegistryMode::Register));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, L"Written"));
}
