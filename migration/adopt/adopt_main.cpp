// palavox-adopt.exe: Palavox takes over the identity of the component
// installed under its ProgID (class, interface and alias, type library and
// version), so that clients built against that component switch unchanged;
// or runs beside it in shadow mode; or puts everything back. One bitness per
// program: each works in its own view of the registry. docs/windows.md and
// docs/migrating.md tell the commands, what each writes and their statuses.
#include <initguid.h>  // defines the identifiers of palavox_idl.h here

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "component.hpp"
#include "palavox_identity.h"
#include "palavox_idl.h"
#include "registry.hpp"
#include "typelib.hpp"

namespace palavox::adopt {
namespace {

constexpr const wchar_t* kUsageText =
    L"usage: palavox-adopt adopt\n"
    L"       palavox-adopt shadow FOLDER [--part-size BYTES] [--parts N]\n"
    L"       palavox-adopt undo\n"
    L"       palavox-adopt status\n";
constexpr const wchar_t* kUniversalMarshaler = L"{00020424-0000-0000-C000-000000000046}";
constexpr const wchar_t* kLibraryFile = L"Palavox-adopted.tlb";
// Shadow mode's recordings: a part is closed at this size, and a host process
// writes at most so many parts (docs/migrating.md).
constexpr DWORD kPartSize = 16u * 1024 * 1024;
constexpr DWORD kMinimumPartSize = 4096;
constexpr DWORD kParts = 8;

struct Options {
    std::wstring command;
    std::wstring folder;
    DWORD partSize = kPartSize;
    DWORD parts = kParts;
};

class UsageError : public std::runtime_error {
public:
    explicit UsageError(std::wstring message)
        : std::runtime_error("usage"), message_(std::move(message)) {}
    const std::wstring& message() const noexcept { return message_; }

private:
    std::wstring message_;
};

DWORD Number(const std::wstring& text, const std::wstring& option, DWORD least) {
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || value < least || value > 0x7FFFFFFFul) {
        throw UsageError(option + L" needs a whole number of at least " + std::to_wstring(least) +
                         L", not '" + text + L"'");
    }
    return static_cast<DWORD>(value);
}

Options Parse(int argc, wchar_t** argv) {
    Options o;
    std::vector<std::wstring> words;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--part-size" || a == L"--parts") {
            if (i + 1 == argc) throw UsageError(a + L" needs a value");
            if (a == L"--part-size") {
                o.partSize = Number(argv[++i], a, kMinimumPartSize);
            } else {
                o.parts = Number(argv[++i], a, 1);
            }
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) throw UsageError(L"a command is needed");
    o.command = words[0];
    const bool shadow = o.command == L"shadow";
    if (o.command != L"adopt" && !shadow && o.command != L"undo" && o.command != L"status") {
        throw UsageError(L"unknown command '" + o.command + L"'");
    }
    if (words.size() != (shadow ? 2u : 1u)) {
        throw UsageError(shadow ? L"shadow needs one FOLDER" : o.command + L" takes no argument");
    }
    if (shadow) o.folder = words[1];
    return o;
}

std::wstring StateKey() { return L"CLSID\\" + GuidText(CLSID_PalavoxClass) + L"\\Adoption"; }

std::wstring StateValue(const wchar_t* name) {
    return ReadString(Root::Classes, StateKey(), name).value_or(L"");
}

