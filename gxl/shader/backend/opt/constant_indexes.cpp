// Relative reads and writes whose index is known: a literal index turns the
// access into a direct one, and a literal added to the index moves into the
// register offset.
#include <cmath>

#include "gxl/shader/backend/opt/opt_util.h"
#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

namespace {

// The value an index stands for, looking through a move that defines it.
std::uint32_t IndexSource(const ShaderProgram& p, std::uint32_t index) {
  const IrValue* v = p.values.Peek(index);
  const IrInstruction* d = v && v->relativeIndex == kNoIndex ? p.instructions.Peek(v->definingPosition) : nullptr;
  if (opt::IsEmpty(d) || d->Group() != kOpMove) return index;
  const std::uint32_t slot = opt::ResultSlot(*d, index);
  return slot < d->argumentCount ? opt::Root(p, d->arguments[slot]) : index;
}

}  // namespace

HRESULT ShaderProgram::ResolveConstantIndexes() {
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;
  NumberValues();
  const bool truncate = profileLimits.capabilities & cap::kTruncatedIndex;
  // How the address hardware turns an index into a register offset.
  auto round = [truncate](double x) { return truncate ? std::trunc(x) : std::floor(x + 0.5); };
  const std::uint32_t undefined = StandardBankIndex(StandardBank::Undefined);

  bool changed = false, redirected = false;
  const std::uint32_t count = values.Count();
  for (std::uint32_t i = 0; i < count; ++i) {
    IrValue* v = values[i];
    if (!v || v->relativeIndex == kNoIndex || v->bank == undefined || v->reg == kNoIndex) continue;
    const RegisterBank* bank = banks[v->bank];
    const std::uint32_t index = IndexSource(*this, v->relativeIndex);
    const IrValue* x = values[index];
    if (!bank || !x) continue;

    if (opt::IsLiteral(*this, index)) {
      // Decided in double: an index far outside, or not a number, never wraps into range.
      const double target = round(x->rangeLow) + static_cast<double>(v->reg);
      const double limit = bank->registerCount == kNoIndex ? 4294967295.0 : bank->registerCount;
      if (!(target >= 0 && target < limit)) {
        GXL_SHADER_REPORT(*this, v->declaration, msg::kIndexOutOfBounds);
        return E_FAIL;
      }
      const std::uint32_t reg = static_cast<std::uint32_t>(target);
      // A read of an element that the program already reads directly becomes
      // that read; a literal element is the same whatever guards the read.
      std::uint32_t same = kNoIndex;
      const bool literal = bank->type & kBankLiteral;
      if (v->definingPosition == kNoIndex) {
        for (std::uint32_t j = 0; j < count && same == kNoIndex; ++j) {
          const IrValue* w = values[j];
          if (j != i && w && w->bank == v->bank && w->reg == reg && w->component == v->component &&
              w->relativeIndex == kNoIndex &&
              (literal || (w->predicate == v->predicate && w->predicateSense == v->predicateSense)))
            same = j;
        }
      }
      if (same != kNoIndex) {
        opt::Redirect(*this, i, same);
        opt::Discard(*this, i);
        redirected = true;
      } else {
        v->MoveWithinVariable(reg);
        v->relativeIndex = kNoIndex;
        v->flags &= ~kValueRangeCached;
      }
      changed = true;
      continue;
    }

    // index = c + y with c >= 0, and c or y whole: the offset takes c.
    std::uint32_t slot;
    const IrInstruction* d = x->relativeIndex == kNoIndex ? instructions[x->definingPosition] : nullptr;
    if (opt::IsEmpty(d) || d->word != IrWord(kOpAdd, d->Width()) || (slot = opt::ResultSlot(*d, index)) == kNoIndex)
      continue;
    for (std::uint32_t side = 0; side < 2; ++side) {
      const std::uint32_t c = opt::Root(*this, opt::Column(*d, side, slot));
      const std::uint32_t y = opt::Root(*this, opt::Column(*d, 1 - side, slot));
      const IrValue *literal = values[c], *other = values[y];
      if (!opt::IsLiteral(*this, c) || !other || !(literal->flags & kValueNonNegative)) continue;
      const double offset = round(literal->rangeLow);
      const bool whole = literal->rangeLow == std::floor(literal->rangeLow);
      const bool otherWhole = (other->flags & kValueInteger) &&
                              !(opt::IsLiteral(*this, y) && other->rangeLow != std::floor(other->rangeLow));
      // Truncation agrees with the split only when nothing crosses zero.
      if (!(whole || otherWhole) || (truncate && !(other->flags & kValueNonNegative))) continue;
      if (!(offset + v->reg < 4294967295.0)) continue;
      v->MoveWithinVariable(v->reg + static_cast<std::uint32_t>(offset));
      v->relativeIndex = y;
      changed = true;
      break;
    }
  }
  if (redirected) opt::ForwardRedirections(*this);
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
