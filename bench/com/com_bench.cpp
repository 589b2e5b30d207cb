// What a call into Palavox.dll costs, early- and late-bound, beside the
// strongest simple alternative for each, timed side by side in one process:
//   - late-bound IDispatch::Invoke beside the platform's own ITypeInfo::Invoke
//     made straight on the interface with the same arguments;
//   - early-bound FindString beside a plain count loop compiled here;
//   - early-bound text methods beside allocating and copying their result.
// Only the ratios count: absolute times under Wine on a shared machine are noise.
//   com_bench.exe [calls per measurement, default 200000] [rounds, default 5]
#include <initguid.h>  // defines the identifiers of palavox_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <cguid.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "palavox_idl.h"
#include "palavox/palavox_class.hpp"

namespace {

constexpr DISPID kTrata = 0x60030000;
constexpr DISPID kFind = 0x60030001;
constexpr DISPID kRemover = 0x60030002;

// Kept alive so that no loop below can be optimized away.
volatile LONG g_sink = 0;

// The early-bound baseline: what a caller who needs the count would write,
// compiled here with the same flags as the DLL. Called through a volatile
// pointer so that the count is made again on every iteration.
__attribute__((noinline)) LONG CountLoop(const wchar_t* text, UINT length, const wchar_t* search,
                                         UINT searchLength) {
    LONG count = 0;
    if (searchLength == 1) {
        for (UINT i = 0; i < length; ++i) count += text[i] == search[0];
        return count;
    }
    for (UINT i = 0; searchLength != 0 && i + searchLength <= length;) {
        if (std::wmemcmp(text + i, search, searchLength) == 0) {
            ++count;
            i += searchLength;
        } else {
            ++i;
        }
    }
    return count;
}
LONG (*volatile g_countLoop)(const wchar_t*, UINT, const wchar_t*, UINT) = CountLoop;

// The text methods' baseline: the one allocation and copy that handing over
// any result costs.
__attribute__((noinline)) void AllocateAndCopy(const wchar_t* result, UINT length) {
    BSTR s = SysAllocStringLen(result, length);
    g_sink = g_sink + static_cast<LONG>(SysStringLen(s));
    SysFreeString(s);
}
void (*volatile g_allocateAndCopy)(const wchar_t*, UINT) = AllocateAndCopy;

// Read through volatile pointers, so the linked-in calls are made every time.
palavox::PalavoxClass g_class;
palavox::PalavoxClass* volatile g_palavox = &g_class;
const char16_t* volatile g_text = u"abcabc";
const char16_t* volatile g_search = u"b";

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

struct Measurement {
    const char* name;
    double best = 1e300;  // ns per call, least over the rounds
};

template <class Call>
void Time(Measurement& m, int calls, Call&& call) {
    const double start = Now();
    for (int i = 0; i < calls; ++i) call();
    const double perCall = (Now() - start) / calls;
    m.best = std::min(m.best, perCall);
}

// An Invoke argument list: `args` in call order, stored last to first.
struct Frame {
    std::vector<VARIANT> wire;
    DISPPARAMS params{};
    explicit Frame(const std::vector<BSTR>& args) {
        for (auto it = args.rbegin(); it != args.rend(); ++it) {
            VARIANT v;
            VariantInit(&v);
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = *it;  // lent: the caller keeps the strings
            wire.push_back(v);
        }
        params = {wire.data(), nullptr, static_cast<UINT>(wire.size()), 0};
    }
};

// What a script host hands Invoke: a result slot, EXCEPINFO and puArgErr.
struct Slots {
    VARIANT result;
    EXCEPINFO exception{};
    UINT argErr = 0;
    Slots() { VariantInit(&result); }
    void Clear() {
        if (V_VT(&result) == VT_I4) g_sink = g_sink + V_I4(&result);
        VariantClear(&result);
    }
};

std::string WineVersion() {
    using Get = const char*(CDECL*)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<Get>(
                                 reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                           : nullptr;
    return get ? std::string("Wine ") + get() : std::string("Windows");
}

int Run(int calls, int rounds) {
    _PalavoxClass* p = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_PalavoxClass, nullptr, CLSCTX_INPROC_SERVER,
                                  IID__PalavoxClass, reinterpret_cast<void**>(&p));
    if (FAILED(hr)) {
        std::printf("com_bench: CoCreateInstance gave 0x%08lX (register Palavox.dll first)\n",
                    static_cast<unsigned long>(hr));
        return 1;
    }
    IDispatch* d = p;  // the dual interface is its own IDispatch

    // The platform's yardstick: the type information of the interface's
    // function table, invoked on the interface itself.
    ITypeInfo* dispatchInfo = nullptr;
    ITypeInfo* vtableInfo = nullptr;
    HREFTYPE ref = 0;
    hr = d->GetTypeInfo(0, LOCALE_USER_DEFAULT, &dispatchInfo);
    if (SUCCEEDED(hr)) hr = dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
    if (SUCCEEDED(hr)) hr = dispatchInfo->GetRefTypeInfo(ref, &vtableInfo);
    if (FAILED(hr)) {
        std::printf("com_bench: no type information: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }

    BSTR text = SysAllocString(L"abcabc");
    BSTR search = SysAllocString(L"b");
    BSTR binary = SysAllocString(L"B");
    BSTR prose = SysAllocString(L"A\u00e7\u00e3o & Rea\u00e7\u00e3o");
    BSTR link = SysAllocString(L"veja http://a/b");
    // The results, for the allocate-and-copy baseline, as the DLL gives them.
    BSTR folded = nullptr, marked = nullptr;
    LONG count = 0;
    if (FAILED(p->RemoverAcentuacao(prose, &folded)) ||
        FAILED(p->TrataHTML(link, nullptr, &marked)) ||
        FAILED(p->FindString(text, search, nullptr, &count)) || count != 2) {
        std::printf("com_bench: the calls to time do not work\n");
        return 1;
    }
    const UINT textLength = SysStringLen(text);
    const UINT searchLength = SysStringLen(search);
    if (g_countLoop(text, textLength, search, searchLength) != 2) return 1;

    Frame findFrame({text, search});
    Frame foldFrame({prose});
    Frame markFrame({link});
    LPOLESTR findName = const_cast<LPOLESTR>(L"FindString");

    Measurement loop{"native count loop: \"b\" in \"abcabc\""};
    Measurement direct{"the same FindString linked in, no COM"};
    Measurement directBinary{"the same with \"B\", linked in, no COM"};
    Measurement early{"early-bound FindString(\"abcabc\", \"b\")"};
    Measurement earlyBinary{"early-bound FindString(\"abcabc\", \"b\", \"B\")"};
    Measurement late{"late-bound FindString(\"abcabc\", \"b\")"};
    Measurement platform{"ITypeInfo::Invoke FindString(\"abcabc\", \"b\")"};
    Measurement copyFolded{"allocate and copy RemoverAcentuacao's result"};
    Measurement earlyFold{"early-bound RemoverAcentuacao"};
    Measurement lateFold{"late-bound RemoverAcentuacao"};
    Measurement platformFold{"ITypeInfo::Invoke RemoverAcentuacao"};
    Measurement copyMarked{"allocate and copy TrataHTML's result"};
    Measurement earlyMark{"early-bound TrataHTML"};
    Measurement lateMark{"late-bound TrataHTML"};
    Measurement platformMark{"ITypeInfo::Invoke TrataHTML"};
    Measurement names{"GetIDsOfNames \"FindString\""};
    Measurement platformNames{"ITypeInfo::GetIDsOfNames \"FindString\""};

    Slots s;
    for (int round = 0; round < rounds; ++round) {
        Time(loop, calls,
             [&] { g_sink = g_sink + g_countLoop(text, textLength, search, searchLength); });
        // What the DLL runs inside, compiled here: the part of a call that is not COM.
        Time(direct, calls, [&] {
            g_sink = g_sink + g_palavox->FindString({g_text, textLength}, {g_search, searchLength});
        });
        Time(directBinary, calls, [&] {
            g_sink = g_sink +
                     g_palavox->FindString({g_text, textLength}, {g_search, searchLength}, u"B");
        });
        Time(early, calls, [&] {
            LONG n = 0;
            p->FindString(text, search, nullptr, &n);
            g_sink = g_sink + n;
        });
        Time(earlyBinary, calls, [&] {
            LONG n = 0;
            p->FindString(text, search, binary, &n);
            g_sink = g_sink + n;
        });
        Time(late, calls, [&] {
            d->Invoke(kFind, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &findFrame.params,
                      &s.result, &s.exception, &s.argErr);
            s.Clear();
        });
        Time(platform, calls, [&] {
            vtableInfo->Invoke(p, kFind, DISPATCH_METHOD, &findFrame.params, &s.result,
                               &s.exception, &s.argErr);
            s.Clear();
        });
        Time(copyFolded, calls, [&] { g_allocateAndCopy(folded, SysStringLen(folded)); });
        Time(earlyFold, calls, [&] {
            BSTR r = nullptr;
            p->RemoverAcentuacao(prose, &r);
            SysFreeString(r);
        });
        Time(lateFold, calls, [&] {
            d->Invoke(kRemover, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &foldFrame.params,
                      &s.result, &s.exception, &s.argErr);
            s.Clear();
        });
        Time(platformFold, calls, [&] {
            vtableInfo->Invoke(p, kRemover, DISPATCH_METHOD, &foldFrame.params, &s.result,
                               &s.exception, &s.argErr);
            s.Clear();
        });
        Time(copyMarked, calls, [&] { g_allocateAndCopy(marked, SysStringLen(marked)); });
        Time(earlyMark, calls, [&] {
            BSTR r = nullptr;
            p->TrataHTML(link, nullptr, &r);
            SysFreeString(r);
        });
        Time(lateMark, calls, [&] {
            d->Invoke(kTrata, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &markFrame.params,
                      &s.result, &s.exception, &s.argErr);
            s.Clear();
        });
        Time(platformMark, calls, [&] {
            vtableInfo->Invoke(p, kTrata, DISPATCH_METHOD, &markFrame.params, &s.result,
                               &s.exception, &s.argErr);
            s.Clear();
        });
        Time(names, calls, [&] {
            DISPID id = 0;
            d->GetIDsOfNames(IID_NULL, &findName, 1, LOCALE_USER_DEFAULT, &id);
            g_sink = g_sink + id;
        });
        Time(platformNames, calls, [&] {
            DISPID id = 0;
            vtableInfo->GetIDsOfNames(&findName, 1, &id);
            g_sink = g_sink + id;
        });
    }

    std::printf("Palavox.dll, %d-bit, under %s: %d calls a measurement, least of %d rounds\n\n",
                static_cast<int>(sizeof(void*) * 8), WineVersion().c_str(), calls, rounds);
    const Measurement* all[] = {
        &loop,      &direct,     &directBinary, &early,    &earlyBinary,  &late,
        &platform,  &copyFolded, &earlyFold,    &lateFold, &platformFold, &copyMarked,
        &earlyMark, &lateMark,   &platformMark, &names,    &platformNames};
    for (const Measurement* m : all) std::printf("  %-52s %9.1f ns\n", m->name, m->best);

    const struct {
        const char* what;
        const Measurement& measured;
        const Measurement& baseline;
        double goal;  // 0: no goal, shown for information
    } ratios[] = {
        {"late-bound FindString / ITypeInfo::Invoke", late, platform, 1.2},
        {"early-bound FindString / native count loop", early, loop, 4.0},
        {"early-bound FindString \"B\" / native count loop", earlyBinary, loop, 0},
        {"linked-in FindString / native count loop", direct, loop, 0},
        {"early-bound FindString / linked-in FindString", early, direct, 0},
        {"early-bound \"B\" / linked-in \"B\"", earlyBinary, directBinary, 0},
        {"late-bound RemoverAcentuacao / ITypeInfo::Invoke", lateFold, platformFold, 1.2},
        {"late-bound TrataHTML / ITypeInfo::Invoke", lateMark, platformMark, 1.2},
        {"early-bound RemoverAcentuacao / allocate and copy", earlyFold, copyFolded, 0},
        {"early-bound TrataHTML / allocate and copy", earlyMark, copyMarked, 0},
        {"GetIDsOfNames / ITypeInfo::GetIDsOfNames", names, platformNames, 0},
    };
    std::printf("\n  %-52s %9s %9s\n", "ratio", "measured", "goal");
    int missed = 0;
    for (const auto& r : ratios) {
        const double ratio = r.measured.best / r.baseline.best;
        if (r.goal > 0) {
            const bool met = ratio <= r.goal;
            missed += met ? 0 : 1;
            std::printf("  %-52s %9.2f   <= %.1f %s\n", r.what, ratio, r.goal,
                        met ? "met" : "MISSED");
        } else {
            std::printf("  %-52s %9.2f\n", r.what, ratio);
        }
    }
    std::printf("\n%s\n", missed == 0 ? "every goal met" : "goals missed: see above");

    SysFreeString(text);
    SysFreeString(search);
    SysFreeString(binary);
    SysFreeString(prose);
    SysFreeString(link);
    SysFreeString(folded);
    SysFreeString(marked);
    vtableInfo->Release();
    dispatchInfo->Release();
    p->Release();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (calls <= 0 || rounds <= 0) {
        std::printf("usage: com_bench.exe [calls per measurement] [rounds]\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int status = Run(calls, rounds);
    CoUninitialize();
    return status;
}
