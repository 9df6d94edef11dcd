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
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

struct Token {
    std::u16string text;
    bool quoted = false;

    bool is(const char *word) const { return !quoted && equalsIgnoringCase(text, word); }
    bool isExactly(const char16_t *word) const { return !quoted && text == word; }
};

// Words with a meaning of their own; unquoted they never name anything.
bool isReservedWord(const Token &token) {
    return token.is("NoRemove") || token.is("ForceRemove") || token.is("val") || token.is("Delete");
}

class Lexer {
  public:
    explicit Lexer(const std::u16string &text) : text_(text) {}

    // 1: a token; 0: the end of the text; -1: text that is no token (an unterminated quote, a
    // quote inside a word or right after a quoted text, a control character).
    int next(Token &token) {
        while (pos_ < text_.size() && isSpace(text_[pos_])) {
            ++pos_;
        }
        if (pos_ >= text_.size()) {
            return 0;
        }
        token.text.clear();
        token.quoted = text_[pos_] == u'\'';
        if (token.quoted) {
            for (++pos_;; ++pos_) {
                if (pos_ >= text_.size() || isControl(text_[pos_])) {
                    return -1;
                }
                if (text_[pos_] != u'\'') {
                    token.text.push_back(text_[pos_]);
                } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\'') {
                    token.text.push_back(u'\'');
                    ++pos_;
                } else {
                    ++pos_;
                    break;
                }
            }
        } else {
            for (; pos_ < text_.size() && !isSpace(text_[pos_]); ++pos_) {
                if (text_[pos_] == u'\'' || isControl(text_[pos_])) {
                    return -1;
                }
                token.text.push_back(text_[pos_]);
            }
        }
        // Tokens are separated by white space.
        return pos_ >= text_.size() || isSpace(text_[pos_]) ? 1 : -1;
    }

    size_t position() const { return pos_; }
    void rewind(size_t position) { pos_ = position; }

  private:
    static bool isControl(char16_t c) { return c < u' ' && !isSpace(c); }

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
            if (r == 0) {
                return kOk;
            }
            if (r < 0 || token.quoted || !isRootKeyName(token.text)) {
                return kSyntaxError;
            }
            RootBlock block;
            block.rootName = token.text;
            if (!expect(u"{") || !entries(block.entries, 1)) {
                return kSyntaxError;
            }
            roots.push_back(std::move(block));
        }
    }

  private:
    bool expect(const char16_t *word) {
        Token token;
        return lexer_.next(token) == 1 && token.isExactly(word);
    }

    bool peekIs(const char16_t *word) {
        size_t at = lexer_.position();
        Token token;
        if (lexer_.next(token) == 1 && token.isExactly(word)) {
            return true;
        }
        lexer_.rewind(at);
        return false;
    }

    // A key or value name: quoted, any non-empty text; unquoted, a plain word, or a whole
    // braced word such as a GUID. Key names never hold a backslash.
    static bool isName(const Token &token, bool keyName) {
        const std::u16string &name = token.text;
        if (name.empty() || (keyName && name.find(u'\\') != std::u16string::npos)) {
            return false;
        }
        if (token.quoted) {
            return true;
        }
        if (isReservedWord(token) || name.find(u'=') != std::u16string::npos) {
            return false;
        }
        const size_t brace = name.find_first_of(u"{}");
        if (brace == std::u16string::npos) {
            return true;
        }
        return name.size() > 2 && name.front() == u'{' && name.back() == u'}' &&
               name.find_first_of(u"{}", 1) == name.size() - 1;
    }

    bool name(std::u16string &out, bool keyName) {
        Token token;
        if (lexer_.next(token) != 1 || !isName(token, keyName)) {
            return false;
        }
        out = std::move(token.text);
        return true;
    }

    // `= s 'text'`, the sign already read for keys.
    bool quotedData(std::u16string &out) {
        Token token;
        if (!expect(u"s") || lexer_.next(token) != 1 || !token.quoted) {
            return false;
        }
        out = std::move(token.text);
        return true;
    }

    bool entries(std::vector<Entry> &out, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        Token token;
        for (;;) {
            size_t at = lexer_.position();
            if (lexer_.next(token) != 1) {
                return false; // a missing } or no token at all
            }
            if (token.isExactly(u"}")) {
                return true;
            }
            Entry entry;
            if (token.is("val")) {
                entry.isValue = true;
                entry.hasData = true;
                if (!name(entry.name, false) || !expect(u"=") || !quotedData(entry.data)) {
                    return false;
                }
                out.push_back(std::move(entry));
                continue;
            }
            if (token.is("NoRemove") || token.is("ForceRemove")) {
                entry.marker = token.is("NoRemove") ? Marker::NoRemove : Marker::ForceRemove;
            } else {
                lexer_.rewind(at); // the word is the key's name
            }
            if (!name(entry.name, true)) {
                return false;
            }
            if (peekIs(u"=")) {
                entry.hasData = true;
                if (!quotedData(entry.data)) {
                    return false;
                }
            }
            if (peekIs(u"{")) {
                entry.hasBlock = true;
                if (!entries(entry.children, depth + 1)) {
                    return false;
                }
            }
            out.push_back(std::move(entry));
        }
    }

    Lexer lexer_;
};

} // namespace

bool equalsIgnoringCase(const std::u16string &a, const char *ascii) {
    size_t i = 0;
    for (; ascii[i] != '\0'; ++i) {
        if (i >= a.size() || lower(a[i]) != lower(char16_t(ascii[i]))) {
            return false;
        }
    }
    return i == a.size();
}

bool isRootKeyName(const std::u16string &name) {
    static const char *const names[] = {
        "HKCR", "HKEY_CLASSES_ROOT",  "HKCU", "HKEY_CURRENT_USER",     "HKLM", "HKEY_LOCAL_MACHINE",
        "HKU",  "HKEY_USERS",         "HKPD", "HKEY_PERFORMANCE_DATA", "HKDD", "HKEY_DYN_DATA",
        "HKCC", "HKEY_CURRENT_CONFIG"};
    for (const char *candidate : names) {
        if (equalsIgnoringCase(name, candidate)) {
            return true;
        }
    }
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
        const size_t close = text.find(u'%', i + 1);
        if (close == std::u16string::npos) {
            expanded.clear();
            return kSyntaxError; // however long the rest, it names nothing
        }
        if (close - i - 1 > kMaxReplacementName) {
            expanded.clear();
            return kFail;
        }
        std::u16string name = text.substr(i + 1, close - i - 1);
        if (name.empty()) {
            expanded.push_back(u'%');
        } else {
            const std::u16string *value = nullptr;
            for (const auto &r : replacements) {
                if (equalIgnoringCase(r.first, name)) {
                    value = &r.second;
                }
            }
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
    if (result != kOk) {
        roots.clear();
    }
    return result;
}

} // namespace kestrava::rgs
