// Pieces of the in-process server shared by its translation units.
#pragma once

#include <windows.h>

#include <string>

#include "palavox_idl.h"       // generated from palavox.idl
#include "palavox_identity.h"  // ProgIDs and versions, generated too

namespace palavox::com {

// Full path of this DLL, or empty on failure.
std::wstring ModulePath();

// Creates a PalavoxClass object and asks it for `riid`.
HRESULT CreatePalavoxObject(REFIID riid, void** object) noexcept;

// Gives back the type information all objects share; for the DLL's unloading only.
void ReleaseTypeInformation() noexcept;

}  // namespace palavox::com
