// Shadow mode (palavox-adopt shadow): each object holds the installed
// component's own object, made through that component's class factory from
// the DLL its registration named before adoption; every call is answered by
// it and worked out by Palavox too, and a call whose answers differ is
// appended to this host process's recording (migration/shadow/). Nothing of
// the recording's fate (a folder missing, full, not writable) reaches a client.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

#include "palavox_idl.h"
#include "shadow/shadow_recording.hpp"

namespace palavox::com {

// The installed component's object, asked for the interface its clients use
// (the same function table as _PalavoxClass): S_OK and `*old`, or why not.
HRESULT CreateInstalledObject(_PalavoxClass** old) noexcept;

// One answer as shadow mode compares it; `info` is the failure's error info.
shadow::Outcome TextOutcome(HRESULT hr, BSTR text, IErrorInfo* info);
shadow::Outcome CountOutcome(HRESULT hr, LONG count, IErrorInfo* info);

// A call watched: recorded when `old` and `mine` differ. Thread-safe.
void Watch(shadow::Method method, const BSTR* args, std::size_t count, const shadow::Outcome& old,
           const shadow::Outcome& mine) noexcept;

// The error info a failed call left on this thread, taken (null otherwise).
IErrorInfo* TakeError(HRESULT hr) noexcept;

// The last totals line, as the DLL leaves the process.
void FinishShadow() noexcept;

}  // namespace palavox::com
