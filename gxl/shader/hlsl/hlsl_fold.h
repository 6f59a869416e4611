// Folded values: one component record per component of an expression's type,
// and the conversions between component kinds that constant folding uses.
#pragma once

#include <cstdint>
#include <vector>

#include "gxl/shader/core/float_truncation.h"
#include "gxl/shader/hlsl/hlsl_types.h"

namespace gxl::shader {

struct FoldedComponent {
  std::uint32_t kind = kComponentFloat;  // ComponentKind
  // A 32-bit integer in the low half (kinds 0-2), a double (kind 3), or the
  // object's own bits (kinds 4, 5).
  std::uint64_t bits = 0;
};

using FoldedValue = std::vector<FoldedComponent>;

// Folding gives up, silently, on values of more components than this.
constexpr std::uint64_t kMaxFoldComponents = std::uint64_t{1} << 20;

// Boolean 1.0 or 0.0; integers as signed or unsigned; floats as they are.
double ComponentToDouble(const FoldedComponent& c);

// Stores a double into a kind: integers take value +-1e-6 truncated to 64 bits,
// low 32 bits kept; booleans are 1 for any non-zero value (NaN too).
FoldedComponent StoreDouble(double value, std::uint32_t kind);

// Converts between kinds; object kinds copy only into the same kind (false
// otherwise).
bool ConvertComponent(const FoldedComponent& c, std::uint32_t kind, FoldedComponent* out);

}  // namespace gxl::shader
