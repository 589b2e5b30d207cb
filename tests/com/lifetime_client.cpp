// Lifetime of the server seen from a C++ client: reference counts, the
// interfaces the object answers and refuses, the class factory and its locks,
// the DLL staying loaded, memory staying flat over a thousand objects, and
// (32-bit only) a text too large for the address space.
//   lifetime_client.exe            everything but the memory pressure
//   lifetime_client.exe pressure   a text that cannot fit, then normal calls
#include <initguid.h>  // defines the identifiers of palavox_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <dispex.h>
#include <objsafe.h>
#include <psapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "client_support.hpp"

namespace {

using namespace client;

// A GUID nobody implements.
const GUID kMadeUp = {0x0d3b3c9e, 0x51a4, 0x4a55, {0x9b, 0x1e, 0x6e, 0x2f, 0x3c, 0x7a, 0x11, 0x42}};

// ------------------------------------------------------------ memory

// Bytes in busy blocks of every heap of the process: the DLL's C runtime heap,
// the process heap that holds BSTRs, and any other.
SIZE_T HeapBytes() {
    std::vector<HANDLE> heaps(64);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count);
        count = GetProcessHeaps(count, heaps.data());
    }
    SIZE_T total = 0;
    for (DWORD i = 0; i < count && i < heaps.size(); ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) total += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

// Private committed memory, large blocks included, from the address space itself.
SIZE_T CommittedBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info{};
    for (const char* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;
         at = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        if (static_cast<const char*>(info.BaseAddress) + info.RegionSize < at) break;
    }
    return total;
}

// What the process reports for itself.
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? counters.PagefileUsage
               : 0;
}

std::string Kib(long long bytes) { return std::to_string(bytes / 1024) + " KiB"; }

// ------------------------------------------------------------ reference counts

void CheckReferenceCounts(client::Tally& t) {
    _PalavoxClass* p = NewObject();
    if (!t.Check(p != nullptr, "create for reference counts")) return;
    // One count for the whole object, whichever interface moves it.
    enum class Op { AddRef, Release, Query };
    enum Target { kOwn, kSupport, kDispatch, kUnknown };
    const struct {
        Op op;
        Target target;
        ULONG expected;  // AddRef and Release only
    } steps[] = {
        {Op::AddRef, kOwn, 2},       {Op::AddRef, kOwn, 3},       {Op::Query, kSupport, 0},
        {Op::AddRef, kSupport, 5},   {Op::Release, kOwn, 4},      {Op::Query, kDispatch, 0},
        {Op::Release, kSupport, 4},  {Op::AddRef, kDispatch, 5},  {Op::Query, kUnknown, 0},
        {Op::Release, kDispatch, 5}, {Op::Release, kDispatch, 4}, {Op::Release, kUnknown, 3},
        {Op::Release, kSupport, 2},  {Op::Release, kOwn, 1},      {Op::AddRef, kOwn, 2},
        {Op::Release, kOwn, 1},
    };
    const IID* iids[] = {&IID__PalavoxClass, &IID_ISupportErrorInfo, &IID_IDispatch, &IID_IUnknown};
    IUnknown* held[] = {p, nullptr, nullptr, nullptr};
    int index = 0;
    for (const auto& step : steps) {
        const std::string what = "step " + std::to_string(++index);
        if (step.op == Op::Query) {
            void* got = nullptr;
            const HRESULT hr = p->QueryInterface(*iids[step.target], &got);
            t.Check(hr == S_OK && got != nullptr, what + ": QueryInterface gave " + Hex(hr));
            held[step.target] = static_cast<IUnknown*>(got);
            continue;
        }
        IUnknown* target = held[step.target];
        if (!t.Check(target != nullptr, what + ": interface at hand")) return;
        const ULONG got = step.op == Op::AddRef ? target->AddRef() : target->Release();
        t.Check(got == step.expected, what + ": count " + std::to_string(got) + ", expected " +
                                          std::to_string(step.expected));
    }
    t.Check(p->Release() == 0, "the last Release gives 0");
}

