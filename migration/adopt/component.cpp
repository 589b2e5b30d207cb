#include "component.hpp"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <set>

#include "registry.hpp"

namespace palavox::adopt {
namespace {

std::wstring Hex(unsigned long value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", value);
    return text;
}

std::wstring Expanded(const Value& value) {
    const std::wstring text = StringData(value);
    if (value.type != REG_EXPAND_SZ) return text;
    wchar_t out[MAX_PATH * 4] = {};
    ExpandEnvironmentStringsW(text.c_str(), out, MAX_PATH * 4);
    return out;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring VersionResource(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    // branch-untaken: the DLLs the tests adopt all have a version resource
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        // branch-untaken: as above
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
        return L"";
    }
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
           std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
           std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

std::wstring Name(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    info->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    // branch-untaken: every type of these libraries has a name
    std::wstring out = name == nullptr ? L"" : name;
    SysFreeString(name);
    return out;
}

std::wstring LibraryName(ITypeLib* library) {
    BSTR name = nullptr;
    library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
    // branch-untaken: as does every library
    std::wstring out = name == nullptr ? L"" : name;
    SysFreeString(name);
    return out;
}

bool Same(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// A parameter's or result's type as a reader of the message knows it.
std::wstring TypeName(const TYPEDESC& t) {
    switch (t.vt) {
        case VT_BSTR:
            return L"String";
        case VT_I4:
            return L"Long";
        case VT_HRESULT:
            return L"HRESULT";
        case VT_PTR:
            return L"pointer to " + TypeName(*t.lptdesc);
        default:
            return L"type " + std::to_wstring(t.vt);
    }
}

std::wstring FlagsText(USHORT flags) {
    std::wstring out;
    const struct {
        USHORT flag;
        const wchar_t* name;
    } names[] = {{PARAMFLAG_FIN, L"in"},
                 {PARAMFLAG_FOUT, L"out"},
                 {PARAMFLAG_FRETVAL, L"retval"},
                 {PARAMFLAG_FOPT, L"optional"}};
    for (const auto& n : names) {
        if ((flags & n.flag) != 0) out += (out.empty() ? L"" : L", ") + std::wstring(n.name);
    }
    return L"[" + out + L"]";
}

// An optional parameter's default, when it has one and it is not the empty
// text every omitted argument means.
bool OtherDefault(const ELEMDESC& e) {
    if ((e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) == 0) return false;
    const VARIANT& v = e.paramdesc.pparamdescex->varDefaultValue;
    return V_VT(&v) != VT_BSTR || SysStringLen(V_BSTR(&v)) != 0;
}

// What a client built against a method relies on, in one line: its name,
// dispatch identifier, place in the function table, kind of call, result and
// parameters in order with their types, names, flags and defaults. Names are
// compared as dispatch compares them, ignoring case.
std::wstring Signature(ITypeInfo* info, const FUNCDESC& f) {
    BSTR names[8] = {};
    UINT count = 0;
    info->GetNames(f.memid, names, 8, &count);
    const auto name = [&](UINT i) {
        // branch-untaken: every parameter of these libraries has a name
        std::wstring n = i < count ? names[i] : L"";
        for (wchar_t& c : n) c = static_cast<wchar_t>(std::towlower(c));
        return n;
    };
    std::wstring out = name(0) + L" " + Hex(static_cast<unsigned long>(f.memid)) + L", slot " +
                       std::to_wstring(static_cast<USHORT>(f.oVft) / sizeof(void*)) +
                       (f.invkind == INVOKE_FUNC ? L"" : L", a property") + L", call " +
                       std::to_wstring(f.callconv) + L", returns " +
                       TypeName(f.elemdescFunc.tdesc) + L" (";
    for (SHORT p = 0; p < f.cParams; ++p) {
        const ELEMDESC& e = f.lprgelemdescParam[p];
        out += (p ? L", " : L"") + TypeName(e.tdesc) + L" " + name(static_cast<UINT>(p + 1)) +
               L" " + FlagsText(e.paramdesc.wParamFlags) +
               (OtherDefault(e) ? L" with a default other than the empty text" : L"");
    }
    for (BSTR n : names) SysFreeString(n);
    return out + L")";
}

struct Function {
    ITypeInfo* info;
    FUNCDESC* desc = nullptr;
    Function(ITypeInfo* i, UINT index) : info(i) {
        Succeeded(info->GetFuncDesc(index, &desc), L"reading an interface's methods");
    }
    Function(const Function&) = delete;
    Function& operator=(const Function&) = delete;
    ~Function() { info->ReleaseFuncDesc(desc); }
    std::wstring Shown() const { return Signature(info, *desc); }
};

}  // namespace

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring View() { return L"the " + std::to_wstring(kBits) + L"-bit view of the registry"; }

ITypeInfo* FunctionTable(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    Succeeded(info->GetTypeAttr(&attr), L"reading a type");
    const TYPEKIND kind = attr->typekind;
    const bool dual = (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
    info->ReleaseTypeAttr(attr);
    if (!dual) return nullptr;
    // branch-untaken: the libraries here give each dual interface's dispatch half
    if (kind == TKIND_INTERFACE) {
        info->AddRef();
        return info;
    }
    HREFTYPE ref = 0;
    ITypeInfo* table = nullptr;
    Succeeded(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), L"reading a dual interface");
    Succeeded(info->GetRefTypeInfo(ref, &table), L"reading a dual interface");
    return table;
}

std::vector<std::wstring> Differences(ITypeInfo* mine, ITypeInfo* theirs) {
    std::vector<std::wstring> out;
    TYPEATTR* a = nullptr;
    TYPEATTR* b = nullptr;
    Succeeded(mine->GetTypeAttr(&a), L"reading Palavox's interface");
    Succeeded(theirs->GetTypeAttr(&b), L"reading the installed component's interface");
    const UINT ours = a->cFuncs, installed = b->cFuncs;
    mine->ReleaseTypeAttr(a);
    theirs->ReleaseTypeAttr(b);
    for (UINT i = 0; i < installed; ++i) {
        const std::wstring at = L"method " + std::to_wstring(i + 1) + L": ";
        const std::wstring other = Function(theirs, i).Shown();
        if (i >= ours) {
            out.push_back(at + other + L"; Palavox has no such method");
        } else if (const std::wstring own = Function(mine, i).Shown(); own != other) {
            out.push_back(at + other + L"; Palavox's is " + own);
        }
    }
    if (installed < ours) {
        out.push_back(L"the installed component's interface has " + std::to_wstring(installed) +
                      L" methods, Palavox's " + std::to_wstring(ours));
    }
    return out;
}

void FindPalavox(Palavox& palavox) {
    const std::wstring key = L"CLSID\\" + palavox.clsid + L"\\InprocServer32";
    const Value server = ReadValue(Root::Classes, key, nullptr);
    palavox.dll = Expanded(server);
    // branch-untaken: Palavox unregistered takes its value with its key
    if (!server.present || !FileExists(palavox.dll)) {
        throw Refusal(kNotAdoptable, L"Palavox is not registered in " + View() + L" (no " + key +
                                         L" naming a file): register Palavox.dll of this "
                                         L"bitness first (regsvr32, or the MSI)");
    }
    ITypeInfo* dispatch = nullptr;
    Succeeded(LoadTypeLibEx(palavox.dll.c_str(), REGKIND_NONE, palavox.library.out()),
              L"loading Palavox's type library from " + palavox.dll);
    Owned<ITypeInfo> coclass;
    CLSID clsid = GUID{};
    CLSIDFromString(palavox.clsid.c_str(), &clsid);
    Succeeded(palavox.library->GetTypeInfoOfGuid(clsid, coclass.out()),
              L"reading Palavox's class from " + palavox.dll);
    HREFTYPE ref = 0;
    Succeeded(coclass->GetRefTypeOfImplType(0, &ref), L"reading Palavox's class");
    Succeeded(coclass->GetRefTypeInfo(ref, &dispatch), L"reading Palavox's class");
    *palavox.vtable.out() = FunctionTable(dispatch);
    dispatch->Release();
}

std::wstring FindInstalledClass(const std::wstring& progId, const std::wstring& palavoxClsid) {
    std::set<std::wstring> found;
    const auto consider = [&](const std::wstring& clsid) {
        if (!Same(clsid, palavoxClsid) && KeyExists(Root::Classes, L"CLSID\\" + clsid)) {
            found.insert(clsid);
        }
    };
    if (const auto named = ReadString(Root::Classes, progId + L"\\CLSID", nullptr))
        consider(*named);
    // Whichever was registered last holds the ProgID: the class still names it.
    const std::wstring versioned = progId + L".";
    for (const std::wstring& clsid : SubKeys(Root::Classes, L"CLSID")) {
        const std::wstring key = L"CLSID\\" + clsid;
        const auto own = ReadString(Root::Classes, key + L"\\ProgID", nullptr);
        const auto independent =
            ReadString(Root::Classes, key + L"\\VersionIndependentProgID", nullptr);
        // branch-untaken: one arc of this test, as GCC lays it out, no ProgID here takes
        if ((own && (Same(*own, progId) || Same(own->substr(0, versioned.size()), versioned))) ||
            // branch-untaken: a class naming the ProgID version-independent names it as ProgID too
            (independent && Same(*independent, progId))) {
            consider(clsid);
        }
    }
    if (found.empty()) {
        throw Refusal(kNotAdoptable, L"no class but Palavox's own is registered for " + progId +
                                         L" in " + View() + L": there is nothing to adopt");
    }
    if (found.size() > 1) {
        std::wstring list;
        for (const std::wstring& clsid : found) list += (list.empty() ? L"" : L", ") + clsid;
        throw Refusal(kNotAdoptable, L"several classes are registered for " + progId + L" in " +
                                         View() + L" (" + list +
                                         L"): unregister all but the one to adopt");
    }
    return *found.begin();
}

void ReadInstalled(const std::wstring& clsid, const Palavox& palavox, Installed& installed) {
    installed.clsid = clsid;
    const std::wstring key = L"CLSID\\" + clsid;
    const std::wstring intro = L"the installed component's class " + clsid;
    if (KeyExists(Root::User, key)) {
        throw Refusal(kNotAdoptable, intro +
                                         L" is registered for the current user only "
                                         L"(HKEY_CURRENT_USER): adoption is machine-wide, so "
                                         L"register it for the machine first");
    }
    if (const auto treatAs = ReadString(Root::Classes, key + L"\\TreatAs", nullptr)) {
        throw Refusal(kNotAdoptable, intro + L" is already emulated by " + *treatAs +
                                         L" (TreatAs): remove that first");
    }
    const Value server = ReadValue(Root::Classes, key + L"\\InprocServer32", nullptr);
    installed.server = Expanded(server);
    if (!FileExists(installed.server)) {
        throw Refusal(kNotAdoptable, intro + L": its DLL is no longer where the registry says (" +
                                         installed.server + L")");
    }
    if (Same(installed.server, palavox.dll)) {
        throw Refusal(kNotAdoptable, intro +
                                         L" is served by Palavox.dll already, though Palavox's "
                                         L"record of an adoption is gone: register the "
                                         L"installed component again first");
    }
    installed.serverVersion = VersionResource(installed.server);

    const auto libid = ReadString(Root::Classes, key + L"\\TypeLib", nullptr);
    GUID lib = GUID{};
    if (!libid || FAILED(CLSIDFromString(libid->c_str(), &lib))) {
        throw Refusal(kNotAdoptable, intro + L" names no type library (" + key +
                                         L"\\TypeLib): without one, early-bound clients cannot be "
                                         L"checked or served");
    }
    installed.libid = GuidText(lib);
    const std::wstring libKey = L"TypeLib\\" + installed.libid;
    std::vector<std::wstring> versions = SubKeys(Root::Classes, libKey);
    std::sort(versions.begin(), versions.end());
    const auto registered = ReadString(Root::Classes, key + L"\\Version", nullptr);
    installed.versionKey = registered ? *registered : versions.empty() ? L"" : versions.back();
    std::vector<std::wstring> locales;
    for (const std::wstring& sub : SubKeys(Root::Classes, libKey + L"\\" + installed.versionKey)) {
        if (sub.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos)
            locales.push_back(sub);
    }
    if (installed.versionKey.empty() || locales.empty()) {
        throw Refusal(kNotAdoptable, intro + L" names the type library " + installed.libid +
                                         L", which is not registered");
    }
    installed.lcidKey = locales.front();
    installed.lcid = static_cast<LCID>(std::wcstoul(installed.lcidKey.c_str(), nullptr, 16));
    wchar_t* dot = nullptr;
    installed.major = static_cast<WORD>(std::wcstoul(installed.versionKey.c_str(), &dot, 16));
    // branch-untaken: every version key the tests meet has a minor
    installed.minor = static_cast<WORD>(*dot == L'.' ? std::wcstoul(dot + 1, nullptr, 16) : 0);
    const HRESULT loaded = LoadRegTypeLib(lib, installed.major, installed.minor, installed.lcid,
                                          installed.library.out());
    if (FAILED(loaded)) {
        throw Refusal(kNotAdoptable, intro + L": its type library " + installed.libid + L" " +
                                         installed.versionKey + L" does not load (" +
                                         Hex(static_cast<unsigned long>(loaded)) + L")");
    }
    installed.libraryName = LibraryName(installed.library.get());

    CLSID classId = GUID{};
    CLSIDFromString(clsid.c_str(), &classId);
    Owned<ITypeInfo> coclass;
    if (FAILED(installed.library->GetTypeInfoOfGuid(classId, coclass.out()))) {
        throw Refusal(kNotAdoptable, intro + L": its type library " + installed.libid +
                                         L" does not describe the class");
    }
    installed.className = Name(coclass.get(), MEMBERID_NIL);
    TYPEATTR* attr = nullptr;
    Succeeded(coclass->GetTypeAttr(&attr), L"reading the installed component's class");
    const WORD implemented = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    Owned<ITypeInfo> interfaceInfo;
    // branch-untaken: every class of these libraries has a default interface
    for (UINT i = 0; i < implemented && interfaceInfo.get() == nullptr; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        coclass->GetImplTypeFlags(i, &flags);
        if ((flags & IMPLTYPEFLAG_FDEFAULT) != 0 && (flags & IMPLTYPEFLAG_FSOURCE) == 0 &&
            // branch-untaken: a class's listed interfaces always resolve
            SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref))) {
            coclass->GetRefTypeInfo(ref, interfaceInfo.out());
        }
    }
    // Clients were built for a dual default interface: a function table.
    // branch-untaken: every class of these libraries has a default interface
    if (interfaceInfo.get() != nullptr) {
        Succeeded(interfaceInfo->GetTypeAttr(&attr),
                  L"reading the installed component's interface");
        installed.iid = GuidText(attr->guid);
        interfaceInfo->ReleaseTypeAttr(attr);
        installed.interfaceName = Name(interfaceInfo.get(), MEMBERID_NIL);
        *installed.vtable.out() = FunctionTable(interfaceInfo.get());
    }
    if (installed.vtable.get() == nullptr) {
        throw Refusal(kNotAdoptable, intro +
                                         L": its type library gives it no dual default "
                                         L"interface, as Palavox's class has");
    }

