// Late-bound calls checked and dispatched without the platform's per-call work.
// The methods' parameters are read from the type library once, when it loads
// (MethodShape); each call is then checked against that description and its
// strings are handed to the method as they are, all on the stack.
//
// The checks are those ITypeInfo::Invoke lacks: on Wine a null frame crashes
// the host, unknown or repeated parameter names are silently ignored (the call
// then runs on the wrong arguments), and a refused coercion does not say which
// argument it was. Here the frame is checked, names are matched against the
// method's parameters, and every argument that is not already a string is
// coerced with the platform's own VariantChangeType, so a refusal carries its
// argument index. What the platform's Invoke does besides (missing optional
// arguments, DISP_E_EXCEPTION with EXCEPINFO from the error info) is done the
// same way.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace palavox::com {

// Parameters of a method, the result excluded: every frame fits on the stack.
constexpr UINT kMaxParams = 3;

// One method of the interface as its type information describes it.
struct MethodShape {
    DISPID id = DISPID_UNKNOWN;
    UINT slot = 0;      // among the interface's own methods, in function-table order
    UINT params = 0;    // without the [out, retval] one
    UINT required = 0;  // parameters up to the last one that is not optional
    bool optional[kMaxParams] = {};
    VARTYPE result = VT_EMPTY;  // what the [out, retval] parameter points at
    UINT nameCount = 0;
    BSTR names[1 + kMaxParams] = {};  // the method's, then its parameters'

    MethodShape() = default;
    MethodShape(const MethodShape&) = delete;
    MethodShape& operator=(const MethodShape&) = delete;
    ~MethodShape() {
        for (BSTR& n : names) SysFreeString(n);
    }
};

// Reads function `index` of `info`, the function-table half of a dual
// interface whose methods take only strings. E_UNEXPECTED for any other shape:
// the dispatcher would not know how to call it.
inline HRESULT ReadShape(ITypeInfo* info, UINT index, UINT firstSlot, MethodShape& shape) {
    FUNCDESC* f = nullptr;
    HRESULT hr = info->GetFuncDesc(index, &f);
    // branch-untaken: the type library embedded in this DLL has exactly these shapes
    if (FAILED(hr)) return hr;
    hr = S_OK;
    const auto offset = static_cast<UINT>(static_cast<USHORT>(f->oVft));
    const UINT slot = offset / sizeof(void*);
    // branch-untaken: as above
    if (f->invkind != INVOKE_FUNC || offset % sizeof(void*) != 0 || slot < firstSlot) {
        hr = E_UNEXPECTED;
    }
    shape.id = f->memid;
    shape.slot = slot - firstSlot;
    // branch-untaken: as above
    for (SHORT i = 0; i < f->cParams && SUCCEEDED(hr); ++i) {
        const ELEMDESC& e = f->lprgelemdescParam[i];
        const USHORT flags = e.paramdesc.wParamFlags;
        if ((flags & PARAMFLAG_FRETVAL) != 0) {
            // The last parameter, a pointer to the result.
            // branch-untaken: as above
            if (i != f->cParams - 1 || e.tdesc.vt != VT_PTR) {
                hr = E_UNEXPECTED;
            } else {
                shape.result = e.tdesc.lptdesc->vt;
            }
            // branch-untaken: as above
        } else if (shape.params == kMaxParams || e.tdesc.vt != VT_BSTR) {
            hr = E_UNEXPECTED;
        } else {
            const bool optional = (flags & PARAMFLAG_FOPT) != 0;
            shape.optional[shape.params++] = optional;
            if (!optional) shape.required = shape.params;
        }
    }
    info->ReleaseFuncDesc(f);
    // branch-untaken: as above
    if (FAILED(hr)) return hr;
    UINT got = 0;
    hr = info->GetNames(shape.id, shape.names, 1 + kMaxParams, &got);
    shape.nameCount = got < 1 + shape.params ? got : 1 + shape.params;
    // branch-untaken: as above
    return FAILED(hr) ? hr : got < 1 + shape.params ? E_UNEXPECTED : S_OK;
}

namespace detail {

// Whether `name` spells `known` ignoring case, where both are ASCII. Anything
// else is left to the platform, which compares under its own rules.
inline bool SameAsciiName(const OLECHAR* name, const OLECHAR* known) noexcept {
    for (;; ++name, ++known) {
        const OLECHAR a = *name, b = *known;
        // branch-untaken: the methods and parameters are named in ASCII
        if (a >= 0x80 || b >= 0x80) return false;
        const auto fold = [](OLECHAR c) {
            return c >= L'A' && c <= L'Z' ? static_cast<OLECHAR>(c + (L'a' - L'A')) : c;
        };
        if (fold(a) != fold(b)) return false;
        if (a == 0) return true;
    }
}

inline bool IsMissingMarker(const VARIANT& v) {
    return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND;
}

inline HRESULT Refuse(HRESULT hr, UINT index, UINT* badArgument) {
    if (badArgument != nullptr) *badArgument = index;
    return hr;
}

// The string `v` holds directly or through one reference, if any.
inline bool HeldString(const VARIANT& v, BSTR& s) {
    if (V_VT(&v) == VT_BSTR) {
        s = V_BSTR(&v);
        return true;
    }
    if (V_VT(&v) == (VT_BYREF | VT_BSTR) && V_BSTRREF(&v) != nullptr) {
        s = *V_BSTRREF(&v);
        return true;
    }
    if (V_VT(&v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&v) != nullptr &&
        V_VT(V_VARIANTREF(&v)) == VT_BSTR) {
        s = V_BSTR(V_VARIANTREF(&v));
        return true;
    }
    return false;
}

}  // namespace detail

