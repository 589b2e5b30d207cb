// What the installed component shows besides its methods: the registered type
// library, the registry entries, the version resource, and how it behaves once
// unregistered.
//   packaging_client.exe registered <Palavox.dll>
//   packaging_client.exe unregistered <Palavox.dll>
//   packaging_client.exe regfree <Palavox.dll>   (beside the client, named by its manifest)
#include <initguid.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "client_support.hpp"

namespace {

using namespace client;

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring Wide(const char* s) {
    std::wstring out;
    for (; *s; ++s) out += static_cast<wchar_t>(static_cast<unsigned char>(*s));
    return out;
}

bool KeyExists(const std::wstring& key) {
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

// Returns "<missing>" when the value is absent.
std::wstring ReadValue(const std::wstring& key, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return value;
}

std::string Narrow(const std::wstring& s) { return client::Narrow(s.c_str()); }

// The type library path this build registers, and reads, under TypeLib\{LIBID}\5.1\0.
constexpr bool kWin64 = sizeof(void*) == 8;
constexpr const wchar_t* kSysKindKey = kWin64 ? L"win64" : L"win32";
constexpr SYSKIND kSysKind = kWin64 ? SYS_WIN64 : SYS_WIN32;

// The keys registration writes, one per kind; none may exist when unregistered.
std::vector<std::wstring> RegistrationKeys() {
    return {
        L"CLSID\\" + GuidText(CLSID_PalavoxClass),
        L"Palavox.PalavoxClass",
        L"Palavox.PalavoxClass.1",
        L"TypeLib\\" + GuidText(LIBID_Palavox),
        L"Interface\\" + GuidText(IID__PalavoxClass),
    };
}

// ------------------------------------------------------------- identifiers

// What palavox_idl.h was generated with, spelled out here on its own: every check
// below compares with palavox_idl.h, so a changed identifier must fail here.
void CheckIdentifiers(client::Tally& t) {
    const struct {
        const char* name;
        const GUID* guid;
        const wchar_t* expected;
    } rows[] = {
        {"CLSID_PalavoxClass", &CLSID_PalavoxClass, L"{5A103311-D634-4098-84FC-89F6D0CB43DC}"},
        {"IID__PalavoxClass", &IID__PalavoxClass, L"{115967E5-CC7D-45C5-ACE8-0AE2C194F5D5}"},
        {"IID_PalavoxClass___v0", &IID_PalavoxClass___v0,
         L"{30CAAC6A-7121-4C22-A760-3EE223CD9E65}"},
        {"LIBID_Palavox", &LIBID_Palavox, L"{A2B36B68-6C03-49DD-A0AC-9DBEF471C4F8}"},
    };
    for (const auto& row : rows) {
        const std::wstring got = GuidText(*row.guid);
        t.Check(got == row.expected, std::string(row.name) + " is " + Narrow(got));
    }
}

// ---------------------------------------------------------------- registry

void CheckRegistry(client::Tally& t, const std::wstring& dll) {
    const std::wstring clsid = GuidText(CLSID_PalavoxClass);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    } rows[] = {
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\ProgID", nullptr, L"Palavox.PalavoxClass.1"},
        {classKey + L"\\VersionIndependentProgID", nullptr, L"Palavox.PalavoxClass"},
        {classKey + L"\\TypeLib", nullptr, GuidText(LIBID_Palavox)},
        {L"Palavox.PalavoxClass\\CLSID", nullptr, clsid},
        {L"Palavox.PalavoxClass\\CurVer", nullptr, L"Palavox.PalavoxClass.1"},
        {L"Palavox.PalavoxClass.1\\CLSID", nullptr, clsid},
        // RegisterTypeLib hands the interface to the universal marshaler.
        {L"Interface\\" + GuidText(IID__PalavoxClass) + L"\\ProxyStubClsid32", nullptr,
         L"{00020424-0000-0000-C000-000000000046}"},
        {L"Interface\\" + GuidText(IID__PalavoxClass), nullptr, L"_PalavoxClass"},
    };
    for (const auto& row : rows) {
        const std::wstring got = ReadValue(row.key, row.name);
        t.Check(_wcsicmp(got.c_str(), row.value.c_str()) == 0,
                "HKCR\\" + Narrow(row.key) + " " + Narrow(row.name ? row.name : L"(default)") +
                    " is " + Narrow(got));
    }
    const std::wstring server = ReadValue(classKey + L"\\InprocServer32", nullptr);
    t.Check(_wcsicmp(server.c_str(), dll.c_str()) == 0, "InprocServer32 is " + Narrow(server));
    const std::wstring typelibPath =
        ReadValue(L"TypeLib\\" + GuidText(LIBID_Palavox) + L"\\5.1\\0\\" + kSysKindKey, nullptr);
    t.Check(_wcsicmp(typelibPath.c_str(), dll.c_str()) == 0,
            "type library registered at " + Narrow(typelibPath));
}

void CheckUnregistered(client::Tally& t, const std::wstring& dll) {
    for (const auto& key : RegistrationKeys()) {
        t.Check(!KeyExists(key), "HKCR\\" + Narrow(key) + " is gone");
    }

    IUnknown* object = nullptr;
    const HRESULT hr = Create(IID_IUnknown, &object);
    t.Check(hr == REGDB_E_CLASSNOTREG && object == nullptr, "CoCreateInstance gave " + Hex(hr));

    // The type library travels inside the DLL: dispatch works without any registration.
    HMODULE module = LoadLibraryW(dll.c_str());
    if (!t.Check(module != nullptr, "LoadLibrary " + Narrow(dll))) return;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IDispatch* d = nullptr;
    if (getClassObject && SUCCEEDED(getClassObject(CLSID_PalavoxClass, IID_IClassFactory,
                                                   reinterpret_cast<void**>(&factory)))) {
        factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d));
        factory->Release();
    }
    if (!t.Check(d != nullptr, "object straight from DllGetClassObject")) return;
    LPOLESTR name = const_cast<LPOLESTR>(L"RemoverAcentuacao");
    DISPID id = 0;
    t.Check(
        d->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id) == S_OK && id == kRemover,
        "GetIDsOfNames unregistered");
    Outcome o;
    Call(d, id, {Str(u"P\u00e3o & Caf\u00e9")}, o);
    t.Check(o.IsText(u"Pao e Cafe"), "Invoke unregistered gave " + o.Show());
    d->Release();
}

