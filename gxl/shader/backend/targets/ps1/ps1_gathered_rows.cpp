#include "gxl/shader/backend/targets/ps1/ps1_gathered_rows.h"

#include "gxl/shader/backend/select/select_util.h"

namespace gxl::shader {

namespace {

// How far below the root the walk goes: reflection trees hold their dot three
// instructions down, and a join looks one further, at the dot's products.
constexpr std::uint32_t kDepth = 4;
// A rewrite swaps at most five instructions: a dot and its four products.
constexpr std::uint32_t kSwapsPerRewrite = 5;

// The operations of the trees a recogniser walks; their split forms are joined.
bool Followed(std::uint32_t group) {
  return group == kOpAdd || group == kOpMultiply || group == kOpDot || group == kOpNegate || group == kOpMove;
}

// Which of the parts' two operands (a multiply's or an add's) to exchange so
// that the second ones lie in one register, the vector the rows meet: the
// second phase put each part's operands in an order of its own. None when no
// order does.
void AlignOperands(const ShaderProgram& p, const IrInstruction* const* part, std::uint32_t n, bool* swap) {
  for (std::uint32_t first = 0; first < 2; ++first) {
    const std::uint32_t anchor = part[0]->arguments[1 - first];
    bool aligned = true;
    for (std::uint32_t k = 0; k < n && aligned; ++k) {
      swap[k] = !p.SameRegisterIndex(part[k]->arguments[1], anchor);
      aligned = !swap[k] || p.SameRegisterIndex(part[k]->arguments[0], anchor);
    }
    if (aligned) return;
  }
  for (std::uint32_t k = 0; k < n; ++k) swap[k] = false;
}

}  // namespace

GatheredRows::~GatheredRows() {
  for (std::uint32_t k = 0; k < m_swapCount; ++k) delete m_swaps[k].kept;
}

HRESULT GatheredRows::Replace(std::uint32_t position, IrInstruction* made) {
  if (!made) return E_OUTOFMEMORY;
  IrInstruction*& slot = m_t.instructions.Slot(position);
  made->CopyFields(*slot);
  m_swaps[m_swapCount++] = {position, slot, made};
  slot = made;
  return S_OK;
}

HRESULT GatheredRows::Undo() {
  if (m_swapCount == 0) return S_OK;
  // Newest first: a position replaced twice gets its first instruction back.
  while (m_swapCount > 0) {
    const Swap& s = m_swaps[--m_swapCount];
    m_t.instructions.Slot(s.position) = s.kept;
    delete s.made;
  }
  return m_t.ResetSelectionState();
}

bool GatheredRows::Within(const MatchedList& matched) const {
  for (std::uint32_t k = 0; k < m_swapCount; ++k) {
    const Swap& s = m_swaps[k];
    if (m_t.Instruction(s.position) == s.made && s.made->word != 0 && !matched.Contains(s.position)) return false;
  }
  return true;
}

std::uint32_t GatheredRows::OnlyFeeder(std::uint32_t value, std::uint32_t reader) const {
  const std::uint32_t result = m_t.ResolveAlias(value);
  const std::uint32_t position = m_t.ProducerOf(result);
  const IrInstruction* producer = m_t.Instruction(position);
  if (!producer || position >= reader || producer->word == 0 || producer->Width() != 1 || producer->resultCount != 1 ||
      producer->results[0] != result || !Followed(producer->Group()) || producer->IsDot())
    return kNoIndex;
  return CountReadsAt(m_t, result, &reader, 1) == m_t.Value(result)->useCount ? position : kNoIndex;
}

HRESULT GatheredRows::JoinSplitGroup(const std::uint32_t* group, std::uint32_t width, std::uint32_t reader) {
  if (width < 2 || width > 4) return 1;
  std::uint32_t parts[4];
  const IrInstruction* part[4];
  std::uint32_t last = 0;
  for (std::uint32_t k = 0; k < width; ++k) {
    if ((parts[k] = OnlyFeeder(group[k], reader)) == kNoIndex) return 1;
    part[k] = m_t.Instruction(parts[k]);
    for (std::uint32_t j = 0; j < k; ++j)
      if (parts[j] == parts[k]) return 1;
    if (part[k]->word != part[0]->word || part[k]->argumentCount != part[0]->argumentCount ||
        part[k]->predicate != part[0]->predicate || m_t.Value(group[k])->binding != m_t.Value(group[0])->binding ||
        m_t.Value(part[k]->results[0])->binding != m_t.Value(part[0]->results[0])->binding)
      return 1;
    if (parts[k] > parts[last]) last = k;
  }
  // The joined instruction stands at the last part, after every part's operands.
  const std::uint32_t groups = part[0]->argumentCount;
  bool swap[4] = {false, false, false, false};
  if (groups == 2) AlignOperands(m_t, part, width, swap);
  IrInstruction* made = sel::NewInstruction(IrWord(part[0]->Group(), width), groups * width, width);
  if (!made) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < width; ++k) {
    for (std::uint32_t g = 0; g < groups; ++g)
      made->arguments[g * width + k] = part[k]->arguments[swap[k] ? groups - 1 - g : g];
    made->results[k] = part[k]->results[0];
  }
  const std::uint32_t at = parts[last];
  HRESULT hr = Replace(at, made);
  for (std::uint32_t k = 0; k < width && SUCCEEDED(hr); ++k)
    if (parts[k] != at) hr = Replace(parts[k], new IrInstruction);
  return hr;
}

