#include "RegistryApplier.h"

#include "Owned.h"

#include <string>
#include <vector>

namespace kestrava {
namespace {

const wchar_t *wide(const std::u16string &s) {
    return reinterpret_cast<const wchar_t *>(s.c_str());
}

HKEY rootKey(const std::u16string &name) {
    using rgs::equalsIgnoringCase;
    if (equalsIgnoringCase(name, "HKCR") || equalsIgnoringCase(name, "HKEY_CLASSES_ROOT")) {
        return HKEY_CLASSES_ROOT;
    }
    if (equalsIgnoringCase(name, "HKCU") || equalsIgnoringCase(name, "HKEY_CURRENT_USER")) {
        return HKEY_CURRENT_USER;
    }
    if (equalsIgnoringCase(name, "HKLM") || equalsIgnoringCase(name, "HKEY_LOCAL_MACHINE")) {
        return HKEY_LOCAL_MACHINE;
    }
    if (equalsIgnoringCase(name, "HKU") || equalsIgnoringCase(name, "HKEY_USERS")) {
        return HKEY_USERS;
    }
    if (equalsIgnoringCase(name, "HKPD") || equalsIgnoringCase(name, "HKEY_PERFORMANCE_DATA")) {
        return HKEY_PERFORMANCE_DATA;
    }
    if (equalsIgnoringCase(name, "HKDD") || equalsIgnoringCase(name, "HKEY_DYN_DATA")) {
        return HKEY_DYN_DATA;
    }
    if (equalsIgnoringCase(name, "HKCC") || equalsIgnoringCase(name, "HKEY_CURRENT_CONFIG")) {
        return HKEY_CURRENT_CONFIG;
    }
    return nullptr;
}

// What a register pass changed, so that a failed root block can be undone exactly.
class Journal {
  public:
    explicit Journal(HKEY root) : root_(root) {}

    void keyCreated(const std::wstring &path) {
        Change change;
        change.kind = Change::CreatedKey;
        change.path = path;
        changes_.push_back(std::move(change));
    }

    // Call before writing the value.
    void aboutToSet(HKEY key, const std::wstring &path, const std::wstring &valueName) {
        Change change;
        change.kind = Change::AddedValue;
        change.path = path;
        change.valueName = valueName;
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS) {
            change.kind = Change::OverwrittenValue;
            change.oldType = type;
            change.oldData.resize(size);
            if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, change.oldData.data(),
                                 &size) != ERROR_SUCCESS) {
                return; // unreadable: leave it alone rather than guess
            }
            change.oldData.resize(size);
        }
        changes_.push_back(std::move(change));
    }

    void rollBack() {
        for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
            if (it->kind == Change::CreatedKey) {
                RegDeleteTreeW(root_, it->path.c_str());
                RegDeleteKeyW(root_, it->path.c_str());
                continue;
            }
            RegKey key;
            if (RegOpenKeyExW(root_, it->path.c_str(), 0, KEY_SET_VALUE, key.out()) !=
                ERROR_SUCCESS) {
                continue;
            }
            if (it->kind == Change::AddedValue) {
                RegDeleteValueW(key.get(), it->valueName.c_str());
            } else {
                RegSetValueExW(key.get(), it->valueName.c_str(), 0, it->oldType, it->oldData.data(),
                               static_cast<DWORD>(it->oldData.size()));
            }
        }
        changes_.clear();
    }

  private:
    struct Change {
        enum Kind { CreatedKey, AddedValue, OverwrittenValue } kind = CreatedKey;
        std::wstring path;
        std::wstring valueName;
        DWORD oldType = 0;
        std::vector<BYTE> oldData;
    };
    HKEY root_;
    std::vector<Change> changes_;
};

std::wstring childPath(const std::wstring &parent, const std::u16string &name) {
    return parent.empty() ? std::wstring(wide(name)) : parent + L"\\" + wide(name);
}

HRESULT setString(HKEY key, const std::wstring &path, const std::u16string &name,
                  const std::u16string &data, Journal &journal) {
    std::wstring valueName = wide(name);
    journal.aboutToSet(key, path, valueName);
    LONG status = RegSetValueExW(key, valueName.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT registerEntries(HKEY parent, const std::wstring &parentPath,
                        const std::vector<rgs::Entry> &entries, Journal &journal) {
    for (const rgs::Entry &entry : entries) {
        if (entry.isValue) {
            HRESULT hr = setString(parent, parentPath, entry.name, entry.data, journal);
            if (FAILED(hr)) {
                return hr;
            }
            continue;
        }
        const wchar_t *name = wide(entry.name);
        if (entry.marker == rgs::Marker::ForceRemove &&
            !rgs::equalsIgnoringCase(entry.name, "CLSID") &&
            !rgs::equalsIgnoringCase(entry.name, "TYPELIB")) {
            RegDeleteTreeW(parent, name);
            RegDeleteKeyW(parent, name);
        }
        RegKey key;
        if (RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, key.out()) != ERROR_SUCCESS &&
            RegOpenKeyExW(parent, name, 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
            DWORD disposition = 0;
            if (RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, key.out(), &disposition) != ERROR_SUCCESS) {
                return DISP_E_EXCEPTION;
            }
            if (disposition == REG_CREATED_NEW_KEY) {
                journal.keyCreated(childPath(parentPath, entry.name));
            }
        }
        std::wstring path = childPath(parentPath, entry.name);
        if (entry.hasData) {
            HRESULT hr = setString(key.get(), path, u"", entry.data, journal);
            if (FAILED(hr)) {
                return hr;
            }
        }
        HRESULT hr = registerEntries(key.get(), path, entry.children, journal);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

bool hasSubkeys(HKEY key) {
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
           subkeys > 0;
}

void unregisterEntries(HKEY parent, const std::vector<rgs::Entry> &entries) {
    for (const rgs::Entry &entry : entries) {
        const wchar_t *name = wide(entry.name);
        if (entry.isValue) {
            RegDeleteValueW(parent, name);
            continue;
        }
        RegKey key;
        if (RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, key.out()) != ERROR_SUCCESS) {
            continue;
        }
        unregisterEntries(key.get(), entry.children);
        bool keep = hasSubkeys(key.get()) || entry.marker == rgs::Marker::NoRemove;
        key.reset();
        if (!keep) {
            RegDeleteKeyW(parent, name);
        }
    }
}

// Applies one parsed root block.
HRESULT applyRegistryBlock(HKEY root, const std::vector<rgs::Entry> &entries, RegistryMode mode) {
    if (mode == RegistryMode::Unregister) {
        unregisterEntries(root, entries);
        return S_OK;
    }
    Journal journal(root);
    HRESULT hr = registerEntries(root, std::wstring(), entries, journal);
    if (FAILED(hr)) {
        journal.rollBack();
    }
    return hr;
}

} // namespace

HRESULT applyRegistryScript(const std::u16string &script, const rgs::Replacements &replacements,
                            RegistryMode mode) {
    std::u16string expanded;
    HRESULT hr = rgs::expand(script, replacements, expanded);
    if (FAILED(hr)) {
        return hr;
    }
    std::vector<rgs::RootBlock> roots;
    hr = rgs::parse(expanded, roots);
    if (FAILED(hr)) {
        return hr;
    }
    for (const rgs::RootBlock &block : roots) {
        hr = applyRegistryBlock(rootKey(block.rootName), block.entries, mode);
        if (FAILED(hr) && mode == RegistryMode::Register) {
            return hr;
        }
    }
    return S_OK;
}

} // namespace kestrava
