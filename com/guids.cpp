// Defines the identifiers declared by the generated header, exactly once.
#include <initguid.h>

#include "palavox_idl.h"
