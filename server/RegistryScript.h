// Reader of the registrar's script format: text in, a tree of keys and values out. Free of any
// platform call so that it builds natively for fuzzing; applying the tree is RegistryApplier.
#ifndef KESTRAVA_SERVER_REGISTRYSCRIPT_H
#define KESTRAVA_SERVER_REGISTRYSCRIPT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrava::rgs {

// Status codes with the platform's values, so callers can return them unchanged.
constexpr int32_t kOk = 0;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);        // E_FAIL
constexpr int32_t kSyntaxError = static_cast<int32_t>(0x80020009); // DISP_E_EXCEPTION

enum class Marker { None, NoRemove, ForceRemove };

struct Entry {
    bool isValue = false;
    Marker marker = Marker::None;
    std::u16string name;
    bool hasData = false; // a key's default value, or a value entry's data
    std::u16string data;
    bool hasBlock = false;
    std::vector<Entry> children; // in script order
};

struct RootBlock {
    std::u16string rootName; // as written; the applier maps it to a root key
    std::vector<Entry> entries;
};

using Replacements = std::vector<std::pair<std::u16string, std::u16string>>;

// %% becomes %, %NAME% the replacement whose name matches without regard to case.
int32_t expand(const std::u16string &text, const Replacements &replacements,
               std::u16string &expanded);

// Reads every root block, or nothing at all: on failure `roots` is left empty.
int32_t parse(const std::u16string &text, std::vector<RootBlock> &roots);

// The platform's root keys, by their short or long name, without regard to case.
bool isRootKeyName(const std::u16string &name);

bool equalsIgnoringCase(const std::u16string &a, const char *ascii);

} // namespace kestrava::rgs

#endif
