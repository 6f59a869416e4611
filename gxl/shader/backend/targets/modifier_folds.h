// The peepholes around instruction selection that fold simple arithmetic into
// source modifiers (negate, absolute value, bias, times two, complement and
// their combinations) and form multiply-add and lrp from an add fed by a
// product. Each works on the target's current instruction and returns 0 when
// it folded, 1 when it does not apply (nothing changed), or a failure; the
// caller refreshes the use analysis after a fold.
#pragma once

#include "gxl/shader/backend/targets/shader_target.h"

namespace gxl::shader {

// Binding-word source modifiers (bits 16-20).
namespace mod {
constexpr std::uint32_t kComplement = 0x10000;
constexpr std::uint32_t kBias = 0x20000;
constexpr std::uint32_t kTimesTwo = 0x40000;
constexpr std::uint32_t kSignedScale = 0x60000;
constexpr std::uint32_t kNegate = 0x80000;
constexpr std::uint32_t kAbsolute = 0x100000;
constexpr std::uint32_t kSourceBits = 0x1F0000;
constexpr std::uint32_t kSaturate = 0x200;
constexpr std::uint32_t kResultShiftBits = 0xFC00;
}  // namespace mod

// A negate (0x101) read as a negated source.
HRESULT FoldNegate(ShaderTarget& t, bool keep);
// An abs (0x700) read as an absolute-value source; never from a uniform.
HRESULT FoldAbsolute(ShaderTarget& t);
// x + (-0.5) read as x_bias (written to an output: a move of x_bias);
// warning 4701 where the profile needs x clamped.
HRESULT FoldBias(ShaderTarget& t);
// x * 2 or x + x read as x_x2 (x_bx2 over a bias).
HRESULT FoldTimesTwo(ShaderTarget& t);
// 1 + (-x) read as the complement 1 - x; warning 4702 when x was clamped
// where the profile needs it unclamped. `instruction` null: the current one.
HRESULT FoldComplement(ShaderTarget& t, IrInstruction* instruction = nullptr);
// x * -1.0 feeding an add that takes it: the add folded as a complement.
HRESULT FoldNegatedMultiply(ShaderTarget& t);
// (x + x) + (-1.0) read as the signed scale 2x - 1.
HRESULT FoldSignedScale(ShaderTarget& t);
// A mad whose product's operands, in one of six orders, make a lerp.
HRESULT TryLerpOrders(ShaderTarget& t);
// An add fed by a product (or a negated one) becomes mad (0x703) or its
// negated form (0x704); failing that, c - (a + b) at an add and mad(a + b,
// c, d) at a mad become one mad where literals allow. `relaxed`: a product
// read elsewhere as well still matches, and stays for its other readers.
HRESULT FormMultiplyAdd(ShaderTarget& t, bool relaxed);

}  // namespace gxl::shader
