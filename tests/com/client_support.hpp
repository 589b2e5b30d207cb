// The one harness of the compiled clients of Palavox.dll: a pass/fail tally
// whose last line the Wine runner reads, BSTR and VARIANT helpers, the shared
// case file, creating the class, and calling a method through the function
// table or IDispatch::Invoke into one Answer that a case is compared with.
// A client includes <initguid.h> first, so that palavox_idl.h's identifiers
// are defined in it; one built against another component's header (the
// stand-in's, as an old early-bound client is) names it in CLIENT_IDL_HEADER.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <cguid.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "cases/shared_cases.hpp"
#include "escaped.hpp"
#ifdef CLIENT_IDL_HEADER
#include CLIENT_IDL_HEADER
#else
#include "palavox_idl.h"
#endif

namespace client {

using palavox::cases::Case;
using palavox::cases::Method;

// The status a method fails with for error number n; 13 is "Type mismatch".
constexpr HRESULT ErrorStatus(int n) { return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, n); }
constexpr HRESULT kTypeMismatch = ErrorStatus(13);

// The first line, before any call into Palavox.dll: a log without it is a start
// Wine never made, which the runner makes once more; with it, a crash or a hang.
inline const bool kStarted = (std::printf("started\n"), std::fflush(stdout), true);

class Tally {
public:
    bool Check(bool ok, const std::string& what) {
        if (ok) {
            ++passed_;
        } else {
            ++failed_;
            std::printf("FAIL: %s\n", what.c_str());
        }
        return ok;
    }
    // The runner takes this line as the client's verdict; exit code 1 on any failure.
    int Failed() const { return failed_; }
    int Finish() const {
        std::printf("%d passed, %d failed\n", passed_, failed_);
        std::fflush(stdout);
        return failed_ == 0 ? 0 : 1;
    }

private:
    int passed_ = 0;
    int failed_ = 0;
};

inline std::string Hex(long value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(value));
    return buf;
}

inline std::string Narrow(const wchar_t* s) {
    std::string out;
    for (; s != nullptr && *s != 0; ++s) out += *s < 0x80 ? static_cast<char>(*s) : '?';
    return out;
}

// Owns one BSTR. A null BSTR stays null, which callers must treat as "".
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::u16string& text)
        : s_(SysAllocStringLen(nullptr, static_cast<UINT>(text.size()))) {
        if (!text.empty()) std::memcpy(s_, text.data(), text.size() * sizeof(char16_t));
    }
    explicit Bstr(const wchar_t* text) : s_(SysAllocString(text)) {}
    Bstr(Bstr&& other) noexcept : s_(other.s_) { other.s_ = nullptr; }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(s_); }

    BSTR get() const { return s_; }
    BSTR* out() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    std::u16string text() const {
        std::u16string t(SysStringLen(s_), u'\0');
        if (!t.empty()) std::memcpy(t.data(), s_, t.size() * sizeof(char16_t));
        return t;
    }

private:
    BSTR s_ = nullptr;
};

using palavox::test::Escaped;

// Fewer would mean the case file lost most of its rows.
constexpr std::size_t kMinimumCases = 300;

// The cases of `path`; an unreadable file is one failure and gives none.
inline std::vector<Case> LoadCases(Tally& t, const char* path) {
    std::vector<Case> cases;
    try {
        cases = palavox::cases::Load(path);
    } catch (const std::exception& e) {
        t.Check(false, e.what());
        return cases;
    }
    t.Check(cases.size() >= kMinimumCases,
            "case file holds " + std::to_string(cases.size()) + " cases");
    return cases;
}

// ------------------------------------------------------------ creating the class

// Creates the class by its identifier, asking for `Interface` (`iid`).
template <class Interface>
HRESULT Create(REFIID iid, Interface** object) {
    *object = nullptr;
    return CoCreateInstance(CLSID_PalavoxClass, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(object));
}

// A new object through its function table, or null.
inline _PalavoxClass* NewObject() {
    _PalavoxClass* p = nullptr;
    Create(IID__PalavoxClass, &p);
    return p;
}

// Creates the class by a ProgID, as scripting hosts do.
template <class Interface>
HRESULT CreateByProgId(REFIID iid, Interface** object,
                       const wchar_t* progId = L"Palavox.PalavoxClass") {
    *object = nullptr;
    CLSID clsid = GUID{};
    const HRESULT hr = CLSIDFromProgID(progId, &clsid);
    return FAILED(hr) ? hr
                      : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                         reinterpret_cast<void**>(object));
}

// The error info this thread holds (taking it, as GetErrorInfo does).
struct ErrorInfo {
    bool set = false;
    std::u16string source;
    std::u16string description;
    GUID guid = GUID{};
};

inline ErrorInfo TakeErrorInfo() {
    ErrorInfo e;
    IErrorInfo* info = nullptr;
    e.set = GetErrorInfo(0, &info) == S_OK && info != nullptr;
    if (!e.set) return e;
    Bstr source, description;
    info->GetSource(source.out());
    info->GetDescription(description.out());
    info->GetGUID(&e.guid);
    e.source = source.text();
    e.description = description.text();
    info->Release();
    return e;
}

