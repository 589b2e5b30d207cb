// What palavox-adopt.exe (migration/adopt/) left in Palavox's own key,
// CLSID\{Palavox}\Adoption of this DLL's registry view: read once per load,
// at the first DllGetClassObject, which is asked for the installed
// component's class once its key names this DLL as its server (a late-bound
// client asks only for IDispatch, so nothing later would tell). With no such
// key the DLL behaves as it always did.
#pragma once

#include <windows.h>

#include <string>

namespace palavox::com {

struct Adoption {
    enum class State { Off, Adopted, Shadow } state = State::Off;
    IID iid = GUID{};    // the installed component's interface
    IID alias = GUID{};  // and its alias, GUID_NULL when it has none
    // For shadow mode.
    CLSID clsid = GUID{};
    std::wstring progId, server, serverVersion, folder;
    DWORD partSize = 0, parts = 0;
};

// Reads the key, the first time only.
void LoadAdoption() noexcept;
const Adoption& CurrentAdoption() noexcept;

// Whether `riid` is an interface identifier the adopted component's clients use.
bool IsAdoptedInterface(REFIID riid) noexcept;
// Whether `clsid` is the adopted component's class.
bool IsAdoptedClass(REFCLSID clsid) noexcept;

}  // namespace palavox::com
