// libFuzzer target: any bytes through expansion and reading must end in a status, never in a
// crash, a leak, a hang or a read past the end.
#include "RegistryScript.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace kestrava::rgs;
    // Odd sizes read as 8-bit text, as the module's resource is; even sizes also as UTF-16.
    std::u16string narrow(data, data + size);
    std::u16string wide;
    for (size_t i = 0; i + 1 < size; i += 2)
        wide.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    const Replacements replacements = {{u"Module", u"C:\\it''s here\\Kestrava.DLL"}};
    for (const std::u16string *text : {&narrow, &wide}) {
        std::u16string expanded;
        if (expand(*text, replacements, expanded) == kOk) {
            std::vector<RootBlock> roots;
            int32_t result = parse(expanded, roots);
            if (result != kOk && !roots.empty())
                __builtin_trap(); // a failed read must hand back nothing
        }
        std::vector<RootBlock> roots;
        parse(*text, roots);
    }
    return 0;
}
