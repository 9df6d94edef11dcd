#include "RegistryScript.h"

namespace kestrava::rgs {
namespace {

// A name longer than this cannot be a replacement name.
constexpr size_t kMaxReplacementName = 31;
// Deeper nesting is no registry layout anyone writes; refusing it keeps the stack bounded.
constexpr int kMaxDepth = 64;

char16_t lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
}

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool equalIgnoringCase(const std::u16string &a, const std::u16string &b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

struct Token {
    std::u16string text;
    bool quoted = false;

    bool is(const char *word) const { return !quoted && equalsIgnoringCase(text, word); }
};

class Lexer {
  public:
    explicit Lexer(const std::u16string &text) : text_(text) {}

    // 1: a token; 0: the end of the text; -1: an unterminated quote.
    int next(Token &token) {
        while (pos_ < text_.size() && isSpace(text_[pos_]))
            ++pos_;
        if (pos_ >= text_.size())
            return 0;
        token.text.clear();
        if (text_[pos_] == u'\'') {
            token.quoted = true;
            for (++pos_; pos_ < text_.size(); ++pos_) {
                if (text_[pos_] != u'\'') {
                    token.text.push_back(text_[pos_]);
                } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\'') {
                    token.text.push_back(u'\'');
                    ++pos_;
                } else {
                    ++pos_;
                    return 1;
                }
            }
            return -1;
        }
        token.quoted = false;
        while (pos_ < text_.size() && !isSpace(text_[pos_]))
            token.text.push_back(text_[pos_++]);
        return 1;
    }

    size_t position() const { return pos_; }
    void rewind(size_t position) { pos_ = position; }

  private:
    const std::u16string &text_;
    size_t pos_ = 0;
};

class Parser {
  public:
    explicit Parser(const std::u16string &text) : lexer_(text) {}

    int32_t script(std::vector<RootBlock> &roots) {
        Token token;
        for (;;) {
            int r = lexer_.next(token);
            if (r == 0)
                return kOk;
            if (r < 0 || token.quoted || !isRootKeyName(token.text))
                return kSyntaxError;
            RootBlock block;
            block.rootName = token.text;
            if (!expect("{") || !entries(block.entries, 1))
                return kSyntaxError;
            roots.push_back(std::move(block));
        }
    }

  private:
    bool expect(const char *word) {
        Token token;
        return lexer_.next(token) == 1 && token.is(word);
    }

    // A name or a data text: anything but the structural tokens.
    bool operand(std::u16string &out) {
        Token token;
        if (lexer_.next(token) != 1 || token.is("{") || token.is("}") || token.is("="))
            return false;
        out = std::move(token.text);
        return true;
    }

    bool stringData(std::u16string &out) { return expect("=") && expect("s") && operand(out); }

    bool peekIs(const char *word) {
        size_t at = lexer_.position();
        Token token;
        if (lexer_.next(token) == 1 && token.is(word))
            return true;
        lexer_.rewind(at);
        return false;
    }

    bool entries(std::vector<Entry> &out, int depth) {
        if (depth > kMaxDepth)
            return false;
        Token token;
        for (;;) {
            if (lexer_.next(token) != 1)
                return false; // a missing }
            if (token.is("}"))
                return true;
            Entry entry;
            if (token.is("val")) {
                entry.isValue = true;
                entry.hasData = true;
                if (!operand(entry.name) || !stringData(entry.data))
                    return false;
                out.push_back(std::move(entry));
                continue;
            }
            if (token.is("NoRemove") || token.is("ForceRemove")) {
                entry.marker = token.is("NoRemove") ? Marker::NoRemove : Marker::ForceRemove;
                if (!operand(entry.name))
                    return false;
            } else if (token.is("{") || token.is("=") || token.is("Delete")) {
                return false; // Delete is outside the subset we read: refuse, never misread
            } else {
                entry.name = std::move(token.text);
            }
            if (entry.name.empty() || entry.name.find(u'\\') != std::u16string::npos)
                return false;
            if (peekIs("=")) {
                entry.hasData = true;
                if (!expect("s") || !operand(entry.data))
                    return false;
            }
            if (peekIs("{")) {
                entry.hasBlock = true;
                if (!entries(entry.children, depth + 1))
                    return false;
            }
            out.push_back(std::move(entry));
        }
    }

    Lexer lexer_;
};

} // namespace

bool equalsIgnoringCase(const std::u16string &a, const char *ascii) {
    size_t i = 0;
    for (; ascii[i] != '\0'; ++i)
        if (i >= a.size() || lower(a[i]) != lower(char16_t(ascii[i])))
            return false;
    return i == a.size();
}

bool isRootKeyName(const std::u16string &name) {
    static const char *const names[] = {
        "HKCR", "HKEY_CLASSES_ROOT",  "HKCU", "HKEY_CURRENT_USER",     "HKLM", "HKEY_LOCAL_MACHINE",
        "HKU",  "HKEY_USERS",         "HKPD", "HKEY_PERFORMANCE_DATA", "HKDD", "HKEY_DYN_DATA",
        "HKCC", "HKEY_CURRENT_CONFIG"};
    for (const char *candidate : names)
        if (equalsIgnoringCase(name, candidate))
            return true;
    return false;
}

int32_t expand(const std::u16string &text, const Replacements &replacements,
               std::u16string &expanded) {
    expanded.clear();
    expanded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') {
            expanded.push_back(text[i]);
            continue;
        }
        size_t close = i + 1;
        while (close < text.size() && text[close] != u'%') {
            if (close - i > kMaxReplacementName) {
                expanded.clear();
                return kFail;
            }
            ++close;
        }
        if (close >= text.size()) {
            expanded.clear();
            return kSyntaxError;
        }
        std::u16string name = text.substr(i + 1, close - i - 1);
        if (name.empty()) {
            expanded.push_back(u'%');
        } else {
            const std::u16string *value = nullptr;
            for (const auto &r : replacements)
                if (equalIgnoringCase(r.first, name))
                    value = &r.second;
            if (!value) {
                expanded.clear();
                return kSyntaxError;
            }
            expanded += *value;
        }
        i = close;
    }
    return kOk;
}

int32_t parse(const std::u16string &text, std::vector<RootBlock> &roots) {
    roots.clear();
    int32_t result = Parser(text).script(roots);
    if (result != kOk)
        roots.clear();
    return result;
}

} // namespace kestrava::rgs
