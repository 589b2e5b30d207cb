// A careless or hostile late-bound client: IDispatch::Invoke with wrong
// argument counts, named arguments, every kind of variant, by-reference
// arguments, missing out-pointers and malformed DISPPARAMS. Every call must
// end in a documented status, never a crash, and the object must keep working.
//   hostile_client.exe
#include <initguid.h>  // defines the identifiers of palavox_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <new>
#include <stdexcept>

#include "client_support.hpp"
#include "com_guard.hpp"  // the DLL's own edge, run here on failures no call can provoke

namespace {

using namespace client;

const char* MethodName(DISPID id) {
    switch (id) {
        case kTrata:
            return "TrataHTML";
        case kFind:
            return "FindString";
        case kRemover:
            return "RemoverAcentuacao";
        default:
            return "?";
    }
}

// ------------------------------------------------------------ variants

VARIANT R8(double d) {
    VARIANT v = OfType(VT_R8);
    V_R8(&v) = d;
    return v;
}

VARIANT Bool(bool b) {
    VARIANT v = OfType(VT_BOOL);
    V_BOOL(&v) = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT Date(double d) {
    VARIANT v = OfType(VT_DATE);
    V_DATE(&v) = d;
    return v;
}

VARIANT Cy(LONGLONG scaled) {
    VARIANT v = OfType(VT_CY);
    V_CY(&v).int64 = scaled;
    return v;
}

VARIANT Error(SCODE code) {
    VARIANT v = OfType(VT_ERROR);
    V_ERROR(&v) = code;
    return v;
}

VARIANT Array(VARTYPE element) {
    VARIANT v = OfType(static_cast<VARTYPE>(VT_ARRAY | element));
    V_ARRAY(&v) = SafeArrayCreateVector(element, 0, 2);
    return v;
}

// The bytes of "AB" in UTF-16LE.
VARIANT ByteArray() {
    VARIANT v = OfType(VT_ARRAY | VT_UI1);
    const unsigned char bytes[] = {'A', 0, 'B', 0};
    void* data = nullptr;
    V_ARRAY(&v) = SafeArrayCreateVector(VT_UI1, 0, 4);
    SafeArrayAccessData(V_ARRAY(&v), &data);
    std::memcpy(data, bytes, sizeof bytes);
    SafeArrayUnaccessData(V_ARRAY(&v));
    return v;
}

// A BSTR whose byte length is odd: its length in characters rounds down.
VARIANT OddBytes() {
    VARIANT v = OfType(VT_BSTR);
    V_BSTR(&v) = SysAllocStringByteLen("abc", 3);
    return v;
}

// An automation object of the client's own, so its default value and its
// lifetime can be watched from here.
class Probe final : public IDispatch {
public:
    // `value` empty: the object has no default property.
    explicit Probe(const wchar_t* value) : value_(value) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id != DISPID_VALUE || value_ == nullptr) return DISP_E_MEMBERNOTFOUND;
        if ((flags & DISPATCH_PROPERTYGET) == 0 || params == nullptr || params->cArgs != 0) {
            return DISP_E_MEMBERNOTFOUND;
        }
        if (result == nullptr) return E_POINTER;
        VariantInit(result);
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(value_);
        return S_OK;
    }
    LONG refs() const { return refs_; }

private:
    const wchar_t* value_;
    LONG refs_ = 1;
};

Probe g_valued(L"valor do objeto");
Probe g_valueless(nullptr);

VARIANT Object(IDispatch* d) {
    VARIANT v = OfType(VT_DISPATCH);
    V_DISPATCH(&v) = d;
    if (d) d->AddRef();
    return v;
}

VARIANT Unknown(IUnknown* u) {
    VARIANT v = OfType(VT_UNKNOWN);
    V_UNKNOWN(&v) = u;
    if (u) u->AddRef();
    return v;
}

// What the platform's own coercion makes of `v`: its status, and the text on success.
HRESULT Coerce(VARIANT& v, std::u16string& text) {
    VARIANT out;
    VariantInit(&out);
    const HRESULT hr = VariantChangeType(&out, &v, 0, VT_BSTR);
    if (SUCCEEDED(hr)) text = TextOf(V_BSTR(&out));
    VariantClear(&out);
    return hr;
}

// After every hostile call the same instance still answers correctly.
void CheckUsable(client::Tally& t, IDispatch* d, const std::string& after) {
    Outcome o;
    Call(d, kFind, {Str(u"abc ABC aBc"), Str(u"abc")}, o);
    t.Check(o.IsCount(3), "usable after " + after + ": FindString gave " + o.Show());
}

// ------------------------------------------------------------ argument counts

