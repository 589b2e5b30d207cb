// The stand-in for an installed component, for the tests of adoption and
// shadow mode only: an in-process server answering to Palavox's ProgID under
// identifiers of its own, whose methods are the original design as the
// literal model writes it, both mends off (a link holding "http" twice fails
// with error 5; text that looks like a placeholder is replaced). Dispatch is
// the platform's own ITypeInfo::Invoke over its embedded type library, as an
// old component's is. Never installed or shipped.
#include <initguid.h>  // defines the identifiers of standin_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>

#include <new>
#include <string>
#include <string_view>

#include "literal/literal_model.hpp"
#include "palavox/error.hpp"
#include "standin_identity.h"
#include "standin_idl.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

std::wstring ModulePath() {
    wchar_t path[MAX_PATH * 4] = {};
    GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH * 4);
    return path;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::u16string_view View(BSTR s) {
    return {reinterpret_cast<const char16_t*>(s), s == nullptr ? 0 : SysStringLen(s)};
}

BSTR Make(const std::u16string& s) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()),
                             static_cast<UINT>(s.size()));
}

// Error n as an automation client sees it: the status and the error info.
HRESULT Fail(int number) {
    if (number == palavox::kOutOfMemory) return E_OUTOFMEMORY;
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        wchar_t text[128] = {};
        MultiByteToWideChar(CP_UTF8, 0, palavox::ErrorDescription(number), -1, text, 127);
        create->SetGUID(IID__PalavoxClass);
        create->SetSource(const_cast<LPOLESTR>(L"" STANDIN_PROGID));
        create->SetDescription(text);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(number));
}

template <class Body>
HRESULT Run(Body&& body) {
    try {
        body();
        return S_OK;
    } catch (const palavox::Error& e) {
        return Fail(e.number());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

ITypeInfo* g_info = nullptr;  // loaded once, kept for the process

ITypeInfo* Info() {
    if (g_info == nullptr) {
        ITypeLib* library = nullptr;
        if (SUCCEEDED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library))) {
            library->GetTypeInfoOfGuid(IID__PalavoxClass, &g_info);
            library->Release();
        }
    }
    return g_info;
}

constexpr palavox::literal::Mends kOriginal{false, false};

class StandinObject final : public _PalavoxClass, public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_PalavoxClass___v0) || IsEqualIID(riid, IID__PalavoxClass) ||
            IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IUnknown)) {
            *object = static_cast<_PalavoxClass*>(this);
        } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
            *object = static_cast<ISupportErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        if (Info() == nullptr) return E_UNEXPECTED;
        g_info->AddRef();
        *info = g_info;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (Info() == nullptr) return E_UNEXPECTED;
        return DispGetIDsOfNames(g_info, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override {
        if (Info() == nullptr) return E_UNEXPECTED;
        return DispInvoke(static_cast<_PalavoxClass*>(this), g_info, id, flags, params, result,
                          exception, badArgument);
    }

    // The original frame: an empty first argument skips the routine.
    HRESULT STDMETHODCALLTYPE TrataHTML(BSTR vemEntrada, BSTR vemTarget, BSTR* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        *resultado = nullptr;
        return Run([&] {
            const std::u16string out =
                View(vemEntrada).empty()
                    ? std::u16string()
                    : palavox::literal::ConverteLinks(View(vemEntrada), View(vemTarget), kOriginal);
            *resultado = Make(out);
        });
    }
    HRESULT STDMETHODCALLTYPE FindString(BSTR vemEntrada, BSTR vemProcura, BSTR vemTipo,
                                         LONG* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        *resultado = 0;
        if (View(vemEntrada).empty()) return Fail(palavox::kTypeMismatch);
        return Run([&] {
            *resultado = palavox::literal::ContaOcorrencias(View(vemEntrada), View(vemProcura),
                                                            View(vemTipo));
        });
    }
    HRESULT STDMETHODCALLTYPE RemoverAcentuacao(BSTR vemTextoAcentuado, BSTR* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        *resultado = nullptr;
        return Run(
            [&] { *resultado = Make(palavox::literal::TrocaAcentos(View(vemTextoAcentuado))); });
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID__PalavoxClass) ? S_OK : S_FALSE;
    }

private:
    ~StandinObject() = default;
    LONG refs_ = 1;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IClassFactory) || IsEqualIID(riid, IID_IUnknown)) {
            *object = static_cast<IClassFactory*>(this);
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
        auto* made = new (std::nothrow) StandinObject();
        if (made == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = made->QueryInterface(riid, object);
        made->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

HRESULT SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &handle, nullptr);
    if (status == ERROR_SUCCESS) {
        status =
            RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    return HRESULT_FROM_WIN32(status);
}

// A ProgID goes only while it still names this class.
void DeleteProgId(const std::wstring& progId, const std::wstring& clsid) {
    wchar_t value[64] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, (progId + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ,
                     nullptr, value, &size) == ERROR_SUCCESS &&
        _wcsicmp(value, clsid.c_str()) == 0) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, progId.c_str());
    }
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_PalavoxClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return S_FALSE; }

// What an old self-registering component writes: its class, both ProgIDs
// pointing at it, and its type library (with the interface, for the marshaler).
STDAPI DllRegisterServer() {
    const std::wstring path = ModulePath();
    const std::wstring clsid = GuidText(CLSID_PalavoxClass);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring versioned = L"" STANDIN_VERSIONED_PROGID;
    const std::wstring independent = L"" STANDIN_PROGID;
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    } entries[] = {
        {classKey, nullptr, L"" STANDIN_CLASS_NAME},
        {classKey + L"\\InprocServer32", nullptr, path},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\ProgID", nullptr, versioned},
        {classKey + L"\\VersionIndependentProgID", nullptr, independent},
        {classKey + L"\\TypeLib", nullptr, GuidText(LIBID_Palavox)},
        {classKey + L"\\Version", nullptr, L"" STANDIN_TYPELIB_VERSION},
        {versioned, nullptr, L"" STANDIN_CLASS_NAME},
        {versioned + L"\\CLSID", nullptr, clsid},
        {independent, nullptr, L"" STANDIN_CLASS_NAME},
        {independent + L"\\CLSID", nullptr, clsid},
        {independent + L"\\CurVer", nullptr, versioned},
    };
    for (const auto& entry : entries) {
        if (const HRESULT hr = SetValue(entry.key, entry.name, entry.value); FAILED(hr)) return hr;
    }
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (SUCCEEDED(hr)) {
        hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()), nullptr);
        library->Release();
    }
    return hr;
}

STDAPI DllUnregisterServer() {
    const std::wstring clsid = GuidText(CLSID_PalavoxClass);
#ifdef _WIN64
    constexpr SYSKIND kind = SYS_WIN64;
#else
    constexpr SYSKIND kind = SYS_WIN32;
#endif
    UnRegisterTypeLib(LIBID_Palavox, STANDIN_TYPELIB_MAJOR, STANDIN_TYPELIB_MINOR, LANG_NEUTRAL,
                      kind);
    DeleteProgId(L"" STANDIN_VERSIONED_PROGID, clsid);
    DeleteProgId(L"" STANDIN_PROGID, clsid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid).c_str());
    return S_OK;
}
