// Compares read as minima and maxima: what the min/max recognisers rewrite
// and what the clamp recogniser composes into saturations on the profiles
// that write clamps as compares.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/select/expression_pattern.h"

namespace gxl::shader::sel {

constexpr std::uint32_t kMinGroup = 0x70B, kMaxGroup = 0x70C;

// An instruction read as group(first, second) per component.
struct MinMaxForm {
  std::uint32_t group = 0;          // kMinGroup or kMaxGroup
  std::uint32_t arguments[8] = {};  // the n first arguments, then the n second
  MatchedList list;                 // the matched tree, the instruction last; empty for the direct forms
};

// A compare of 1-4 components with its three groups.
bool IsCompareOfWidth(const IrInstruction& inst);

// MatchExpressionPattern rooted at `position`, its width the limit.
HRESULT MatchAt(const ShaderProgram& p, std::uint32_t position, std::uint32_t pattern, bool relaxed, MatchedList& list,
                Captures& captures);

// cmp(x, 0, x) as min(x, 0) and, with `offerMax`, cmp(x, x, 0) as max(x, 0).
bool DirectForm(const ShaderProgram& p, const IrInstruction& inst, bool offerMax, MinMaxForm& form);
// cmp(a + (-b), a, b) as max(a, b), cmp(a + (-b), b, a) as min(a, b).
bool DifferenceForm(const ShaderProgram& p, std::uint32_t position, bool relaxed, MinMaxForm& form);
// Pattern 15, cmp(x + k1, L, x + k2), as min(x + k2, L); pattern 16,
// cmp(x + k1, x + k2, L), as max(x + k2, L); L = k2 - k1.
bool SumsForm(const ShaderProgram& p, std::uint32_t position, std::uint32_t pattern, bool relaxed, MinMaxForm& form);

// Every reading of the instruction at `position` as a minimum or maximum, at
// most four: a minimum or maximum itself, or a compare in the forms above
// (strict matches; the direct maximum only with `offerMax`). The count.
std::uint32_t MinMaxForms(const ShaderProgram& p, std::uint32_t position, bool offerMax, MinMaxForm* forms);

}  // namespace gxl::shader::sel
