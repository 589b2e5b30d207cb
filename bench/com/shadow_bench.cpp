// What a call costs in shadow mode, beside its parts, for make bench-com:
// built against the stand-in's header (an old early-bound client), it times
// each method through the old class the registry serves, and the same calls
// on the installed component alone, its DLL loaded here and its object made
// by its own class factory, interleaved round by round in one process.
// bench/com/run.sh runs it once with Palavox adopted (the old class is
// Palavox alone) and once in shadow mode, and prints the ratio of a shadow
// call to the installed component's call plus Palavox's.
//   shadow_bench.exe <installed component's DLL> [calls per measurement] [rounds]
#include <initguid.h>  // defines the identifiers of standin_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "standin_identity.h"
#include "standin_idl.h"

namespace {

volatile LONG g_sink = 0;

double Now() {
    static const double ticksPerNs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1e9;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / ticksPerNs;
}

// One method with its arguments, as a page calls it: a short comment with a link.
struct Call {
    const char* name;
    BSTR a, b, c;
};

bool Do(_PalavoxClass* p, const Call& call, int which) {
    BSTR out = nullptr;
    LONG n = 0;
    HRESULT hr = E_FAIL;
    if (which == 0) {
        hr = p->TrataHTML(call.a, call.b, &out);
    } else if (which == 1) {
        hr = p->FindString(call.a, call.b, call.c, &n);
    } else {
        hr = p->RemoverAcentuacao(call.a, &out);
    }
    g_sink = g_sink + n + static_cast<LONG>(SysStringLen(out));
    SysFreeString(out);
    return SUCCEEDED(hr);
}

double Time(_PalavoxClass* p, const Call& call, int which, int calls) {
    const double start = Now();
    for (int i = 0; i < calls; ++i) Do(p, call, which);
    return (Now() - start) / calls;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: shadow_bench.exe <installed component's DLL> [calls] [rounds]\n",
                   stderr);
        return 2;
    }
    const int calls = argc > 2 ? std::max(1, _wtoi(argv[2])) : 20000;
    const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    _PalavoxClass* served = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_PalavoxClass, nullptr, CLSCTX_INPROC_SERVER,
                                  IID__PalavoxClass, reinterpret_cast<void**>(&served));
    if (FAILED(hr)) {
        std::printf("shadow_bench: CoCreateInstance of the old class gave 0x%08lX\n",
                    static_cast<unsigned long>(hr));
        return 1;
    }
    HMODULE module = LoadLibraryW(argv[1]);
    using Entry = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    const auto entry = module == nullptr ? nullptr
                                         : reinterpret_cast<Entry>(reinterpret_cast<void*>(
                                               GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    _PalavoxClass* alone = nullptr;
    if (entry == nullptr ||
        FAILED(entry(CLSID_PalavoxClass, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID__PalavoxClass,
                                       reinterpret_cast<void**>(&alone)))) {
        std::printf("shadow_bench: the installed component does not load from its DLL\n");
        return 1;
    }
    factory->Release();

    const Call rows[] = {
        {"TrataHTML", SysAllocString(L"Veja a pol\u00EDtica em http://exemplo.com.br/p?id=12 hoje"),
         SysAllocString(L"_blank"), nullptr},
        {"FindString", SysAllocString(L"S\u00E3o Paulo, s\u00E3o jos\u00E9, SAO carlos e s\u00E3o"),
         SysAllocString(L"s\u00E3o"), nullptr},
        {"RemoverAcentuacao",
         SysAllocString(L"A\u00E7\u00E3o & Rea\u00E7\u00E3o: S\u00E3o Jo\u00E3o (SP) \u00E9 aqui"),
         nullptr, nullptr},
    };
    for (int which = 0; which < 3; ++which) {
        if (!Do(served, rows[which], which) || !Do(alone, rows[which], which)) {
            std::printf("shadow_bench: %s fails\n", rows[which].name);
            return 1;
        }
    }
    double servedBest[3] = {1e300, 1e300, 1e300}, aloneBest[3] = {1e300, 1e300, 1e300};
    for (int r = 0; r < rounds; ++r) {
        for (int which = 0; which < 3; ++which) {
            servedBest[which] =
                std::min(servedBest[which], Time(served, rows[which], which, calls));
            aloneBest[which] = std::min(aloneBest[which], Time(alone, rows[which], which, calls));
        }
    }
    // One line a method: its name, ns per call through the old class, ns alone.
    for (int which = 0; which < 3; ++which) {
        std::printf("%s %.1f %.1f\n", rows[which].name, servedBest[which], aloneBest[which]);
    }
    served->Release();
    alone->Release();
    CoUninitialize();
    return 0;
}