std::wstring Folder(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Shadow mode and undo both send clients back to the old DLL.
void OldDllStillThere(const std::wstring& doing) {
    const std::wstring server = StateValue(L"Server");
    if (!FileExists(server)) {
        throw Refusal(kNotAdoptable, doing +
                                         L" needs the installed component's DLL, which is no "
                                         L"longer where the registry said (" +
                                         server + L"): put it back first");
    }
}

void SayShadow(const Options& o) {
    Say(L"shadow mode: each call is answered by the installed component and worked out by Palavox "
        L"too; the calls whose answers differ go to " +
        o.folder +
        L", one file per host process, "
        L"parts of at most " +
        std::to_wstring(o.partSize) + L" bytes, at most " + std::to_wstring(o.parts) +
        L" parts a process");
    const DWORD attributes = GetFileAttributesW(o.folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        Say(L"note: " + o.folder +
            L" is not a folder (yet): nothing is recorded until it is one the "
            L"hosts may write in; their answers do not change");
    }
}

void WriteShadowSettings(Journal& journal, const Options& o) {
    journal.SetState(L"Folder", StringValue(o.folder));
    journal.SetState(L"PartSize", NumberValue(o.partSize));
    journal.SetState(L"Parts", NumberValue(o.parts));
}

int Finish(const std::wstring& target) {
    Say(target == L"shadow"
            ? L"done: shadow mode in " + View()
            : L"done: Palavox answers to the installed component's identity in " + View());
    Say(L"hosts change when they next load the DLL: restart IIS application pools, Office and "
        L"other programs that had it loaded");
    return kDone;
}

// Between adopted and shadow only the state changes.
int Switch(const std::wstring& target, const Options& o) {
    if (target == L"shadow") OldDllStillThere(L"shadow mode");
    const std::wstring was = StateValue(L"State");
    Journal journal(StateKey());
    if (target == L"shadow") {
        WriteShadowSettings(journal, o);
        SayShadow(o);
    }
    journal.SetState(L"State", StringValue(target));
    Say(L"set     the state to " + target + L" (was " + was + L")");
    return Finish(target);
}

int Adopt(const std::wstring& target, const Options& o) {
    Palavox palavox;
    palavox.clsid = GuidText(CLSID_PalavoxClass);
    FindPalavox(palavox);
    const std::wstring state = StateValue(L"State");
    if (state == L"incomplete") {
        throw Refusal(kRefusedByState, L"an earlier run stopped half-way (" + StateKey() +
                                           L" says incomplete): run palavox-adopt undo, which puts "
                                           L"back what it wrote");
    }
    if (state == target) {
        throw Refusal(kRefusedByState,
                      target == L"shadow"
                          ? L"already in shadow mode, recording into " + StateValue(L"Folder") +
                                L": run palavox-adopt undo first to change it"
                          : L"Palavox has already adopted the identity of " + StateValue(L"Clsid") +
                                L" in " + View() + L": there is nothing more to do");
    }
    if (!state.empty()) return Switch(target, o);

    const std::wstring progId = L"" PALAVOX_PROGID;
    Installed old;
    old.progId = progId;
    ReadInstalled(FindInstalledClass(progId, palavox.clsid), palavox, old);
    Say(L"installed component: class " + old.clsid + L" (" + old.className + L"), " + old.server +
        // branch-untaken: the DLLs the tests adopt all have a version resource
        (old.serverVersion.empty() ? L"" : L", version " + old.serverVersion));
    Say(L"  interface " + old.interfaceName + L" " + old.iid +
        // branch-untaken: every library the tests adopt has an alias, as Palavox's has
        (old.alias.empty() ? L"" : L", alias " + old.aliasName + L" " + old.alias) +
        L", type library " + old.libraryName + L" " + old.libid + L" " + old.versionKey +
        L": the methods, dispatch identifiers and parameters of Palavox's");
    const std::wstring library = Folder(palavox.dll) + kLibraryFile;
    if (FileExists(library)) {
        throw Refusal(kNotAdoptable, library +
                                         L" exists already, and no adoption wrote it: "
                                         L"remove it first");
    }

    Journal journal(StateKey());
    try {
        journal.Begin();
        const struct {
            const wchar_t* name;
            std::wstring value;
        } facts[] = {{L"ProgId", progId},     {L"Clsid", old.clsid},
                     {L"Iid", old.iid},       {L"AliasIid", old.alias},
                     {L"TypeLib", old.libid}, {L"Version", old.versionKey},
                     {L"Server", old.server}, {L"ServerVersion", old.serverVersion},
                     {L"Library", library}};
        for (const auto& fact : facts) journal.SetState(fact.name, StringValue(fact.value));
        journal.CreatingFile(library);
        WriteAdoptedLibrary(palavox, old, library);
        Say(L"wrote   " + library +
            L": Palavox's type library under the installed component's "
            L"identifiers, names and version");
        const std::wstring syskind = kBits == 64 ? L"win64" : L"win32";
        journal.Set(L"TypeLib\\" + old.libid + L"\\" + old.versionKey + L"\\" + old.lcidKey +
                        L"\\" + syskind,
                    nullptr, StringValue(library));
        const std::wstring face = L"Interface\\" + old.iid;
        journal.Set(face + L"\\ProxyStubClsid32", nullptr, StringValue(kUniversalMarshaler));
        journal.Set(face + L"\\TypeLib", nullptr, StringValue(old.libid));
        journal.Set(face + L"\\TypeLib", L"Version", StringValue(old.versionKey));
        // Every way of creating the class loads the server its key names:
        // CoGetClassObject as well as CoCreateInstance (TreatAs only the latter).
        journal.Set(L"CLSID\\" + old.clsid + L"\\InprocServer32", nullptr,
                    StringValue(palavox.dll));
        if (target == L"shadow") {
            WriteShadowSettings(journal, o);
            SayShadow(o);
        }
        journal.SetState(L"State", StringValue(target));
        // branch-untaken: in the journal's writes only Failure is thrown (memory aside)
    } catch (const Failure& failure) {
        Say(L"failed: " + failure.what_wide() + L" (status " + std::to_wstring(failure.status()) +
            L"); putting back what was written");
        const bool back = journal.Undo();
        const std::wstring after =
            back ? L"everything written was put back, nothing is changed"
                 : L"not everything could be put back: run palavox-adopt "
                   // branch-untaken: a write refused, then its put-back refused: no test locks both
                   L"undo once the cause is mended";
        if (failure.denied()) {
            Say(L"palavox-adopt: the registry cannot be written here: administrator rights are "
                L"needed (run it from an elevated prompt); " +
                after);
        } else {
            Say(L"palavox-adopt: " + after);
        }
        // branch-untaken: as above
        return !back ? kFailedNotPutBack : failure.denied() ? kAdministrator : kFailedPutBack;
    }
    return Finish(target);
}

int Undo() {
    const std::wstring state = StateValue(L"State");
    if (state.empty()) {
        throw Refusal(kRefusedByState,
                      L"nothing to undo: Palavox has adopted no identity in " + View());
    }
    if (state != L"incomplete") OldDllStillThere(L"undoing");
    Journal journal(StateKey());
    if (!journal.Undo()) {
        Say(L"palavox-adopt: not everything could be put back (see above): run palavox-adopt undo "
            L"again once the cause is mended");
        return kFailedNotPutBack;
    }
    Say(L"done: the registry is as it was before adoption in " + View() +
        L"; hosts change when they next load the DLL");
    return kDone;
}

int Status() {
    const std::wstring state = StateValue(L"State");
    if (state.empty()) {
        Say(L"off: Palavox answers as itself in " + View());
        return kDone;
    }
    Say(state + L": the identity of " + StateValue(L"Clsid") + L" (" + StateValue(L"ProgId") +
        L", " + StateValue(L"Server") + L") in " + View());
    if (state == L"shadow") Say(L"recording into " + StateValue(L"Folder"));
    return kDone;
}

int Run(const Options& o) {
    try {
        if (o.command == L"adopt") return Adopt(L"adopted", o);
        if (o.command == L"shadow") return Adopt(L"shadow", o);
        if (o.command == L"undo") return Undo();
        return Status();
        // branch-untaken: only Refusal and Failure are thrown (memory aside)
    } catch (const Refusal& r) {
        Say(L"palavox-adopt: refused, nothing changed: " + r.message());
        return r.status();
    } catch (const Failure& f) {
        Say(L"palavox-adopt: " + f.what_wide() + L" failed (status " + std::to_wstring(f.status()) +
            L"); nothing changed");
        // branch-untaken: a Failure before the journal: Palavox's library reads, no test locks a
        // switch
        return f.denied() ? kAdministrator : kFailedPutBack;
    }
}

}  // namespace
}  // namespace palavox::adopt

int wmain(int argc, wchar_t** argv) {
    using namespace palavox::adopt;
    Options options;
    try {
        options = Parse(argc, argv);
        // branch-untaken: Parse throws nothing else (memory aside)
    } catch (const UsageError& e) {
        Say(L"palavox-adopt: " + e.message());
        std::fputws(kUsageText, stderr);
        return kUsage;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int status = Run(options);
    CoUninitialize();
    return status;
}
