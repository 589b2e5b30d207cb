// The four exports of the in-process server: class factory, unload query and
// self-registration.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <oleauto.h>

#include <string>

#include "adoption.hpp"
#include "server.hpp"
#include "shadow.hpp"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace palavox::com {
namespace {

constexpr const wchar_t* kProgId = L"" PALAVOX_PROGID;
constexpr const wchar_t* kVersionedProgId = L"" PALAVOX_VERSIONED_PROGID;
constexpr const wchar_t* kClassName = L"" PALAVOX_CLASS_NAME;
constexpr const wchar_t* kTypeLibVersion = L"" PALAVOX_TYPELIB_VERSION;

// The 32- and 64-bit builds share every identifier. On 64-bit Windows each
// registers its class in its own registry view, while the ProgIDs, the type
// library and the interface are seen by both.
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr const wchar_t* kSysKindKey = L"win64";
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr const wchar_t* kSysKindKey = L"win32";
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

// Lives as long as the module. The module never unloads (DllCanUnloadNow),
// so neither references to the factory nor LockServer have anything to keep
// alive, and nothing counts them.
class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return CreatePalavoxObject(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

ClassFactory g_factory;

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &handle, nullptr);
    // branch-untaken: writing HKCR fails only where registration cannot run at all
    if (status == ERROR_SUCCESS) {
        status =
            RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    // branch-untaken: as above: status is ERROR_SUCCESS
    return HRESULT_FROM_WIN32(status);
}

// A ProgID is only ours to delete while it still points at our class.
HRESULT DeleteProgId(const wchar_t* progId, const std::wstring& clsid) {
    wchar_t value[64] = {};
    DWORD size = sizeof value;
    const std::wstring key = std::wstring(progId) + L"\\CLSID";
    const LSTATUS status =
        RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    if (status != ERROR_SUCCESS || _wcsicmp(value, clsid.c_str()) != 0) return S_OK;
    const LSTATUS deleted = RegDeleteTreeW(HKEY_CLASSES_ROOT, progId);
    // branch-untaken: a ProgID just read is there, and deleting our own key does not fail
    return deleted == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(deleted);
}

bool KeyExists(const std::wstring& key, REGSAM view = 0) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ | view, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

// Whether the build of the other bitness is registered. A 32-bit process on
// 32-bit Windows has no other view: the flag would open its own.
bool OtherBuildRegistered(const std::wstring& classKey) {
#ifndef _WIN64
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return false;
#endif
    return KeyExists(classKey, kOtherView);
}

HRESULT DeleteTree(const std::wstring& key) {
    const LSTATUS deleted = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    // branch-untaken: deleting our own keys fails only where HKCR cannot be written
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND
               ? S_OK
               // branch-untaken: as above
               : HRESULT_FROM_WIN32(deleted);
}

HRESULT Unregister() {
    const std::wstring clsid = GuidText(CLSID_PalavoxClass);
    const std::wstring classKey = L"CLSID\\" + clsid;
    HRESULT result = S_OK;
    auto keep = [&](HRESULT hr) {
        // branch-untaken: no step of unregistration fails where it can run (see DeleteTree)
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    };
    // While the other build stays registered, the shared entries are still in
    // use: remove only this build's class and its own type library path.
    const bool otherStays = OtherBuildRegistered(classKey);
    // Absent entries are not an error: unregistering twice is harmless. Asking
    // UnRegisterTypeLib about a library that is not there fails differently
    // from one system to the next, so look first.
    const std::wstring ownPath =
        L"TypeLib\\" + GuidText(LIBID_Palavox) + L"\\" + kTypeLibVersion + L"\\0\\" + kSysKindKey;
    if (KeyExists(ownPath)) {
        keep(otherStays ? DeleteTree(ownPath)
                        : UnRegisterTypeLib(LIBID_Palavox, PALAVOX_TYPELIB_MAJOR,
                                            PALAVOX_TYPELIB_MINOR, LANG_NEUTRAL, kSysKind));
    }
    if (!otherStays) {
        keep(DeleteProgId(kVersionedProgId, clsid));
        keep(DeleteProgId(kProgId, clsid));
    }
    keep(DeleteTree(classKey));
    return result;
}

HRESULT Register() {
    const std::wstring path = ModulePath();
    // branch-untaken: the path of the module running this code is always there
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    const std::wstring clsid = GuidText(CLSID_PalavoxClass);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring versioned = kVersionedProgId;
    const std::wstring independent = kProgId;
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    } entries[] = {
        {classKey, nullptr, kClassName},
        {classKey + L"\\InprocServer32", nullptr, path},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\ProgID", nullptr, versioned},
        {classKey + L"\\VersionIndependentProgID", nullptr, independent},
        {classKey + L"\\TypeLib", nullptr, GuidText(LIBID_Palavox)},
        {classKey + L"\\Version", nullptr, kTypeLibVersion},
        {versioned, nullptr, kClassName},
        {versioned + L"\\CLSID", nullptr, clsid},
        {independent, nullptr, kClassName},
        {independent + L"\\CLSID", nullptr, clsid},
        {independent + L"\\CurVer", nullptr, versioned},
    };
    for (const auto& entry : entries) {
        // branch-untaken: writing HKCR fails only where registration cannot run at all
        if (const HRESULT hr = SetValue(entry.key, entry.name, entry.value); FAILED(hr)) return hr;
    }
    // Also registers _PalavoxClass for the universal marshaler.
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    // branch-untaken: the type library embedded in this DLL always loads
    if (SUCCEEDED(hr)) {
        hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()), nullptr);
        library->Release();
    }
    return hr;
}

}  // namespace

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length =
            GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path.data(), size);
        // branch-untaken: as in Register: the running module has a path
        if (length == 0) return {};
        // branch-untaken: a path past MAX_PATH, from which Wine's loader loads no DLL
        if (length < size) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace palavox::com

using palavox::com::g_factory;

// Only FreeLibrary (reserved null) gives back what the module holds: when the
// process ends, the DLLs it would be given back to may be gone already.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // Shadow mode's last totals line: a file of this process's own, either way.
    if (reason == DLL_PROCESS_DETACH) palavox::com::FinishShadow();
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        palavox::com::ReleaseTypeInformation();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    palavox::com::LoadAdoption();
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_PalavoxClass) && !palavox::com::IsAdoptedClass(clsid)) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(riid, object);
}

// Once loaded, the component stays loaded: no count of live objects or locks
// is kept, since this answer never depends on one.
STDAPI DllCanUnloadNow() { return S_FALSE; }

STDAPI DllRegisterServer() {
    HRESULT hr = E_OUTOFMEMORY;
    try {
        hr = palavox::com::Register();
        // branch-untaken: registration fails only where HKCR cannot be written
        if (FAILED(hr)) palavox::com::Unregister();  // leave nothing half-registered
        // branch-untaken: registration runs out of memory in no test
    } catch (const std::bad_alloc&) {
    }
    return hr;
}

STDAPI DllUnregisterServer() {
    try {
        return palavox::com::Unregister();
        // branch-untaken: nor does unregistration
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
