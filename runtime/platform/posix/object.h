// Handles of kernel objects.
#pragma once

#include "types.h"

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))

// Differs: only handles made by this layer can be closed; pseudo handles are refused.
BOOL CloseHandle(HANDLE handle);