void CheckArgumentCounts(client::Tally& t, IDispatch* d) {
    // Fewer than the required arguments or more than all of them is refused;
    // in between, the call works.
    const struct {
        DISPID id;
        UINT required;
        UINT all;
    } methods[] = {{kTrata, 1, 2}, {kFind, 2, 3}, {kRemover, 1, 1}};
    for (const auto& m : methods) {
        for (UINT count = 0; count <= m.all + 2; ++count) {
            std::vector<VARIANT> args;
            for (UINT i = 0; i < count; ++i) args.push_back(Str(u"x"));
            Outcome o;
            Call(d, m.id, std::move(args), o);
            const std::string what =
                std::string(MethodName(m.id)) + " with " + std::to_string(count) + " arguments";
            if (count < m.required || count > m.all) {
                t.Check(o.hr == DISP_E_BADPARAMCOUNT, what + " gave " + o.Show());
            } else if (m.id == kFind) {
                t.Check(o.IsCount(1), what + " gave " + o.Show());
            } else {
                t.Check(o.IsText(u"x"), what + " gave " + o.Show());
            }
        }
    }
    CheckUsable(t, d, "wrong argument counts");
}

// ------------------------------------------------------------ named arguments

void CheckNamedArguments(client::Tally& t, IDispatch* d) {
    const auto anchor = [](const char16_t* target) {
        return u"<a href=\"http://h\" target=\"" + std::u16string(target) + u"\">http://h</a>";
    };
    const struct {
        const char* what;
        DISPID id;
        std::function<std::vector<VARIANT>()> wire;
        std::vector<DISPID> named;
        HRESULT hr;
        UINT argErr;          // on failure: the offending rgvarg index, or untouched
        LONG count;           // FindString on success
        std::u16string text;  // the others on success
    } rows[] = {
        {"FindString, vemTipo named",
         kFind,
         [] {
             return std::vector<VARIANT>{Str(u"b"), Str(u"a"), Str(u"aAaA")};
         },
         {2},
         S_OK,
         kArgErrUntouched,
         2,
         u""},
        // With every argument named the order on the wire is free.
        {"FindString, all named, shuffled",
         kFind,
         [] {
             return std::vector<VARIANT>{Str(u"xy"), Str(u"xyXY xy"), Str(u"B")};
         },
         {1, 0, 2},
         S_OK,
         kArgErrUntouched,
         2,
         u""},
        {"TrataHTML, vemTarget named",
         kTrata,
         [] {
             return std::vector<VARIANT>{Str(u"_top"), Str(u"http://h")};
         },
         {1},
         S_OK,
         kArgErrUntouched,
         0,
         anchor(u"_top")},
        {"TrataHTML, both named",
         kTrata,
         [] {
             return std::vector<VARIANT>{Str(u"http://h"), Str(u"_top")};
         },
         {0, 1},
         S_OK,
         kArgErrUntouched,
         0,
         anchor(u"_top")},
        {"RemoverAcentuacao, its argument named",
         kRemover,
         [] { return std::vector<VARIANT>{Str(u"\u00e9")}; },
         {0},
         S_OK,
         kArgErrUntouched,
         0,
         u"e"},
        // Only optional arguments by name: a required one is left out.
        {"TrataHTML, only vemTarget named",
         kTrata,
         [] { return std::vector<VARIANT>{Str(u"_top")}; },
         {1},
         DISP_E_PARAMNOTOPTIONAL,
         kArgErrUntouched,
         0,
         u""},
        {"FindString, vemEntrada left out",
         kFind,
         [] {
             return std::vector<VARIANT>{Str(u"a"), Str(u"b")};
         },
         {1, 2},
         DISP_E_PARAMNOTOPTIONAL,
         kArgErrUntouched,
         0,
         u""},
        // Names that match no parameter, or one already given.
        {"FindString, a name past the last parameter",
         kFind,
         [] {
             return std::vector<VARIANT>{Str(u"a"), Str(u"a"), Str(u"a")};
         },
         {7},
         DISP_E_PARAMNOTFOUND,
         0,
         0,
         u""},
        {"RemoverAcentuacao, a negative name",
         kRemover,
         [] { return std::vector<VARIANT>{Str(u"a")}; },
         {-9},
         DISP_E_PARAMNOTFOUND,
         0,
         0,
         u""},
        {"RemoverAcentuacao, named as a property value",
         kRemover,
         [] { return std::vector<VARIANT>{Str(u"a")}; },
         {DISPID_PROPERTYPUT},
         DISP_E_PARAMNOTFOUND,
         0,
         0,
         u""},
        {"FindString, the same name twice",
         kFind,
         [] {
             return std::vector<VARIANT>{Str(u"a"), Str(u"b"), Str(u"ab")};
         },
         {1, 1},
         DISP_E_PARAMNOTFOUND,
         1,
         0,
         u""},
        {"TrataHTML, a name for the positional argument",
         kTrata,
         [] {
             return std::vector<VARIANT>{Str(u"_top"), Str(u"http://h")};
         },
         {0},
         DISP_E_PARAMNOTFOUND,
         0,
         0,
         u""},
    };
    for (const auto& row : rows) {
        Outcome o;
        CallWire(d, row.id, row.wire(), o, row.named);
        bool ok = o.hr == row.hr;
        if (ok && SUCCEEDED(row.hr))
            ok = row.id == kFind ? o.IsCount(row.count) : o.IsText(row.text);
        if (ok && FAILED(row.hr)) ok = V_VT(&o.result) == VT_EMPTY && o.argErr == row.argErr;
        t.Check(ok, std::string(row.what) + " gave " + o.Show());
        CheckUsable(t, d, row.what);
    }
}

