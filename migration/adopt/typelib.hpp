// The type library adoption writes: Palavox's own, made again through the
// platform's type-library creation calls (CreateTypeLib2) under the installed
// component's identifiers, names and version, so that a reference to the old
// library, a #import and the marshaler find Palavox's interface in it once the
// old DLL is gone.
#pragma once

#include <string>

#include "component.hpp"

namespace palavox::adopt {

// Writes the library to `path` (which must not exist), loads it back and
// checks that it describes the installed component's class and Palavox's
// interface; throws Failure otherwise.
void WriteAdoptedLibrary(const Palavox& palavox, const Installed& installed,
                         const std::wstring& path);

}  // namespace palavox::adopt