// The ids of `names` (a method, then its parameters) when every one of them is
// an ASCII spelling of a name in `shapes`; false when the platform must answer.
inline bool FindIds(const MethodShape* shapes, UINT shapeCount, const LPOLESTR* names, UINT count,
                    DISPID* ids) noexcept {
    for (UINT m = 0; m < shapeCount; ++m) {
        const MethodShape& s = shapes[m];
        if (!detail::SameAsciiName(names[0], s.names[0])) continue;
        for (UINT i = 1; i < count; ++i) {
            UINT p = 1;
            while (p < s.nameCount && !detail::SameAsciiName(names[i], s.names[p])) ++p;
            if (p == s.nameCount) return false;
            ids[i] = static_cast<DISPID>(p - 1);
        }
        ids[0] = s.id;
        return true;
    }
    return false;
}

// Whether DISPPARAMS can be read at all.
inline bool ReadableFrame(const DISPPARAMS* params) {
    return params != nullptr && (params->cArgs == 0 || params->rgvarg != nullptr) &&
           params->cNamedArgs <= params->cArgs &&
           (params->cNamedArgs == 0 || params->rgdispidNamedArgs != nullptr);
}

// A checked call's strings in parameter order. A string the caller passed is
// lent as it is (a text may be hundreds of megabytes); anything else is
// converted into a variant of our own, cleared on every exit. An omitted
// optional argument is the null BSTR, the empty text.
class Arguments {
public:
    Arguments() = default;
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    ~Arguments() {
        for (UINT p = 0; p < kMaxParams; ++p) {
            if (owned_[p]) VariantClear(&converted_[p]);
        }
    }

    BSTR operator[](UINT p) const noexcept { return values_[p]; }

    // Checks `params` (readable, see ReadableFrame) against `shape` and
    // gathers its strings; on a refusal, *badArgument names the offending
    // rgvarg index where there is one.
    HRESULT Gather(const MethodShape& shape, const DISPPARAMS& params, UINT* badArgument) {
        const UINT count = params.cArgs;
        const UINT namedCount = params.cNamedArgs;
        if (count > shape.params || count < shape.required) return DISP_E_BADPARAMCOUNT;

        // rgvarg holds the named arguments first, then the positional ones from
        // last to first; slot[p] is the rgvarg index that fills parameter p.
        constexpr UINT kNone = ~0u;
        UINT slot[kMaxParams] = {kNone, kNone, kNone};
        static_assert(kMaxParams == 3);
        const UINT positional = count - namedCount;
        for (UINT p = 0; p < positional; ++p) slot[p] = count - 1 - p;
        for (UINT i = 0; i < namedCount; ++i) {
            const DISPID name = params.rgdispidNamedArgs[i];
            if (name < 0 || static_cast<UINT>(name) >= shape.params ||
                slot[static_cast<UINT>(name)] != kNone) {
                return detail::Refuse(DISP_E_PARAMNOTFOUND, i, badArgument);
            }
            slot[static_cast<UINT>(name)] = i;
        }
        for (UINT p = 0; p < shape.params; ++p) {
            if (shape.optional[p]) continue;
            if (slot[p] == kNone) return DISP_E_PARAMNOTOPTIONAL;
            if (detail::IsMissingMarker(params.rgvarg[slot[p]])) {
                return detail::Refuse(DISP_E_PARAMNOTOPTIONAL, slot[p], badArgument);
            }
        }

        for (UINT p = 0; p < shape.params; ++p) {
            const UINT i = slot[p];
            // An omitted optional argument, or one marked missing, is the empty text.
            if (i == kNone || detail::IsMissingMarker(params.rgvarg[i])) continue;
            VARIANT& source = params.rgvarg[i];  // only read
            if (detail::HeldString(source, values_[p])) continue;
            // A reference to nothing is a malformed variant: never followed.
            if ((V_VT(&source) & VT_BYREF) != 0 && V_BYREF(&source) == nullptr) {
                return detail::Refuse(DISP_E_TYPEMISMATCH, i, badArgument);
            }
            // Converted in a copy of our own: through a reference, some
            // platforms change the caller's variant even when the conversion is
            // refused.
            VARIANT& mine = converted_[p];
            owned_[p] = true;
            HRESULT hr = VariantCopyInd(&mine, &source);
            if (SUCCEEDED(hr)) hr = VariantChangeType(&mine, &mine, 0, VT_BSTR);
            if (FAILED(hr)) return detail::Refuse(hr, i, badArgument);
            values_[p] = V_BSTR(&mine);
        }
        return S_OK;
    }

private:
    BSTR values_[kMaxParams] = {};
    VARIANT converted_[kMaxParams] = {};  // VT_EMPTY: all zero
    bool owned_[kMaxParams] = {};
};

// What ITypeInfo::Invoke reports for a method that failed: DISP_E_EXCEPTION,
// with the status and the error info the method left in EXCEPINFO.
inline HRESULT ReportException(HRESULT failure, EXCEPINFO* exception) {
    if (exception == nullptr) return DISP_E_EXCEPTION;
    *exception = EXCEPINFO{};
    exception->scode = failure;
    IErrorInfo* info = nullptr;
    // branch-untaken: a failure without error info is out of memory, which only the 32-bit DLL
    // meets
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
        info->GetSource(&exception->bstrSource);
        info->GetDescription(&exception->bstrDescription);
        info->GetHelpFile(&exception->bstrHelpFile);
        info->GetHelpContext(&exception->dwHelpContext);
        info->Release();
    }
    return DISP_E_EXCEPTION;
}

}  // namespace palavox::com