// ------------------------------------------------------------ variant kinds

// Values the platform can turn into text reach the method as that text.
void CheckCoercibleValues(client::Tally& t, IDispatch* d) {
    const struct {
        const char* what;
        std::function<VARIANT()> make;
        std::optional<std::u16string> literal;  // none: locale-dependent
    } rows[] = {
        {"VT_I4 42", [] { return I4(42); }, u"42"},
        {"VT_I4 -7", [] { return I4(-7); }, u"-7"},
        {"VT_I2 max",
         [] {
             VARIANT v = OfType(VT_I2);
             V_I2(&v) = 32767;
             return v;
         },
         u"32767"},
        {"VT_UI1 255",
         [] {
             VARIANT v = OfType(VT_UI1);
             V_UI1(&v) = 255;
             return v;
         },
         u"255"},
        {"VT_I8 large",
         [] {
             VARIANT v = OfType(VT_I8);
             V_I8(&v) = 1234567890123LL;
             return v;
         },
         u"1234567890123"},
        {"VT_R8 0.5", [] { return R8(0.5); }, std::nullopt},
        {"VT_R8 -1e300", [] { return R8(-1e300); }, std::nullopt},
        {"VT_CY 12.34", [] { return Cy(123400); }, std::nullopt},
        {"VT_BOOL true", [] { return Bool(true); }, std::nullopt},
        {"VT_BOOL false", [] { return Bool(false); }, std::nullopt},
        {"VT_DATE 2023-03-15 12:00", [] { return Date(45000.5); }, std::nullopt},
        {"VT_DATE 1899-12-30", [] { return Date(0.0); }, std::nullopt},
        {"VT_EMPTY", [] { return OfType(VT_EMPTY); }, u""},
        {"VT_BSTR null", [] { return OfType(VT_BSTR); }, u""},
        {"VT_BSTR with NULs", [] { return Str(std::u16string(u"a\0b\0", 4)); },
         std::u16string(u"a\0b\0", 4)},
        // Three bytes make one whole character: 'a' and 'b' side by side.
        {"VT_BSTR of odd byte length", [] { return OddBytes(); }, u"\u6261"},
        // A byte array becomes a string of the same bytes.
        {"VT_ARRAY|VT_UI1", [] { return ByteArray(); }, u"AB"},
        {"VT_DISPATCH with a default value", [] { return Object(&g_valued); }, u"valor do objeto"},
    };
    for (const auto& row : rows) {
        VARIANT probe = row.make();
        std::u16string viaPlatform;
        const HRESULT coerced = Coerce(probe, viaPlatform);
        VariantClear(&probe);
        // The platform's own conversion is the yardstick where the text depends
        // on the locale; elsewhere it must agree with the literal too.
        const std::u16string expected = row.literal.value_or(viaPlatform);
        t.Check(coerced == S_OK && viaPlatform == expected && (row.literal || !expected.empty()),
                std::string(row.what) + ": the platform itself makes " +
                    client::Escaped(viaPlatform) + " (" + Hex(coerced) + ")");
        const std::string shown = " for " + client::Escaped(expected);

        // As the text: TrataHTML gives back a text without links unchanged.
        Outcome asText;
        Call(d, kTrata, {row.make()}, asText);
        t.Check(asText.IsText(expected),
                std::string(row.what) + " as vemEntrada gave " + asText.Show() + shown);
        // As the optional target, it lands inside the anchor.
        Outcome asTarget;
        Call(d, kTrata, {Str(u"http://h"), row.make()}, asTarget);
        const std::u16string target = expected.empty() ? u"_self" : expected;
        t.Check(asTarget.IsText(u"<a href=\"http://h\" target=\"" + target + u"\">http://h</a>"),
                std::string(row.what) + " as vemTarget gave " + asTarget.Show() + shown);
        // As the search text, against its own text form.
        if (!expected.empty()) {
            Outcome asSearch;
            Call(d, kFind, {Str(u"<" + expected + u">"), row.make(), Str(u"B")}, asSearch);
            t.Check(asSearch.IsCount(1),
                    std::string(row.what) + " as vemProcura gave " + asSearch.Show() + shown);
        }
    }
    t.Check(g_valued.refs() == 1, "every reference to the valued object was released, refs " +
                                      std::to_string(g_valued.refs()));
    CheckUsable(t, d, "coercible values");
}

