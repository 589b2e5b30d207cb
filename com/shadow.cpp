#include "shadow.hpp"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "adoption.hpp"
#include "bstr_text.hpp"

namespace palavox::com {
namespace {

// The installed component's DllGetClassObject, from its DLL loaded once and
// kept loaded, as the platform keeps an in-process server.
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
GetClassObject g_oldEntry = nullptr;
HRESULT g_oldLoaded = E_UNEXPECTED;
INIT_ONCE g_oldOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK LoadOld(PINIT_ONCE, PVOID, PVOID*) {
    const Adoption& a = CurrentAdoption();
    HMODULE module = LoadLibraryExW(a.server.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    // branch-untaken: shadow mode needs the old DLL (palavox-adopt checks); no test removes it
    if (module == nullptr) {
        // branch-untaken: as above
        g_oldLoaded = HRESULT_FROM_WIN32(GetLastError());
        return TRUE;
    }
    g_oldEntry = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    // branch-untaken: an in-process server registered as one exports DllGetClassObject
    g_oldLoaded = g_oldEntry != nullptr ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    return TRUE;
}

std::u16string Units(BSTR s) {
    const std::u16string_view v = View(s);
    return std::u16string(v);
}

std::int64_t ErrorNumber(HRESULT hr) {
    // branch-untaken: both fail with FACILITY_CONTROL numbers; out of memory: 32-bit only
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) return HRESULT_CODE(hr);
    // branch-untaken: as above
    if (hr == E_OUTOFMEMORY) return 7;
    return static_cast<std::int64_t>(static_cast<unsigned long>(hr));
}

shadow::Outcome Failed(HRESULT hr, IErrorInfo* info) {
    shadow::Outcome o;
    o.kind = shadow::Outcome::Kind::Error;
    o.number = ErrorNumber(hr);
    BSTR description = nullptr;
    // branch-untaken: every failure of either component sets its error info
    if (info != nullptr && SUCCEEDED(info->GetDescription(&description))) {
        o.text = Units(description);
        SysFreeString(description);
    }
    return o;
}

// This process's recording: its files, and the recorder behind one lock.
class FileParts final : public shadow::Parts {
public:
    explicit FileParts(std::wstring stem) : stem_(std::move(stem)) {}
    std::int64_t Open(unsigned n) override {
        const std::wstring path = stem_ + std::to_wstring(n) + L".rec";
        file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) return -1;
        LARGE_INTEGER size{};
        // branch-untaken: a file just opened for appending has a size
        if (!GetFileSizeEx(file_, &size)) {
            Close();
            return -1;
        }
        return size.QuadPart;
    }
    // One WriteFile a line, unbuffered here: a record is on the file, or not at all.
    bool Append(std::string_view bytes) override {
        DWORD written = 0;
        return file_ != INVALID_HANDLE_VALUE &&
               // branch-untaken: a full disk under an open file: the tests take the folder away
               // instead
               WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         // branch-untaken: as above
                         nullptr) &&
               written == bytes.size();
    }
    void Close() override {
        // branch-untaken: the recorder closes only a part it opened
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
    }

private:
    std::wstring stem_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

std::u16string Wide16(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }

std::wstring Stamp(const SYSTEMTIME& t, bool iso) {
    wchar_t text[32];
    std::swprintf(text, 32, iso ? L"%04u-%02u-%02uT%02u:%02u:%02uZ" : L"%04u%02u%02u-%02u%02u%02u",
                  t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

struct Shadow {
    CRITICAL_SECTION lock;
    std::unique_ptr<FileParts> parts;
    std::unique_ptr<shadow::Recorder> recorder;

    Shadow() {
        InitializeCriticalSection(&lock);
        const Adoption& a = CurrentAdoption();
        wchar_t host[MAX_PATH * 2] = {};
        GetModuleFileNameW(nullptr, host, MAX_PATH * 2);
        const DWORD pid = GetCurrentProcessId();
        // The process's start in the name: a later process given the same id
        // writes a recording of its own.
        FILETIME created{}, ignored{};
        SYSTEMTIME started{}, now{};
        GetProcessTimes(GetCurrentProcess(), &created, &ignored, &ignored, &ignored);
        FileTimeToSystemTime(&created, &started);
        GetSystemTime(&now);
        // A separator more than needed is one the platform's paths take.
        parts = std::make_unique<FileParts>(
            a.folder + L"\\palavox-shadow-" + std::to_wstring(sizeof(void*) * 8) + L"-" +
            std::to_wstring(pid) + L"-" + Stamp(started, false) + L"-");
        shadow::Header header;
        header.progId = Wide16(a.progId);
        header.dll = Wide16(a.server);
        header.version = Wide16(a.serverVersion);
        header.bits = static_cast<int>(sizeof(void*) * 8);
        header.host = Wide16(std::wstring(host) + L" (process " + std::to_wstring(pid) + L")");
        header.date = Wide16(Stamp(now, true));
        shadow::Limits limits;
        // branch-untaken: palavox-adopt shadow always writes both
        if (a.partSize != 0) limits.partSize = a.partSize;
        // branch-untaken: as above
        if (a.parts != 0) limits.parts = a.parts;
        recorder = std::make_unique<shadow::Recorder>(*parts, std::move(header), limits);
    }
};

// Held until the scope ends, an exception's way out included.
class Locked {
public:
    explicit Locked(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ~Locked() { LeaveCriticalSection(&lock_); }

private:
    CRITICAL_SECTION& lock_;
};

Shadow* g_shadow = nullptr;
INIT_ONCE g_shadowOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK MakeShadow(PINIT_ONCE, PVOID, PVOID*) {
    // Kept to the process's end, as the DLL is: its last line is written then.
    try {
        g_shadow = new Shadow;
        // branch-untaken: a few strings never exhaust memory
    } catch (const std::bad_alloc&) {
    }
    return TRUE;
}

}  // namespace

HRESULT CreateInstalledObject(_PalavoxClass** old) noexcept {
    *old = nullptr;
    InitOnceExecuteOnce(&g_oldOnce, LoadOld, nullptr, nullptr);
    // branch-untaken: as in LoadOld: the old DLL is there
    if (FAILED(g_oldLoaded)) return g_oldLoaded;
    const Adoption& a = CurrentAdoption();
    IClassFactory* factory = nullptr;
    HRESULT hr = g_oldEntry(a.clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    // branch-untaken: the old class's own DLL serves its class
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, a.iid, reinterpret_cast<void**>(old));
    factory->Release();
    return hr;
}

shadow::Outcome TextOutcome(HRESULT hr, BSTR text, IErrorInfo* info) {
    if (FAILED(hr)) return Failed(hr, info);
    shadow::Outcome o;
    o.kind = shadow::Outcome::Kind::Text;
    o.text = Units(text);
    return o;
}

shadow::Outcome CountOutcome(HRESULT hr, LONG count, IErrorInfo* info) {
    if (FAILED(hr)) return Failed(hr, info);
    shadow::Outcome o;
    o.kind = shadow::Outcome::Kind::Count;
    o.number = count;
    return o;
}

IErrorInfo* TakeError(HRESULT hr) noexcept {
    IErrorInfo* info = nullptr;
    // branch-untaken: every failure of either component sets its error info
    if (FAILED(hr) && GetErrorInfo(0, &info) != S_OK) info = nullptr;
    return info;
}

void Watch(shadow::Method method, const BSTR* args, std::size_t count, const shadow::Outcome& old,
           const shadow::Outcome& mine) noexcept {
    InitOnceExecuteOnce(&g_shadowOnce, MakeShadow, nullptr, nullptr);
    // branch-untaken: a few strings never exhaust memory
    if (g_shadow == nullptr) return;
    try {
        std::string record;
        if (!shadow::SameAnswer(old, mine)) {
            shadow::Argument given[3];
            std::u16string_view views[3];
            for (std::size_t i = 0; i < count; ++i) {  // at most 3
                views[i] = View(args[i]);
                given[i] = {views[i], false};
            }
            record = shadow::CallLine(method, given, count, old);
        }
        Locked held(g_shadow->lock);
        if (!record.empty()) g_shadow->recorder->Differed(record);
        g_shadow->recorder->Watched();
        // branch-untaken: as above
    } catch (const std::bad_alloc&) {
    }
}

void FinishShadow() noexcept {
    // A thread ended mid-call at the process's end may hold the lock: then no last line.
    // branch-untaken(race): only a thread cut off mid-call holds it as the process ends
    if (g_shadow == nullptr || !TryEnterCriticalSection(&g_shadow->lock)) return;
    try {
        g_shadow->recorder->Finish();
        // branch-untaken: as above
    } catch (const std::bad_alloc&) {
    }
    LeaveCriticalSection(&g_shadow->lock);
}

}  // namespace palavox::com
