// The two components on this machine: Palavox's own registration, and the
// installed component it adopts the identity of, as the registry and the
// platform's type-library calls on the registered library tell them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace palavox::adopt {

// Exit statuses, as docs/windows.md lists them.
enum Status : int {
    kDone = 0,
    kRefusedByState = 1,  // adopting twice, nothing to undo, a run left half-way
    kUsage = 2,
    kNotAdoptable = 3,      // nothing to adopt, or it does not qualify
    kAdministrator = 4,     // the registry cannot be written; nothing changed
    kFailedPutBack = 5,     // failed half-way; everything written put back
    kFailedNotPutBack = 6,  // failed, and not all of it could be put back
};

// A refusal: nothing was changed, and the message says why.
class Refusal : public std::runtime_error {
public:
    Refusal(Status status, std::wstring message)
        : std::runtime_error("refused"), status_(status), message_(std::move(message)) {}
    Status status() const noexcept { return status_; }
    const std::wstring& message() const noexcept { return message_; }

private:
    Status status_;
    std::wstring message_;
};

// Owns one COM interface pointer.
template <class T>
class Owned {
public:
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        if (p_ != nullptr) p_->Release();
    }
    T** out() { return &p_; }
    T* get() const { return p_; }
    T* operator->() const { return p_; }

private:
    T* p_ = nullptr;
};

std::wstring GuidText(REFGUID guid);
#ifdef _WIN64
inline constexpr int kBits = 64;
#else
inline constexpr int kBits = 32;
#endif
// "the 64-bit view of the registry", for messages.
std::wstring View();

// Palavox's own class as registered in this view, and its type library.
struct Palavox {
    std::wstring clsid;  // {…}
    std::wstring dll;    // its InprocServer32
    Owned<ITypeLib> library;
    Owned<ITypeInfo> vtable;  // _PalavoxClass's function table
};
void FindPalavox(Palavox& palavox);

// The installed component, read from the registry and its registered library.
struct Installed {
    std::wstring progId;
    std::wstring clsid;          // {…}
    std::wstring server;         // the DLL path its registration holds
    std::wstring serverVersion;  // its version resource, "" when it has none
    std::wstring libid;          // {…}
    std::wstring versionKey;     // as registered, "4.2"
    WORD major = 0, minor = 0;
    std::wstring lcidKey;  // "0"
    LCID lcid = 0;
    std::wstring iid;    // its default interface
    std::wstring alias;  // the alias of it, "" when the library has none
    std::wstring libraryName, interfaceName, aliasName, className;
    Owned<ITypeLib> library;
    Owned<ITypeInfo> vtable;
};

// The one class other than Palavox's registered for `progId`, or a Refusal.
std::wstring FindInstalledClass(const std::wstring& progId, const std::wstring& palavoxClsid);
// Its registration and type library, checked against Palavox's interface: a
// Refusal naming every difference when clients built for it could not call
// Palavox's. `needServer`: its DLL must still be where the registry says.
void ReadInstalled(const std::wstring& clsid, const Palavox& palavox, Installed& installed);

// How `theirs` (a dual interface's function table) differs from `mine`:
// methods, dispatch identifiers, places in the table, parameters in order,
// their types, flags and defaults; empty when clients cannot tell them apart.
std::vector<std::wstring> Differences(ITypeInfo* mine, ITypeInfo* theirs);

// The function table of the dual interface `info` describes (itself, or the
// interface half of a dual dispinterface); null when it is not dual.
ITypeInfo* FunctionTable(ITypeInfo* info);

}  // namespace palavox::adopt
