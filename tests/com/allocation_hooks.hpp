// Counts the memory Palavox.dll itself allocates and frees, by pointing the
// entries of its import table that lead to an allocator at counting wrappers.
//
// What it sees: every allocation the DLL's own code asks for. The DLL carries
// no allocator of its own (its C++ runtime is linked in statically, so
// operator new, std::string and thrown exceptions end in msvcrt's malloc
// through the DLL's imports), and the results it hands over come from
// SysAllocStringLen, also an import. Install() refuses a DLL that imports an
// allocator not counted here, or anything by ordinal, so a new way to
// allocate cannot slip past unseen.
// What it does not see: memory that system DLLs allocate inside functions the
// DLL calls for other purposes: the text oleaut32's VariantChangeType makes of
// a number, the error-info object ole32's CreateErrorInfo makes for a failure,
// the platform's caches. Those are the platform's, not the call's.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace client::allocations {

struct Counts {
    LONG allocated = 0;  // blocks obtained, a reallocation included
    LONG freed = 0;      // blocks given back, null pointers excluded
};

namespace detail {

inline volatile LONG g_allocated = 0;
inline volatile LONG g_freed = 0;
inline void Allocated(const void* p) {
    if (p != nullptr) InterlockedIncrement(&g_allocated);
}
inline void Freed(const void* p) {
    if (p != nullptr) InterlockedIncrement(&g_freed);
}

// One wrapper per allocator: the original is kept in `real`, and the wrapper's
// type must equal the original's, calling convention included (a 32-bit
// mismatch would corrupt the stack), which PALAVOX_SAME_TYPE below checks.
#define PALAVOX_COUNTED(name, ret, params, args, counting) \
    inline decltype(&::name) real_##name = nullptr;        \
    inline ret counted_##name params {                     \
        ret result = real_##name args;                     \
        counting;                                          \
        return result;                                     \
    }
#define PALAVOX_COUNTED_WINAPI(name, ret, params, args, counting) \
    inline decltype(&::name) real_##name = nullptr;               \
    inline ret WINAPI counted_##name params {                     \
        ret result = real_##name args;                            \
        counting;                                                 \
        return result;                                            \
    }

PALAVOX_COUNTED(malloc, void*, (size_t n), (n), Allocated(result))
PALAVOX_COUNTED(calloc, void*, (size_t n, size_t size), (n, size), Allocated(result))
// A block moved or resized: one new block, one freed (realloc(p, 0) frees only).
PALAVOX_COUNTED(realloc, void*, (void* p, size_t n), (p, n), (Allocated(result), Freed(p)))
PALAVOX_COUNTED(_strdup, char*, (const char* s), (s), Allocated(result))
PALAVOX_COUNTED(_wcsdup, wchar_t*, (const wchar_t* s), (s), Allocated(result))
PALAVOX_COUNTED_WINAPI(SysAllocString, BSTR, (const OLECHAR* s), (s), Allocated(result))
PALAVOX_COUNTED_WINAPI(SysAllocStringLen, BSTR, (const OLECHAR* s, UINT n), (s, n),
                       Allocated(result))
PALAVOX_COUNTED_WINAPI(SysAllocStringByteLen, BSTR, (LPCSTR s, UINT n), (s, n), Allocated(result))
PALAVOX_COUNTED_WINAPI(SysReAllocString, INT, (BSTR * s, const OLECHAR* t), (s, t),
                       (Allocated(s), Freed(s)))
PALAVOX_COUNTED_WINAPI(SysReAllocStringLen, INT, (BSTR * s, const OLECHAR* t, UINT n), (s, t, n),
                       (Allocated(s), Freed(s)))
PALAVOX_COUNTED_WINAPI(CoTaskMemAlloc, LPVOID, (SIZE_T n), (n), Allocated(result))
PALAVOX_COUNTED_WINAPI(CoTaskMemRealloc, LPVOID, (LPVOID p, SIZE_T n), (p, n),
                       (Allocated(result), Freed(p)))
PALAVOX_COUNTED_WINAPI(HeapAlloc, LPVOID, (HANDLE h, DWORD f, SIZE_T n), (h, f, n),
                       Allocated(result))
PALAVOX_COUNTED_WINAPI(HeapReAlloc, LPVOID, (HANDLE h, DWORD f, LPVOID p, SIZE_T n), (h, f, p, n),
                       (Allocated(result), Freed(p)))
