// The formats a DDS file stores: every format of its pixel-format table, in
// table order. The encoder matches a record against this list.
#pragma once

#include "platform/d3d9_types.h"

constexpr unsigned kDdsFormatCount = 48;

// Zero-terminated.
const D3DFORMAT* DdsCandidateFormats();
