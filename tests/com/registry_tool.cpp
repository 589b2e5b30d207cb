// What the tests of adoption need the registry to be, done as Windows does it:
//   registry_tool.exe lock <key under HKLM>    deny everyone setting values in it
//                                              or creating keys under it (what a
//                                              user without administrator rights
//                                              meets); unlock gives it back
//   registry_tool.exe stdole                   the platform's own registration of
//                                              stdole2.tlb, which Wine redoes the
//                                              first time a dual interface is
//                                              created in a prefix (LoadTypeLib of
//                                              it, inside CreateTypeLib2's calls):
//                                              done before a snapshot is taken
#include <windows.h>
#include <oleauto.h>
#include <sddl.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"stdole" && argc == 2) {
        ITypeLib* library = nullptr;
        if (FAILED(LoadTypeLib(L"stdole2.tlb", &library))) return 1;
        library->Release();
        return 0;
    }
    if ((mode != L"lock" && mode != L"unlock") || argc != 3) {
        std::fputs("usage: registry_tool.exe lock|unlock <key under HKLM> | stdole\n", stderr);
        return 2;
    }
    const wchar_t* sddl = mode == L"lock" ? L"D:(D;;0x6;;;WD)(A;;KA;;;WD)" : L"D:(A;;KA;;;WD)";
    PSECURITY_DESCRIPTOR sd = nullptr;
    HKEY key = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd,
                                                              nullptr) ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[2], 0, WRITE_DAC, &key) != ERROR_SUCCESS ||
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) != ERROR_SUCCESS) {
        std::fwprintf(stderr, L"registry_tool: cannot %ls HKLM\\%ls\n", argv[1], argv[2]);
        return 1;
    }
    RegCloseKey(key);
    LocalFree(sd);
    return 0;
}