// ------------------------------------------------------------ interfaces

void CheckInterfaces(client::Tally& t) {
    _PalavoxClass* p = NewObject();
    if (!t.Check(p != nullptr, "create for QueryInterface")) return;
    const IID* claimed[] = {&IID_IUnknown, &IID_IDispatch, &IID__PalavoxClass,
                            &IID_PalavoxClass___v0, &IID_ISupportErrorInfo};
    const char* claimedNames[] = {"IUnknown", "IDispatch", "_PalavoxClass", "PalavoxClass___v0",
                                  "ISupportErrorInfo"};
    const struct {
        const char* name;
        const IID* iid;
    } refused[] = {
        {"IMarshal", &IID_IMarshal},
        {"IClassFactory", &IID_IClassFactory},
        {"IPersist", &IID_IPersist},
        {"IPersistStreamInit", &IID_IPersistStreamInit},
        {"IProvideClassInfo", &IID_IProvideClassInfo},
        {"IConnectionPointContainer", &IID_IConnectionPointContainer},
        {"IDispatchEx", &IID_IDispatchEx},
        {"IObjectSafety", &IID_IObjectSafety},
        {"IStream", &IID_IStream},
        {"IID_NULL", &IID_NULL},
        {"a made-up GUID", &kMadeUp},
    };
    IUnknown* identity = nullptr;
    p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    // Reflexive, symmetric and transitive: every claimed interface reaches every other
    // one, each refuses the same list, and all share one IUnknown.
    for (std::size_t from = 0; from < std::size(claimed); ++from) {
        IUnknown* start = nullptr;
        if (!t.Check(SUCCEEDED(p->QueryInterface(*claimed[from], reinterpret_cast<void**>(&start))),
                     std::string("QueryInterface ") + claimedNames[from])) {
            continue;
        }
        for (std::size_t to = 0; to < std::size(claimed); ++to) {
            IUnknown* got = nullptr;
            const HRESULT hr = start->QueryInterface(*claimed[to], reinterpret_cast<void**>(&got));
            IUnknown* back = nullptr;
            if (got) got->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back));
            t.Check(hr == S_OK && back == identity, std::string(claimedNames[from]) + " -> " +
                                                        claimedNames[to] + " gave " + Hex(hr));
            if (back) back->Release();
            if (got) got->Release();
        }
        for (const auto& r : refused) {
            void* got = reinterpret_cast<void*>(1);
            const HRESULT hr = start->QueryInterface(*r.iid, &got);
            t.Check(hr == E_NOINTERFACE && got == nullptr,
                    std::string(claimedNames[from]) + " -> " + r.name + " gave " + Hex(hr));
        }
        start->Release();
    }
    if (identity) identity->Release();
    // Every QueryInterface above was balanced.
    t.Check(p->AddRef() == 2 && p->Release() == 1, "QueryInterface left the count at 1");
    p->Release();
}

// ------------------------------------------------------------ class factory

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

CanUnloadNow FindCanUnloadNow() {
    HMODULE dll = GetModuleHandleW(L"Palavox.dll");
    if (dll == nullptr) return nullptr;
    return reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
}