PALAVOX_COUNTED_WINAPI(LocalAlloc, HLOCAL, (UINT f, SIZE_T n), (f, n), Allocated(result))
PALAVOX_COUNTED_WINAPI(GlobalAlloc, HGLOBAL, (UINT f, SIZE_T n), (f, n), Allocated(result))
PALAVOX_COUNTED_WINAPI(VirtualAlloc, LPVOID, (LPVOID p, SIZE_T n, DWORD t, DWORD f), (p, n, t, f),
                       Allocated(result))

// The freeing side counts before the call: afterwards the pointer is gone.
inline decltype(&::free) real_free = nullptr;
inline void counted_free(void* p) {
    Freed(p);
    real_free(p);
}
inline decltype(&::SysFreeString) real_SysFreeString = nullptr;
inline void WINAPI counted_SysFreeString(BSTR s) {
    Freed(s);
    real_SysFreeString(s);
}
inline decltype(&::CoTaskMemFree) real_CoTaskMemFree = nullptr;
inline void WINAPI counted_CoTaskMemFree(LPVOID p) {
    Freed(p);
    real_CoTaskMemFree(p);
}
inline decltype(&::HeapFree) real_HeapFree = nullptr;
inline BOOL WINAPI counted_HeapFree(HANDLE h, DWORD f, LPVOID p) {
    Freed(p);
    return real_HeapFree(h, f, p);
}
inline decltype(&::LocalFree) real_LocalFree = nullptr;
inline HLOCAL WINAPI counted_LocalFree(HLOCAL p) {
    Freed(p);
    return real_LocalFree(p);
}
inline decltype(&::GlobalFree) real_GlobalFree = nullptr;
inline HGLOBAL WINAPI counted_GlobalFree(HGLOBAL p) {
    Freed(p);
    return real_GlobalFree(p);
}
inline decltype(&::VirtualFree) real_VirtualFree = nullptr;
inline BOOL WINAPI counted_VirtualFree(LPVOID p, SIZE_T n, DWORD t) {
    Freed(p);
    return real_VirtualFree(p, n, t);
}

struct Hook {
    const char* name;
    void** real;
    void* counted;
};

// clang-format would read the # of #name as a preprocessor line.
// clang-format off
#define PALAVOX_HOOK(name) \
    Hook{#name, reinterpret_cast<void**>(&real_##name), reinterpret_cast<void*>(&counted_##name)}
// clang-format on

// A wrapper of another calling convention or signature does not convert.
#define PALAVOX_SAME_TYPE(name) \
    [[maybe_unused]] constexpr decltype(&::name) kSameType_##name = &counted_##name

PALAVOX_SAME_TYPE(malloc);
PALAVOX_SAME_TYPE(calloc);
PALAVOX_SAME_TYPE(realloc);
PALAVOX_SAME_TYPE(free);
PALAVOX_SAME_TYPE(_strdup);
PALAVOX_SAME_TYPE(_wcsdup);
PALAVOX_SAME_TYPE(SysAllocString);
PALAVOX_SAME_TYPE(SysAllocStringLen);
PALAVOX_SAME_TYPE(SysAllocStringByteLen);
PALAVOX_SAME_TYPE(SysReAllocString);
PALAVOX_SAME_TYPE(SysReAllocStringLen);
PALAVOX_SAME_TYPE(SysFreeString);
PALAVOX_SAME_TYPE(CoTaskMemAlloc);
PALAVOX_SAME_TYPE(CoTaskMemRealloc);
PALAVOX_SAME_TYPE(CoTaskMemFree);
PALAVOX_SAME_TYPE(HeapAlloc);
PALAVOX_SAME_TYPE(HeapReAlloc);
PALAVOX_SAME_TYPE(HeapFree);
PALAVOX_SAME_TYPE(LocalAlloc);
PALAVOX_SAME_TYPE(LocalFree);
PALAVOX_SAME_TYPE(GlobalAlloc);
PALAVOX_SAME_TYPE(GlobalFree);
PALAVOX_SAME_TYPE(VirtualAlloc);
PALAVOX_SAME_TYPE(VirtualFree);

inline const Hook kHooks[] = {
    PALAVOX_HOOK(malloc),
    PALAVOX_HOOK(calloc),
    PALAVOX_HOOK(realloc),
    PALAVOX_HOOK(free),
    PALAVOX_HOOK(_strdup),
    PALAVOX_HOOK(_wcsdup),
    PALAVOX_HOOK(SysAllocString),
    PALAVOX_HOOK(SysAllocStringLen),
    PALAVOX_HOOK(SysAllocStringByteLen),
    PALAVOX_HOOK(SysReAllocString),
    PALAVOX_HOOK(SysReAllocStringLen),
    PALAVOX_HOOK(SysFreeString),
    PALAVOX_HOOK(CoTaskMemAlloc),
    PALAVOX_HOOK(CoTaskMemRealloc),
    PALAVOX_HOOK(CoTaskMemFree),
    PALAVOX_HOOK(HeapAlloc),
    PALAVOX_HOOK(HeapReAlloc),
    PALAVOX_HOOK(HeapFree),
    PALAVOX_HOOK(LocalAlloc),
    PALAVOX_HOOK(LocalFree),
    PALAVOX_HOOK(GlobalAlloc),
    PALAVOX_HOOK(GlobalFree),
    PALAVOX_HOOK(VirtualAlloc),
    PALAVOX_HOOK(VirtualFree),
};

#undef PALAVOX_COUNTED
#undef PALAVOX_COUNTED_WINAPI
#undef PALAVOX_HOOK
#undef PALAVOX_SAME_TYPE

// Imports whose names look like memory management but are not.
inline bool NotAnAllocator(const char* name) {
    const char* const others[] = {"TlsAlloc", "TlsFree", "FreeLibrary", "FlsAlloc", "FlsFree"};
    for (const char* o : others) {
        if (std::strcmp(name, o) == 0) return true;
    }
    return false;
}

inline bool LooksLikeAllocator(const char* name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    for (const char* part : {"alloc", "free", "dup"}) {
        if (lower.find(part) != std::string::npos) return !NotAnAllocator(name);
    }
    return false;
}

}  // namespace detail

