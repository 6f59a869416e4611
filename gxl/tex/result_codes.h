// Result codes of the extension library beyond those of the platform.
#pragma once

#include "platform/win_types.h"

constexpr HRESULT GXLERR_INVALIDDATA = (HRESULT)0x88760B59u;
