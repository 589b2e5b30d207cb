// Early-bound client: creates the registered class and calls the function
// table through the widl-generated header, as a compiled program would.
//   early_bound_client.exe <case file>
#include <initguid.h>  // defines the identifiers of palavox_idl.h here

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "allocation_hooks.hpp"
#include "client_support.hpp"

namespace {

using namespace client;

void CheckInterfaces(client::Tally& t, _PalavoxClass* p) {
    const struct {
        const char* name;
        const IID* iid;
        HRESULT expected;
    } rows[] = {
        {"IUnknown", &IID_IUnknown, S_OK},
        {"IDispatch", &IID_IDispatch, S_OK},
        {"_PalavoxClass", &IID__PalavoxClass, S_OK},
        {"PalavoxClass___v0", &IID_PalavoxClass___v0, S_OK},
        {"ISupportErrorInfo", &IID_ISupportErrorInfo, S_OK},
        {"IClassFactory", &IID_IClassFactory, E_NOINTERFACE},
        {"IPersist", &IID_IPersist, E_NOINTERFACE},
        {"IConnectionPointContainer", &IID_IConnectionPointContainer, E_NOINTERFACE},
        {"IProvideClassInfo", &IID_IProvideClassInfo, E_NOINTERFACE},
    };
    IUnknown* identity = nullptr;
    p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    for (const auto& row : rows) {
        void* got = reinterpret_cast<void*>(1);
        const HRESULT hr = p->QueryInterface(*row.iid, &got);
        t.Check(hr == row.expected, std::string("QueryInterface ") + row.name + " gave " + Hex(hr));
        if (SUCCEEDED(hr)) {
            // Every interface of the object leads back to the same IUnknown.
            IUnknown* back = nullptr;
            static_cast<IUnknown*>(got)->QueryInterface(IID_IUnknown,
                                                        reinterpret_cast<void**>(&back));
            t.Check(back == identity, std::string("identity through ") + row.name);
            if (back) back->Release();
            static_cast<IUnknown*>(got)->Release();
        } else {
            t.Check(got == nullptr, std::string("refused ") + row.name + " leaves a null pointer");
        }
    }
    if (identity) identity->Release();
    t.Check(p->QueryInterface(IID_IUnknown, nullptr) == E_POINTER, "QueryInterface into null");

    ISupportErrorInfo* support = nullptr;
    if (t.Check(
            SUCCEEDED(p->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))),
            "ISupportErrorInfo")) {
        t.Check(support->InterfaceSupportsErrorInfo(IID__PalavoxClass) == S_OK,
                "error info for _PalavoxClass");
        t.Check(support->InterfaceSupportsErrorInfo(IID_IClassFactory) == S_FALSE,
                "no error info for IClassFactory");
        support->Release();
    }

    // Counts are exact: one reference from creation, so 2 then back to 1.
    t.Check(p->AddRef() == 2, "AddRef on a fresh object gives 2");
    t.Check(p->Release() == 1, "Release gives 1");
}

// Null BSTRs, result slots and the error contract.
void CheckFrame(client::Tally& t, _PalavoxClass* p) {
    const Answer html = CallTable(p, Method::TrataHTML, std::vector<BSTR>{nullptr, nullptr});
    t.Check(html.hr == S_OK && html.text.empty(), "TrataHTML(null, null) is empty");
    const Answer folded = CallTable(p, Method::RemoverAcentuacao, std::vector<BSTR>{nullptr});
    t.Check(folded.hr == S_OK && folded.text.empty(), "RemoverAcentuacao(null) is empty");

    Bstr abc(L"abc"), a(L"a"), empty(L"");
    Answer counted = CallTable(p, Method::FindString, {abc.get(), nullptr, nullptr});
    t.Check(counted.hr == S_OK && counted.count == -1,
            "FindString(abc, null, null) is -1, got " + std::to_string(counted.count));
    counted = CallTable(p, Method::FindString, {abc.get(), a.get(), nullptr});
    t.Check(counted.hr == S_OK && counted.count == 1, "FindString(abc, a, null) is 1");

    // A failure: the slot holds 0, the status carries 13, error info explains it.
    const std::vector<BSTR> emptyInputs = {nullptr, empty.get()};
    for (BSTR input : emptyInputs) {
        SetErrorInfo(0, nullptr);
        const Answer failed = CallTable(p, Method::FindString, {input, a.get(), nullptr});
        t.Check(failed.hr == kTypeMismatch, "FindString on empty text fails with " +
                                                Hex(kTypeMismatch) + ", got " + Hex(failed.hr));
        t.Check(failed.count == 0,
                "failed FindString leaves 0, got " + std::to_string(failed.count));
        const ErrorInfo info = TakeErrorInfo();
        if (t.Check(info.set, "error info is set")) {
            t.Check(info.source == u"Palavox.PalavoxClass", "error source " + Escaped(info.source));
            t.Check(info.description == u"Type mismatch",
                    "error description " + Escaped(info.description));
            t.Check(IsEqualGUID(info.guid, IID__PalavoxClass), "error GUID is the interface's");
        }
    }
    // The instance stays usable after a failure.
    counted = CallTable(p, Method::FindString, {abc.get(), a.get(), nullptr});
    t.Check(counted.hr == S_OK && counted.count == 1, "FindString works again after a failure");

    t.Check(p->TrataHTML(abc.get(), nullptr, nullptr) == E_POINTER, "TrataHTML into null slot");
    t.Check(p->FindString(abc.get(), a.get(), nullptr, nullptr) == E_POINTER,
            "FindString into null slot");
    t.Check(p->RemoverAcentuacao(abc.get(), nullptr) == E_POINTER,
            "RemoverAcentuacao into null slot");
}

