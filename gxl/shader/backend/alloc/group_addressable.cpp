// An operand group that reads several registers, made to read one.
//
// The rules, in order:
// - A group whose values already lie in one register (unplaced literals of
//   "l" count as one register) is left alone.
// - Each component is traced back through moves, negations, products with a
//   literal, sums with a literal and sums of a value with itself, as long as
//   the definition stands before the reader: the component is then scale x
//   base + offset, or a literal when the trace ends in one. The base register
//   is the one most components reach; ties go to the larger sum of squared
//   distances between the bases' definitions and the reader.
// - When every component is its base itself and all bases share that
//   register, or every component is a literal, the group reads those values.
// - Otherwise, when new instructions are allowed and every component reaches
//   the base register or a literal, a fresh temporary is filled at the
//   group's positions: one move of the components with scale 1, one negation
//   of those with scale -1, one product with the literal scales of the
//   others, then one sum with the literal offsets, and one move of the
//   literal components.
// - Otherwise, when new instructions are allowed, the fresh temporary is
//   filled by one move per source register of the group as it stands.
// Every instruction made reads one register per group, so it needs no repair.
#include <cmath>

#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader::alloc {

namespace {

// A component as scale x base + offset, or a literal.
struct Trace {
  std::uint32_t base = kNoIndex;
  double scale = 1.0, offset = 0.0;
  bool literal = false;
};

bool IsUnplacedLiteral(const ShaderProgram& p, std::uint32_t value) {
  const IrValue* v = p.values[value];
  return v && v->relativeIndex == kNoIndex && v->reg == kNoIndex && (BankTypeOf(p, value) & kBankLiteral);
}

double LiteralValue(const ShaderProgram& p, std::uint32_t value) { return p.values[value]->rangeLow; }

// The definition of `value` when it stands in [0, before) and may be looked
// through: a computed, direct value without the exact flag.
const IrInstruction* DefinedInRange(const ShaderProgram& p, std::uint32_t value, std::uint32_t before,
                                    std::uint32_t* slot) {
  const IrValue* v = p.values[value];
  if (!v || v->relativeIndex != kNoIndex || (v->flags & kValueExact) || v->definingPosition >= before ||
      (BankTypeOf(p, value) & (kBankBlockMoves | kBankOutput | kBankLiteral)))
    return nullptr;
  const IrInstruction* d = p.instructions[v->definingPosition];
  if (IsEmpty(d) || d->Class() < 1 || d->Class() > 2) return nullptr;
  *slot = opt::ResultSlot(*d, value);
  return *slot == kNoIndex ? nullptr : d;
}

Trace LinearSource(const ShaderProgram& p, std::uint32_t value, std::uint32_t before) {
  Trace t;
  for (std::uint32_t steps = 0; steps < 64; ++steps) {
    if (IsUnplacedLiteral(p, value)) {
      t.offset += t.scale * LiteralValue(p, value);
      t.scale = 0.0;
      t.literal = true;
      return t;
    }
    t.base = value;
    std::uint32_t slot;
    const IrInstruction* d = DefinedInRange(p, value, before, &slot);
    if (!d) return t;
    const std::uint32_t a = opt::Column(*d, 0, slot);
    const std::uint32_t b = d->Class() == 2 ? opt::Column(*d, 1, slot) : kNoIndex;
    double scale = t.scale, offset = t.offset;
    std::uint32_t next;
    switch (d->Group()) {
      case kOpMove:
        next = a;
        break;
      case kOpNegate:
        scale = -scale;
        next = a;
        break;
      case kOpMultiply:
        if (IsUnplacedLiteral(p, b)) {
          scale *= LiteralValue(p, b);
          next = a;
        } else if (IsUnplacedLiteral(p, a)) {
          scale *= LiteralValue(p, a);
          next = b;
        } else {
          return t;
        }
        break;
      case kOpAdd:
        if (IsUnplacedLiteral(p, b)) {
          offset += scale * LiteralValue(p, b);
          next = a;
        } else if (IsUnplacedLiteral(p, a)) {
          offset += scale * LiteralValue(p, a);
          next = b;
        } else if (a == b) {
          scale *= 2;
          next = a;
        } else {
          return t;
        }
        break;
      default:
        return t;
    }
    if (!std::isfinite(scale) || !std::isfinite(offset) || scale == 0.0) return t;
    t.scale = scale;
    t.offset = offset;
    value = next;
  }
  return t;
}

// The literal x as a value: an unplaced one of "l" when one exists among
// the candidates, else a new one.
std::uint32_t LiteralFor(ShaderProgram& p, double x, const std::uint32_t* candidates, std::uint32_t n) {
  for (std::uint32_t k = 0; k < n; ++k)
    if (IsUnplacedLiteral(p, candidates[k]) && LiteralValue(p, candidates[k]) == x &&
        p.values[candidates[k]]->bank == LiteralBank(p))
      return candidates[k];
  return NewLiteral(p, x);
}

class GroupBuilder {
 public:
  GroupBuilder(ShaderProgram& p, const IrInstruction& reader, std::uint32_t reg)
      : m_p(p), m_reader(reader), m_reg(reg) {}

