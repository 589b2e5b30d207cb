// What the Wine tests need of the registry, done as Windows does it:
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
//   registry_tool.exe save <file>              HKEY_CLASSES_ROOT into <file>, both
//                                              views in a 64-bit prefix, in Wine's
//                                              own text format: one request to the
//                                              server, where regedit /E walks the
//                                              keys one by one (1.6 s a snapshot)
#include <windows.h>
#include <oleauto.h>
#include <sddl.h>

#include <cstdio>
#include <string>

namespace {

int SaveClasses(const wchar_t* file) {
    // RegSaveKey asks for the backup privilege, held but not enabled.
    HANDLE token = nullptr;
    TOKEN_PRIVILEGES backup{};
    backup.PrivilegeCount = 1;
    backup.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token) ||
        !LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &backup.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(token, FALSE, &backup, 0, nullptr, nullptr)) {
        std::fputs("registry_tool: cannot take the backup privilege\n", stderr);
        return 1;
    }
    CloseHandle(token);
    DeleteFileW(file);  // RegSaveKey writes no file that exists
    const LONG status = RegSaveKeyW(HKEY_CLASSES_ROOT, file, nullptr);
    if (status != ERROR_SUCCESS) {
        std::fwprintf(stderr, L"registry_tool: cannot save HKCR to %ls (%ld)\n", file, status);
        return 1;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"stdole" && argc == 2) {
        ITypeLib* library = nullptr;
        if (FAILED(LoadTypeLib(L"stdole2.tlb", &library))) return 1;
        library->Release();
        return 0;
    }
    if (mode == L"save" && argc == 3) return SaveClasses(argv[2]);
    if ((mode != L"lock" && mode != L"unlock") || argc != 3) {
        std::fputs("usage: registry_tool.exe lock|unlock <key under HKLM> | stdole | save <file>\n",
                   stderr);
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
