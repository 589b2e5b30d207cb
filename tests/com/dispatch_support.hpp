// Shared by the clients that reach Palavox.dll through IDispatch::Invoke:
// variant builders and one call that keeps everything Invoke gave back.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "client_support.hpp"

namespace client {

constexpr DISPID kTrata = 0x60030000;
constexpr DISPID kFind = 0x60030001;
constexpr DISPID kRemover = 0x60030002;
// Invoke never names this argument index, so it shows puArgErr was left alone.
constexpr UINT kArgErrUntouched = 0xDEADu;

inline DISPID DispIdOf(palavox::cases::Method m) {
    static const DISPID ids[] = {kTrata, kFind, kRemover};
    return ids[static_cast<int>(m)];
}

inline std::u16string TextOf(BSTR s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s));
}

inline VARIANT OfType(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = vt;
    return v;
}

inline VARIANT Str(const std::u16string& s) {
    VARIANT v = OfType(VT_BSTR);
    V_BSTR(&v) =
        SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
    return v;
}

inline VARIANT I4(LONG n) {
    VARIANT v = OfType(VT_I4);
    V_I4(&v) = n;
    return v;
}

struct Outcome {
    HRESULT hr = E_FAIL;
    VARIANT result{};
    EXCEPINFO exception{};
    UINT argErr = kArgErrUntouched;
    Outcome() { VariantInit(&result); }
    Outcome(const Outcome&) = delete;
    Outcome& operator=(const Outcome&) = delete;
    ~Outcome() {
        VariantClear(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    bool IsText(const std::u16string& expected) const {
        return hr == S_OK && V_VT(&result) == VT_BSTR && TextOf(V_BSTR(&result)) == expected;
    }
    bool IsCount(LONG expected) const {
        return hr == S_OK && V_VT(&result) == VT_I4 && V_I4(&result) == expected;
    }
    std::string Show() const {
        std::string s = Hex(hr);
        if (argErr != kArgErrUntouched) s += " argErr " + std::to_string(argErr);
        if (V_VT(&result) == VT_BSTR) s += " " + Escaped(TextOf(V_BSTR(&result)));
        if (V_VT(&result) == VT_I4) s += " " + std::to_string(V_I4(&result));
        if (hr == DISP_E_EXCEPTION) s += " scode " + Hex(exception.scode);
        return s;
    }
};

// `wire` exactly as DISPPARAMS holds it: the named arguments first, then the
// positional ones from last to first. Invoke's callee owns nothing, so the
// variants are cleared here.
inline void CallWire(IDispatch* d, DISPID id, std::vector<VARIANT> wire, Outcome& out,
                     std::vector<DISPID> named = {}, WORD flags = DISPATCH_METHOD) {
    DISPPARAMS params{wire.empty() ? nullptr : wire.data(), named.empty() ? nullptr : named.data(),
                      static_cast<UINT>(wire.size()), static_cast<UINT>(named.size())};
    out.hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &out.result,
                       &out.exception, &out.argErr);
    for (VARIANT& v : wire) VariantClear(&v);
}

// `args` in call order; named[i], when given, names args[args.size() - 1 - i].
inline void Call(IDispatch* d, DISPID id, const std::vector<VARIANT>& args, Outcome& out,
                 std::vector<DISPID> named = {}, WORD flags = DISPATCH_METHOD) {
    CallWire(d, id, std::vector<VARIANT>(args.rbegin(), args.rend()), out, std::move(named), flags);
}

}  // namespace client
