// An old early-bound client: built against the stand-in's header (the
// identifiers of the installed component it was compiled for), run unchanged
// before adoption, after it, in shadow mode and after undoing. Each mode runs
// a case file (the answers expected of whichever component should answer) a
// way an old client reaches the class:
//   adoption_client.exe answers <case file> <DLL that must serve the object>
//       by CLSID and by ProgID, through the function table and IDispatch
//   adoption_client.exe apartment <case file>
//       from another single-threaded apartment, through the marshaler and the
//       type library registered for the interface
//   adoption_client.exe threads <case file>
//       eight threads, each in an apartment of its own, calling at once
//   adoption_client.exe typelib <case file> <path the library must load from>
//       the class found through the type library's identifier and version, as
//       a VBA or VB6 reference finds it
#include <initguid.h>  // defines the identifiers of standin_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "client_support.hpp"
#include "standin_identity.h"

namespace {

using namespace client;

constexpr ULONGLONG kFailSafeMs = 300000;

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

std::wstring Wide(const char* s) {
    std::wstring out;
    for (; *s != 0; ++s) out += static_cast<wchar_t>(static_cast<unsigned char>(*s));
    return out;
}

// The file of the module whose code answers the object's calls.
std::wstring ServingModule(IUnknown* object) {
    void* const* table = *reinterpret_cast<void* const* const*>(object);
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH * 2] = {};
    if (GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(table[0]), &module)) {
        GetModuleFileNameW(module, path, MAX_PATH * 2);
    }
    return path;
}

// Through dispatch a failure is its status and EXCEPINFO: what the result
// slot holds then is the platform's (its ITypeInfo::Invoke copies the
// [retval] out even after a failure), and no client reads it.
bool GivesLate(const Case& c, const Answer& a) {
    if (c.expectedError != 0) return a.exception && a.hr == ErrorStatus(c.expectedError);
    return Gives(c, a);
}

// Every case through the function table, and through IDispatch with the
// optional argument given and, where it is empty, left out.
void RunCases(Tally& t, _PalavoxClass* p, const std::vector<Case>& cases, const std::string& how,
              bool dispatch) {
    int wrong = 0;
    for (const Case& c : cases) {
        const Answer table = CallTable(p, c.method, c.args);
        if (!Gives(c, table) && wrong++ < 20) {
            t.Check(false, how + ": " + palavox::cases::Describe(c) + " gave " + Show(table));
        }
        if (!dispatch) continue;
        const Answer late = CallDispatch(p, c.method, c.args);
        if (!GivesLate(c, late) && wrong++ < 20) {
            t.Check(false,
                    how + ", dispatch: " + palavox::cases::Describe(c) + " gave " + Show(late));
        }
        if (c.method != Method::RemoverAcentuacao && c.args.back().empty()) {
            std::vector<std::u16string> shorter(c.args.begin(), c.args.end() - 1);
            const Answer omitted = CallDispatch(p, c.method, shorter);
            if (!GivesLate(c, omitted) && wrong++ < 20) {
                t.Check(false, how + ", dispatch, optional left out: " +
                                   palavox::cases::Describe(c) + " gave " + Show(omitted));
            }
        }
    }
    t.Check(wrong == 0, how + ": " + std::to_string(wrong) + " answers not the expected ones, of " +
                            std::to_string(cases.size()) + " cases");
}

void CheckInterfaces(Tally& t, _PalavoxClass* p) {
    const struct {
        const char* name;
        const IID* iid;
    } rows[] = {
        {"the interface it was built for", &IID__PalavoxClass},
        {"its alias", &IID_PalavoxClass___v0},
        {"IDispatch", &IID_IDispatch},
        {"ISupportErrorInfo", &IID_ISupportErrorInfo},
    };
    for (const auto& row : rows) {
        IUnknown* got = nullptr;
        const HRESULT hr = p->QueryInterface(*row.iid, reinterpret_cast<void**>(&got));
        t.Check(hr == S_OK && got != nullptr,
                std::string("QueryInterface for ") + row.name + " gave " + Hex(hr));
        if (got) got->Release();
    }
    ISupportErrorInfo* support = nullptr;
    if (SUCCEEDED(p->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)))) {
        t.Check(support->InterfaceSupportsErrorInfo(IID__PalavoxClass) == S_OK,
                "error info for the interface it was built for");
        support->Release();
    }
    // An error as VB shows it: number, source and description.
    SetErrorInfo(0, nullptr);
    const Answer failed = CallTable(p, Method::FindString, {u"", u"a", u""});
    const ErrorInfo info = TakeErrorInfo();
    t.Check(failed.hr == kTypeMismatch && info.set && info.source == u"Palavox.PalavoxClass" &&
                info.description == u"Type mismatch",
            "error 13 with its source and description: " + Show(failed) + " " +
                Escaped(info.source) + " " + Escaped(info.description));
}

