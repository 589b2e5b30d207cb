#include "registry.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace palavox::adopt {
namespace {

constexpr const wchar_t* kMachineClasses = L"Software\\Classes\\";

HKEY RootKey(Root root) {
    return root == Root::Classes   ? HKEY_CLASSES_ROOT
           : root == Root::Machine ? HKEY_LOCAL_MACHINE
                                   : HKEY_CURRENT_USER;
}

std::wstring Path(Root root, const std::wstring& key) {
    return root == Root::Classes ? key : kMachineClasses + key;
}

std::string Utf8(const std::wstring& wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// An open key, closed on every way out.
class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (handle_ != nullptr) RegCloseKey(handle_);
    }
    HKEY* out() { return &handle_; }
    HKEY get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

std::wstring MachineName(const std::wstring& key, const wchar_t* name) {
    std::wstring shown = L"HKLM\\Software\\Classes\\" + key;
    if (name != nullptr && *name != 0) shown += std::wstring(L" value ") + name;
    return shown;
}

std::wstring Numbered(unsigned n) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%04u", n);
    return text;
}

DWORD Number(const Value& value) {
    DWORD number = 0;
    std::memcpy(&number, value.data.data(),
                std::min<std::size_t>(value.data.size(), sizeof number));
    return number;
}

void WriteValue(HKEY key, const wchar_t* name, const Value& value, const std::wstring& what) {
    Ok(RegSetValueExW(key, name, 0, value.type, value.data.empty() ? nullptr : value.data.data(),
                      static_cast<DWORD>(value.data.size())),
       what);
}

}  // namespace

Failure::Failure(const std::wstring& what, long status)
    : std::runtime_error(Utf8(what)), what_(what), status_(status) {}

bool Failure::denied() const noexcept {
    // branch-untaken: no test denies a type-library call (E_ACCESSDENIED)
    return status_ == ERROR_ACCESS_DENIED || status_ == E_ACCESSDENIED;
}

void Ok(LSTATUS status, const std::wstring& what) {
    if (status != ERROR_SUCCESS) throw Failure(what, status);
}

void Succeeded(HRESULT hr, const std::wstring& what) {
    if (FAILED(hr)) throw Failure(what, hr);
}

bool KeyExists(Root root, const std::wstring& key) {
    Key handle;
    return RegOpenKeyExW(RootKey(root), Path(root, key).c_str(), 0, KEY_READ, handle.out()) ==
           ERROR_SUCCESS;
}

