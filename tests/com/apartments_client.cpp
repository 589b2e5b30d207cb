// Threads and apartments: four single-threaded apartments, each with its own
// object, call all three methods thousands of times at once on inputs of their
// own and check every answer; then calls that cross apartments through the
// registered type library's marshaler.
//   apartments_client.exe <case file>
#include <initguid.h>  // defines the identifiers of palavox_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "client_support.hpp"

namespace {

using namespace client;

constexpr int kThreads = 4;
constexpr int kRounds = 3;       // passes over the case file, early- and late-bound in turn
constexpr int kGenerated = 800;  // iterations of inputs made up by each thread
// Waits between threads are for a state; a deadline is only a fail-safe against
// a thread that never gets there (each wait here takes well under a second).
constexpr ULONGLONG kFailSafeMs = 120000;

// Until *counter reaches `count`, or the fail-safe runs out.
bool AwaitCount(LONG* counter, LONG count) {
    const ULONGLONG deadline = GetTickCount64() + kFailSafeMs;
    while (InterlockedCompareExchange(counter, 0, 0) < count) {
        if (GetTickCount64() > deadline) return false;
        Sleep(1);
    }
    return true;
}

// Past a fail-safe a thread may still be using the caller's frame: the client
// ends at once, with its tally.
[[noreturn]] void EndNow(const client::Tally& t) { ExitProcess(static_cast<UINT>(t.Finish())); }

// ------------------------------------------------------------ one apartment

struct Worker {
    int index = 0;
    const std::vector<Case>* cases = nullptr;
    LONG* ready = nullptr;
    LONG* midway = nullptr;
    HANDLE go = nullptr;
    // Results, read by the main thread once the worker has ended.
    DWORD threadId = 0;
    void* object = nullptr;
    int calls = 0;
    int wrong = 0;
    std::string firstWrong;
    bool metMidway = false;
    ULONGLONG waitedMidway = 0;  // ms

