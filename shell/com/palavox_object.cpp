// The automation object: a thin COM skin over palavox::PalavoxClass.
// Every method converts its strings, calls the portable class and turns a
// thrown error into a status code plus error info. No text logic lives here.
#include <windows.h>
#include <oleauto.h>

#include <new>

#include "bstr_text.hpp"
#include "dispatch_frame.hpp"
#include "palavox/error.hpp"
#include "palavox/palavox_class.hpp"
#include "server.hpp"

namespace palavox::com {
namespace {

constexpr const wchar_t* kSource = L"" PALAVOX_PROGID;

// Error number n reaches scripts as Err.Number = n only through this code.
HRESULT ReportError(int number, const char* description) noexcept {
    const HRESULT hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL,
                                    static_cast<unsigned>(number) & 0xFFFFu);
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return hr;
    wchar_t text[256] = {};
    MultiByteToWideChar(CP_UTF8, 0, description, -1, text, 255);
    create->SetGUID(IID__PalavoxClass);
    create->SetSource(const_cast<LPOLESTR>(kSource));
    create->SetDescription(text);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
    return hr;
}

// Exceptions must never cross the COM boundary.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (const Error& e) {
        return ReportError(e.number(), e.what());
    } catch (const std::bad_alloc&) {
        SetErrorInfo(0, nullptr);  // no stale description for this failure
        return E_OUTOFMEMORY;
    } catch (...) {
        SetErrorInfo(0, nullptr);
        return E_UNEXPECTED;
    }
}

class PalavoxObject final : public _PalavoxClass, public ISupportErrorInfo {
public:
    PalavoxObject() noexcept = default;
    PalavoxObject(const PalavoxObject&) = delete;
    PalavoxObject& operator=(const PalavoxObject&) = delete;

    // IUnknown. The alias's identifier comes first, then the interface's own.
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

    // IDispatch, driven by the type library embedded in this DLL.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        if (const HRESULT hr = LoadTypeInfo(); FAILED(hr)) return hr;
        dispatchInfo_->AddRef();
        *info = dispatchInfo_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (const HRESULT hr = LoadTypeInfo(); FAILED(hr)) return hr;
        return DispGetIDsOfNames(vtableInfo_, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (const HRESULT hr = LoadTypeInfo(); FAILED(hr)) return hr;
        // The vtable half of the dual interface, so the call lands in the methods
        // below instead of coming back here.
        try {
            return InvokeChecked(vtableInfo_, static_cast<_PalavoxClass*>(this), id, flags, params,
                                 result, exception, badArgument);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    // _PalavoxClass
    HRESULT STDMETHODCALLTYPE TrataHTML(BSTR vemEntrada, BSTR vemTarget, BSTR* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        *resultado = nullptr;  // a failed call leaves the empty text
        return Guarded([&] {
            const std::u16string entrada = ToText(vemEntrada);
            const std::u16string target = ToText(vemTarget);
            *resultado = ToBstr(class_.TrataHTML(entrada, target));
        });
    }
    HRESULT STDMETHODCALLTYPE FindString(BSTR vemEntrada, BSTR vemProcura, BSTR vemTipo,
                                         LONG* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        LONG count = 0;
        const HRESULT hr = Guarded([&] {
            const std::u16string entrada = ToText(vemEntrada);
            const std::u16string procura = ToText(vemProcura);
            const std::u16string tipo = ToText(vemTipo);
            count = class_.FindString(entrada, procura, tipo);
        });
        *resultado = SUCCEEDED(hr) ? count : 0;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE RemoverAcentuacao(BSTR vemTextoAcentuado, BSTR* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        *resultado = nullptr;
        return Guarded([&] {
            const std::u16string texto = ToText(vemTextoAcentuado);
            *resultado = ToBstr(class_.RemoverAcentuacao(texto));
        });
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID__PalavoxClass) || IsEqualIID(riid, IID_PalavoxClass___v0)
                   ? S_OK
                   : S_FALSE;
    }

private:
    ~PalavoxObject() {
        if (vtableInfo_ != nullptr) vtableInfo_->Release();
        if (dispatchInfo_ != nullptr) dispatchInfo_->Release();
    }

    // Loaded from this module's own resource, so dispatch works unregistered too.
    HRESULT LoadTypeInfo() noexcept {
        if (vtableInfo_ != nullptr) return S_OK;
        std::wstring path;
        try {
            path = ModulePath();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
        ITypeLib* library = nullptr;
        HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
        if (FAILED(hr)) return hr;
        ITypeInfo* dispatch = nullptr;
        hr = library->GetTypeInfoOfGuid(IID__PalavoxClass, &dispatch);
        library->Release();
        if (FAILED(hr)) return hr;
        HREFTYPE vtableRef = 0;
        ITypeInfo* vtable = nullptr;
        hr = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef);
        if (SUCCEEDED(hr)) hr = dispatch->GetRefTypeInfo(vtableRef, &vtable);
        if (FAILED(hr)) {
            dispatch->Release();
            return hr;
        }
        dispatchInfo_ = dispatch;
        vtableInfo_ = vtable;
        return S_OK;
    }

    LONG refs_ = 1;
    ITypeInfo* dispatchInfo_ = nullptr;  // handed to clients
    ITypeInfo* vtableInfo_ = nullptr;    // drives Invoke and name lookup
    PalavoxClass class_;
};

}  // namespace

HRESULT CreatePalavoxObject(REFIID riid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    auto* created = new (std::nothrow) PalavoxObject();
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();  // drops to zero, and destroys it, when the interface was refused
    return hr;
}

}  // namespace palavox::com