// Values without a text form are refused with the platform's own refusal,
// DISP_E_TYPEMISMATCH (error 13 in Visual Basic) or DISP_E_BADVARTYPE, naming
// the argument, at every position of every method.
void CheckRefusedValues(client::Tally& t, IDispatch* d, IDispatch* self) {
    const struct {
        const char* what;
        std::function<VARIANT()> make;
    } rows[] = {
        {"VT_NULL", [] { return OfType(VT_NULL); }},
        {"VT_ARRAY|VT_BSTR", [] { return Array(VT_BSTR); }},
        {"VT_ARRAY|VT_VARIANT", [] { return Array(VT_VARIANT); }},
        {"VT_DISPATCH without a default value", [] { return Object(&g_valueless); }},
        {"VT_DISPATCH of a PalavoxClass", [self] { return Object(self); }},
        {"VT_DISPATCH null (Nothing)", [] { return Object(nullptr); }},
        {"VT_UNKNOWN", [] { return Unknown(&g_valued); }},
        {"VT_ERROR E_FAIL", [] { return Error(E_FAIL); }},
        {"VT_VARIANT without VT_BYREF", [] { return OfType(VT_VARIANT); }},
        {"VT_0x0FFF", [] { return OfType(0x0FFF); }},
    };
    const struct {
        DISPID id;
        UINT count;
    } methods[] = {{kTrata, 2}, {kFind, 3}, {kRemover, 1}};
    for (const auto& row : rows) {
        VARIANT probe = row.make();
        std::u16string ignored;
        const HRESULT refusal = Coerce(probe, ignored);
        VariantClear(&probe);
        t.Check(refusal == DISP_E_TYPEMISMATCH || refusal == DISP_E_BADVARTYPE,
                std::string(row.what) + ": the platform refuses it with " + Hex(refusal));
        for (const auto& m : methods) {
            for (UINT position = 0; position < m.count; ++position) {
                std::vector<VARIANT> args;
                for (UINT i = 0; i < m.count; ++i)
                    args.push_back(i == position ? row.make() : Str(u"x"));
                Outcome o;
                Call(d, m.id, args, o);
                // Invoke numbers arguments from the end of the list.
                const UINT argErr = m.count - 1 - position;
                t.Check(o.hr == refusal && o.argErr == argErr && V_VT(&o.result) == VT_EMPTY,
                        std::string(row.what) + " as argument " + std::to_string(position) +
                            " of " + MethodName(m.id) + " gave " + o.Show() + ", expected " +
                            Hex(refusal) + " argErr " + std::to_string(argErr));
            }
        }
    }
    t.Check(g_valued.refs() == 1 && g_valueless.refs() == 1,
            "refused objects were released, refs " + std::to_string(g_valued.refs()) + "/" +
                std::to_string(g_valueless.refs()));
    CheckUsable(t, d, "refused values");
}

// What the optional argument's "missing" marker means at each position.
void CheckMissingMarkers(client::Tally& t, IDispatch* d) {
    Outcome omittedTarget;
    Call(d, kTrata, {Str(u"http://h"), Error(DISP_E_PARAMNOTFOUND)}, omittedTarget);
    t.Check(omittedTarget.IsText(u"<a href=\"http://h\" target=\"_self\">http://h</a>"),
            "TrataHTML with vemTarget marked missing gave " + omittedTarget.Show());
    Outcome omittedTipo;
    Call(d, kFind, {Str(u"Aa"), Str(u"a"), Error(DISP_E_PARAMNOTFOUND)}, omittedTipo);
    t.Check(omittedTipo.IsCount(2),
            "FindString with vemTipo marked missing gave " + omittedTipo.Show());
    // A required argument cannot be left out this way.
    Outcome omittedRequired;
    Call(d, kFind, {Error(DISP_E_PARAMNOTFOUND), Str(u"a")}, omittedRequired);
    t.Check(omittedRequired.hr == DISP_E_PARAMNOTOPTIONAL && omittedRequired.argErr == 1 &&
                V_VT(&omittedRequired.result) == VT_EMPTY,
            "FindString with vemEntrada marked missing gave " + omittedRequired.Show());
    CheckUsable(t, d, "missing markers");
}