    void Wrong(const std::string& what) {
        if (wrong++ == 0) firstWrong = what;
    }
};

std::u16string Repeat(const std::u16string& s, int times) {
    std::u16string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

std::u16string Number(int n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

// Inputs no other thread sends, with answers worked out independently here.
void RunGenerated(Worker& w, _PalavoxClass* p, IDispatch* d, int i) {
    const std::u16string k = Number(w.index), n = Number(i);
    const auto call = [&](Method m, const std::vector<std::u16string>& args) {
        ++w.calls;
        return i % 2 == 0 ? CallTable(p, m, args) : CallDispatch(d, m, args);
    };
    const std::u16string link = u"http://h/" + k + u"/" + n;
    const Answer html = call(Method::TrataHTML, {u"t" + k + u" " + link + u"|x", u"_f" + k});
    const std::u16string anchor =
        u"<a href=\"" + link + u"\" target=\"_f" + k + u"\">" + link + u"</a>";
    if (html.hr != S_OK || html.text != u"t" + k + u" " + anchor + u"|x") {
        w.Wrong("TrataHTML, iteration " + std::to_string(i) + ": " + client::Escaped(html.text));
    }
    // "aB" (thread + 1) times, then "AB" (i % 5) times: "ab" ignoring case
    // finds them all; "AB" exactly finds the latter.
    const std::u16string text = Repeat(u"aB", w.index + 1) + u" " + Repeat(u"AB", i % 5);
    const Answer loose = call(Method::FindString, {text, u"ab", u""});
    if (loose.hr != S_OK || loose.count != w.index + 1 + i % 5) {
        w.Wrong("FindString ignoring case, iteration " + std::to_string(i) + ": " +
                std::to_string(loose.count));
    }
    const Answer exact = call(Method::FindString, {text, u"AB", i % 3 ? u"B" : u"b"});
    if (exact.hr != S_OK || exact.count != i % 5) {
        w.Wrong("FindString exact, iteration " + std::to_string(i) + ": " +
                std::to_string(exact.count));
    }
    const Answer folded =
        call(Method::RemoverAcentuacao, {u"A\u00e7\u00e3o" + n + u"&P\u00e3o[" + k + u"]"});
    if (folded.hr != S_OK || folded.text != u"Acao" + n + u"ePao " + k + u" ") {
        w.Wrong("RemoverAcentuacao, iteration " + std::to_string(i) + ": " +
                client::Escaped(folded.text));
    }
}

DWORD WINAPI RunWorker(void* argument) {
    Worker& w = *static_cast<Worker*>(argument);
    w.threadId = GetCurrentThreadId();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    _PalavoxClass* p = nullptr;
    IDispatch* d = nullptr;
    HRESULT hr = Create(IID__PalavoxClass, &p);
    if (SUCCEEDED(hr)) hr = p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
    w.object = p;
    // Every thread holds its object before any of them calls.
    InterlockedIncrement(w.ready);
    WaitForSingleObject(w.go, INFINITE);
    if (FAILED(hr)) {
        w.Wrong("CoCreateInstance gave " + Hex(hr));
    } else {
        const std::vector<Case>& cases = *w.cases;
        // Each thread walks the cases from its own starting point.
        const std::size_t offset = cases.size() * static_cast<std::size_t>(w.index) / kThreads;
        for (int round = 0; round < kRounds; ++round) {
            for (std::size_t j = 0; j < cases.size(); ++j) {
                const Case& c = cases[(offset + j) % cases.size()];
                const bool late = (round + static_cast<int>(j)) % 2 == 1;
                const Answer a =
                    late ? CallDispatch(d, c.method, c.args) : CallTable(p, c.method, c.args);
                ++w.calls;
                if (!Gives(c, a)) {
                    w.Wrong(palavox::cases::Describe(c) + (late ? " late-bound" : " early-bound") +
                            " gave " + Show(a));
                }
            }
            // After the first pass every thread waits for the others: each is then
            // part-way through its calls while the others are too, however the
            // machine schedules them (a time-based overlap fails on a busy machine).
            if (round == 0) {
                const ULONGLONG arrived = GetTickCount64();
                InterlockedIncrement(w.midway);
                w.metMidway = AwaitCount(w.midway, kThreads);
                w.waitedMidway = GetTickCount64() - arrived;
            }
        }
        for (int i = 0; i < kGenerated; ++i) RunGenerated(w, p, d, i);
    }
    if (d) d->Release();
    if (p && p->Release() != 0) w.Wrong("the object outlived its last Release");
    CoUninitialize();
    return 0;
}

void CheckConcurrentApartments(client::Tally& t, const std::vector<Case>& cases) {
    LONG ready = 0, midway = 0;
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Worker workers[kThreads];
    HANDLE threads[kThreads] = {};
    for (int i = 0; i < kThreads; ++i) {
        workers[i].index = i;
        workers[i].cases = &cases;
        workers[i].ready = &ready;
        workers[i].midway = &midway;
        workers[i].go = go;
        threads[i] = CreateThread(nullptr, 0, RunWorker, &workers[i], 0, nullptr);
        t.Check(threads[i] != nullptr, "thread " + std::to_string(i) + " started");
    }
    if (!t.Check(AwaitCount(&ready, kThreads), "the four threads hold their objects")) EndNow(t);
    const ULONGLONG started = GetTickCount64();
    SetEvent(go);
    const DWORD waited =
        WaitForMultipleObjects(kThreads, threads, TRUE, static_cast<DWORD>(2 * kFailSafeMs));
    if (!t.Check(waited < WAIT_OBJECT_0 + kThreads, "the four threads finished")) EndNow(t);
    const ULONGLONG took = GetTickCount64() - started;
    for (HANDLE h : threads) CloseHandle(h);
    CloseHandle(go);

    for (int i = 0; i < kThreads; ++i) {
        const Worker& w = workers[i];
        const std::string who = "thread " + std::to_string(i);
        t.Check(w.wrong == 0,
                who + ": " + std::to_string(w.wrong) + " wrong answers, first: " + w.firstWrong);
        const int expectedCalls = kRounds * static_cast<int>(cases.size()) + 4 * kGenerated;
        t.Check(w.calls == expectedCalls, who + " made " + std::to_string(w.calls) + " calls");
        for (int j = 0; j < i; ++j) {
            t.Check(w.threadId != workers[j].threadId && w.object != workers[j].object,
                    who + " had its own thread and object, apart from thread " + std::to_string(j));
        }
        t.Check(w.metMidway, who + " was part-way through its calls while the other three were");
    }
    ULONGLONG longest = 0;
    for (const Worker& w : workers) longest = w.waitedMidway > longest ? w.waitedMidway : longest;
    std::printf("four apartments: %d calls each in %llu ms, at most %llu ms waiting midway\n",
                workers[0].calls, took, longest);
}

// ------------------------------------------------------------ across apartments

struct Crossing {
    IStream* stream = nullptr;  // the main thread's object, marshaled
    bool createHere = false;    // or create one from the multithreaded apartment
    HRESULT hr = E_FAIL;
    bool proxy = false;
    Answer folded, counted, failed, failedLate;
};

DWORD WINAPI RunCrossing(void* argument) {
    Crossing& c = *static_cast<Crossing*>(argument);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    _PalavoxClass* p = nullptr;
    if (c.createHere) {
        // An apartment-model class asked for from the multithreaded apartment
        // lives in a host apartment of its own; this thread gets a proxy.
        c.hr = Create(IID__PalavoxClass, &p);
    } else {
        c.hr = CoGetInterfaceAndReleaseStream(c.stream, IID__PalavoxClass,
                                              reinterpret_cast<void**>(&p));
    }
    if (SUCCEEDED(c.hr)) {
        IUnknown* security = nullptr;
        c.proxy =
            SUCCEEDED(p->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security)));
        if (security) security->Release();
        c.folded = CallTable(p, Method::RemoverAcentuacao, {u"Cora\u00e7\u00e3o & raz\u00e3o"});
        c.counted = CallTable(p, Method::FindString, {u"Casa casa CASA", u"casa", u""});
        c.failed = CallTable(p, Method::FindString, {u"", u"a", u""});
        // EXCEPINFO travels back with the call, description included.
        IDispatch* d = nullptr;
        if (SUCCEEDED(p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) {
            c.failedLate = CallDispatch(d, Method::FindString, {u"", u"a", u""});
            d->Release();
        }
        p->Release();
    }
    CoUninitialize();
    return 0;
}

// Runs `c` on a new thread while this single-threaded apartment keeps
// dispatching the calls that come back to it.
bool RunPumping(Crossing& c) {
    HANDLE thread = CreateThread(nullptr, 0, RunCrossing, &c, 0, nullptr);
    if (thread == nullptr) return false;
    const ULONGLONG deadline = GetTickCount64() + kFailSafeMs;
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, 1000, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (GetTickCount64() > deadline) {
            CloseHandle(thread);
            return false;
        }
    }
    CloseHandle(thread);
    return true;
}

void CheckCrossing(client::Tally& t, const Crossing& c, const std::string& how) {
    t.Check(c.hr == S_OK, how + ": the object reached the other apartment, " + Hex(c.hr));
    if (c.hr != S_OK) return;
    t.Check(c.proxy, how + ": the other apartment holds a proxy, not the object");
    t.Check(c.folded.hr == S_OK && c.folded.text == u"Coracao e razao",
            how + ": RemoverAcentuacao gave " + Hex(c.folded.hr) + " " +
                client::Escaped(c.folded.text));
    t.Check(c.counted.hr == S_OK && c.counted.count == 3,
            how + ": FindString gave " + Hex(c.counted.hr) + " " + std::to_string(c.counted.count));
    t.Check(c.failed.hr == kTypeMismatch && c.failed.count == 0,
            how + ": a failing FindString gave " + Hex(c.failed.hr));
    t.Check(c.failedLate.hr == kTypeMismatch && c.failedLate.description == u"Type mismatch",
            how + ": a failing FindString through dispatch gave " + Hex(c.failedLate.hr) + " " +
                client::Escaped(c.failedLate.description));
}

void CheckAcrossApartments(client::Tally& t) {
    _PalavoxClass* p = nullptr;
    HRESULT hr = Create(IID__PalavoxClass, &p);
    if (!t.Check(hr == S_OK, "CoCreateInstance in the main apartment gave " + Hex(hr))) return;
    IUnknown* security = nullptr;
    t.Check(p->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security)) ==
                E_NOINTERFACE,
            "in its own apartment the object is reached directly");
    if (security) security->Release();

    Crossing marshaled;
    hr = CoMarshalInterThreadInterfaceInStream(IID__PalavoxClass, p, &marshaled.stream);
    if (t.Check(hr == S_OK, "CoMarshalInterThreadInterfaceInStream gave " + Hex(hr))) {
        if (!t.Check(RunPumping(marshaled), "the marshaled calls finished")) EndNow(t);
        CheckCrossing(t, marshaled, "marshaled to the multithreaded apartment");
    }
    Crossing created;
    created.createHere = true;
    if (!t.Check(RunPumping(created), "the host-apartment calls finished")) EndNow(t);
    CheckCrossing(t, created, "created from the multithreaded apartment");
    t.Check(p->Release() == 0, "the main apartment's object is released last");
}

}  // namespace

int main(int argc, char** argv) {
    const char* casesPath = client::Argument(argc, argv, 1, "case file");
    client::Tally t;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<Case> cases = client::LoadCases(t, casesPath);
    if (cases.size() >= client::kMinimumCases) CheckConcurrentApartments(t, cases);
    CheckAcrossApartments(t);
    CoUninitialize();
    return t.Finish();
}
