// Symbolic names of result codes: the identifier under which the platform's SDK
// headers define a value ("E_FAIL" for 0x80004005, "ERROR_FILE_NOT_FOUND" for 2).
#pragma once

#include "platform/win_types.h"

// The name of hr, matched on all 32 bits (an HRESULT or a bare Win32 error
// number), or "Unknown". The text is constant and lives as long as the program.
// Neither call allocates, keeps state or needs set-up: any thread may call them
// at any time, during static initialisation too. The UTF-16 table differs from
// the 8-bit one in a few entries.
const char* HResultNameA(HRESULT hr);
const WCHAR* HResultNameW(HRESULT hr);
