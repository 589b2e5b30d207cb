#include "adoption.hpp"

#include <objbase.h>

#include <new>

#include "server.hpp"

namespace palavox::com {
namespace {

Adoption* g_adoption = nullptr;  // read once; never changed after
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

std::wstring Read(const std::wstring& key, const wchar_t* name) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    std::wstring value(size / sizeof(wchar_t), L'\0');
    const LSTATUS read = RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr,
                                      value.data(), &size);
    // branch-untaken: a value just measured reads, unless palavox-adopt rewrites it in between
    if (read != ERROR_SUCCESS) return {};
    value.resize(size / sizeof(wchar_t) - 1);
    return value;
}

DWORD Number(const std::wstring& key, const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

BOOL CALLBACK ReadAdoption(PINIT_ONCE, PVOID, PVOID*) {
    // branch-untaken: InitOnce runs this once, so the static is never found made already
    static Adoption adoption;
    try {
        wchar_t clsid[40] = {};
        StringFromGUID2(CLSID_PalavoxClass, clsid, 40);
        const std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\Adoption";
        const std::wstring state = Read(key, L"State");
        // An adoption half-written, or none: Palavox as itself.
        if (state == L"adopted" || state == L"shadow") {
            adoption.state =
                state == L"shadow" ? Adoption::State::Shadow : Adoption::State::Adopted;
            IIDFromString(Read(key, L"Iid").c_str(), &adoption.iid);
            const std::wstring alias = Read(key, L"AliasIid");
            // branch-untaken: every library the tests adopt has an alias, as Palavox's has
            if (!alias.empty()) IIDFromString(alias.c_str(), &adoption.alias);
            CLSIDFromString(Read(key, L"Clsid").c_str(), &adoption.clsid);
            adoption.progId = Read(key, L"ProgId");
            adoption.server = Read(key, L"Server");
            adoption.serverVersion = Read(key, L"ServerVersion");
            adoption.folder = Read(key, L"Folder");
            adoption.partSize = Number(key, L"PartSize");
            adoption.parts = Number(key, L"Parts");
        }
        // branch-untaken: a few registry strings never exhaust memory
    } catch (const std::bad_alloc&) {
        adoption = Adoption{};
    }
    g_adoption = &adoption;
    return TRUE;
}

}  // namespace

void LoadAdoption() noexcept { InitOnceExecuteOnce(&g_once, ReadAdoption, nullptr, nullptr); }

const Adoption& CurrentAdoption() noexcept {
    LoadAdoption();
    return *g_adoption;
}

bool IsAdoptedInterface(REFIID riid) noexcept {
    const Adoption& a = CurrentAdoption();
    return a.state != Adoption::State::Off &&
           // branch-untaken: the old interface is asked for by its clients before any other
           (IsEqualIID(riid, a.iid) ||
            (!IsEqualIID(a.alias, GUID_NULL) && IsEqualIID(riid, a.alias)));
}

bool IsAdoptedClass(REFCLSID clsid) noexcept {
    const Adoption& a = CurrentAdoption();
    // branch-untaken: asked only for a class not Palavox's own: adopted, the old one
    return a.state != Adoption::State::Off && IsEqualCLSID(clsid, a.clsid);
}

}  // namespace palavox::com
