// The checks IDispatch::Invoke makes before the type library's Invoke sees a
// call. ITypeInfo::Invoke trusts its DISPPARAMS: on Wine a null frame crashes
// the host, unknown or repeated parameter names are silently ignored (the call
// then runs on the wrong arguments), and a refused coercion does not say which
// argument it was. Here the frame is checked, names are matched against the
// method's parameters, and every argument that is not already a string is
// coerced up front with the platform's own VariantChangeType, so a refusal
// carries its argument index.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

namespace palavox::com {

namespace detail {

// The arguments handed on: a string the caller already passed is lent as it
// is (a text may be hundreds of megabytes), anything else is a coerced copy
// owned here and cleared on every exit.
class CheckedArgs {
public:
    explicit CheckedArgs(UINT count) : args_(count), owned_(count, false) {
        for (VARIANT& v : args_) VariantInit(&v);
    }
    CheckedArgs(const CheckedArgs&) = delete;
    CheckedArgs& operator=(const CheckedArgs&) = delete;
    ~CheckedArgs() {
        for (UINT i = 0; i < args_.size(); ++i) {
            if (owned_[i]) VariantClear(&args_[i]);
        }
    }
    void Lend(UINT i, BSTR s) {
        V_VT(&args_[i]) = VT_BSTR;
        V_BSTR(&args_[i]) = s;
    }
    HRESULT Copy(UINT i, VARIANT& source) {
        owned_[i] = true;
        return VariantCopy(&args_[i], &source);
    }
    // Converted in a copy of our own: through a reference, some platforms
    // change the caller's variant even when the conversion is refused.
    HRESULT Coerce(UINT i, VARIANT& source) {
        owned_[i] = true;
        HRESULT hr = VariantCopyInd(&args_[i], &source);
        if (SUCCEEDED(hr)) hr = VariantChangeType(&args_[i], &args_[i], 0, VT_BSTR);
        return hr;
    }
    VARIANT* data() { return args_.empty() ? nullptr : args_.data(); }

private:
    std::vector<VARIANT> args_;
    std::vector<bool> owned_;
};

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

// Gives a function description back to its type info on every exit.
struct FuncDescHolder {
    ITypeInfo* info;
    FUNCDESC* desc;
    FuncDescHolder(ITypeInfo* i, FUNCDESC* d) : info(i), desc(d) {}
    FuncDescHolder(const FuncDescHolder&) = delete;
    FuncDescHolder& operator=(const FuncDescHolder&) = delete;
    ~FuncDescHolder() { info->ReleaseFuncDesc(desc); }
};

// The function description of `id` in `info`, or nullptr.
inline FUNCDESC* FindMethod(ITypeInfo* info, DISPID id) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return nullptr;
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info->GetFuncDesc(i, &f))) continue;
        if (f->memid == id && f->invkind == INVOKE_FUNC) return f;
        info->ReleaseFuncDesc(f);
    }
    return nullptr;
}

inline bool IsMissingMarker(const VARIANT& v) {
    return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND;
}

inline HRESULT Refuse(HRESULT hr, UINT index, UINT* badArgument) {
    if (badArgument != nullptr) *badArgument = index;
    return hr;
}

}  // namespace detail

// `info` describes the vtable half of the dual interface and `self` is that
// interface; the call is forwarded to info->Invoke once it has passed.
inline HRESULT InvokeChecked(ITypeInfo* info, void* self, DISPID id, WORD flags,
                             DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                             UINT* badArgument) {
    if (params == nullptr) return E_INVALIDARG;
    const UINT count = params->cArgs;
    const UINT namedCount = params->cNamedArgs;
    if ((count > 0 && params->rgvarg == nullptr) || namedCount > count ||
        (namedCount > 0 && params->rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
    }
    // Anything but a method call is the type library's to refuse.
    FUNCDESC* method = (flags & DISPATCH_METHOD) != 0 ? detail::FindMethod(info, id) : nullptr;
    if (method == nullptr) return info->Invoke(self, id, flags, params, result, exception, badArgument);

    // Parameters in order, without the [out, retval] one.
    std::vector<VARTYPE> types;
    std::vector<bool> optional;
    {
        const detail::FuncDescHolder holder{info, method};
        for (SHORT i = 0; i < method->cParams; ++i) {
            const ELEMDESC& e = method->lprgelemdescParam[i];
            if ((e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) != 0) continue;
            types.push_back(e.tdesc.vt);
            optional.push_back((e.paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0);
        }
    }

    const UINT paramCount = static_cast<UINT>(types.size());
    UINT required = 0;
    for (UINT p = 0; p < paramCount; ++p) {
        if (!optional[p]) required = p + 1;
    }
    if (count > paramCount || count < required) return DISP_E_BADPARAMCOUNT;

    // rgvarg holds the named arguments first, then the positional ones from
    // last to first; `slot[p]` is the rgvarg index that fills parameter p.
    const UINT positional = count - namedCount;
    constexpr UINT kNone = ~0u;
    std::vector<UINT> slot(paramCount, kNone);
    for (UINT p = 0; p < positional; ++p) slot[p] = count - 1 - p;
    for (UINT i = 0; i < namedCount; ++i) {
        const DISPID name = params->rgdispidNamedArgs[i];
        if (name < 0 || static_cast<UINT>(name) >= paramCount ||
            slot[static_cast<UINT>(name)] != kNone) {
            return detail::Refuse(DISP_E_PARAMNOTFOUND, i, badArgument);
        }
        slot[static_cast<UINT>(name)] = i;
    }
    for (UINT p = 0; p < paramCount; ++p) {
        if (optional[p]) continue;
        if (slot[p] == kNone) return DISP_E_PARAMNOTOPTIONAL;
        if (detail::IsMissingMarker(params->rgvarg[slot[p]])) {
            return detail::Refuse(DISP_E_PARAMNOTOPTIONAL, slot[p], badArgument);
        }
    }

    detail::CheckedArgs checked(count);
    for (UINT p = 0; p < paramCount; ++p) {
        const UINT i = slot[p];
        if (i == kNone) continue;
        VARIANT& source = params->rgvarg[i];
        // A missing optional argument keeps its marker, so the declared default applies.
        if (types[p] != VT_BSTR || detail::IsMissingMarker(source)) {
            if (const HRESULT hr = checked.Copy(i, source); FAILED(hr)) {
                return detail::Refuse(hr, i, badArgument);
            }
            continue;
        }
        BSTR held = nullptr;
        if (detail::HeldString(source, held)) {
            checked.Lend(i, held);
            continue;
        }
        // A reference to nothing is a malformed variant: never followed.
        if ((V_VT(&source) & VT_BYREF) != 0 && V_BYREF(&source) == nullptr) {
            return detail::Refuse(DISP_E_TYPEMISMATCH, i, badArgument);
        }
        if (const HRESULT hr = checked.Coerce(i, source); FAILED(hr)) {
            return detail::Refuse(hr, i, badArgument);
        }
    }
    DISPPARAMS frame{checked.data(), params->rgdispidNamedArgs, count, namedCount};
    return info->Invoke(self, id, flags, &frame, result, exception, badArgument);
}

}  // namespace palavox::com