// ------------------------------------------------------------ type library

struct ParamRow {
    const wchar_t* name;
    VARTYPE type;  // for [out, retval]: the pointed-to type
    USHORT flags;
};

struct MethodRow {
    const wchar_t* name;
    MEMBERID id;
    std::vector<ParamRow> params;
};

void CheckMethods(client::Tally& t, ITypeInfo* vtable) {
    constexpr USHORT kIn = PARAMFLAG_FIN;
    constexpr USHORT kOptional = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    constexpr USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    const MethodRow rows[] = {
        {L"TrataHTML",
         0x60030000,
         {{L"vemEntrada", VT_BSTR, kIn},
          {L"vemTarget", VT_BSTR, kOptional},
          {L"resultado", VT_BSTR, kRetval}}},
        {L"FindString",
         0x60030001,
         {{L"vemEntrada", VT_BSTR, kIn},
          {L"vemProcura", VT_BSTR, kIn},
          {L"vemTipo", VT_BSTR, kOptional},
          {L"resultado", VT_I4, kRetval}}},
        {L"RemoverAcentuacao",
         0x60030002,
         {{L"vemTextoAcentuado", VT_BSTR, kIn}, {L"resultado", VT_BSTR, kRetval}}},
    };
    TYPEATTR* attr = nullptr;
    vtable->GetTypeAttr(&attr);
    // Three slots of IUnknown, four of IDispatch, then the three methods.
    t.Check(attr->typekind == TKIND_INTERFACE && attr->cFuncs == 3 &&
                attr->cbSizeVft == 10 * sizeof(void*),
            "function table of 10 slots, got " + std::to_string(attr->cbSizeVft));
    const WORD flags =
        TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
    t.Check((attr->wTypeFlags & flags) == flags,
            "function-table half is hidden, dual, nonextensible, oleautomation: " +
                Hex(attr->wTypeFlags));
    vtable->ReleaseTypeAttr(attr);

    for (UINT index = 0; index < 3; ++index) {
        const MethodRow& row = rows[index];
        const std::string method = client::Narrow(row.name);
        FUNCDESC* f = nullptr;
        if (!t.Check(vtable->GetFuncDesc(index, &f) == S_OK, "GetFuncDesc " + method)) continue;
        t.Check(f->memid == row.id, method + " DISPID " + Hex(f->memid));
        t.Check(f->oVft == static_cast<SHORT>((7 + index) * sizeof(void*)),
                method + " in slot " + std::to_string(f->oVft / static_cast<SHORT>(sizeof(void*))));
        t.Check(f->invkind == INVOKE_FUNC && f->funckind == FUNC_PUREVIRTUAL &&
                    f->callconv == CC_STDCALL && f->elemdescFunc.tdesc.vt == VT_HRESULT,
                method + " is a stdcall method returning HRESULT");
        t.Check(f->cParams == static_cast<SHORT>(row.params.size()),
                method + " parameter count " + std::to_string(f->cParams));

        BSTR names[8] = {};
        UINT got = 0;
        vtable->GetNames(f->memid, names, 8, &got);
        t.Check(got == row.params.size() + 1 && std::wstring(names[0] ? names[0] : L"") == row.name,
                method + " names");
        for (std::size_t p = 0; p < row.params.size() && p < static_cast<std::size_t>(f->cParams);
             ++p) {
            const ParamRow& expected = row.params[p];
            const ELEMDESC& e = f->lprgelemdescParam[p];
            const std::string what = method + " parameter " + client::Narrow(expected.name);
            const wchar_t* name = p + 1 < got ? names[p + 1] : nullptr;
            t.Check(name && std::wstring(name) == expected.name, what + " name");
            const bool retval = (expected.flags & PARAMFLAG_FRETVAL) != 0;
            const VARTYPE type = retval && e.tdesc.vt == VT_PTR ? e.tdesc.lptdesc->vt : e.tdesc.vt;
            t.Check(type == expected.type && (e.tdesc.vt == VT_PTR) == retval,
                    what + " type " + std::to_string(e.tdesc.vt));
            t.Check(e.paramdesc.wParamFlags == expected.flags,
                    what + " flags " + Hex(e.paramdesc.wParamFlags));
            if (e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) {
                const VARIANT& v = e.paramdesc.pparamdescex->varDefaultValue;
                t.Check(V_VT(&v) == VT_BSTR && SysStringLen(V_BSTR(&v)) == 0,
                        what + " defaults to \"\"");
            }
        }
        for (UINT i = 0; i < got; ++i) SysFreeString(names[i]);
        vtable->ReleaseFuncDesc(f);
    }
}