    // The alias of the interface, where the library has one.
    for (UINT i = 0; i < installed.library->GetTypeInfoCount(); ++i) {
        Owned<ITypeInfo> info;
        installed.library->GetTypeInfo(i, info.out());
        Succeeded(info->GetTypeAttr(&attr), L"reading the installed component's library");
        Owned<ITypeInfo> target;
        if (attr->typekind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED &&
            // branch-untaken: an alias's type always resolves in its library
            SUCCEEDED(info->GetRefTypeInfo(attr->tdescAlias.hreftype, target.out()))) {
            TYPEATTR* aliased = nullptr;
            target->GetTypeAttr(&aliased);
            // branch-untaken: the aliases of these libraries have identifiers
            if (GuidText(aliased->guid) == installed.iid && attr->guid != GUID_NULL) {
                installed.alias = GuidText(attr->guid);
                installed.aliasName = Name(info.get(), MEMBERID_NIL);
            }
            target->ReleaseTypeAttr(aliased);
        }
        info->ReleaseTypeAttr(attr);
    }

    const std::vector<std::wstring> differences =
        Differences(palavox.vtable.get(), installed.vtable.get());
    if (!differences.empty()) {
        std::wstring list;
        for (const std::wstring& d : differences) list += L"\n  " + d;
        throw Refusal(kNotAdoptable, intro + L": its interface " + installed.interfaceName + L" " +
                                         installed.iid +
                                         L" is not the one Palavox has, so clients built for it "
                                         L"could not call Palavox:" +
                                         list);
    }
}

}  // namespace palavox::adopt