  // The temporary of position k, made on first use.
  std::uint32_t Slot(std::uint32_t k) {
    const std::uint32_t like = m_reader.resultCount ? m_reader.results[0] : kNoIndex;
    return NewTemporary(m_p, m_reg, k, like);
  }

  // One instruction of `group` over `n` positions, its argument groups given
  // per position; writes fresh temporaries at those positions into `out`.
  bool Emit(std::uint32_t group, std::uint32_t groups, const std::uint32_t* positions, std::uint32_t n,
            const std::uint32_t (*arguments)[4], std::uint32_t* out) {
    if (n == 0) return true;
    std::uint32_t args[8], results[4];
    for (std::uint32_t j = 0; j < n; ++j) {
      for (std::uint32_t g = 0; g < groups; ++g) args[g * n + j] = arguments[g][j];
      if ((results[j] = Slot(positions[j])) == kNoIndex) return false;
      out[positions[j]] = results[j];
    }
    return NewInstruction(m_p, IrWord(group, n), args, results, m_reader) != kNoIndex;
  }

 private:
  ShaderProgram& m_p;
  const IrInstruction& m_reader;
  std::uint32_t m_reg;
};

}  // namespace

bool MakeGroupAddressable(ShaderProgram& p, std::uint32_t* group, std::uint32_t width, const IrInstruction& reader,
                          std::uint32_t readerPosition, Repair repair, std::uint32_t* nextRegister, HRESULT* status) {
  *status = S_OK;
  if (width == 0) return true;
  if (width > 4) return false;
  if (InOneRegister(p, group, width)) return true;
  if (repair == Repair::kCheck) return false;

  Trace trace[4];
  for (std::uint32_t k = 0; k < width; ++k) trace[k] = LinearSource(p, group[k], readerPosition);
  // The base register: reached by most components, then farthest defined.
  std::uint32_t best = kNoIndex, bestCount = 0;
  double bestSpread = -1.0;
  for (std::uint32_t k = 0; k < width; ++k) {
    if (trace[k].literal) continue;
    std::uint32_t count = 0;
    double spread = 0.0;
    for (std::uint32_t j = 0; j < width; ++j) {
      if (trace[j].literal || !p.SameRegisterIndex(trace[k].base, trace[j].base)) continue;
      ++count;
      const std::uint32_t at = p.values[trace[j].base]->definingPosition;
      const double distance = at == kNoIndex ? 0.0 : static_cast<double>(readerPosition) - at;
      spread += distance * distance;
    }
    if (count > bestCount || (count == bestCount && spread > bestSpread)) {
      best = trace[k].base;
      bestCount = count;
      bestSpread = spread;
    }
  }
  std::uint32_t literals = 0, direct = 0;
  for (std::uint32_t k = 0; k < width; ++k) {
    if (trace[k].literal) {
      ++literals;
    } else if (trace[k].scale == 1.0 && trace[k].offset == 0.0 && p.SameRegisterIndex(trace[k].base, best)) {
      ++direct;
    }
  }
  const bool traced = literals + bestCount == width;
  if (direct == width || literals == width) {
    for (std::uint32_t k = 0; k < width; ++k) {
      const std::uint32_t value = trace[k].literal ? LiteralFor(p, trace[k].offset, group, width) : trace[k].base;
      if (value == kNoIndex) return *status = E_OUTOFMEMORY, false;
      group[k] = value;
    }
    return true;
  }
  if (repair != Repair::kBuild) return false;

  for (std::uint32_t k = 0; k < width; ++k) {
    const IrValue* v = p.values[traced && !trace[k].literal ? trace[k].base : group[k]];
    if (v && !IsUnplacedLiteral(p, group[k]) && v->component > 3) {
      GXL_SHADER_REPORT(p, reader.sourcePosition, msg::kInternalComponentOutOfRange);
      *status = E_FAIL;
      return false;
    }
  }
  GroupBuilder build(p, reader, (*nextRegister)++);
  std::uint32_t made[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  std::uint32_t positions[4], arguments[2][4];
  auto fail = [&] { return *status = E_OUTOFMEMORY, false; };

  if (!traced) {
    // One move per source register of the group as it stands.
    bool done[4] = {false, false, false, false};
    for (std::uint32_t k = 0; k < width; ++k) {
      if (done[k]) continue;
      std::uint32_t n = 0;
      for (std::uint32_t j = k; j < width; ++j) {
        if (done[j] || !p.SameRegisterIndex(group[k], group[j])) continue;
        done[j] = true;
        positions[n] = j;
        arguments[0][n++] = group[j];
      }
      if (!build.Emit(kOpMove, 1, positions, n, arguments, made)) return fail();
    }
  } else {
    // scale 1, scale -1, other scales; then the offsets; then the literals.
    for (int kind = 0; kind < 3; ++kind) {
      std::uint32_t n = 0;
      for (std::uint32_t k = 0; k < width; ++k) {
        const Trace& t = trace[k];
        if (t.literal || (kind == 0) != (t.scale == 1.0) || (kind == 1) != (t.scale == -1.0)) continue;
        positions[n] = k;
        arguments[0][n] = t.base;
        if (kind == 2 && (arguments[1][n] = LiteralFor(p, t.scale, group, width)) == kNoIndex) return fail();
        ++n;
      }
      if (!build.Emit(kind == 0   ? kOpMove
                      : kind == 1 ? kOpNegate
                                  : kOpMultiply,
                      kind == 2 ? 2 : 1, positions, n, arguments, made))
        return fail();
    }
    std::uint32_t n = 0;
    for (std::uint32_t k = 0; k < width; ++k) {
      if (trace[k].literal || trace[k].offset == 0.0) continue;
      positions[n] = k;
      arguments[0][n] = made[k];
      if ((arguments[1][n] = LiteralFor(p, trace[k].offset, group, width)) == kNoIndex) return fail();
      ++n;
    }
    if (!build.Emit(kOpAdd, 2, positions, n, arguments, made)) return fail();
    n = 0;
    for (std::uint32_t k = 0; k < width; ++k) {
      if (!trace[k].literal) continue;
      positions[n] = k;
      if ((arguments[0][n++] = LiteralFor(p, trace[k].offset, group, width)) == kNoIndex) return fail();
    }
    if (!build.Emit(kOpMove, 1, positions, n, arguments, made)) return fail();
  }
  for (std::uint32_t k = 0; k < width; ++k) group[k] = made[k];
  return true;
}

}  // namespace gxl::shader::alloc