int Answers(Tally& t, const std::vector<Case>& cases, const char* servedBy) {
    _PalavoxClass* p = nullptr;
    HRESULT hr = Create(IID__PalavoxClass, &p);
    if (!t.Check(hr == S_OK && p != nullptr,
                 "CoCreateInstance of the class it was built for gave " + Hex(hr))) {
        return t.Finish();
    }
    const std::wstring serving = ServingModule(p);
    t.Check(SamePath(serving, Wide(servedBy)),
            "the object is served by " + Narrow(serving.c_str()) + ", not " + servedBy);
    CheckInterfaces(t, p);
    RunCases(t, p, cases, "by CLSID", true);
    p->Release();
    hr = CreateByProgId(IID__PalavoxClass, &p);
    if (t.Check(hr == S_OK && p != nullptr, "creating by ProgID gave " + Hex(hr))) {
        RunCases(t, p, cases, "by ProgID", false);
        p->Release();
    }
    return t.Finish();
}

// ------------------------------------------------------------ another apartment

struct Crossing {
    IStream* stream = nullptr;
    const std::vector<Case>* cases = nullptr;
    Tally tally;  // the thread's own, merged after it ended
    HRESULT hr = E_FAIL;
    bool proxy = false;
};

DWORD WINAPI RunCrossing(void* argument) {
    Crossing& c = *static_cast<Crossing*>(argument);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    _PalavoxClass* p = nullptr;
    c.hr =
        CoGetInterfaceAndReleaseStream(c.stream, IID__PalavoxClass, reinterpret_cast<void**>(&p));
    if (SUCCEEDED(c.hr)) {
        IUnknown* security = nullptr;
        c.proxy =
            SUCCEEDED(p->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security)));
        if (security) security->Release();
        RunCases(c.tally, p, *c.cases, "marshaled to another apartment", false);
        p->Release();
    }
    CoUninitialize();
    return 0;
}