ITypeInfo* Named(client::Tally& t, ITypeLib* lib, const wchar_t* name, TYPEKIND kind, REFGUID guid,
                 WORD flagsSet, WORD flagsClear) {
    ITypeInfo* infos[1] = {};
    MEMBERID ids[1] = {};
    USHORT found = 1;
    std::wstring copy = name;
    lib->FindName(copy.data(), 0, infos, ids, &found);
    const std::string what = client::Narrow(name);
    if (!t.Check(found == 1 && infos[0] != nullptr, what + " found in the library")) return nullptr;
    TYPEATTR* a = nullptr;
    infos[0]->GetTypeAttr(&a);
    t.Check(a->typekind == kind, what + " kind " + std::to_string(a->typekind));
    t.Check(IsEqualGUID(a->guid, guid), what + " GUID");
    t.Check((a->wTypeFlags & flagsSet) == flagsSet && (a->wTypeFlags & flagsClear) == 0,
            what + " flags " + Hex(a->wTypeFlags));
    infos[0]->ReleaseTypeAttr(a);
    return infos[0];
}

std::wstring NameOf(ITypeInfo* info) {
    Bstr name;
    info->GetDocumentation(MEMBERID_NIL, name.out(), nullptr, nullptr, nullptr);
    return name.get() ? name.get() : L"";
}

