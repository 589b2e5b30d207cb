// The registry as adoption reads and writes it. Reads go through
// HKEY_CLASSES_ROOT, what COM sees; every write goes to the machine's classes
// (HKEY_LOCAL_MACHINE\Software\Classes) in this process's own registry view,
// and each is written ahead into a journal in Palavox's own key, so that undo,
// or a failure half-way, puts back exactly what was there.
#pragma once

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace palavox::adopt {

// A registry or platform call that failed: what it was doing and its status.
class Failure : public std::runtime_error {
public:
    Failure(const std::wstring& what, long status);
    const std::wstring& what_wide() const noexcept { return what_; }
    long status() const noexcept { return status_; }
    bool denied() const noexcept;  // access denied: administrator rights are needed

private:
    std::wstring what_;
    long status_;
};

// Throws Failure unless `status` is ERROR_SUCCESS.
void Ok(LSTATUS status, const std::wstring& what);
// Throws Failure unless `hr` succeeded.
void Succeeded(HRESULT hr, const std::wstring& what);

// A value as the registry holds it, or its absence.
struct Value {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// HKEY_CLASSES_ROOT (merged) or the machine's classes alone.
enum class Root { Classes, Machine, User };

bool KeyExists(Root root, const std::wstring& key);
Value ReadValue(Root root, const std::wstring& key, const wchar_t* name);
// A string value (REG_SZ or REG_EXPAND_SZ, unexpanded), if there is one.
std::optional<std::wstring> ReadString(Root root, const std::wstring& key, const wchar_t* name);
std::vector<std::wstring> SubKeys(Root root, const std::wstring& key);

std::wstring StringData(const Value& value);
Value StringValue(const std::wstring& text);
Value NumberValue(DWORD number);

// How a value is shown in what the command prints.
std::wstring Shown(const Value& value);

// What adoption changed, written ahead of each change under the state key
// (CLSID\{Palavox}\Adoption\Undo), and undone newest first.
class Journal {
public:
    explicit Journal(std::wstring stateKey) : stateKey_(std::move(stateKey)) {}

    // Creates the state key with State "incomplete": what follows can be undone.
    void Begin();
    // Sets `name` of `key` (both under HKLM\Software\Classes), keys created as needed.
    void Set(const std::wstring& key, const wchar_t* name, const Value& value);
    // A file this run creates, deleted on undo.
    void CreatingFile(const std::wstring& path);
    // A value of the state key itself, which undo removes with the key.
    void SetState(const wchar_t* name, const Value& value);

    // Puts back everything recorded, newest first, then removes the state key.
    // Each step is printed; a step that fails is said and the rest go on.
    // Returns whether every step succeeded.
    bool Undo();

private:
    void EnsureKey(const std::wstring& key);
    void Record(const std::vector<std::pair<std::wstring, Value>>& entry);

    std::wstring stateKey_;
    unsigned next_ = 0;
};

// The messages the command prints, on standard output.
void Say(const std::wstring& line);

}  // namespace palavox::adopt
