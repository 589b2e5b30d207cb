// The automation object: a thin COM skin over palavox::PalavoxClass.
// Every method reads its strings in place, has the portable class write its
// result straight into the BSTR the caller receives, and turns a thrown error
// into a status code plus error info. No text logic lives here.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <new>
#include <string>

#include "adoption.hpp"
#include "bstr_text.hpp"
#include "com_guard.hpp"
#include "dispatch_frame.hpp"
#include "palavox/error.hpp"
#include "palavox/palavox_class.hpp"
#include "server.hpp"
#include "shadow.hpp"

namespace palavox::com {
namespace {

// ------------------------------------------------------------ type information

// The interface's own methods in function-table order, after the three of
// IUnknown and the four of IDispatch, and what each C++ method takes and gives:
// the type library must agree, or late-bound calls could not reach them.
constexpr UINT kFirstSlot = 7;
enum Slot : UINT { kTrataHTML, kFindString, kRemoverAcentuacao, kSlots };
constexpr struct {
    UINT params;
    VARTYPE result;
} kSlotShapes[kSlots] = {{2, VT_BSTR}, {3, VT_I4}, {1, VT_BSTR}};

// This module's type information, loaded once per process and shared by every
// object on every thread: never changed once published, and the platform's
// type info objects may be called from any thread.
struct TypeTable {
    ITypeInfo* dispatchInfo = nullptr;  // handed to clients
    ITypeInfo* vtableInfo = nullptr;    // the names only the platform resolves
    MethodShape methods[kSlots];        // in the library's order

    TypeTable() = default;
    TypeTable(const TypeTable&) = delete;
    TypeTable& operator=(const TypeTable&) = delete;
    // branch-untaken: only a table loaded whole is kept (the null check of delete)
    ~TypeTable() {
        // branch-untaken: a table kept has both halves
        if (vtableInfo != nullptr) vtableInfo->Release();
        // branch-untaken: as above
        if (dispatchInfo != nullptr) dispatchInfo->Release();
    }

    const MethodShape* Find(DISPID id) const noexcept {
        for (const MethodShape& m : methods) {
            if (m.id == id) return &m;
        }
        return nullptr;
    }