void CheckTypeLibrary(client::Tally& t) {
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(LIBID_Palavox, 5, 1, LOCALE_NEUTRAL, &lib);
    if (!t.Check(hr == S_OK && lib, "LoadRegTypeLib 5.1 gave " + Hex(hr))) return;
    TLIBATTR* la = nullptr;
    lib->GetLibAttr(&la);
    t.Check(la->wMajorVerNum == 5 && la->wMinorVerNum == 1 && la->syskind == kSysKind,
            "library version " + std::to_string(la->wMajorVerNum) + "." +
                std::to_string(la->wMinorVerNum));
    lib->ReleaseTLibAttr(la);
    Bstr libName;
    lib->GetDocumentation(-1, libName.out(), nullptr, nullptr, nullptr);
    t.Check(libName.text() == u"Palavox", "library name " + client::Escaped(libName.text()));
    t.Check(lib->GetTypeInfoCount() == 3,
            "three type descriptions, got " + std::to_string(lib->GetTypeInfoCount()));

    const WORD interfaceFlags =
        TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    ITypeInfo* dispatch = Named(t, lib, L"_PalavoxClass", TKIND_DISPATCH, IID__PalavoxClass,
                                interfaceFlags, TYPEFLAG_FCANCREATE);
    if (dispatch) {
        HREFTYPE ref = 0;
        ITypeInfo* vtable = nullptr;
        if (t.Check(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref) == S_OK &&
                        dispatch->GetRefTypeInfo(ref, &vtable) == S_OK,
                    "dual interface has a function-table half")) {
            CheckMethods(t, vtable);
            // Its base is IDispatch.
            ITypeInfo* base = nullptr;
            if (vtable->GetRefTypeOfImplType(0, &ref) == S_OK &&
                vtable->GetRefTypeInfo(ref, &base) == S_OK) {
                t.Check(NameOf(base) == L"IDispatch",
                        "_PalavoxClass derives from " + Narrow(NameOf(base)));
                base->Release();
            } else {
                t.Check(false, "_PalavoxClass has a base interface");
            }
            vtable->Release();
        }
        dispatch->Release();
    }

    ITypeInfo* alias = Named(t, lib, L"PalavoxClass___v0", TKIND_ALIAS, IID_PalavoxClass___v0,
                             TYPEFLAG_FHIDDEN, 0);
    if (alias) {
        TYPEATTR* a = nullptr;
        alias->GetTypeAttr(&a);
        ITypeInfo* target = nullptr;
        t.Check(a->tdescAlias.vt == VT_USERDEFINED &&
                    alias->GetRefTypeInfo(a->tdescAlias.hreftype, &target) == S_OK &&
                    NameOf(target) == L"_PalavoxClass",
                "PalavoxClass___v0 stands for _PalavoxClass");
        if (target) target->Release();
        alias->ReleaseTypeAttr(a);
        alias->Release();
    }

    ITypeInfo* coclass = Named(t, lib, L"PalavoxClass", TKIND_COCLASS, CLSID_PalavoxClass,
                               TYPEFLAG_FCANCREATE, TYPEFLAG_FHIDDEN);
    if (coclass) {
        TYPEATTR* a = nullptr;
        coclass->GetTypeAttr(&a);
        t.Check(a->cImplTypes == 1, "the class implements one interface");
        coclass->ReleaseTypeAttr(a);
        INT implFlags = 0;
        HREFTYPE ref = 0;
        ITypeInfo* def = nullptr;
        t.Check(
            coclass->GetImplTypeFlags(0, &implFlags) == S_OK && implFlags == IMPLTYPEFLAG_FDEFAULT,
            "default interface, not an event source: " + Hex(implFlags));
        t.Check(coclass->GetRefTypeOfImplType(0, &ref) == S_OK &&
                    coclass->GetRefTypeInfo(ref, &def) == S_OK && NameOf(def) == L"_PalavoxClass",
                "default interface is _PalavoxClass");
        if (def) def->Release();
        coclass->Release();
    }
    lib->Release();
}

// ----------------------------------------------------------------- version

void CheckVersion(client::Tally& t, const std::wstring& dll) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(dll.c_str(), &ignored);
    std::vector<unsigned char> block(size);
    if (!t.Check(size > 0 && GetFileVersionInfoW(dll.c_str(), 0, size, block.data()),
                 "version resource present")) {
        return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (t.Check(
            VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed,
            "fixed version info")) {
        t.Check(fixed->dwFileVersionMS == 0x00010005 && fixed->dwFileVersionLS == 0,
                "file version 1.5.0.0");
        t.Check(fixed->dwProductVersionMS == 0x00010005 && fixed->dwProductVersionLS == 0,
                "product version 1.5.0.0");
        t.Check(fixed->dwFileType == VFT_DLL, "file type DLL");
    }
    WORD* translation = nullptr;
    t.Check(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                           reinterpret_cast<void**>(&translation), &length) &&
                length == 4 && translation[0] == 0x0409 && translation[1] == 1200,
            "translation US English, Unicode");
    const struct {
        const char* key;
        const wchar_t* value;
    } rows[] = {
        {"FileVersion", L"1.05"},
        {"ProductVersion", L"1.05"},
        {"ProductName", L"Palavox"},
        {"InternalName", L"Palavox"},
        {"OriginalFilename", L"Palavox.dll"},
        {"OLESelfRegister", L""},
    };
    for (const auto& row : rows) {
        const std::wstring path = L"\\StringFileInfo\\040904B0\\" + Wide(row.key);
        wchar_t* value = nullptr;
        length = 0;
        const BOOL found =
            VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length);
        t.Check(
            found && value != nullptr && std::wstring(value) == row.value,
            std::string(row.key) + " is \"" + client::Narrow(found ? value : L"<missing>") + "\"");
    }
}

