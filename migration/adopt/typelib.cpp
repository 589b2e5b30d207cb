#include "typelib.hpp"

#include "registry.hpp"

namespace palavox::adopt {
namespace {

GUID Guid(const std::wstring& text) {
    GUID guid = GUID{};
    CLSIDFromString(text.c_str(), &guid);
    return guid;
}

LPOLESTR Ole(const std::wstring& text) { return const_cast<LPOLESTR>(text.c_str()); }

// Names (the method's, then its parameters') as ITypeInfo holds them.
void CopyNames(ITypeInfo* from, MEMBERID id, ICreateTypeInfo* to, UINT index) {
    BSTR names[8] = {};
    UINT count = 0;
    Succeeded(from->GetNames(id, names, 8, &count), L"reading Palavox's method names");
    const HRESULT hr = to->SetFuncAndParamNames(index, names, count);
    for (BSTR n : names) SysFreeString(n);
    Succeeded(hr, L"naming a method of the written library");
}

}  // namespace

void WriteAdoptedLibrary(const Palavox& palavox, const Installed& installed,
                         const std::wstring& path) {
    const std::wstring writing = L"writing " + path;
    Owned<ICreateTypeLib2> library;
    Succeeded(CreateTypeLib2(kBits == 64 ? SYS_WIN64 : SYS_WIN32, path.c_str(), library.out()),
              writing);
    Succeeded(library->SetGuid(Guid(installed.libid)), writing);
    Succeeded(library->SetVersion(installed.major, installed.minor), writing);
    Succeeded(library->SetLcid(installed.lcid), writing);
    Succeeded(library->SetName(Ole(installed.libraryName)), writing);

    // The interface: Palavox's function table under the installed one's
    // identifier and name; dual, so the platform adds its dispatch half.
    TYPEATTR* attr = nullptr;
    Succeeded(palavox.vtable->GetTypeAttr(&attr), writing);
    const WORD flags = attr->wTypeFlags;
    const WORD functions = attr->cFuncs;
    palavox.vtable->ReleaseTypeAttr(attr);
    Owned<ICreateTypeInfo> face;
    Succeeded(library->CreateTypeInfo(Ole(installed.interfaceName), TKIND_INTERFACE, face.out()),
              writing);
    Succeeded(face->SetGuid(Guid(installed.iid)), writing);
    Owned<ITypeLib> stdole;
    Owned<ITypeInfo> dispatch;
    Succeeded(LoadRegTypeLib(IID_StdOle, 2, 0, LOCALE_NEUTRAL, stdole.out()), writing);
    Succeeded(stdole->GetTypeInfoOfGuid(IID_IDispatch, dispatch.out()), writing);
    HREFTYPE base = 0;
    Succeeded(face->AddRefTypeInfo(dispatch.get(), &base), writing);
    Succeeded(face->AddImplType(0, base), writing);
    Succeeded(face->SetTypeFlags(flags), writing);
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* f = nullptr;
        Succeeded(palavox.vtable->GetFuncDesc(i, &f), writing);
        const HRESULT added = face->AddFuncDesc(i, f);
        const MEMBERID id = f->memid;
        palavox.vtable->ReleaseFuncDesc(f);
        Succeeded(added, writing);
        CopyNames(palavox.vtable.get(), id, face.get(), i);
    }
    Succeeded(face->LayOut(), writing);
    Owned<ITypeInfo> written;
    Succeeded(face->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(written.out())),
              writing);

    // branch-untaken: every library the tests adopt has an alias, as Palavox's has
    if (!installed.alias.empty()) {
        Owned<ICreateTypeInfo> alias;
        Succeeded(library->CreateTypeInfo(Ole(installed.aliasName), TKIND_ALIAS, alias.out()),
                  writing);
        Succeeded(alias->SetGuid(Guid(installed.alias)), writing);
        Succeeded(alias->SetTypeFlags(TYPEFLAG_FHIDDEN), writing);
        TYPEDESC aliased{};
        aliased.vt = VT_USERDEFINED;
        Succeeded(alias->AddRefTypeInfo(written.get(), &aliased.hreftype), writing);
        Succeeded(alias->SetTypeDescAlias(&aliased), writing);
        Succeeded(alias->LayOut(), writing);
    }

    Owned<ICreateTypeInfo> coclass;
    Succeeded(library->CreateTypeInfo(Ole(installed.className), TKIND_COCLASS, coclass.out()),
              writing);
    Succeeded(coclass->SetGuid(Guid(installed.clsid)), writing);
    Succeeded(coclass->SetTypeFlags(TYPEFLAG_FCANCREATE), writing);
    HREFTYPE implemented = 0;
    Succeeded(coclass->AddRefTypeInfo(written.get(), &implemented), writing);
    Succeeded(coclass->AddImplType(0, implemented), writing);
    Succeeded(coclass->SetImplTypeFlags(0, IMPLTYPEFLAG_FDEFAULT), writing);
    Succeeded(coclass->LayOut(), writing);
    Succeeded(library->SaveAllChanges(), writing);

    // What was written, read back as a client reads it.
    const std::wstring checking = L"checking " + path;
    Owned<ITypeLib> back;
    Succeeded(LoadTypeLibEx(path.c_str(), REGKIND_NONE, back.out()), checking);
    Owned<ITypeInfo> face2, class2;
    Succeeded(back->GetTypeInfoOfGuid(Guid(installed.iid), face2.out()), checking);
    Succeeded(back->GetTypeInfoOfGuid(Guid(installed.clsid), class2.out()), checking);
    Owned<ITypeInfo> table;
    *table.out() = FunctionTable(face2.get());
    const std::vector<std::wstring> differences =
        table.get() == nullptr
            ? std::vector<std::wstring>{L"not dual"}
            // branch-untaken: the library just written reads back dual, as written
            : Differences(palavox.vtable.get(), table.get());
    // branch-untaken: and with Palavox's interface
    if (!differences.empty()) {
        throw Failure(checking + L": its interface is not Palavox's (" + differences.front() + L")",
                      E_UNEXPECTED);
    }
}

}  // namespace palavox::adopt