// ------------------------------------------------------------ by reference

void CheckByReference(client::Tally& t, IDispatch* d) {
    // The caller's own variables that the references point at.
    Bstr owned(L"Cora\u00e7\u00e3o");
    BSTR text = owned.get();
    LONG number = -15;
    VARIANT inner;
    VariantInit(&inner);
    const auto ref = [](VARTYPE vt, void* target) {
        VARIANT v = OfType(static_cast<VARTYPE>(VT_BYREF | vt));
        V_BYREF(&v) = target;
        return v;
    };
    const struct {
        const char* what;
        std::function<VARIANT()> arg;   // or, when empty, a reference to `inner`
        std::function<VARIANT()> held;  // what `inner` holds
        HRESULT hr;
        std::u16string text;
    } rows[] = {
        {"VT_BYREF|VT_BSTR", [&] { return ref(VT_BSTR, &text); }, {}, S_OK, u"Coracao"},
        {"VT_BYREF|VT_I4", [&] { return ref(VT_I4, &number); }, {}, S_OK, u"-15"},
        // Scripting engines pass their variables this way.
        {"VT_BYREF|VT_VARIANT holding a BSTR", {}, [] { return Str(u"P\u00e3o"); }, S_OK, u"Pao"},
        {"VT_BYREF|VT_VARIANT holding VT_I4", {}, [] { return I4(1234); }, S_OK, u"1234"},
        {"VT_BYREF|VT_VARIANT holding VT_EMPTY", {}, [] { return OfType(VT_EMPTY); }, S_OK, u""},
        {"VT_BYREF|VT_VARIANT holding VT_NULL",
         {},
         [] { return OfType(VT_NULL); },
         DISP_E_TYPEMISMATCH,
         u""},
        // A reference to nothing is a malformed variant: refused, never followed.
        {"a null VT_BYREF|VT_BSTR",
         [&] { return ref(VT_BSTR, nullptr); },
         {},
         DISP_E_TYPEMISMATCH,
         u""},
        {"a null VT_BYREF|VT_VARIANT",
         [&] { return ref(VT_VARIANT, nullptr); },
         {},
         DISP_E_TYPEMISMATCH,
         u""},
        {"a null VT_BYREF|VT_I4",
         [&] { return ref(VT_I4, nullptr); },
         {},
         DISP_E_TYPEMISMATCH,
         u""},
    };
    for (const auto& row : rows) {
        if (row.held) inner = row.held();
        Outcome o;
        // Clearing a reference frees nothing: the variables stay the caller's.
        Call(d, kRemover, {row.arg ? row.arg() : ref(VT_VARIANT, &inner)}, o);
        const bool ok = SUCCEEDED(row.hr)
                            ? o.IsText(row.text)
                            : o.hr == row.hr && o.argErr == 0 && V_VT(&o.result) == VT_EMPTY;
        t.Check(ok, std::string(row.what) + " gave " + o.Show());
        if (row.held) {
            VARIANT again = row.held();
            // (Null compares as unknown, not as equal, so types alone decide there.)
            t.Check(V_VT(&inner) == V_VT(&again) &&
                        (V_VT(&inner) == VT_NULL || VarCmp(&inner, &again, LOCALE_USER_DEFAULT,
                                                           0) == static_cast<HRESULT>(VARCMP_EQ)),
                    std::string(row.what) + ": the caller's variant is untouched (vt " +
                        std::to_string(V_VT(&inner)) + ")");
            VariantClear(&again);
            VariantClear(&inner);
        }
    }
    // The callee neither freed nor replaced what the references pointed at.
    t.Check(text == owned.get() && TextOf(text) == u"Cora\u00e7\u00e3o" && number == -15,
            "the caller's variables behind the references are untouched");
    CheckUsable(t, d, "by-reference arguments");
}

// ------------------------------------------------------------ out-pointers and frames