// ----------------------------------------------------- registration-free

// Run beside Palavox.dll and its assembly manifest, with an application
// manifest naming that assembly, in a system where the DLL was never registered.
void CheckRegistrationFree(client::Tally& t, const std::wstring& dll) {
    for (const auto& key : RegistrationKeys()) {
        t.Check(!KeyExists(key), "HKCR\\" + Narrow(key) + " absent");
    }
    // The manifest may hand out a stand-in for the class identifier; what
    // counts is that the name creates the class.
    for (const wchar_t* progId : {L"Palavox.PalavoxClass", L"Palavox.PalavoxClass.1"}) {
        IDispatch* d = nullptr;
        const HRESULT hr = CreateByProgId(IID_IDispatch, &d, progId);
        t.Check(hr == S_OK && d != nullptr, Narrow(progId) + " creates the class: " + Hex(hr));
        if (d) d->Release();
    }
    _PalavoxClass* p = nullptr;
    const HRESULT hr = Create(IID__PalavoxClass, &p);
    if (t.Check(hr == S_OK && p != nullptr, "CoCreateInstance gave " + Hex(hr))) {
        const Answer folded =
            CallTable(p, Method::RemoverAcentuacao, {u"A\u00e7\u00e3o & Rea\u00e7\u00e3o"});
        t.Check(folded.hr == S_OK && folded.text == u"Acao e Reacao",
                "a call through the function table");
        p->Release();
    }
    wchar_t loaded[MAX_PATH] = {};
    const HMODULE module = GetModuleHandleW(L"Palavox.dll");
    if (module) GetModuleFileNameW(module, loaded, MAX_PATH);
    t.Check(_wcsicmp(loaded, dll.c_str()) == 0,
            "the DLL beside the client is loaded: " + Narrow(loaded));
    Bstr path;
    const HRESULT found = QueryPathOfRegTypeLib(LIBID_Palavox, 5, 1, LOCALE_NEUTRAL, path.out());
    t.Check(found == S_OK && path.get() && _wcsicmp(path.get(), dll.c_str()) == 0,
            "the manifest leads to the type library: " + Hex(found));
}

// Loaded, its type information handed out, and freed: the module gives back
// what it held and is gone.
void CheckFreedAfterUse(client::Tally& t, const std::wstring& dll) {
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    const HMODULE module = LoadLibraryW(dll.c_str());
    const auto get = module == nullptr ? nullptr
                                       : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                             GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IDispatch* object = nullptr;
    ITypeInfo* info = nullptr;
    const bool used =
        get != nullptr &&
        SUCCEEDED(get(CLSID_PalavoxClass, IID_IClassFactory, reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(
            factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object))) &&
        object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info) == S_OK;
    if (info != nullptr) info->Release();
    if (object != nullptr) object->Release();
    if (factory != nullptr) factory->Release();
    t.Check(used, "loaded from its path, its type information handed out");
    t.Check(
        module != nullptr && FreeLibrary(module) != 0 && GetModuleHandleW(dll.c_str()) == nullptr,
        "then freed, and gone");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = client::Argument(argc, argv, 1, "mode");
    const std::wstring dll = Wide(client::Argument(argc, argv, 2, "DLL path"));
    client::Tally t;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CheckIdentifiers(t);
    if (mode == "registered") {
        CheckRegistry(t, dll);
        CheckTypeLibrary(t);
        CheckVersion(t, dll);
    } else if (mode == "unregistered") {
        // Loaded and freed before any call: the module has nothing to give back.
        const HMODULE module = LoadLibraryW(dll.c_str());
        t.Check(module != nullptr && FreeLibrary(module) != 0, "loaded and freed before a call");
        CheckFreedAfterUse(t, dll);
        CheckUnregistered(t, dll);
    } else if (mode == "regfree") {
        CheckRegistrationFree(t, dll);
        CheckTypeLibrary(t);
    } else {
        t.Check(false, "unknown mode " + mode);
    }
    CoUninitialize();
    return t.Finish();
}
