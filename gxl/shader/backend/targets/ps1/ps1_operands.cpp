// The 1.x operand rewrite: an instruction whose argument groups select
// components no 1.x swizzle expresses is split by destination components
// into parts whose selections each fit one (identity or a replicate); on
// ps_1_1-1_3 a part may write w only alone or with all of x, y, z.
#include <algorithm>

#include "gxl/shader/backend/targets/ps1/ps1_arith.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"

namespace gxl::shader {

namespace {

using ps1::GroupSelection;

constexpr std::uint8_t kOperandSwizzles[5][4] = {{0, 1, 2, 3}, {3, 3, 3, 3}, {0, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}};

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
    if (std::none_of(std::begin(kOperandSwizzles), std::end(kOperandSwizzles),
                     [&](const std::uint8_t* e) { return ps1::FitsSwizzle(s, e); }))
      return false;
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

}  // namespace

HRESULT Ps1StandardRules::LegaliseOperands(PixelShader1Target& t, std::uint32_t index) {
  IrInstruction* inst = t.Instruction(index);
  if (!inst || inst->word < 0x100000 || inst->IsDot() || ps1::IsTextureSide(inst->Group())) return 1;
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