Value ReadValue(Root root, const std::wstring& key, const wchar_t* name) {
    Value value;
    Key handle;
    if (RegOpenKeyExW(RootKey(root), Path(root, key).c_str(), 0, KEY_QUERY_VALUE, handle.out()) !=
        ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    if (RegQueryValueExW(handle.get(), name, nullptr, &value.type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return value;
    }
    value.data.resize(size);
    Ok(RegQueryValueExW(handle.get(), name, nullptr, &value.type, value.data.data(), &size),
       L"reading " + Path(root, key));
    value.data.resize(size);
    value.present = true;
    return value;
}

std::wstring StringData(const Value& value) {
    std::wstring text(value.data.size() / sizeof(wchar_t), L'\0');
    std::copy(value.data.begin(), value.data.begin() + static_cast<std::ptrdiff_t>(text.size() * 2),
              reinterpret_cast<BYTE*>(text.data()));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

std::optional<std::wstring> ReadString(Root root, const std::wstring& key, const wchar_t* name) {
    const Value value = ReadValue(root, key, name);
    // branch-untaken: values read as text here are REG_SZ
    if (!value.present || (value.type != REG_SZ && value.type != REG_EXPAND_SZ))
        return std::nullopt;
    return StringData(value);
}

std::vector<std::wstring> SubKeys(Root root, const std::wstring& key) {
    std::vector<std::wstring> names;
    Key handle;
    if (RegOpenKeyExW(RootKey(root), Path(root, key).c_str(), 0, KEY_ENUMERATE_SUB_KEYS,
                      handle.out()) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD size = 256;
        if (RegEnumKeyExW(handle.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name, size);
    }
}

Value StringValue(const std::wstring& text) {
    Value value;
    value.present = true;
    value.type = REG_SZ;
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

Value NumberValue(DWORD number) {
    Value value;
    value.present = true;
    value.type = REG_DWORD;
    const auto* bytes = reinterpret_cast<const BYTE*>(&number);
    value.data.assign(bytes, bytes + sizeof number);
    return value;
}

std::wstring Shown(const Value& value) {
    // branch-untaken: a value is shown only when there is one
    if (!value.present) return L"(none)";
    // branch-untaken: only text values are set and shown (Journal::Set)
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ)
        return L"\"" + StringData(value) + L"\"";
    // branch-untaken: as above
    if (value.type == REG_DWORD) return std::to_wstring(Number(value));
    return L"(" + std::to_wstring(value.data.size()) + L" bytes of type " +
           std::to_wstring(value.type) + L")";
}

void Say(const std::wstring& line) {
    const std::string text = Utf8(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// ------------------------------------------------------------ the journal

void Journal::Begin() {
    EnsureKey(stateKey_);
    SetState(L"State", StringValue(L"incomplete"));
}

void Journal::Record(const std::vector<std::pair<std::wstring, Value>>& entry) {
    const std::wstring key = kMachineClasses + stateKey_ + L"\\Undo\\" + Numbered(next_++);
    Key handle;
    Ok(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                       handle.out(), nullptr),
       L"writing the journal, HKLM\\" + key);
    for (const auto& [name, value] : entry)
        WriteValue(handle.get(), name.c_str(), value, L"HKLM\\" + key);
}

// Each key missing on the way down is recorded, then created under a parent
// opened for creating keys, which is what a user without rights is refused.
void Journal::EnsureKey(const std::wstring& key) {
    std::size_t end = 0;
    while (end != std::wstring::npos) {
        end = key.find(L'\\', end + 1);
        const std::wstring prefix = key.substr(0, end);
        if (KeyExists(Root::Machine, prefix)) continue;
        const std::size_t slash = prefix.rfind(L'\\');
        const std::wstring parent = kMachineClasses + prefix.substr(0, slash);
        if (prefix != stateKey_) {
            Record({{L"Kind", StringValue(L"key")}, {L"Key", StringValue(prefix)}});
        }
        Key opened;
        Ok(RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_CREATE_SUB_KEY, opened.out()),
           L"creating " + MachineName(prefix, nullptr));
        Key created;
        Ok(RegCreateKeyExW(opened.get(), prefix.substr(slash + 1).c_str(), 0, nullptr, 0,
                           KEY_SET_VALUE, nullptr, created.out(), nullptr),
           L"creating " + MachineName(prefix, nullptr));
        if (prefix != stateKey_) Say(L"created " + MachineName(prefix, nullptr));
    }
}

void Journal::Set(const std::wstring& key, const wchar_t* name, const Value& value) {
    EnsureKey(key);
    const Value before = ReadValue(Root::Machine, key, name);
    if (before.present && before.type == value.type && before.data == value.data) {
        Say(L"kept    " + MachineName(key, name) + L" = " + Shown(value) + L" (already so)");
        return;
    }
    Record({{L"Kind", StringValue(L"value")},
            {L"Key", StringValue(key)},
            {L"Name", StringValue(name == nullptr ? L"" : name)},
            {L"Had", NumberValue(before.present ? 1 : 0)},
            {L"Type", NumberValue(before.type)},
            {L"Data", Value{true, REG_BINARY, before.data}}});
    Key handle;
    Ok(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kMachineClasses + key).c_str(), 0, KEY_SET_VALUE,
                     handle.out()),
       L"writing " + MachineName(key, name));
    WriteValue(handle.get(), name, value, L"writing " + MachineName(key, name));
    Say(L"set     " + MachineName(key, name) + L" = " + Shown(value) +
        (before.present ? L" (was " + Shown(before) + L")" : L" (new)"));
}

void Journal::CreatingFile(const std::wstring& path) {
    Record({{L"Kind", StringValue(L"file")}, {L"Path", StringValue(path)}});
}

void Journal::SetState(const wchar_t* name, const Value& value) {
    Key handle;
    Ok(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kMachineClasses + stateKey_).c_str(), 0, KEY_SET_VALUE,
                     handle.out()),
       L"writing " + MachineName(stateKey_, name));
    WriteValue(handle.get(), name, value, L"writing " + MachineName(stateKey_, name));
}