void CheckMissingPointers(client::Tally& t, IDispatch* d) {
    // Without a result slot the call still runs (lifetime_client shows its result
    // is not leaked).
    const struct {
        DISPID id;
        std::function<std::vector<VARIANT>()> args;
    } calls[] = {
        {kTrata, [] { return std::vector<VARIANT>{Str(u"http://a b")}; }},
        {kFind,
         [] {
             return std::vector<VARIANT>{Str(u"aaa"), Str(u"a")};
         }},
        {kRemover, [] { return std::vector<VARIANT>{Str(u"\u00e1")}; }},
    };
    for (const auto& c : calls) {
        std::vector<VARIANT> args = c.args();
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        const HRESULT hr = d->Invoke(c.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                     nullptr, nullptr, nullptr);
        t.Check(hr == S_OK,
                std::string(MethodName(c.id)) + " without any out-pointer gave " + Hex(hr));
        for (VARIANT& v : reversed) VariantClear(&v);
    }

    // A failure with no EXCEPINFO to fill still reports the failure.
    {
        VARIANT args[2] = {Str(u"a"), Str(u"")};
        DISPPARAMS params{args, nullptr, 2, 0};
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr = d->Invoke(kFind, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                     &result, nullptr, nullptr);
        t.Check(hr == DISP_E_EXCEPTION, "failing FindString without EXCEPINFO gave " + Hex(hr));
        VariantClear(&result);
        VariantClear(&args[0]);
        VariantClear(&args[1]);
    }
    // A type mismatch with nowhere to say which argument.
    {
        VARIANT arg = OfType(VT_NULL);
        DISPPARAMS params{&arg, nullptr, 1, 0};
        const HRESULT hr = d->Invoke(kRemover, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                     &params, nullptr, nullptr, nullptr);
        t.Check(hr == DISP_E_TYPEMISMATCH, "VT_NULL without puArgErr gave " + Hex(hr));
    }

    // Malformed DISPPARAMS are refused before anything reads them.
    VARIANT one = Str(u"x");
    DISPID name = 0;
    const struct {
        const char* what;
        bool present;
        DISPPARAMS value;
    } frames[] = {
        {"no DISPPARAMS at all", false, {}},
        {"a count without arguments", true, {nullptr, nullptr, 2, 0}},
        {"more names than arguments", true, {&one, &name, 1, 2}},
        {"a name count without names", true, {&one, nullptr, 1, 1}},
    };
    for (const auto& f : frames) {
        DISPPARAMS copy = f.value;
        Outcome o;
        o.hr = d->Invoke(kRemover, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                         f.present ? &copy : nullptr, &o.result, &o.exception, &o.argErr);
        t.Check(o.hr == E_INVALIDARG && V_VT(&o.result) == VT_EMPTY,
                std::string(f.what) + " gave " + o.Show());
    }
    VariantClear(&one);
    CheckUsable(t, d, "missing pointers and malformed frames");
}

// Null out-pointers for the object's and its module's other entry points, and
// interfaces error info is not for.
void CheckNullSlots(client::Tally& t, IDispatch* d) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    const HMODULE module = GetModuleHandleW(L"Palavox.dll");
    const auto getClassObject = module == nullptr
                                    ? nullptr
                                    : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                          GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    CoGetClassObject(CLSID_PalavoxClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                     reinterpret_cast<void**>(&factory));
    ISupportErrorInfo* errors = nullptr;
    d->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errors));
    if (!t.Check(getClassObject != nullptr && factory != nullptr && errors != nullptr,
                 "the module's DllGetClassObject, the class factory, ISupportErrorInfo")) {
        return;
    }
    const struct {
        const char* what;
        std::function<HRESULT()> call;
        HRESULT hr;
    } rows[] = {
        {"GetTypeInfoCount without a slot", [&] { return d->GetTypeInfoCount(nullptr); },
         E_POINTER},
        {"GetTypeInfo without a slot",
         [&] { return d->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr); }, E_POINTER},
        {"DllGetClassObject without a slot",
         [&] { return getClassObject(CLSID_PalavoxClass, IID_IClassFactory, nullptr); }, E_POINTER},
        {"the factory's QueryInterface without a slot",
         [&] { return factory->QueryInterface(IID_IUnknown, nullptr); }, E_POINTER},
        {"error info for IUnknown",
         [&] { return errors->InterfaceSupportsErrorInfo(IID_IUnknown); }, S_FALSE},
        {"error info for IDispatch",
         [&] { return errors->InterfaceSupportsErrorInfo(IID_IDispatch); }, S_FALSE},
        {"error info for the interface",
         [&] { return errors->InterfaceSupportsErrorInfo(IID__PalavoxClass); }, S_OK},
        {"error info for the interface's alias",
         [&] { return errors->InterfaceSupportsErrorInfo(IID_PalavoxClass___v0); }, S_OK},
    };
    for (const auto& row : rows) {
        const HRESULT hr = row.call();
        t.Check(hr == row.hr, std::string(row.what) + " gave " + Hex(hr));
    }
    errors->Release();
    factory->Release();
    CheckUsable(t, d, "null slots");
}

// ------------------------------------------------------------ invocation kinds