HRESULT GatheredRows::JoinSplitDot(std::uint32_t position) {
  const IrInstruction* dot = m_t.Instruction(position);
  const std::uint32_t w = dot->Width();
  if (w < 2 || w > 4 || dot->argumentCount != 2 * w || dot->resultCount != 1) return 1;
  std::uint32_t parts[4];
  const IrInstruction* product[4];
  for (std::uint32_t k = 0; k < w; ++k) {
    if (!sel::IsLiteral(m_t, dot->arguments[w + k], 1.0)) return 1;
    parts[k] = OnlyFeeder(dot->arguments[k], position);
    product[k] = m_t.Instruction(parts[k]);
    if (!product[k] || product[k]->word != IrWord(kOpMultiply, 1) || product[k]->argumentCount != 2 ||
        m_t.Value(dot->arguments[k])->binding != 0 || m_t.Value(product[k]->results[0])->binding != 0)
      return 1;
    for (std::uint32_t j = 0; j < k; ++j)
      if (parts[j] == parts[k]) return 1;
  }
  bool swap[4];
  AlignOperands(m_t, product, w, swap);
  IrInstruction* made = sel::NewInstruction(dot->word, 2 * w, 1);
  if (!made) return E_OUTOFMEMORY;
  for (std::uint32_t k = 0; k < w; ++k) {
    made->arguments[k] = product[k]->arguments[swap[k] ? 1 : 0];
    made->arguments[w + k] = product[k]->arguments[swap[k] ? 0 : 1];
  }
  made->results[0] = dot->results[0];
  HRESULT hr = Replace(position, made);
  for (std::uint32_t k = 0; k < w && SUCCEEDED(hr); ++k) hr = Replace(parts[k], new IrInstruction);
  return hr;
}

HRESULT GatheredRows::RewriteBelow(std::uint32_t position, std::uint32_t depth) {
  const IrInstruction* inst = m_t.Instruction(position);
  if (!inst || inst->word == 0 || !Followed(inst->Group())) return 1;
  HRESULT hr;
  if (inst->IsDot() && (hr = JoinSplitDot(position)) != 1) return hr;
  std::uint32_t* group;
  for (std::uint32_t g = 0, w; (w = inst->ArgumentGroup(g, &group)) != 0; ++g)
    if ((hr = JoinSplitGroup(group, w, position)) != 1) return hr;
  if (depth == 0) return 1;
  std::uint32_t previous = kNoIndex;
  for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
    const std::uint32_t producer = m_t.ProducerOf(inst->arguments[a]);
    if (producer >= position || producer == previous) continue;
    previous = producer;
    if ((hr = RewriteBelow(producer, depth - 1)) != 1) return hr;
  }
  return 1;
}

HRESULT GatheredRows::Gather(std::uint32_t root) {
  HRESULT result = 1;
  while (m_swapCount + kSwapsPerRewrite <= kMaxSwaps) {
    HRESULT hr = RewriteBelow(root, kDepth);
    if (hr == 1) break;
    if (SUCCEEDED(hr)) hr = m_t.ResetSelectionState();
    if (FAILED(hr)) {
      Undo();
      return hr;
    }
    result = S_OK;
  }
  return result;
}

}  // namespace gxl::shader