bool Journal::Undo() {
    const std::wstring undo = stateKey_ + L"\\Undo";
    std::vector<std::wstring> entries = SubKeys(Root::Machine, undo);
    std::sort(entries.rbegin(), entries.rend());
    bool whole = true;
    for (const std::wstring& entry : entries) {
        const std::wstring at = undo + L"\\" + entry;
        const std::wstring kind = ReadString(Root::Machine, at, L"Kind").value_or(L"");
        const std::wstring key = ReadString(Root::Machine, at, L"Key").value_or(L"");
        LSTATUS status = ERROR_SUCCESS;
        std::wstring did;
        if (kind == L"value") {
            const std::wstring name = ReadString(Root::Machine, at, L"Name").value_or(L"");
            Value before = ReadValue(Root::Machine, at, L"Data");
            before.present = Number(ReadValue(Root::Machine, at, L"Had")) == 1;
            before.type = Number(ReadValue(Root::Machine, at, L"Type"));
            // Recorded ahead of a write that was refused, or put back by an
            // earlier undo that stopped further on: nothing to do.
            const Value now = ReadValue(Root::Machine, key, name.c_str());
            if (now.present == before.present &&
                // branch-untaken: as above
                (!now.present || (now.type == before.type && now.data == before.data))) {
                Say(L"kept    " + MachineName(key, name.c_str()) + L" = " + Shown(before) +
                    L" (as it was)");
                continue;
            }
            Key handle;
            status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kMachineClasses + key).c_str(), 0,
                                   KEY_SET_VALUE, handle.out());
            if (status == ERROR_SUCCESS && before.present) {
                // branch-untaken: a value put back holds data
                status = RegSetValueExW(handle.get(), name.c_str(), 0, before.type,
                                        before.data.empty() ? nullptr : before.data.data(),
                                        static_cast<DWORD>(before.data.size()));
                did = L"put back " + MachineName(key, name.c_str()) + L" = " + Shown(before);
            } else if (status == ERROR_SUCCESS) {
                status = RegDeleteValueW(handle.get(), name.c_str());
                did = L"removed " + MachineName(key, name.c_str());
            }
        } else if (kind == L"key") {
            status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kMachineClasses + key).c_str());
            did = L"removed " + MachineName(key, nullptr);
        } else {
            const std::wstring path = ReadString(Root::Machine, at, L"Path").value_or(L"");
            const DWORD attributes = GetFileAttributesW(path.c_str());
            // Not written (its writing failed), or removed by an earlier undo.
            if (attributes == INVALID_FILE_ATTRIBUTES ||
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                Say(L"kept    " + path + L" (no file written there)");
                continue;
            }
            status =
                // branch-untaken: no test locks the written library
                DeleteFileW(path.c_str()) ? ERROR_SUCCESS : static_cast<LSTATUS>(GetLastError());
            did = L"removed " + path;
        }
        // branch-untaken: no test removes a journal's key between the change and its undo
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
            Say(did);
        } else {
            whole = false;
            Say(L"could not undo (" + std::to_wstring(status) + L"): " + did);
        }
    }
    if (!whole) return false;
    // Gone already when the journal's first write was refused.
    const LSTATUS removed =
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kMachineClasses + stateKey_).c_str());
    // branch-untaken: the state key is there until undo removes it
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

}  // namespace palavox::adopt