void CheckInvokeKinds(client::Tally& t, IDispatch* d) {
    const struct {
        const char* what;
        WORD flags;
        HRESULT hr;
    } rows[] = {
        {"DISPATCH_METHOD", DISPATCH_METHOD, S_OK},
        {"DISPATCH_METHOD|DISPATCH_PROPERTYGET", DISPATCH_METHOD | DISPATCH_PROPERTYGET, S_OK},
        {"DISPATCH_PROPERTYGET alone", DISPATCH_PROPERTYGET, DISP_E_MEMBERNOTFOUND},
        {"DISPATCH_PROPERTYPUT", DISPATCH_PROPERTYPUT, DISP_E_MEMBERNOTFOUND},
        {"DISPATCH_PROPERTYPUTREF", DISPATCH_PROPERTYPUTREF, DISP_E_MEMBERNOTFOUND},
        {"no flags", 0, DISP_E_MEMBERNOTFOUND},
    };
    for (const auto& row : rows) {
        Outcome o;
        Call(d, kRemover, {Str(u"\u00fc")}, o, {}, row.flags);
        t.Check(o.hr == row.hr && (FAILED(o.hr) || o.IsText(u"u")),
                std::string(row.what) + " gave " + o.Show());
    }
    // Not members, or members of IUnknown and IDispatch that the type library
    // inherits: none is a method to call, whatever the arguments.
    const DISPID unknownIds[] = {DISPID_VALUE, DISPID_NEWENUM, 0x60030003, 0x5FFFFFFF, -12345,
                                 0x60000000,   0x60000002,     0x60010000, 0x60010003};
    for (DISPID id : unknownIds) {
        for (UINT count = 0; count <= 2; ++count) {
            Outcome o;
            Call(d, id, std::vector<VARIANT>(count, I4(0)), o);
            t.Check(o.hr == DISP_E_MEMBERNOTFOUND && V_VT(&o.result) == VT_EMPTY,
                    "DISPID " + Hex(id) + " with " + std::to_string(count) + " arguments gave " +
                        o.Show());
        }
    }
    CheckUsable(t, d, "invocation kinds");
}

// ------------------------------------------------------------ name lookups

void CheckNameLookups(client::Tally& t, IDispatch* d) {
    // Arrays that cannot be read are refused before anything reads them.
    LPOLESTR find = const_cast<LPOLESTR>(L"FindString");
    LPOLESTR withNull[] = {find, nullptr};
    LPOLESTR nullFirst[] = {nullptr, find};
    const struct {
        const char* what;
        LPOLESTR* names;
        UINT count;
        bool ids;
        HRESULT hr;
    } refused[] = {
        {"null names", nullptr, 1, true, E_INVALIDARG},
        {"a null id array", &find, 1, false, E_INVALIDARG},
        {"both null, two names", nullptr, 2, false, E_INVALIDARG},
        {"a null parameter name", withNull, 2, true, E_INVALIDARG},
        {"a null method name", nullFirst, 2, true, E_INVALIDARG},
        {"nothing asked, null arrays", nullptr, 0, false, S_OK},
    };
    for (const auto& row : refused) {
        DISPID ids[2] = {77, 77};
        const HRESULT hr = d->GetIDsOfNames(IID_NULL, row.names, row.count, LOCALE_USER_DEFAULT,
                                            row.ids ? ids : nullptr);
        t.Check(hr == row.hr && ids[0] == 77 && ids[1] == 77,
                std::string("GetIDsOfNames with ") + row.what + " gave " + Hex(hr));
    }

    // Whatever the spelling, the answer is the platform's own for the type
    // information the object hands out.
    ITypeInfo* info = nullptr;
    if (!t.Check(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info) == S_OK && info != nullptr,
                 "type information for name lookups")) {
        return;
    }
    const struct {
        std::vector<const wchar_t*> names;
        HRESULT hr;
    } rows[] = {
        {{L"FindString"}, S_OK},
        {{L"fINDsTRING", L"VEMTIPO", L"vementrada"}, S_OK},
        {{L"TrataHTML", L"vemTarget", L"vemEntrada"}, S_OK},
        {{L"RemoverAcentuacao", L"vemTextoAcentuado", L"vemTextoAcentuado"}, S_OK},
        {{L"FindString", L"resultado"}, S_OK},  // the result's name, as the platform gives it
        {{L"QueryInterface"}, S_OK},            // inherited, named but never invoked
        {{L"FindString", L"vemTarget"}, DISP_E_UNKNOWNNAME},
        {{L"FindString", L"vemNada", L"vemTipo"}, DISP_E_UNKNOWNNAME},
        {{L"FindString", L""}, DISP_E_UNKNOWNNAME},
        {{L"Nada", L"vemTipo"}, DISP_E_UNKNOWNNAME},
        {{L"vemTipo"}, DISP_E_UNKNOWNNAME},
        {{L"FindString "}, DISP_E_UNKNOWNNAME},
        {{L"FindStrin"}, DISP_E_UNKNOWNNAME},
        {{L"Find\u017Ftring"}, DISP_E_UNKNOWNNAME},  // a long s is not an s
    };
    for (const auto& row : rows) {
        const UINT count = static_cast<UINT>(row.names.size());
        std::vector<LPOLESTR> names;
        for (const wchar_t* n : row.names) names.push_back(const_cast<LPOLESTR>(n));
        std::vector<DISPID> ours(count, 77), platforms(count, 77);
        const HRESULT hr =
            d->GetIDsOfNames(IID_NULL, names.data(), count, LOCALE_USER_DEFAULT, ours.data());
        const HRESULT platform = info->GetIDsOfNames(names.data(), count, platforms.data());
        std::string shown = client::Narrow(row.names[0]);
        for (UINT i = 1; i < count; ++i) shown += ", " + client::Narrow(row.names[i]);
        t.Check(hr == row.hr && hr == platform && ours == platforms,
                "GetIDsOfNames " + shown + " gave " + Hex(hr) + ", the platform " + Hex(platform));
    }
    info->Release();
}

