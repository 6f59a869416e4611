#include "tests/support/ir/ir_builder.h"

#include <stdexcept>
#include <string>

namespace irkit {

using namespace gxl::shader;

namespace {

std::uint32_t Check(std::uint32_t index, const char* what) {
  if (index == kNoIndex) throw std::runtime_error(std::string("IR builder: cannot add ") + what);
  return index;
}

}  // namespace

Values Concat(const Values& a, const Values& b) {
  Values out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

Values Repeat(std::uint32_t v, std::uint32_t n) { return Values(n, v); }

std::uint32_t IrBuilder::Literal(double x) {
  return Check(m_p.AddValue(BankIndex(StandardBank::Literals), kNoIndex, kNoIndex, x), "a literal");
}

Values IrBuilder::Literals(std::initializer_list<double> xs) {
  Values out;
  for (double x : xs) out.push_back(Literal(x));
  return out;
}

Values IrBuilder::Register(std::uint32_t bank, std::uint32_t reg, std::uint32_t components) {
  Values out;
  for (std::uint32_t c = 0; c < components; ++c)
    out.push_back(Check(m_p.AddValue(bank, reg, c, 0.0), "a register value"));
  return out;
}

Values IrBuilder::RelativeRegister(StandardBank bank, std::uint32_t base, std::uint32_t index,
                                   std::uint32_t components) {
  Values out = Register(bank, base, components);
  for (std::uint32_t v : out) m_p.Value(v)->relativeIndex = index;
  return out;
}

Values IrBuilder::Fresh(StandardBank bank, std::uint32_t n) {
  Values out;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t v = Check(m_p.AddValue(BankIndex(bank), kNoIndex, kNoIndex, 0.0), "a result");
    m_p.Value(v)->predicate = m_block;
    m_p.Value(v)->predicateSense = m_polarity;
    out.push_back(v);
  }
  return out;
}

Values IrBuilder::Emit(std::uint32_t group, const Values& arguments, std::uint32_t width, std::uint32_t results,
                       StandardBank bank) {
  const std::uint32_t index =
      Check(m_p.AddInstruction(IrWord(group, width), Width(arguments), results), "an instruction");
  IrInstruction& inst = *m_p.Instruction(index);
  std::copy(arguments.begin(), arguments.end(), inst.arguments);
  Values out = Fresh(bank, inst.resultCount);
  std::copy(out.begin(), out.end(), inst.results);
  return out;
}

Values IrBuilder::Binary(std::uint32_t group, const Values& a, const Values& b) {
  if (a.size() != b.size()) throw std::invalid_argument("IR builder: operands of different widths");
  return Emit(group, Concat(a, b), Width(a));
}

Values IrBuilder::Select(const Values& a, const Values& b, const Values& c) {
  if (a.size() != b.size() || a.size() != c.size()) throw std::invalid_argument("IR builder: select widths");
  return Emit(kOpSelect, Concat(Concat(a, b), c), Width(a));
}

std::uint32_t IrBuilder::Dot(const Values& a, const Values& b) {
  if (a.size() != b.size()) throw std::invalid_argument("IR builder: dot widths");
  return Emit(kOpDot, Concat(a, b), Width(a))[0];
}

Values IrBuilder::Sample(std::uint32_t group, std::uint32_t sampler, std::uint32_t width, const Values& groups) {
  return Emit(group, Concat(Repeat(sampler, width), groups), width);
}

Values IrBuilder::Output(std::uint32_t reg, const Values& a) {
  const std::uint32_t index = Check(m_p.AddInstruction(IrWord(kOpMove, Width(a)), kNoIndex, kNoIndex), "a move");
  IrInstruction& inst = *m_p.Instruction(index);
  Values out = Register(StandardBank::Outputs, reg, Width(a));
  for (std::uint32_t i = 0; i < Width(a); ++i) {
    inst.arguments[i] = a[i];
    inst.results[i] = out[i];
    m_p.Value(out[i])->predicate = m_block;
    m_p.Value(out[i])->predicateSense = m_polarity;
  }
  return out;
}

Values IrBuilder::MoveUnder(const Values& a, std::uint32_t block, std::uint32_t polarity) {
  const std::uint32_t savedBlock = m_block, savedPolarity = m_polarity;
  m_block = block;
  m_polarity = polarity;
  Values out = Emit(kOpMove, a, Width(a), kNoIndex, StandardBank::BlockMoves);
  m_block = savedBlock;
  m_polarity = savedPolarity;
  return out;
}

Values IrBuilder::If(std::uint32_t test, const Body& then, const Body& otherwise) {
  const std::uint32_t block = Emit(kOpIfBegin, {test}, 1, kNoIndex, StandardBank::BlockValues)[0];
  const std::uint32_t savedBlock = m_block, savedPolarity = m_polarity;
  m_block = block;
  m_polarity = 1;
  const Values thenValues = then();
  m_polarity = 0;
  const Values elseValues = otherwise();
  m_block = savedBlock;
  m_polarity = savedPolarity;
  if (thenValues.size() != elseValues.size() || thenValues.empty())
    throw std::invalid_argument("IR builder: if branches must give the same, non-empty symbols");
  const Values movedThen = MoveUnder(thenValues, block, 1);
  const Values movedElse = MoveUnder(elseValues, block, 0);
  return Emit(kOpIfMerge, Concat(movedThen, movedElse), Width(thenValues));
}

Values IrBuilder::Loop(std::uint32_t count, const Values& initial, const LoopBody& body,
                       const LoopCondition& condition) {
  const std::uint32_t m = Width(initial);
  if (m == 0) throw std::invalid_argument("IR builder: a loop carries at least one value");
  const std::uint32_t begin = Emit(kOpLoopBegin, {Literal(count)}, 1, kNoIndex, StandardBank::Loops)[0];
  const std::uint32_t savedBlock = m_block, savedPolarity = m_polarity;
  m_block = begin;
  m_polarity = 1;
  const Values entry = Emit(kOpLoopEntry, initial, m, kNoIndex, StandardBank::BlockMoves);
  const Values entryCopies = Emit(kOpLoopEntryCopy, entry, m, kNoIndex, StandardBank::LoopEntries);
  Values carried;
  if (condition) {
    const std::uint32_t breakValue = Emit(kOpBreak, {condition(entry)}, 1, kNoIndex, StandardBank::BlockValues)[0];
    m_block = breakValue;
    const Values after = body(entry);
    if (Width(after) != m) throw std::invalid_argument("IR builder: loop body width");
    const Values movedAfter = MoveUnder(after, breakValue, 1);
    const Values movedBefore = MoveUnder(entry, breakValue, 0);
    m_block = begin;
    carried = Emit(kOpBreakMerge, Concat(movedAfter, movedBefore), m, kNoIndex, StandardBank::BlockMoves);
  } else {
    carried = body(entry);
    if (Width(carried) != m) throw std::invalid_argument("IR builder: loop body width");
  }
  const Values moved = Emit(kOpMove, carried, m, kNoIndex, StandardBank::BlockMoves);
  const Values merged = Emit(kOpLoopMerge, Concat(moved, entryCopies), m, kNoIndex, StandardBank::BlockMoves);
  m_block = savedBlock;
  m_polarity = savedPolarity;
  return Emit(kOpLoopEnd, merged, m);
}

}  // namespace irkit