// Calls one case; `nullForEmpty` passes empty arguments as null BSTRs.
// `counted`: Palavox.dll's allocations are counted (allocation_hooks.hpp).
void RunCase(client::Tally& t, _PalavoxClass* p, const Case& c, bool nullForEmpty, bool counted) {
    std::vector<Bstr> args;
    std::vector<BSTR> passed;
    args.reserve(c.args.size());
    for (const std::u16string& a : c.args) {
        passed.push_back(nullForEmpty && a.empty() ? nullptr : args.emplace_back(a).get());
    }
    const std::string what = palavox::cases::Describe(c) + (nullForEmpty ? " [null BSTRs]" : "");
    const allocations::Counts before = allocations::Now();
    const Answer answer = CallTable(p, c.method, passed);
    const allocations::Counts used = allocations::Since(before);
    t.Check(Gives(c, answer), what + " gave " + Show(answer));
    if (counted) {
        t.Check(allocations::AsACallShould(c.method != Method::FindString, answer.hr, used),
                what + ": " + allocations::Shown(used));
    }
    // Arguments belong to the caller and come back untouched.
    for (std::size_t i = 0; i < c.args.size(); ++i) {
        if (passed[i] != nullptr && TextOf(passed[i]) != c.args[i])
            t.Check(false, what + " changed argument " + std::to_string(i));
    }
}

void CheckFactory(client::Tally& t) {
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(CLSID_PalavoxClass, CLSCTX_INPROC_SERVER, nullptr,
                                  IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (!t.Check(hr == S_OK && factory != nullptr, "CoGetClassObject gave " + Hex(hr))) return;
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    hr = factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                 reinterpret_cast<void**>(&object));
    t.Check(hr == CLASS_E_NOAGGREGATION && object == nullptr, "aggregation is refused");
    object = reinterpret_cast<IUnknown*>(1);
    hr = factory->CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&object));
    t.Check(hr == E_NOINTERFACE && object == nullptr, "CreateInstance for IPersist refused");
    hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (t.Check(hr == S_OK && object != nullptr, "CreateInstance for IDispatch")) {
        t.Check(object->Release() == 0, "the last Release of a new object gives 0");
    }
    t.Check(factory->LockServer(TRUE) == S_OK && factory->LockServer(FALSE) == S_OK, "LockServer");
    factory->Release();

    // Loaded by now; asked directly, the server never agrees to unload.
    HMODULE dll = GetModuleHandleW(L"Palavox.dll");
    if (!t.Check(dll != nullptr, "Palavox.dll is loaded in this process")) return;
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto canUnload = reinterpret_cast<CanUnload>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    if (t.Check(canUnload != nullptr && getClassObject != nullptr, "exports found by name")) {
        t.Check(canUnload() == S_FALSE, "DllCanUnloadNow answers S_FALSE");
        void* other = reinterpret_cast<void*>(1);
        t.Check(
            getClassObject(IID_IPersist, IID_IClassFactory, &other) == CLASS_E_CLASSNOTAVAILABLE &&
                other == nullptr,
            "DllGetClassObject refuses another class");
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* casesPath = client::Argument(argc, argv, 1, "case file");
    client::Tally t;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // Without registration, an application manifest may resolve the ProgID to
    // a stand-in identifier of the same class: creating through it is the test.
    _PalavoxClass* named = nullptr;
    const HRESULT created = client::CreateByProgId(IID__PalavoxClass, &named);
    t.Check(created == S_OK && named != nullptr,
            "ProgID creates the class: " + client::Hex(created));
    if (named) named->Release();
    _PalavoxClass* p = nullptr;
    const HRESULT hr = client::Create(IID__PalavoxClass, &p);
    if (t.Check(hr == S_OK && p != nullptr, "CoCreateInstance gave " + client::Hex(hr))) {
        CheckInterfaces(t, p);
        CheckFrame(t, p);  // a success and a failure of each method: one-time set-up is done
        std::string problem;
        const bool counted =
            t.Check(client::allocations::Install(GetModuleHandleW(L"Palavox.dll"), problem),
                    "Palavox.dll's allocations can be counted: " + problem);
        for (const Case& c : client::LoadCases(t, casesPath)) {
            RunCase(t, p, c, false, counted);
            bool anyEmpty = false;
            for (const auto& a : c.args) anyEmpty = anyEmpty || a.empty();
            if (anyEmpty) RunCase(t, p, c, true, counted);
        }
        p->Release();
    }
    CheckFactory(t);
    CoUninitialize();
    return t.Finish();
}