void CheckFactory(client::Tally& t) {
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(CLSID_PalavoxClass, CLSCTX_INPROC_SERVER, nullptr,
                                  IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (!t.Check(hr == S_OK && factory != nullptr, "CoGetClassObject gave " + Hex(hr))) return;
    const CanUnloadNow canUnload = FindCanUnloadNow();
    if (!t.Check(canUnload != nullptr, "DllCanUnloadNow found in the loaded DLL")) {
        factory->Release();
        return;
    }
    const struct {
        const char* name;
        const IID* iid;
        HRESULT hr;
    } rows[] = {
        {"IUnknown", &IID_IUnknown, S_OK},
        {"IClassFactory", &IID_IClassFactory, S_OK},
        {"IClassFactory2", &IID_IClassFactory2, E_NOINTERFACE},
        {"IDispatch", &IID_IDispatch, E_NOINTERFACE},
        {"IMarshal", &IID_IMarshal, E_NOINTERFACE},
        {"_PalavoxClass", &IID__PalavoxClass, E_NOINTERFACE},
    };
    for (const auto& row : rows) {
        IUnknown* got = reinterpret_cast<IUnknown*>(1);
        hr = factory->QueryInterface(*row.iid, reinterpret_cast<void**>(&got));
        t.Check(hr == row.hr && (SUCCEEDED(hr) ? got != nullptr : got == nullptr),
                std::string("factory QueryInterface ") + row.name + " gave " + Hex(hr));
        if (SUCCEEDED(hr)) got->Release();
    }
    t.Check(factory->CreateInstance(nullptr, IID_IDispatch, nullptr) == E_POINTER,
            "CreateInstance into a null pointer");

    // Locks and objects in any order: the server never offers to unload.
    const struct {
        const char* what;
        BOOL lock;
    } locks[] = {{"lock", TRUE},
                 {"lock again", TRUE},
                 {"unlock", FALSE},
                 {"unlock again", FALSE},
                 {"unlock without a lock", FALSE},
                 {"relock", TRUE}};
    for (const auto& l : locks) {
        t.Check(factory->LockServer(l.lock) == S_OK, std::string("LockServer ") + l.what);
        t.Check(canUnload() == S_FALSE, std::string("DllCanUnloadNow after ") + l.what);
    }
    factory->LockServer(FALSE);
    IDispatch* object = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
    t.Check(hr == S_OK && object != nullptr, "CreateInstance after the locks");
    factory->Release();
    t.Check(canUnload() == S_FALSE, "DllCanUnloadNow with an object alive");
    if (object) object->Release();
    t.Check(canUnload() == S_FALSE, "DllCanUnloadNow with nothing alive");

    // COM asks the DLL whether to unload it; it stays, and keeps working.
    CoFreeUnusedLibrariesEx(0, 0);
    CoFreeUnusedLibraries();
    t.Check(GetModuleHandleW(L"Palavox.dll") != nullptr,
            "still loaded after CoFreeUnusedLibraries");
    _PalavoxClass* p = NewObject();
    if (t.Check(p != nullptr, "create after CoFreeUnusedLibraries")) {
        const Answer folded = CallTable(p, Method::RemoverAcentuacao, {u"\u00c1gua"});
        t.Check(folded.hr == S_OK && folded.text == u"Agua",
                "calls work after CoFreeUnusedLibraries");
        p->Release();
    }
}

// ------------------------------------------------------------ a thousand objects

std::u16string U16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

// One object's life, with each method called early- and late-bound, a failing
// call included; false on any wrong answer.
bool Cycle(int i) {
    _PalavoxClass* p = NewObject();
    if (p == nullptr) return false;
    const std::u16string n = U16(std::to_wstring(i));
    const std::u16string link = u"http://x/" + n;
    const auto marked = [&](const std::u16string& target) {
        return u"Cora\u00e7\u00e3o <a href=\"" + link + u"\" target=\"" + target + u"\">" + link +
               u"</a> fim";
    };
    Bstr text(u"Cora\u00e7\u00e3o " + link + u" fim"), search(L"O"), empty(L"");
    const Answer counted = CallTable(p, Method::FindString, {text.get(), search.get(), nullptr});
    const Answer failed = CallTable(p, Method::FindString, {empty.get(), search.get(), nullptr});
    const Answer folded = CallTable(p, Method::RemoverAcentuacao, {text.get()});
    const Answer html = CallTable(p, Method::TrataHTML, {text.get(), nullptr});
    bool ok = counted.hr == S_OK && counted.count == 2 && failed.hr != S_OK && failed.count == 0 &&
              folded.hr == S_OK && folded.text == u"Coracao http   x " + n + u" fim" &&
              html.hr == S_OK && html.text == marked(u"_self");

    IDispatch* d = nullptr;
    if (SUCCEEDED(p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) {
        // The target a number, turned into text by dispatch.
        const Answer late = CallDispatch(d, Method::TrataHTML, {Str(text.text()), I4(i)});
        // A failure through dispatch fills EXCEPINFO with strings the caller frees.
        const Answer lateFailure =
            CallDispatch(d, Method::FindString, {OfType(VT_EMPTY), Str(u"a")});
        // With no result slot, the result made for it must still be freed.
        VARIANT arg = Str(text.text());
        DISPPARAMS folding{&arg, nullptr, 1, 0};
        const HRESULT unasked = d->Invoke(kRemover, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                          &folding, nullptr, nullptr, nullptr);
        VariantClear(&arg);
        d->Release();
        ok = ok && late.hr == S_OK && late.type == VT_BSTR && late.text == marked(n) &&
             lateFailure.exception && unasked == S_OK;
    } else {
        ok = false;
    }
    return p->Release() == 0 && ok;
}

// Runs `cycles` cycles and returns how much the heaps grew meanwhile.
long long MeasureCycles(client::Tally& t, int cycles, int seed, bool leakOneString) {
    std::vector<BSTR> leaked;
    leaked.reserve(leakOneString ? static_cast<std::size_t>(cycles) : 0);
    const SIZE_T before = HeapBytes();
    int wrong = 0;
    for (int i = 0; i < cycles; ++i) {
        if (!Cycle(seed + i)) ++wrong;
        if (leakOneString) leaked.push_back(SysAllocString(L"deliberately leaked"));
    }
    const SIZE_T after = HeapBytes();
    for (BSTR s : leaked) SysFreeString(s);
    t.Check(wrong == 0,
            std::to_string(wrong) + " of " + std::to_string(cycles) + " cycles answered wrongly");
    return static_cast<long long>(after) - static_cast<long long>(before);
}

void CheckMemoryFlat(client::Tally& t) {
    // Warm-up: the type library, the BSTR cache, the error-info object of this
    // thread and the heaps' free lists reach their steady state.
    MeasureCycles(t, 100, 0, false);
    // The measurement must be able to see a leak: a string the size of the
    // smallest text of a cycle, lost a thousand times, shows up.
    const long long control = MeasureCycles(t, 1000, 100, true);
    // (The BSTR cache may hand out a few strings it already held.)
    t.Check(control >= 32 * 1024, "a deliberate leak of 1000 strings is seen: " + Kib(control));

    // The tolerance: 8 KiB over 1000 cycles is less than 9 bytes a cycle,
    // while the smallest thing a cycle could lose (a BSTR or the object) is
    // larger than that. Caches whose size depends on what was freed last, and
    // heap bookkeeping, move a few hundred bytes either way.
    const long long kTolerance = 8 * 1024;
    const SIZE_T committedBefore = CommittedBytes();
    const SIZE_T privateBefore = PrivateBytes();
    const long long growth = MeasureCycles(t, 1000, 2000, false);
    const long long committed =
        static_cast<long long>(CommittedBytes()) - static_cast<long long>(committedBefore);
    const long long privateGrowth =
        static_cast<long long>(PrivateBytes()) - static_cast<long long>(privateBefore);
    std::printf("over 1000 objects: heap %lld bytes, committed %lld bytes, private %lld bytes\n",
                growth, committed, privateGrowth);
    t.Check(growth < kTolerance, "heap grew by " + Kib(growth) + " over 1000 objects");
    // Pages are committed and counted in 4 KiB steps, and heaps grow in larger ones.
    t.Check(committed < 256 * 1024, "committed memory grew by " + Kib(committed));
    t.Check(privateBefore > 0 && privateGrowth < 256 * 1024,
            "private bytes grew by " + Kib(privateGrowth));
}

// ------------------------------------------------------------ memory pressure

constexpr SIZE_T kGranularity = 64 * 1024;

// The largest block of address space that can still be reserved.
SIZE_T LargestReservable() {
    // Binary search in units of the allocation granularity, up to 2 GiB.
    SIZE_T low = 0, high = (SIZE_T{1} << 31) / kGranularity;
    while (low < high) {
        const SIZE_T mid = (low + high + 1) / 2;
        void* p = VirtualAlloc(nullptr, mid * kGranularity, MEM_RESERVE, PAGE_NOACCESS);
        if (p != nullptr) {
            VirtualFree(p, 0, MEM_RELEASE);
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return low * kGranularity;
}

// Address space held back, reserved but never committed, so that a text of
// a known size cannot be copied: the result does not depend on how the
// address space happens to be laid out.
class Ballast {
public:
    Ballast() = default;
    Ballast(const Ballast&) = delete;
    Ballast& operator=(const Ballast&) = delete;
    ~Ballast() { Release(); }

    // Reserves every block of at least `minimum` bytes.
    void Fill(SIZE_T minimum) {
        for (SIZE_T size = LargestReservable(); size >= minimum; size = LargestReservable()) {
            void* p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
            if (p == nullptr) break;
            blocks_.push_back({static_cast<char*>(p), size});
        }
    }
    // Gives back room for exactly one block of `size` bytes (rounded up).
    bool Open(SIZE_T size) {
        size = (size + kGranularity - 1) / kGranularity * kGranularity;
        for (Block& b : blocks_) {
            if (b.size < size) continue;
            VirtualFree(b.base, 0, MEM_RELEASE);
            const SIZE_T rest = b.size - size;
            b.base = rest == 0 ? nullptr
                               : static_cast<char*>(
                                     VirtualAlloc(b.base + size, rest, MEM_RESERVE, PAGE_NOACCESS));
            b.size = b.base ? rest : 0;
            return rest == 0 || b.base != nullptr;
        }
        return false;
    }
    void Release() {
        for (const Block& b : blocks_) {
            if (b.base) VirtualFree(b.base, 0, MEM_RELEASE);
        }
        blocks_.clear();
    }

private:
    struct Block {
        char* base;
        SIZE_T size;
    };
    std::vector<Block> blocks_;
};

// The three roads a text takes into the methods.
enum Road { kEarly, kDispatch, kDispatchByReference };
const char* const kMethodNames[] = {"TrataHTML", "FindString", "RemoverAcentuacao"};
const char* const kRoadNames[] = {"", " through dispatch", " through dispatch by reference"};

// The huge text repeats this pattern; RemoverAcentuacao folds it to `kPlain`.
const wchar_t kPattern[] = L"a\u00e7\u00e3o http://x/y ";
const wchar_t kPlain[] = L"acao http   x y ";
constexpr UINT kPeriod = 16;

// What one call on a huge text gave.
struct HugeCall {
    HRESULT hr = E_FAIL;       // the method's status, from EXCEPINFO through dispatch
    bool exception = false;    // dispatch reported DISP_E_EXCEPTION
    bool emptyResult = false;  // the result slot is empty (TrataHTML, RemoverAcentuacao) or 0
    LONG count = -5;           // FindString
    UINT length = 0;           // the text result's
    bool folded = false;       // RemoverAcentuacao's result, sampled
};

bool FoldedRight(BSTR s) {
    bool right = s != nullptr;
    for (UINT i = 0; right && i < SysStringLen(s); i += 9973) right = s[i] == kPlain[i % kPeriod];
    return right;
}

HugeCall CallOnHuge(_PalavoxClass* p, Method method, Road road, BSTR& huge) {
    HugeCall c;
    Bstr search(L"HTTP");
    if (road == kEarly) {
        Bstr out;
        switch (method) {
            case Method::TrataHTML:
                c.hr = p->TrataHTML(huge, nullptr, out.out());
                break;
            case Method::FindString:
                c.hr = p->FindString(huge, search.get(), nullptr, &c.count);
                break;
            case Method::RemoverAcentuacao:
                c.hr = p->RemoverAcentuacao(huge, out.out());
                break;
        }
        c.emptyResult = method == Method::FindString ? c.count == 0 : out.get() == nullptr;
        c.length = SysStringLen(out.get());
        c.folded = method == Method::RemoverAcentuacao && FoldedRight(out.get());
        return c;
    }
    IDispatch* d = nullptr;
    if (FAILED(p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) return c;
    VARIANT args[2], result;  // the arguments last to first: the text is the last one
    VariantInit(&result);
    const UINT count = method == Method::FindString ? 2 : 1;
    VARIANT& text = args[count - 1];
    V_VT(&text) = road == kDispatchByReference ? VT_BYREF | VT_BSTR : VT_BSTR;
    if (road == kDispatchByReference) {
        V_BSTRREF(&text) = &huge;
    } else {
        V_BSTR(&text) = huge;  // lent, not copied
    }
    if (method == Method::FindString) {
        V_VT(&args[0]) = VT_BSTR;
        V_BSTR(&args[0]) = search.get();
    }
    DISPPARAMS params{args, nullptr, count, 0};
    EXCEPINFO exception{};
    c.hr = d->Invoke(DispIdOf(method), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                     &result, &exception, nullptr);
    c.exception = c.hr == DISP_E_EXCEPTION;
    if (c.exception) c.hr = exception.scode;
    // Nothing, or the empty text the method left in its slot.
    c.emptyResult = V_VT(&result) == VT_EMPTY ||
                    (V_VT(&result) == VT_BSTR && SysStringLen(V_BSTR(&result)) == 0);
    if (V_VT(&result) == VT_I4) c.count = V_I4(&result);
    if (V_VT(&result) == VT_BSTR) {
        c.length = SysStringLen(V_BSTR(&result));
        c.folded = method == Method::RemoverAcentuacao && FoldedRight(V_BSTR(&result));
    }
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    d->Release();
    return c;
}

bool SmallCallWorks(_PalavoxClass* p) {
    Bstr small(L"\u00e9 http://a");
    const Answer html = CallTable(p, Method::TrataHTML, {small.get(), nullptr});
    return html.hr == S_OK &&
           html.text == u"\u00e9 <a href=\"http://a\" target=\"_self\">http://a</a>";
}

// A text of 200 million code units (400 MB) in a 32-bit process: first with
// no room left for a block its size, then with room for one such block and
// no more. The server reads the caller's text where it is and writes its
// result straight into the one string it hands back, so counting needs no
// room at all, folding accents (a result as long as the text) needs exactly
// the one block, and link markup (a longer result) does not fit. Each refused
// call gives E_OUTOFMEMORY (through dispatch, an exception carrying it) with
// an empty result slot, and the next call works.
void CheckPressure(client::Tally& t) {
    if (!t.Check(sizeof(void*) == 4, "memory pressure runs in a 32-bit process")) return;
    _PalavoxClass* p = NewObject();
    if (!t.Check(p != nullptr, "create for memory pressure")) return;
    t.Check(SmallCallWorks(p), "a small call before the pressure");

    constexpr UINT kUnits = 200u * 1000u * 1000u;
    constexpr SIZE_T kBytes = SIZE_T{kUnits} * sizeof(OLECHAR);
    static_assert(kUnits % kPeriod == 0 && sizeof kPattern / sizeof kPattern[0] == kPeriod + 1);
    const LONG links = static_cast<LONG>(kUnits / kPeriod);

    const SIZE_T committedBefore = CommittedBytes();
    BSTR huge = SysAllocStringLen(nullptr, kUnits);
    if (!t.Check(huge != nullptr, "the client holds a text of 200 million code units")) {
        p->Release();
        return;
    }
    for (UINT i = 0; i < kUnits; ++i) huge[i] = kPattern[i % kPeriod];

    struct Row {
        Method method;
        Road road;
        bool fits;
    };
    const auto run = [&](const Row& row, const std::string& when) {
        const HugeCall c = CallOnHuge(p, row.method, row.road, huge);
        const std::string what = std::string(kMethodNames[static_cast<int>(row.method)]) +
                                 kRoadNames[row.road] + " " + when + " gave " + Hex(c.hr);
        if (!row.fits) {
            t.Check(c.hr == E_OUTOFMEMORY && c.exception == (row.road != kEarly) && c.emptyResult,
                    what + (c.exception ? " as an exception" : ""));
        } else if (row.method == Method::FindString) {
            t.Check(c.hr == S_OK && c.count == links, what + ", " + std::to_string(c.count));
        } else {
            t.Check(c.hr == S_OK && c.length == kUnits && c.folded,
                    what + ", " + std::to_string(c.length) + " units");
        }
        t.Check(SmallCallWorks(p), "a small call after " + what);
    };
    {
        Ballast ballast;
        ballast.Fill(64 * 1024 * 1024);
        const SIZE_T room = LargestReservable();
        if (t.Check(room < kBytes, "no room left for a block the text's size: largest block " +
                                       Kib(static_cast<long long>(room)))) {
            const Row rows[] = {
                {Method::FindString, kEarly, true},
                {Method::FindString, kDispatch, true},
                {Method::FindString, kDispatchByReference, true},
                {Method::TrataHTML, kEarly, false},
                {Method::RemoverAcentuacao, kEarly, false},
                {Method::RemoverAcentuacao, kDispatchByReference, false},
            };
            for (const Row& row : rows) run(row, "with no room");
        }
        // Room for one block the text's size (plus the little a call needs
        // besides), never for two.
        const bool opened = ballast.Open(kBytes + 16 * 1024 * 1024);
        const SIZE_T opening = LargestReservable();
        if (t.Check(opened && opening >= kBytes && opening < 2 * kBytes,
                    "room opened for one block: largest block " +
                        Kib(static_cast<long long>(opening)))) {
            const Row rows[] = {
                {Method::FindString, kEarly, true},
                {Method::RemoverAcentuacao, kEarly, true},
                {Method::RemoverAcentuacao, kDispatch, true},
                {Method::RemoverAcentuacao, kDispatchByReference, true},
                {Method::TrataHTML, kEarly, false},
                {Method::TrataHTML, kDispatch, false},
            };
            for (const Row& row : rows) run(row, "with room for one block");
        }
    }
    bool intact = SysStringLen(huge) == kUnits;
    for (UINT i = 0; i < kUnits && intact; i += 9973) intact = huge[i] == kPattern[i % kPeriod];
    t.Check(intact, "the caller's text is untouched");
    SysFreeString(huge);

    // A large text that fits is processed in full.
    constexpr UINT kFits = 40u * 1000u * 1000u;
    BSTR large = SysAllocStringLen(nullptr, kFits);
    if (t.Check(large != nullptr, "a text of 40 million code units")) {
        for (UINT i = 0; i < kFits; ++i) large[i] = kPattern[i % kPeriod];
        Bstr out;
        const HRESULT hr = p->RemoverAcentuacao(large, out.out());
        const bool folded =
            hr == S_OK && SysStringLen(out.get()) == kFits && FoldedRight(out.get());
        t.Check(folded, "RemoverAcentuacao on 40 million code units gave " + Hex(hr));
        SysFreeString(large);
    }

    // Everything the refused calls took was given back (the heaps keep a few
    // pages of their own).
    const long long left =
        static_cast<long long>(CommittedBytes()) - static_cast<long long>(committedBefore);
    t.Check(left < 16 * 1024 * 1024, "memory still held after the pressure: " + Kib(left));
    t.Check(p->Release() == 0, "the object survives the pressure and is released");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    client::Tally t;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (mode == "pressure") {
        CheckPressure(t);
    } else if (mode.empty()) {
        CheckReferenceCounts(t);
        CheckInterfaces(t);
        CheckFactory(t);
        CheckMemoryFlat(t);
    } else {
        t.Check(false, "unknown mode " + mode);
    }
    CoUninitialize();
    return t.Finish();
}