    // From this module's own resource, so dispatch works unregistered too.
    HRESULT Load() {
        const std::wstring path = ModulePath();
        // branch-untaken: the path of the module running this code is always there
        if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
        ITypeLib* library = nullptr;
        HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
        // branch-untaken: the type library embedded in this DLL reads as it was built
        if (FAILED(hr)) return hr;
        hr = library->GetTypeInfoOfGuid(IID__PalavoxClass, &dispatchInfo);
        library->Release();
        // branch-untaken: as above
        if (FAILED(hr)) return hr;
        // The function-table half of the dual interface describes the methods.
        HREFTYPE vtableRef = 0;
        hr = dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef);
        // branch-untaken: as above
        if (SUCCEEDED(hr)) hr = dispatchInfo->GetRefTypeInfo(vtableRef, &vtableInfo);
        // branch-untaken: the type library embedded in this DLL reads as it was built
        if (FAILED(hr)) return hr;
        TYPEATTR* attr = nullptr;
        hr = vtableInfo->GetTypeAttr(&attr);
        // branch-untaken: as above
        if (FAILED(hr)) return hr;
        const UINT count = attr->cFuncs;
        vtableInfo->ReleaseTypeAttr(attr);
        // branch-untaken: as above
        if (count != kSlots) return E_UNEXPECTED;
        // Read in the library's order, checked against the function table's.
        bool seen[kSlots] = {};
        for (UINT i = 0; i < count; ++i) {
            MethodShape& m = methods[i];
            hr = ReadShape(vtableInfo, i, kFirstSlot, m);
            // branch-untaken: as above
            if (FAILED(hr)) return hr;
            // branch-untaken: as above
            if (m.slot >= kSlots || seen[m.slot] || m.params != kSlotShapes[m.slot].params ||
                // branch-untaken: as above
                m.result != kSlotShapes[m.slot].result) {
                return E_UNEXPECTED;
            }
            seen[m.slot] = true;
        }
        return S_OK;
    }
};

// Filled once, by whichever thread gets there first: threads that race each
// load a table, the first exchange publishes one, and the others free theirs.
std::atomic<TypeTable*> g_types{nullptr};

HRESULT Types(const TypeTable*& types) noexcept {
    TypeTable* current = g_types.load(std::memory_order_acquire);
    if (current == nullptr) {
        // branch-untaken: no test runs the 64-bit DLL out of memory (the nothrow check of new)
        auto* made = new (std::nothrow) TypeTable;
        // branch-untaken: as above
        if (made == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = E_OUTOFMEMORY;
        try {
            hr = made->Load();
            // branch-untaken: as above
        } catch (const std::bad_alloc&) {
        }
        // branch-untaken: it loads (see Load)
        if (FAILED(hr)) {
            // branch-untaken: as above (Load fails for no test)
            delete made;
            return hr;
        }
        // branch-untaken(race): the exchange fails only for threads loading it at the same moment
        if (g_types.compare_exchange_strong(current, made, std::memory_order_acq_rel)) {
            current = made;
        } else {
            // branch-untaken: delete's null check (made is not null)
            delete made;  // `current` now holds the published one
        }
    }
    types = current;
    return S_OK;
}

// ------------------------------------------------------------ the object

class PalavoxObject final : public _PalavoxClass, public ISupportErrorInfo {
public:
    // `old`: in shadow mode, the installed component's object, which answers.
    explicit PalavoxObject(_PalavoxClass* old) noexcept : old_(old) {}
    PalavoxObject(const PalavoxObject&) = delete;
    PalavoxObject& operator=(const PalavoxObject&) = delete;

    // IUnknown. The alias's identifier comes first, then the interface's own;
    // adopted, the installed component's too: the same function table.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_PalavoxClass___v0) || IsEqualIID(riid, IID__PalavoxClass) ||
            IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IUnknown) ||
            IsAdoptedInterface(riid)) {
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
        // branch-untaken: the null check of delete: this is never null
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
        const TypeTable* types = nullptr;
        // branch-untaken: the type information always loads (see Load)
        if (const HRESULT hr = Types(types); FAILED(hr)) return hr;
        types->dispatchInfo->AddRef();
        *info = types->dispatchInfo;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (count == 0) return S_OK;  // nothing asked, nothing to answer
        if (names == nullptr || ids == nullptr) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) {
            if (names[i] == nullptr) return E_INVALIDARG;
        }
        const TypeTable* types = nullptr;
        // branch-untaken: the type information always loads (see Load)
        if (const HRESULT hr = Types(types); FAILED(hr)) return hr;
        // The usual question, a method and its parameters, is answered from
        // the table; anything else (unknown names, the result's name, names of
        // IDispatch) as the platform answers it.
        if (FindIds(types->methods, kSlots, names, count, ids)) return S_OK;
        return DispGetIDsOfNames(types->vtableInfo, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        const TypeTable* types = nullptr;
        // branch-untaken: the type information always loads (see Load)
        if (const HRESULT hr = Types(types); FAILED(hr)) return hr;
        if (!ReadableFrame(params)) return E_INVALIDARG;
        // Methods only: VBScript calls them with DISPATCH_PROPERTYGET as well.
        const MethodShape* method = (flags & DISPATCH_METHOD) != 0 ? types->Find(id) : nullptr;
        if (method == nullptr) return DISP_E_MEMBERNOTFOUND;
        Arguments args;
        if (const HRESULT hr = args.Gather(*method, *params, badArgument); FAILED(hr)) return hr;

        VARIANT value;
        VariantInit(&value);
        HRESULT hr = E_UNEXPECTED;
        // branch-untaken: every Slot is a case; no other value reaches the switch
        switch (method->slot) {
            case kTrataHTML:
                V_VT(&value) = VT_BSTR;
                hr = TrataHTMLInto(args[0], args[1], &V_BSTR(&value));
                break;
            case kFindString:
                V_VT(&value) = VT_I4;
                hr = FindStringInto(args[0], args[1], args[2], &V_I4(&value));
                break;
            case kRemoverAcentuacao:
                V_VT(&value) = VT_BSTR;
                hr = RemoverAcentuacaoInto(args[0], &V_BSTR(&value));
                break;
            default:
                break;
        }
        if (FAILED(hr)) return ReportException(hr, exception);
        // The slot is written, not cleared first: what it held is not ours.
        if (result != nullptr) {
            *result = value;
        } else if (V_VT(&value) == VT_BSTR) {
            SysFreeString(V_BSTR(&value));  // nobody asked for it
        }
        return S_OK;
    }

    // _PalavoxClass
    HRESULT STDMETHODCALLTYPE TrataHTML(BSTR vemEntrada, BSTR vemTarget, BSTR* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        return TrataHTMLInto(vemEntrada, vemTarget, resultado);
    }
    HRESULT STDMETHODCALLTYPE FindString(BSTR vemEntrada, BSTR vemProcura, BSTR vemTipo,
                                         LONG* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        return FindStringInto(vemEntrada, vemProcura, vemTipo, resultado);
    }
    HRESULT STDMETHODCALLTYPE RemoverAcentuacao(BSTR vemTextoAcentuado, BSTR* resultado) override {
        if (resultado == nullptr) return E_POINTER;
        return RemoverAcentuacaoInto(vemTextoAcentuado, resultado);
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID__PalavoxClass) || IsEqualIID(riid, IID_PalavoxClass___v0) ||
                       IsAdoptedInterface(riid)
                   ? S_OK
                   : S_FALSE;
    }