// Points the allocator imports of `dll` at the counting wrappers. False, with
// the reason, when some import that may allocate would not be counted.
inline bool Install(HMODULE dll, std::string& problem) {
    auto* base = reinterpret_cast<unsigned char*>(dll);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) {
        problem = "no import table";
        return false;
    }
    int hooked = 0;
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name != 0; ++d) {
        const char* dllName = reinterpret_cast<const char*>(base + d->Name);
        if (d->OriginalFirstThunk == 0) {
            problem = std::string("imports of ") + dllName + " carry no names";
            return false;
        }
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                problem = std::string("an import of ") + dllName + " by ordinal";
                return false;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const char* name = reinterpret_cast<const char*>(byName->Name);
            const detail::Hook* hook = nullptr;
            for (const detail::Hook& h : detail::kHooks) {
                if (std::strcmp(h.name, name) == 0) hook = &h;
            }
            if (hook == nullptr) {
                if (detail::LooksLikeAllocator(name)) {
                    problem =
                        std::string("imports ") + dllName + "!" + name + ", which is not counted";
                    return false;
                }
                continue;
            }
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            if (*slot == hook->counted) continue;  // installed already
            DWORD old = 0;
            if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) {
                problem = std::string("cannot write the import of ") + name;
                return false;
            }
            *hook->real = *slot;
            *slot = hook->counted;
            VirtualProtect(slot, sizeof(void*), old, &old);
            ++hooked;
        }
    }
    if (hooked == 0) {
        problem = "no allocator import found";
        return false;
    }
    return true;
}

inline Counts Now() { return {detail::g_allocated, detail::g_freed}; }

// What happened between `before` and now.
inline Counts Since(const Counts& before) {
    const Counts now = Now();
    return {now.allocated - before.allocated, now.freed - before.freed};
}

// A call's allocations as a case expects them: its text result is the one
// allocation, a count makes none, and a failure gives back whatever it took.
inline bool AsACallShould(bool textResult, HRESULT hr, const Counts& used) {
    if (FAILED(hr)) return used.allocated == used.freed;
    return used.allocated == (textResult ? 1 : 0) && used.freed == 0;
}

inline std::string Shown(const Counts& used) {
    return "Palavox.dll allocated " + std::to_string(used.allocated) + " blocks and freed " +
           std::to_string(used.freed);
}

}  // namespace client::allocations