// ------------------------------------------------------------ the error contract

void CheckFailureReport(client::Tally& t, IDispatch* d) {
    // Each way of handing over an empty text fails the same way, with its description.
    const struct {
        const char* what;
        std::function<VARIANT()> make;
    } rows[] = {
        {"an empty BSTR", [] { return Str(u""); }},
        {"a null BSTR", [] { return OfType(VT_BSTR); }},
        {"VT_EMPTY", [] { return OfType(VT_EMPTY); }},
    };
    for (const auto& row : rows) {
        Outcome o;
        Call(d, kFind, {row.make(), Str(u"a")}, o);
        t.Check(o.hr == DISP_E_EXCEPTION && o.exception.scode == kTypeMismatch &&
                    TextOf(o.exception.bstrDescription) == u"Type mismatch" &&
                    TextOf(o.exception.bstrSource) == u"Palavox.PalavoxClass",
                std::string("FindString on ") + row.what + " gave " + o.Show() + " \"" +
                    client::Narrow(o.exception.bstrDescription) + "\"");
        CheckUsable(t, d, std::string("FindString on ") + row.what);
    }
}

// Whatever escapes a method becomes one status: the same guard the DLL wraps
// every method in, fed every kind of exception, incl. those no input provokes.
void CheckEdgeGuard(client::Tally& t) {
    const struct {
        const char* what;
        std::function<void()> raise;
        HRESULT hr;
        const char16_t* description;  // null: no error info
    } rows[] = {
        {"Error(13)", [] { throw palavox::Error(13); }, kTypeMismatch, u"Type mismatch"},
        {"Error(6)", [] { throw palavox::Error(6); }, ErrorStatus(6), u"Overflow"},
        {"bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, nullptr},
        {"length_error", [] { throw std::length_error("too long"); }, E_OUTOFMEMORY, nullptr},
        {"logic_error", [] { throw std::logic_error("a fault"); }, ErrorStatus(51),
         u"Internal error"},
        {"an int", [] { throw 42; }, ErrorStatus(51), u"Internal error"},
    };
    for (const auto& row : rows) {
        const HRESULT hr = palavox::com::Guarded(row.raise);
        const ErrorInfo info = TakeErrorInfo();
        const bool infoRight = row.description == nullptr
                                   ? !info.set
                                   : info.set && info.description == row.description &&
                                         info.source == u"Palavox.PalavoxClass";
        t.Check(hr == row.hr && infoRight,
                std::string("the COM edge on ") + row.what + " gave " + Hex(hr) +
                    (info.set ? " with error info" : " without error info"));
    }
}

}  // namespace

int main() {
    client::Tally t;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IDispatch* d = nullptr;
    HRESULT hr = client::Create(IID_IDispatch, &d);
    IDispatch* other = nullptr;
    if (SUCCEEDED(hr)) hr = client::Create(IID_IDispatch, &other);
    if (t.Check(hr == S_OK && d != nullptr && other != nullptr,
                "CoCreateInstance gave " + Hex(hr))) {
        CheckArgumentCounts(t, d);
        CheckNamedArguments(t, d);
        CheckCoercibleValues(t, d);
        CheckRefusedValues(t, d, other);
        CheckMissingMarkers(t, d);
        CheckByReference(t, d);
        CheckMissingPointers(t, d);
        CheckNullSlots(t, d);
        CheckInvokeKinds(t, d);
        CheckNameLookups(t, d);
        CheckFailureReport(t, d);
        CheckEdgeGuard(t);
        t.Check(other->Release() == 0, "the object passed as an argument is released");
        t.Check(d->Release() == 0, "the abused object is released");
    }
    CoUninitialize();
    return t.Finish();
}