// "Z:\work\...\file" from argv, or a message and exit.
inline const char* Argument(int argc, char** argv, int index, const char* what) {
    if (index < argc) return argv[index];
    std::printf("usage: missing %s\n0 passed, 1 failed\n", what);
    std::exit(2);
}

// ------------------------------------------------------------ variants and Invoke

constexpr DISPID kTrata = 0x60030000;
constexpr DISPID kFind = 0x60030001;
constexpr DISPID kRemover = 0x60030002;
// Invoke never names this argument index, so it shows puArgErr was left alone.
constexpr UINT kArgErrUntouched = 0xDEADu;

inline DISPID DispIdOf(Method m) {
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

// Everything one Invoke gave back.
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

// ------------------------------------------------------------ one answer, either way

// A method's answer in one form, however it was called.
struct Answer {
    bool dispatched = false;  // through IDispatch::Invoke
    // The method's status: through dispatch, the code its EXCEPINFO carries
    // when Invoke gave DISP_E_EXCEPTION (`exception`).
    HRESULT hr = E_FAIL;
    bool exception = false;
    VARTYPE type = VT_EMPTY;  // what the result slot holds
    std::u16string text;
    LONG count = 0;
    std::u16string description;  // of a failure through dispatch
};

// A sentinel the count slot starts with, so that a failure leaving it is seen.
constexpr LONG kUnwritten = 77;

// Through the function table; a null BSTR in `args` is passed as null.
inline Answer CallTable(_PalavoxClass* p, Method m, const std::vector<BSTR>& args) {
    Answer a;
    Bstr out;
    a.count = kUnwritten;
    switch (m) {
        case Method::TrataHTML:
            a.hr = p->TrataHTML(args[0], args[1], out.out());
            break;
        case Method::FindString:
            a.hr = p->FindString(args[0], args[1], args[2], &a.count);
            break;
        case Method::RemoverAcentuacao:
            a.hr = p->RemoverAcentuacao(args[0], out.out());
            break;
    }
    if (m == Method::FindString) {
        a.type = VT_I4;
    } else if (out.get() != nullptr || SUCCEEDED(a.hr)) {
        a.type = VT_BSTR;  // (a null BSTR is the empty text)
        a.text = out.text();
    }
    return a;
}

inline Answer CallTable(_PalavoxClass* p, Method m, const std::vector<std::u16string>& args) {
    std::vector<Bstr> owned;
    std::vector<BSTR> bstrs;
    owned.reserve(args.size());
    for (const std::u16string& arg : args) bstrs.push_back(owned.emplace_back(arg).get());
    return CallTable(p, m, bstrs);
}

// Through IDispatch::Invoke, `args` in call order (cleared here).
inline Answer CallDispatch(IDispatch* d, Method m, const std::vector<VARIANT>& args) {
    Outcome o;
    Call(d, DispIdOf(m), args, o);
    Answer a;
    a.dispatched = true;
    a.hr = o.hr;
    a.exception = o.hr == DISP_E_EXCEPTION;
    if (a.exception) {
        a.hr = o.exception.scode;
        a.description = TextOf(o.exception.bstrDescription);
    }
    a.type = V_VT(&o.result);
    if (a.type == VT_BSTR) a.text = TextOf(V_BSTR(&o.result));
    if (a.type == VT_I4) a.count = V_I4(&o.result);
    return a;
}

inline Answer CallDispatch(IDispatch* d, Method m, const std::vector<std::u16string>& args) {
    std::vector<VARIANT> wire;
    for (const std::u16string& arg : args) wire.push_back(Str(arg));
    return CallDispatch(d, m, wire);
}

inline std::string Show(const Answer& a) {
    // Appended piece by piece: GCC 12 warns falsely of an overlap in " " + text here.
    std::string s = Hex(a.hr);
    if (a.exception) s.append(" (DISP_E_EXCEPTION)");
    if (a.type == VT_BSTR) s.append(" ").append(Escaped(a.text));
    if (a.type == VT_I4) s.append(" ").append(std::to_string(a.count));
    if (!a.description.empty()) s.append(" ").append(Escaped(a.description));
    return s;
}

// Whether `a` is what case `c` expects: the text or the count, with S_OK; or
// the case's error: its status (through dispatch, as an exception) and an
// empty slot (through the function table, a count of 0 or a null BSTR).
inline bool Gives(const Case& c, const Answer& a) {
    if (c.expectedError != 0) {
        const bool status = a.hr == ErrorStatus(c.expectedError);
        const bool tableSlot = c.method == Method::FindString ? a.count == 0 : a.type == VT_EMPTY;
        return status && (a.dispatched ? a.exception && a.type == VT_EMPTY : tableSlot);
    }
    if (a.hr != S_OK) return false;
    if (c.method == Method::FindString) return a.type == VT_I4 && a.count == c.expectedCount;
    return a.type == VT_BSTR && a.text == c.expectedText;
}

}  // namespace client