int Apartment(Tally& t, const std::vector<Case>& cases) {
    _PalavoxClass* p = nullptr;
    HRESULT hr = Create(IID__PalavoxClass, &p);
    if (!t.Check(hr == S_OK, "CoCreateInstance gave " + Hex(hr))) return t.Finish();
    Crossing c;
    c.cases = &cases;
    hr = CoMarshalInterThreadInterfaceInStream(IID__PalavoxClass, p, &c.stream);
    if (t.Check(hr == S_OK, "the interface it was built for marshals: " + Hex(hr))) {
        HANDLE thread = CreateThread(nullptr, 0, RunCrossing, &c, 0, nullptr);
        // This apartment dispatches the calls the other one makes.
        const ULONGLONG deadline = GetTickCount64() + kFailSafeMs;
        bool ended = false;
        while (!ended && GetTickCount64() < deadline) {
            ended =
                MsgWaitForMultipleObjects(1, &thread, FALSE, 1000, QS_ALLINPUT) == WAIT_OBJECT_0;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        if (!t.Check(ended, "the other apartment's calls finished"))
            ExitProcess(static_cast<UINT>(t.Finish()));
        CloseHandle(thread);
        t.Check(c.hr == S_OK, "the other apartment unmarshaled the object: " + Hex(c.hr));
        t.Check(c.proxy, "the other apartment holds a proxy");
        t.Check(c.tally.Failed() == 0, "every marshaled call gave its expected answer");
    }
    p->Release();
    return t.Finish();
}

// ------------------------------------------------------------ many threads at once

struct Worker {
    const std::vector<Case>* cases = nullptr;
    Tally tally;  // the thread's own, merged after it ended
    HRESULT hr = E_FAIL;
};

DWORD WINAPI RunWorker(void* argument) {
    Worker& w = *static_cast<Worker*>(argument);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    _PalavoxClass* p = nullptr;
    w.hr = Create(IID__PalavoxClass, &p);
    if (SUCCEEDED(w.hr)) {
        RunCases(w.tally, p, *w.cases, "on one of many threads", true);
        p->Release();
    }
    CoUninitialize();
    return 0;
}

// Threads of their own apartments calling at once, as a server's do.
int Threads(Tally& t, const std::vector<Case>& cases) {
    constexpr int kThreads = 8;
    Worker workers[kThreads];
    HANDLE threads[kThreads] = {};
    for (int i = 0; i < kThreads; ++i) {
        workers[i].cases = &cases;
        threads[i] = CreateThread(nullptr, 0, RunWorker, &workers[i], 0, nullptr);
        if (!t.Check(threads[i] != nullptr, "a thread starts"))
            ExitProcess(static_cast<UINT>(t.Finish()));
    }
    const bool ended =
        WaitForMultipleObjects(kThreads, threads, TRUE, kFailSafeMs) == WAIT_OBJECT_0;
    if (!t.Check(ended, "every thread's calls finished"))
        ExitProcess(static_cast<UINT>(t.Finish()));
    for (int i = 0; i < kThreads; ++i) {
        CloseHandle(threads[i]);
        t.Check(workers[i].hr == S_OK, "a thread created the class: " + Hex(workers[i].hr));
        t.Check(workers[i].tally.Failed() == 0, "every call of a thread gave its expected answer");
    }
    return t.Finish();
}

// ------------------------------------------------------------ by the library's identifier

int TypeLibrary(Tally& t, const std::vector<Case>& cases, const char* expectedPath) {
    BSTR path = nullptr;
    HRESULT hr = QueryPathOfRegTypeLib(LIBID_Palavox, STANDIN_TYPELIB_MAJOR, STANDIN_TYPELIB_MINOR,
                                       LOCALE_NEUTRAL, &path);
    if (!t.Check(hr == S_OK, "the type library it references is registered: " + Hex(hr))) {
        return t.Finish();
    }
    t.Check(SamePath(path, Wide(expectedPath)),
            "the library loads from " + Narrow(path) + ", not " + expectedPath);
    SysFreeString(path);
    ITypeLib* library = nullptr;
    hr = LoadRegTypeLib(LIBID_Palavox, STANDIN_TYPELIB_MAJOR, STANDIN_TYPELIB_MINOR, LOCALE_NEUTRAL,
                        &library);
    if (!t.Check(hr == S_OK, "LoadRegTypeLib gave " + Hex(hr))) return t.Finish();
    ITypeInfo* coclass = nullptr;
    hr = library->GetTypeInfoOfGuid(CLSID_PalavoxClass, &coclass);
    if (t.Check(hr == S_OK, "the library describes the class: " + Hex(hr))) {
        // What New does for a referenced class.
        _PalavoxClass* p = nullptr;
        hr = coclass->CreateInstance(nullptr, IID__PalavoxClass, reinterpret_cast<void**>(&p));
        if (t.Check(hr == S_OK && p != nullptr, "ITypeInfo::CreateInstance gave " + Hex(hr))) {
            RunCases(t, p, cases, "created through the type library", true);
            p->Release();
        }
        coclass->Release();
    }
    // Its methods keep their dispatch identifiers there.
    ITypeInfo* dispatch = nullptr;
    if (t.Check(SUCCEEDED(library->GetTypeInfoOfGuid(IID__PalavoxClass, &dispatch)),
                "the library describes the interface")) {
        const wchar_t* names[] = {L"TrataHTML", L"FindString", L"RemoverAcentuacao"};
        for (int i = 0; i < 3; ++i) {
            MEMBERID id = 0;
            LPOLESTR name = const_cast<LPOLESTR>(names[i]);
            hr = dispatch->GetIDsOfNames(&name, 1, &id);
            t.Check(hr == S_OK && id == 0x60030000 + i,
                    Narrow(names[i]) + " has its dispatch identifier: " + Hex(id));
        }
        dispatch->Release();
    }
    library->Release();
    return t.Finish();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = client::Argument(argc, argv, 1, "mode");
    const char* casesPath = client::Argument(argc, argv, 2, "case file");
    client::Tally t;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<Case> cases = client::LoadCases(t, casesPath);
    int status = 2;
    if (mode == "answers") {
        status = Answers(t, cases, client::Argument(argc, argv, 3, "DLL that serves"));
    } else if (mode == "apartment") {
        status = Apartment(t, cases);
    } else if (mode == "threads") {
        status = Threads(t, cases);
    } else if (mode == "typelib") {
        status = TypeLibrary(t, cases, client::Argument(argc, argv, 3, "library path"));
    } else {
        t.Check(false, "unknown mode " + mode);
        status = t.Finish();
    }
    CoUninitialize();
    return status;
}
