// Short human-readable descriptions of result codes, for the DirectX family and
// the common COM results.
#pragma once

#include "platform/win_types.h"

// The description of hr, matched on all 32 bits, or "n/a" for a code without
// one. Constant text with static lifetime; no allocation, state or set-up.
const char* HResultDescriptionA(HRESULT hr);
const WCHAR* HResultDescriptionW(HRESULT hr);
