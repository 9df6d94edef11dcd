// libFuzzer target: any bytes through expansion and reading must end in a status, never in a
// crash, a leak, a hang or a read past the end. What the reader accepts must mean one thing:
// printed back in a form of our own, it reads again as the same tree.
#include "RegistryScript.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace kestrava::rgs;

void quote(std::u16string &out, const std::u16string &text) {
    out += u'\'';
    for (char16_t c : text) {
        out += c;
        if (c == u'\'') {
            out += u'\'';
        }
    }
    out += u'\'';
}

// Every name and text quoted, one separator of its own kind in each gap, so nothing of the
// original spelling survives.
void print(std::u16string &out, const std::vector<Entry> &entries, char16_t gap) {
    for (const Entry &entry : entries) {
        out += gap;
        if (entry.isValue) {
            out += u"VAL";
        } else if (entry.marker == Marker::NoRemove) {
            out += u"noremove";
        } else if (entry.marker == Marker::ForceRemove) {
            out += u"FORCEREMOVE";
        }
        if (entry.isValue || entry.marker != Marker::None) {
            out += gap;
        }
        quote(out, entry.name);
        if (entry.hasData) {
            out += gap;
            out += u"=";
            out += gap;
            out += u"s";
            out += gap;
            quote(out, entry.data);
        }
        if (entry.hasBlock) {
            out += gap;
            out += u"{";
            print(out, entry.children, gap);
            out += gap;
            out += u"}";
        }
    }
}

std::u16string print(const std::vector<RootBlock> &roots, char16_t gap) {
    std::u16string out;
    for (const RootBlock &root : roots) {
        out += root.rootName;
        out += gap;
        out += u"{";
        print(out, root.entries, gap);
        out += gap;
        out += u"}";
        out += gap;
    }
    return out;
}

bool same(const std::vector<Entry> &a, const std::vector<Entry> &b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].isValue != b[i].isValue || a[i].marker != b[i].marker || a[i].name != b[i].name ||
            a[i].hasData != b[i].hasData || a[i].data != b[i].data ||
            a[i].hasBlock != b[i].hasBlock || !same(a[i].children, b[i].children)) {
            return false;
        }
    }
    return true;
}

bool same(const std::vector<RootBlock> &a, const std::vector<RootBlock> &b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].rootName != b[i].rootName || !same(a[i].entries, b[i].entries)) {
            return false;
        }
    }
    return true;
}

// What a registry would be asked to do with an accepted tree must be something it can do.
bool wellFormed(const std::vector<Entry> &entries) {
    for (const Entry &entry : entries) {
        if (entry.name.empty()) {
            return false;
        }
        if (!entry.isValue && entry.name.find(u'\\') != std::u16string::npos) {
            return false;
        }
        if (entry.isValue && (entry.marker != Marker::None || entry.hasBlock || !entry.hasData)) {
            return false;
        }
        for (const std::u16string *text : {&entry.name, &entry.data}) {
            for (char16_t c : *text) {
                if (c == 0) {
                    return false;
                }
            }
        }
        if (!wellFormed(entry.children)) {
            return false;
        }
    }
    return true;
}

// Words of the text as white space separates them, a quoted text being one word.
size_t words(const std::u16string &text) {
    size_t count = 0;
    bool inWord = false, inQuote = false;
    for (char16_t c : text) {
        if (!inQuote && (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n')) {
            inWord = false;
            continue;
        }
        if (!inWord) {
            ++count;
            inWord = true;
        }
        if (c == u'\'') {
            inQuote = !inQuote;
        }
    }
    return count;
}

// Words a tree is written with: no word of the text may go unread or be read twice.
size_t words(const std::vector<Entry> &entries) {
    size_t count = 0;
    for (const Entry &entry : entries) {
        count += entry.isValue || entry.marker != Marker::None ? 2 : 1;
        count += entry.hasData ? 3 : 0;
        count += entry.hasBlock ? 2 + words(entry.children) : 0;
    }
    return count;
}

void check(const std::u16string &text) {
    std::vector<RootBlock> roots;
    const int32_t result = parse(text, roots);
    if (result != kOk) {
        if (!roots.empty() || result != kSyntaxError) {
            __builtin_trap(); // a failed read hands back nothing, and says why one way only
        }
        return;
    }
    size_t treeWords = 0;
    for (const RootBlock &root : roots) {
        if (!isRootKeyName(root.rootName) || !wellFormed(root.entries)) {
            __builtin_trap();
        }
        treeWords += 3 + words(root.entries);
    }
    if (treeWords != words(text)) {
        __builtin_trap();
    }
    for (char16_t gap : {u' ', u'\n', u'\t'}) {
        std::vector<RootBlock> again;
        if (parse(print(roots, gap), again) != kOk || !same(roots, again)) {
            __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Odd sizes read as 8-bit text, as the module's resource is; even sizes also as UTF-16.
    std::u16string narrow(data, data + size);
    std::u16string wide;
    for (size_t i = 0; i + 1 < size; i += 2) {
        wide.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    const Replacements replacements = {{u"Module", u"C:\\it''s here\\Kestrava.DLL"}};
    for (const std::u16string *text : {&narrow, &wide}) {
        std::u16string expanded;
        const int32_t result = expand(*text, replacements, expanded);
        if (result == kOk) {
            check(expanded);
        } else if (!expanded.empty() || (result != kSyntaxError && result != kFail)) {
            __builtin_trap();
        }
        check(*text);
    }
    return 0;
}
