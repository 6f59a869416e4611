// A small language for writing IR programs in tests without a front end:
// banks and inputs, literals, arithmetic, select, and if blocks and loops in
// the shapes the lowering emits. Every failure throws, so a test stops at the
// first broken step.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "gxl/shader/backend/ir/shader_program.h"

namespace irkit {

using gxl::shader::kNoIndex;
using gxl::shader::ShaderProgram;
using gxl::shader::StandardBank;
using Values = std::vector<std::uint32_t>;

// a followed by b.
Values Concat(const Values& a, const Values& b);
// n copies of v.
Values Repeat(std::uint32_t v, std::uint32_t n);

class IrBuilder {
 public:
  // The program must be set up (ShaderProgram::Init).
  explicit IrBuilder(ShaderProgram& program) : m_p(program) {}

  ShaderProgram& Program() { return m_p; }
  std::uint32_t BankIndex(StandardBank b) const { return m_p.StandardBankIndex(b); }

  // --- Values
  std::uint32_t Literal(double x);
  Values Literals(std::initializer_list<double> xs);
  // Components 0..n-1 of a register of a bank (an index, or a standard bank).
  Values Register(std::uint32_t bank, std::uint32_t reg, std::uint32_t components = 4);
  Values Register(StandardBank bank, std::uint32_t reg, std::uint32_t components = 4) {
    return Register(BankIndex(bank), reg, components);
  }
  Values Input(std::uint32_t reg, std::uint32_t components = 4) { return Register(StandardBank::Inputs, reg, components); }
  Values Constant(std::uint32_t reg, std::uint32_t components = 4) {
    return Register(StandardBank::FloatConstants, reg, components);
  }
  std::uint32_t Sampler(std::uint32_t reg) { return Register(StandardBank::Samplers, reg, 1)[0]; }
  // Components of register base + index of a bank, addressed through the
  // value `index` (relative addressing).
  Values RelativeRegister(StandardBank bank, std::uint32_t base, std::uint32_t index, std::uint32_t components);

  // --- Instructions: fresh temporaries guarded by the open block
  // One instruction of `group` over `arguments`, width `width`; result count
  // as the word derives it unless given.
  Values Emit(std::uint32_t group, const Values& arguments, std::uint32_t width, std::uint32_t results = kNoIndex,
              StandardBank bank = StandardBank::Temporaries);
  Values Unary(std::uint32_t group, const Values& a) { return Emit(group, a, Width(a)); }
  Values Binary(std::uint32_t group, const Values& a, const Values& b);
  Values Move(const Values& a) { return Unary(gxl::shader::kOpMove, a); }
  Values Add(const Values& a, const Values& b) { return Binary(gxl::shader::kOpAdd, a, b); }
  Values Mul(const Values& a, const Values& b) { return Binary(gxl::shader::kOpMultiply, a, b); }
  // b where a >= 0, else c.
  Values Select(const Values& a, const Values& b, const Values& c);
  std::uint32_t Dot(const Values& a, const Values& b);
  // A texture sample: the sampler repeated over the width, then the groups.
  Values Sample(std::uint32_t group, std::uint32_t sampler, std::uint32_t width, const Values& groups);
  // Moves into components 0..n-1 of an output register.
  Values Output(std::uint32_t reg, const Values& a);

  // --- Flow control
  using Body = std::function<Values()>;
  // Both bodies return the values of the same symbols; the result is their
  // merge. `test` non-zero runs `then`.
  Values If(std::uint32_t test, const Body& then, const Body& otherwise);
  using LoopBody = std::function<Values(const Values& entry)>;
  using LoopCondition = std::function<std::uint32_t(const Values& entry)>;
  // At most `count` iterations over loop-carried values starting at
  // `initial`; `body` maps the entry values of an iteration to the carried
  // ones. With a condition, a zero condition value leaves the loop before
  // the body runs (a break). The values after the loop.
  Values Loop(std::uint32_t count, const Values& initial, const LoopBody& body, const LoopCondition& condition = {});

 private:
  static std::uint32_t Width(const Values& v) { return static_cast<std::uint32_t>(v.size()); }
  // Fresh values of a bank written under the open block.
  Values Fresh(StandardBank bank, std::uint32_t n);
  // Moves under a given block context into the block-move bank.
  Values MoveUnder(const Values& a, std::uint32_t block, std::uint32_t polarity);

  ShaderProgram& m_p;
  std::uint32_t m_block = kNoIndex;  // the innermost open block value
  std::uint32_t m_polarity = 1;
};

}  // namespace irkit
