// The 1.x operand rewrite: an instruction whose argument groups select
// components no 1.x swizzle expresses is split by destination components
// into parts whose selections each fit one (identity or a replicate); on
// ps_1_1-1_3 a part may write w only alone or with all of x, y, z. A dot
// product is reordered by position instead.
#include <algorithm>

#include "gxl/shader/backend/targets/ps1/ps1_arith.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"

namespace gxl::shader {

namespace {

using ps1::GroupSelection;

constexpr std::uint8_t kOperandSwizzles[5][4] = {{0, 1, 2, 3}, {3, 3, 3, 3}, {0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}};

bool FitsOperandCheck(const GroupSelection& s) {
  return std::any_of(std::begin(kOperandSwizzles), std::end(kOperandSwizzles),
                     [&](const std::uint8_t* e) { return ps1::FitsSwizzle(s, e); });
}

// Positions of the instruction's results, by destination component.
struct Layout {
  std::uint32_t n = 0, groups = 0;
  std::uint32_t order[4];  // positions sorted by component
  std::uint8_t component[4];
  GroupSelection selection[8];
};

// Whether the results at the positions of `keep` may form one instruction.
bool PartFits(const Layout& l, const bool keep[4], bool masksLimited) {
  bool w = false;
  std::uint32_t colour = 0;
  for (std::uint32_t j = 0; j < l.n; ++j) {
    if (!keep[j]) continue;
    w |= l.component[j] == ps1::kComponentW;
    colour += l.component[j] != ps1::kComponentW;
  }
  if (masksLimited && w && colour != 0 && colour != 3) return false;
  for (std::uint32_t g = 0; g < l.groups; ++g) {
    GroupSelection s{};
    for (std::uint32_t j = 0; j < l.n; ++j) {
      if (!keep[j]) continue;
      s.source[s.count] = l.selection[g].source[j];
      s.destination[s.count++] = l.selection[g].destination[j];
    }
    if (!FitsOperandCheck(s)) return false;
  }
  return true;
}

// A split: part[j] names the part of position j; `parts` of them.
struct Split {
  std::uint8_t part[4];
  std::uint32_t parts;
};

bool SplitFits(const Layout& l, const Split& s, bool masksLimited) {
  for (std::uint32_t p = 0; p < s.parts; ++p) {
    bool keep[4] = {};
    for (std::uint32_t j = 0; j < l.n; ++j) keep[j] = s.part[j] == p;
    if (!PartFits(l, keep, masksLimited)) return false;
  }
  return true;
}

// The splits in the order tried, over positions sorted by component; the
// last one leaves every component alone, which always fits.
std::uint32_t Candidates(const Layout& l, Split* out) {
  std::uint32_t count = 0;
  auto add = [&](std::initializer_list<std::uint32_t> partOfRank) {
    Split s{{}, 0};
    std::uint32_t rank = 0;
    for (const std::uint32_t p : partOfRank) {
      s.part[l.order[rank++]] = static_cast<std::uint8_t>(p);
      s.parts = std::max(s.parts, p + 1);
    }
    out[count++] = s;
  };
  if (l.n == 2) {
    add({0, 1});
  } else if (l.n == 3) {
    add({0, 1, 1});
    add({1, 0, 1});
    add({1, 1, 0});
    add({0, 1, 2});
  } else if (l.n == 4) {
    add({0, 1, 1, 1});  // one component against the other three, x first
    add({1, 0, 1, 1});
    add({1, 1, 0, 1});
    add({1, 1, 1, 0});
    add({0, 0, 1, 1});  // pairs
    add({0, 1, 0, 1});
    add({0, 1, 1, 0});
    add({0, 0, 1, 2});  // a pair and two single components
    add({0, 1, 0, 2});
    add({0, 1, 2, 0});
    add({1, 0, 0, 2});
    add({1, 0, 2, 0});
    add({1, 2, 0, 0});
    add({0, 1, 2, 3});
  }
  return count;
}

// A dot product is the same over any order of its positions: one that lets
// both groups fit (dot(a.yzx, b.yzx) is dot(a, b)) takes the place of one
// that does not. 0 when reordered, 1 when not.
HRESULT ReorderDotPositions(const PixelShader1Target& t, IrInstruction& dot) {
  const std::uint32_t n = dot.Width();
  GroupSelection s[2];
  if (n < 2 || n > 4 || dot.argumentCount != 2 * n || !ps1::SelectionOf(t, dot, 0, &s[0]) ||
      !ps1::SelectionOf(t, dot, 1, &s[1]) || (FitsOperandCheck(s[0]) && FitsOperandCheck(s[1])))
    return 1;
  std::uint32_t order[4] = {0, 1, 2, 3};
  while (std::next_permutation(order, order + n)) {
    GroupSelection p[2] = {s[0], s[1]};
    for (std::uint32_t g = 0; g < 2; ++g)
      for (std::uint32_t j = 0; j < n; ++j) p[g].source[j] = s[g].source[order[j]];
    if (!FitsOperandCheck(p[0]) || !FitsOperandCheck(p[1])) continue;
    std::uint32_t arguments[8];
    for (std::uint32_t g = 0; g < 2; ++g)
      for (std::uint32_t j = 0; j < n; ++j) arguments[g * n + j] = dot.arguments[g * n + order[j]];
    std::copy(arguments, arguments + 2 * n, dot.arguments);
    return S_OK;
  }
  return 1;
}

// A dot product group that no order of positions fits is read through a
// move into a new register, placed before the dot and itself rewritten.
HRESULT CopyDotGroups(Ps1StandardRules& rules, PixelShader1Target& t, std::uint32_t index) {
  IrInstruction* dot = t.Instruction(index);
  const std::uint32_t n = dot->Width();
  if (n < 2 || n > 4 || dot->argumentCount != 2 * n) return 1;
  HRESULT hr = 1;
  for (std::uint32_t g = 0; g < 2; ++g) {
    GroupSelection s;
    if (!ps1::SelectionOf(t, *t.Instruction(index), g, &s) || FitsOperandCheck(s)) continue;
    std::uint32_t copies[4];
    for (std::uint32_t p = 0; p < n; ++p)
      if ((copies[p] = ps1::NewTemporary(t, p)) == kNoIndex) return E_OUTOFMEMORY;
    const std::uint32_t move =
        t.AddFilledInstruction(IrWord(kOpMove, n), t.Instruction(index)->arguments + g * n, n, copies, n, index);
    if (move == kNoIndex) return E_OUTOFMEMORY;
    std::copy(copies, copies + n, t.Instruction(index)->arguments + g * n);
    t.MoveInstruction(index, move);  // the dot moves to index + 1
    const std::uint32_t before = t.instructions.Count();
    if (FAILED(hr = rules.LegaliseOperands(t, index))) return hr;
    index += 1 + (t.instructions.Count() - before);  // parts went in after the move
    hr = S_OK;
  }
  return hr;
}

}  // namespace

HRESULT Ps1StandardRules::LegaliseOperands(PixelShader1Target& t, std::uint32_t index) {
  IrInstruction* inst = t.Instruction(index);
  if (inst && inst->word >= 0x100000 && inst->IsDot()) {
    const HRESULT hr = ReorderDotPositions(t, *inst);
    return hr == 1 ? CopyDotGroups(*this, t, index) : hr;
  }
  if (!inst || inst->word < 0x100000 || ps1::IsTextureSide(inst->Group())) return 1;
  Layout l;
  l.n = inst->Width();
  l.groups = ps1::GroupCount(*inst);
  if (l.n == 0 || inst->resultCount != l.n || l.groups == 0 || l.groups > 8) return 1;
  for (std::uint32_t g = 0; g < l.groups; ++g)
    if (!ps1::SelectionOf(t, *inst, g, &l.selection[g])) return 1;
  for (std::uint32_t j = 0; j < l.n; ++j) {
    l.order[j] = j;
    l.component[j] = l.selection[0].destination[j];
  }
  std::sort(l.order, l.order + l.n, [&](std::uint32_t a, std::uint32_t b) { return l.component[a] < l.component[b]; });
  const bool masksLimited = !t.Is14();
  const bool all[4] = {true, true, true, true};
  if (PartFits(l, all, masksLimited) || l.n == 1) return 1;
  Split candidates[16];
  const std::uint32_t count = Candidates(l, candidates);
  const Split* chosen = nullptr;
  for (std::uint32_t k = 0; k < count && !chosen; ++k)
    if (SplitFits(l, candidates[k], masksLimited)) chosen = &candidates[k];
  if (!chosen) return 1;
  // The parts are appended, then moved up in place of the instruction.
  t.SetCurrentInstruction(index);
  const std::uint32_t first = t.instructions.Count();
  for (std::uint32_t p = 0; p < chosen->parts; ++p) {
    std::uint8_t keep[4] = {};
    std::uint32_t width = 0;
    for (std::uint32_t j = 0; j < l.n; ++j) width += keep[j] = chosen->part[j] == p;
    const HRESULT hr = t.SplitByComponents(keep, l.groups, width);
    if (FAILED(hr)) return hr;
  }
  t.Instruction(index)->word = 0;
  for (std::uint32_t p = 0; p < chosen->parts; ++p) t.MoveInstruction(index + 1 + p, first + p);
  return S_OK;
}

}  // namespace gxl::shader
