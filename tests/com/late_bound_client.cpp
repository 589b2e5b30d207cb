// Late-bound client: finds the methods by name with GetIDsOfNames and calls
// them through IDispatch::Invoke, as scripting hosts do.
//   late_bound_client.exe <case file>
#include <initguid.h>  // defines the identifiers of palavox_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "allocation_hooks.hpp"
#include "client_support.hpp"

namespace {

using namespace client;

void CheckNames(client::Tally& t, IDispatch* d) {
    const struct {
        const wchar_t* name;
        HRESULT hr;
        DISPID id;
    } rows[] = {
        {L"TrataHTML", S_OK, 0x60030000},
        {L"FindString", S_OK, 0x60030001},
        {L"RemoverAcentuacao", S_OK, 0x60030002},
        {L"findstring", S_OK, 0x60030001},  // names are case-insensitive
        {L"REMOVERACENTUACAO", S_OK, 0x60030002},
        {L"ConverteLinks", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {L"Trata", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
    };
    for (const auto& row : rows) {
        LPOLESTR name = const_cast<LPOLESTR>(row.name);
        DISPID id = 12345;
        const HRESULT hr = d->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        t.Check(hr == row.hr && (FAILED(hr) || id == row.id),
                "GetIDsOfNames " + client::Narrow(row.name) + " gave " + Hex(hr) + " / " + Hex(id));
    }
    // Parameter names resolve to their positions.
    const wchar_t* names[] = {L"FindString", L"vemTipo", L"vemEntrada"};
    DISPID ids[3] = {};
    const HRESULT hr =
        d->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(names), 3, LOCALE_USER_DEFAULT, ids);
    t.Check(hr == S_OK && ids[0] == 0x60030001 && ids[1] == 2 && ids[2] == 0,
            "parameter names of FindString");
    LPOLESTR name = const_cast<LPOLESTR>(L"TrataHTML");
    DISPID id = 0;
    t.Check(d->GetIDsOfNames(IID_IDispatch, &name, 1, LOCALE_USER_DEFAULT, &id) ==
                DISP_E_UNKNOWNINTERFACE,
            "GetIDsOfNames wants IID_NULL");

    UINT count = 0;
    t.Check(d->GetTypeInfoCount(&count) == S_OK && count == 1, "one type info");
    ITypeInfo* info = nullptr;
    if (t.Check(d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info) == S_OK && info, "GetTypeInfo(0)")) {
        Bstr typeName;
        info->GetDocumentation(MEMBERID_NIL, typeName.out(), nullptr, nullptr, nullptr);
        t.Check(typeName.text() == u"_PalavoxClass", "type info names _PalavoxClass");
        info->Release();
    }
    info = reinterpret_cast<ITypeInfo*>(1);
    t.Check(d->GetTypeInfo(1, LOCALE_USER_DEFAULT, &info) == DISP_E_BADINDEX && info == nullptr,
            "GetTypeInfo(1) is out of range");
}

void CheckInvokeContract(client::Tally& t, IDispatch* d) {
    {
        Outcome o;
        Call(d, kFind, {Str(u""), Str(u"a")}, o);
        t.Check(o.hr == DISP_E_EXCEPTION,
                "failing FindString gives DISP_E_EXCEPTION, got " + Hex(o.hr));
        t.Check(o.exception.scode == kTypeMismatch, "scode " + Hex(o.exception.scode));
        t.Check(client::Narrow(o.exception.bstrDescription) == "Type mismatch",
                "description " + client::Narrow(o.exception.bstrDescription));
        t.Check(client::Narrow(o.exception.bstrSource) == "Palavox.PalavoxClass",
                "source " + client::Narrow(o.exception.bstrSource));
    }
    {
        Outcome o;  // named argument: vemTipo = "B"
        Call(d, kFind, {Str(u"Casa casa"), Str(u"casa"), Str(u"B")}, o, {2});
        t.Check(o.IsCount(1), "FindString with vemTipo named gave " + o.Show());
    }
    {
        Outcome o;  // numbers are converted to text by dispatch
        Call(d, kFind, {I4(12312), I4(1)}, o);
        t.Check(o.IsCount(2), "FindString(12312, 1) counts two 1s, gave " + o.Show());
    }
    {
        Outcome o;  // an Empty variant is the empty text
        Call(d, kTrata, {OfType(VT_EMPTY), OfType(VT_EMPTY)}, o);
        t.Check(o.IsText(u""), "TrataHTML(Empty, Empty) is an empty string, gave " + o.Show());
    }
    {
        Outcome o;  // VBScript calls with both flags set
        Call(d, kRemover, {Str(u"\u00e7")}, o, {}, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
        t.Check(o.IsText(u"c"), "method|propget flags gave " + o.Show());
    }
    const struct {
        const char* what;
        DISPID id;
        int argc;
        HRESULT hr;
    } rows[] = {
        {"TrataHTML without arguments", kTrata, 0, DISP_E_BADPARAMCOUNT},
        {"TrataHTML with three", kTrata, 3, DISP_E_BADPARAMCOUNT},
        {"FindString with one", kFind, 1, DISP_E_BADPARAMCOUNT},
        {"FindString with four", kFind, 4, DISP_E_BADPARAMCOUNT},
        {"RemoverAcentuacao with two", kRemover, 2, DISP_E_BADPARAMCOUNT},
        {"unknown DISPID", 0x60030003, 1, DISP_E_MEMBERNOTFOUND},
    };
    for (const auto& row : rows) {
        std::vector<VARIANT> args;
        for (int i = 0; i < row.argc; ++i) args.push_back(Str(u"x"));
        Outcome o;
        Call(d, row.id, args, o);
        t.Check(o.hr == row.hr, std::string(row.what) + " gave " + Hex(o.hr));
    }
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    t.Check(d->Invoke(kRemover, IID_IDispatch, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result,
                      nullptr, nullptr) == DISP_E_UNKNOWNINTERFACE,
            "Invoke wants IID_NULL");
}

// `counted`: Palavox.dll's allocations are counted (allocation_hooks.hpp).
// What the DLL itself allocates on the ways into a call that the case file
// does not take. Strings are read where they are, whatever the road to them;
// the text oleaut32 makes of a number is the platform's (not counted here),
// and it is the DLL that frees it.
void CheckAllocations(client::Tally& t, IDispatch* d) {
    constexpr LONG kBalanced = -1;  // a failure: as many freed as allocated
    BSTR held = SysAllocString(L"Cora\u00e7\u00e3o");
    const auto byRef = [&] {
        VARIANT v = OfType(VT_BYREF | VT_BSTR);
        V_BSTRREF(&v) = &held;
        return v;
    };
    const struct {
        const char* what;
        DISPID id;
        std::vector<VARIANT> args;
        std::vector<DISPID> named;
        LONG allocated;
        LONG freed;
        bool noResultSlot;
    } rows[] = {
        {"FindString, three strings",
         kFind,
         {Str(u"abcabc"), Str(u"B"), Str(u"b")},
         {},
         0,
         0,
         false},
        {"FindString, vemTipo named",
         kFind,
         {Str(u"abcabc"), Str(u"b"), Str(u"B")},
         {2},
         0,
         0,
         false},
        {"FindString, numbers as text", kFind, {I4(12312), I4(1)}, {}, 0, 0, false},
        {"FindString, failing", kFind, {Str(u""), Str(u"a")}, {}, kBalanced, kBalanced, false},
        {"RemoverAcentuacao, a string by reference", kRemover, {byRef()}, {}, 1, 0, false},
        {"RemoverAcentuacao, no result slot", kRemover, {Str(u"\u00e9")}, {}, 1, 1, true},
        {"TrataHTML, a number as the target", kTrata, {Str(u"http://h"), I4(7)}, {}, 1, 0, false},
        {"TrataHTML, target omitted", kTrata, {Str(u"http://h")}, {}, 1, 0, false},
        {"TrataHTML, refused (Null)", kTrata, {OfType(VT_NULL)}, {}, 0, 0, false},
        {"RemoverAcentuacao, too many arguments",
         kRemover,
         {Str(u"a"), Str(u"b")},
         {},
         0,
         0,
         false},
    };
    for (const auto& row : rows) {
        std::vector<VARIANT> wire(row.args.rbegin(), row.args.rend());
        DISPPARAMS params{wire.data(),
                          row.named.empty() ? nullptr : const_cast<DISPID*>(row.named.data()),
                          static_cast<UINT>(wire.size()), static_cast<UINT>(row.named.size())};
        Outcome o;
        const client::allocations::Counts before = client::allocations::Now();
        o.hr = d->Invoke(row.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                         row.noResultSlot ? nullptr : &o.result, &o.exception, &o.argErr);
        const client::allocations::Counts used = client::allocations::Since(before);
        const bool ok = row.allocated == kBalanced
                            ? o.hr == DISP_E_EXCEPTION && used.allocated == used.freed
                            : used.allocated == row.allocated && used.freed == row.freed;
        t.Check(ok, std::string(row.what) + " (" + o.Show() + "): " + allocations::Shown(used));
        for (VARIANT& v : wire) VariantClear(&v);
    }
    // Names are looked up without allocating.
    const wchar_t* names[] = {L"FindString", L"vemTipo"};
    DISPID ids[2] = {};
    const client::allocations::Counts before = client::allocations::Now();
    const HRESULT hr =
        d->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(names), 2, LOCALE_USER_DEFAULT, ids);
    const client::allocations::Counts used = client::allocations::Since(before);
    t.Check(hr == S_OK && used.allocated == 0 && used.freed == 0,
            "GetIDsOfNames: Palavox.dll allocated " + std::to_string(used.allocated) + " blocks");
    SysFreeString(held);
}

void RunCase(client::Tally& t, IDispatch* d, const Case& c, bool omitOptional, bool counted) {
    std::vector<VARIANT> args;
    for (const std::u16string& a : c.args) args.push_back(Str(a));
    if (omitOptional) {
        VariantClear(&args.back());
        args.pop_back();
    }
    const std::string what =
        palavox::cases::Describe(c) + (omitOptional ? " [optional omitted]" : "");
    const allocations::Counts before = allocations::Now();
    const Answer answer = CallDispatch(d, c.method, args);
    const allocations::Counts used = allocations::Since(before);
    if (counted) {
        // Through Invoke too.
        t.Check(allocations::AsACallShould(c.method != Method::FindString, answer.hr, used),
                what + ": " + allocations::Shown(used));
    }
    t.Check(Gives(c, answer), what + " gave " + Show(answer));
}

}  // namespace

int main(int argc, char** argv) {
    const char* casesPath = client::Argument(argc, argv, 1, "case file");
    client::Tally t;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IDispatch* d = nullptr;
    const HRESULT hr = client::CreateByProgId(IID_IDispatch, &d);
    if (t.Check(hr == S_OK && d != nullptr, "create by ProgID gave " + Hex(hr))) {
        CheckNames(t, d);
        CheckInvokeContract(t, d);  // successes and a failure: one-time set-up is done
        std::string problem;
        const bool counted =
            t.Check(client::allocations::Install(GetModuleHandleW(L"Palavox.dll"), problem),
                    "Palavox.dll's allocations can be counted: " + problem);
        if (counted) CheckAllocations(t, d);
        for (const Case& c : client::LoadCases(t, casesPath)) {
            RunCase(t, d, c, false, counted);
            // An omitted optional argument behaves as the empty text.
            if (c.method != Method::RemoverAcentuacao && c.args.back().empty()) {
                RunCase(t, d, c, true, counted);
            }
        }
        d->Release();
    }
    CoUninitialize();
    return t.Finish();
}