private:
    ~PalavoxObject() {
        if (old_ != nullptr) old_->Release();
    }

    // The bodies both roads share; `resultado` is a valid slot. In shadow
    // mode the installed component's answer and error info are the client's,
    // Palavox's own is only compared with it.
    HRESULT TrataHTMLInto(BSTR vemEntrada, BSTR vemTarget, BSTR* resultado) const noexcept {
        if (old_ == nullptr) return TrataHTMLOwn(vemEntrada, vemTarget, resultado);
        *resultado = nullptr;
        const HRESULT hr = old_->TrataHTML(vemEntrada, vemTarget, resultado);
        IErrorInfo* info = TakeError(hr);
        BSTR mine = nullptr;
        const HRESULT own = TrataHTMLOwn(vemEntrada, vemTarget, &mine);
        IErrorInfo* ownInfo = TakeError(own);
        const BSTR args[] = {vemEntrada, vemTarget};
        Watch(shadow::Method::TrataHTML, args, 2, TextOutcome(hr, *resultado, info),
              TextOutcome(own, mine, ownInfo));
        return Answered(hr, info, ownInfo, mine);
    }
    HRESULT FindStringInto(BSTR vemEntrada, BSTR vemProcura, BSTR vemTipo,
                           LONG* resultado) const noexcept {
        if (old_ == nullptr) return FindStringOwn(vemEntrada, vemProcura, vemTipo, resultado);
        *resultado = 0;
        const HRESULT hr = old_->FindString(vemEntrada, vemProcura, vemTipo, resultado);
        IErrorInfo* info = TakeError(hr);
        LONG mine = 0;
        const HRESULT own = FindStringOwn(vemEntrada, vemProcura, vemTipo, &mine);
        IErrorInfo* ownInfo = TakeError(own);
        const BSTR args[] = {vemEntrada, vemProcura, vemTipo};
        Watch(shadow::Method::FindString, args, 3, CountOutcome(hr, *resultado, info),
              CountOutcome(own, mine, ownInfo));
        return Answered(hr, info, ownInfo, nullptr);
    }
    HRESULT RemoverAcentuacaoInto(BSTR vemTextoAcentuado, BSTR* resultado) const noexcept {
        if (old_ == nullptr) return RemoverAcentuacaoOwn(vemTextoAcentuado, resultado);
        *resultado = nullptr;
        const HRESULT hr = old_->RemoverAcentuacao(vemTextoAcentuado, resultado);
        IErrorInfo* info = TakeError(hr);
        BSTR mine = nullptr;
        const HRESULT own = RemoverAcentuacaoOwn(vemTextoAcentuado, &mine);
        IErrorInfo* ownInfo = TakeError(own);
        const BSTR args[] = {vemTextoAcentuado};
        Watch(shadow::Method::RemoverAcentuacao, args, 1, TextOutcome(hr, *resultado, info),
              TextOutcome(own, mine, ownInfo));
        return Answered(hr, info, ownInfo, mine);
    }
    // The installed component's status, with its error info put back.
    static HRESULT Answered(HRESULT hr, IErrorInfo* info, IErrorInfo* ownInfo, BSTR mine) noexcept {
        SysFreeString(mine);
        if (ownInfo != nullptr) ownInfo->Release();
        SetErrorInfo(0, info);
        if (info != nullptr) info->Release();
        return hr;
    }

    // Palavox's own answers. A failed call leaves the empty text (a null BSTR) or 0.
    HRESULT TrataHTMLOwn(BSTR vemEntrada, BSTR vemTarget, BSTR* resultado) const noexcept {
        *resultado = nullptr;
        return Guarded([&] {
            BstrSink sink;
            class_.TrataHTML(View(vemEntrada), View(vemTarget), sink);
            *resultado = sink.Take();
        });
    }
    HRESULT FindStringOwn(BSTR vemEntrada, BSTR vemProcura, BSTR vemTipo,
                          LONG* resultado) const noexcept {
        LONG count = 0;
        const HRESULT hr = Guarded(
            [&] { count = class_.FindString(View(vemEntrada), View(vemProcura), View(vemTipo)); });
        *resultado = SUCCEEDED(hr) ? count : 0;
        return hr;
    }
    HRESULT RemoverAcentuacaoOwn(BSTR vemTextoAcentuado, BSTR* resultado) const noexcept {
        *resultado = nullptr;
        return Guarded([&] {
            BstrSink sink;
            class_.RemoverAcentuacao(View(vemTextoAcentuado), sink);
            *resultado = sink.Take();
        });
    }

    LONG refs_ = 1;
    PalavoxClass class_;
    _PalavoxClass* old_ = nullptr;
};

}  // namespace

HRESULT CreatePalavoxObject(REFIID riid, void** object) noexcept {
    // branch-untaken: the class factory checks the slot first
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    _PalavoxClass* old = nullptr;
    if (CurrentAdoption().state == Adoption::State::Shadow) {
        // branch-untaken: shadow mode needs the old DLL (palavox-adopt checks); no test removes it
        if (const HRESULT hr = CreateInstalledObject(&old); FAILED(hr)) return hr;
    }
    // branch-untaken: no test runs the 64-bit DLL out of memory (the nothrow check of new)
    auto* created = new (std::nothrow) PalavoxObject(old);
    // branch-untaken: as above
    if (created == nullptr) {
        // branch-untaken: no test runs the 64-bit DLL out of memory
        if (old != nullptr) old->Release();
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();  // drops to zero, and destroys it, when the interface was refused
    return hr;
}

void ReleaseTypeInformation() noexcept {
    delete g_types.exchange(nullptr, std::memory_order_acq_rel);
}

}  // namespace palavox::com
