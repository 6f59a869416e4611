// The instructions of expression code and the blocks that carry them. The
// evaluator reads an operand as one run of consecutive register numbers, so
// every IR instruction becomes instructions whose operands are such runs: as
// it stands, with its first group as one scalar, or split into single
// components.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "gxl/shader/backend/targets/expression_target.h"
#include "gxl/shader/core/comment_block.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kOpDotOfScalars = 0x70E;  // group of kDotOfScalars

// Where a value is stored: its alias's storage when it has one.
const IrValue* Stored(const ShaderProgram& p, std::uint32_t value) { return p.Value(p.ResolveAlias(value)); }

// Each value one component after the one before, in the same register.
bool Consecutive(const ShaderProgram& p, const std::uint32_t* values, std::uint32_t n) {
  for (std::uint32_t k = 1; k < n; ++k) {
    const IrValue* a = Stored(p, values[k - 1]);
    const IrValue* b = Stored(p, values[k]);
    if (!a || !b || a->bank != b->bank || a->reg != b->reg || a->relativeIndex != b->relativeIndex ||
        a->component == kNoIndex || b->component != a->component + 1)
      return false;
  }
  return true;
}

// Every value is the same register component: one scalar for all.
bool Scalar(const ShaderProgram& p, const std::uint32_t* values, std::uint32_t n) {
  for (std::uint32_t k = 1; k < n; ++k) {
    const IrValue* a = Stored(p, values[0]);
    const IrValue* b = Stored(p, values[k]);
    if (!a || !b || a->bank != b->bank || a->reg != b->reg || a->relativeIndex != b->relativeIndex ||
        a->component != b->component)
      return false;
  }
  return true;
}

}  // namespace

HRESULT ExpressionTarget::BuildInstructions() {
  // Reads decide which sine and cosine results are written.
  const HRESULT analysed = RebuildDefUse();
  if (FAILED(analysed)) return analysed;
  const std::uint32_t count = instructions.Count();
  for (std::uint32_t position = 0; position < count; ++position) {
    const IrInstruction* in = Instruction(position);
    if (!in || in->Group() == kOpNop || in->resultCount == 0) continue;
    if (in->Group() == kOpDiscard) {
      GXL_SHADER_REPORT(*this, in->sourcePosition, msg::kClipInTextureShader);
      return E_FAIL;
    }
    if (!IsExpressionOperation(in->word)) {
      GXL_SHADER_REPORT(*this, in->sourcePosition, msg::kUnmappedTextureExpression);
      return E_FAIL;
    }
    if (in->Width() == 0 || in->argumentCount % in->Width() != 0) return E_FAIL;
    HRESULT hr;
    if (in->Group() == kOpNoise)
      hr = AppendNoise(*in, position);
    else if (in->Group() == kOpSinCos || in->Group() == kOpDotOfScalars)
      hr = AppendSplit(*in, position);
    else
      hr = AppendContiguous(*in, position);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT ExpressionTarget::AppendContiguous(const IrInstruction& in, std::uint32_t position) {
  const std::uint32_t w = in.Width();
  const std::uint32_t g = in.argumentCount / w;
  const bool dot = in.Group() == kOpDot;
  const bool resultsRun = dot || in.resultCount != w || w == 1 || Consecutive(*this, in.results, w);
  if (!resultsRun || (dot && in.resultCount != 1)) return AppendSplit(in, position);
  bool groupsRun = true;
  for (std::uint32_t k = 0; k < g; ++k) groupsRun = groupsRun && Consecutive(*this, in.arguments + k * w, w);

  ExpressionInstruction out;
  out.word = in.word;
  out.groups = g;
  out.result = in.results[0];
  out.source = position;
  if (g == 2) {
    const std::uint32_t* a = in.arguments;
    const std::uint32_t* b = in.arguments + w;
    if (Scalar(*this, a, w) && Consecutive(*this, b, w)) {
      out.word |= kScalarFirstMark;
      out.operands = {a[0], b[0]};
      m_code.push_back(std::move(out));
      return S_OK;
    }
    // Only an operation whose groups commute may read its scalar second group first.
    if (InOperationSet3(in.word) && Scalar(*this, b, w) && Consecutive(*this, a, w)) {
      out.word |= kScalarFirstMark;
      out.operands = {b[0], a[0]};
      m_code.push_back(std::move(out));
      return S_OK;
    }
  }
  if (!groupsRun) return AppendSplit(in, position);
  for (std::uint32_t k = 0; k < g; ++k) out.operands.push_back(in.arguments[k * w]);
  m_code.push_back(std::move(out));
  return S_OK;
}

HRESULT ExpressionTarget::AppendSplit(const IrInstruction& in, std::uint32_t position) {
  const std::uint32_t w = in.Width();
  const std::uint32_t g = in.argumentCount / w;
  if (in.Group() == kOpDot || in.Group() == kOpDotOfScalars) {
    // Every argument a one-component operand; further results copy the first.
    ExpressionInstruction out;
    out.word = kDotOfScalars;
    out.groups = in.argumentCount;
    out.operands.assign(in.arguments, in.arguments + in.argumentCount);
    out.result = in.results[0];
    out.source = position;
    m_code.push_back(std::move(out));
    for (std::uint32_t r = 1; r < in.resultCount; ++r)
      m_code.push_back({IrWord(kOpMove, 1), 1, {in.results[0]}, in.results[r], position});
    return S_OK;
  }
  if (in.Group() == kOpSinCos) {
    // Component 0 is the cosine, the others the sine; a result nobody reads is left out.
    for (std::uint32_t k = 0; k < in.resultCount && k < in.argumentCount; ++k) {
      const IrValue* r = Value(in.results[k]);
      if (!r || (r->useCount == 0 && !(BankOf(*r)->type & kBankOutput))) continue;
      m_code.push_back({k == 0 ? 0x10900001u : 0x10800001u, 1, {in.arguments[k]}, in.results[k], position});
    }
    return S_OK;
  }
  for (std::uint32_t k = 0; k < w && k < in.resultCount; ++k) {
    ExpressionInstruction out;
    out.word = IrWord(in.Group(), 1) | (g == 2 ? kScalarFirstMark : 0);
    out.groups = g;
    for (std::uint32_t j = 0; j < g; ++j) out.operands.push_back(in.arguments[j * w + k]);
    out.result = in.results[k];
    out.source = position;
    m_code.push_back(std::move(out));
  }
  return S_OK;
}

// Noise reads its argument as one run of components: arguments that are not
// one are first moved into a staging register after the temporaries in use.
HRESULT ExpressionTarget::AppendNoise(const IrInstruction& in, std::uint32_t position) {
  const std::uint32_t w = in.Width();
  if (Consecutive(*this, in.arguments, w)) {
    m_code.push_back({in.word, 1, {in.arguments[0]}, in.results[0], position});
    return S_OK;
  }
  if (m_temporaries >= kExpressionTemporaries) {
    GXL_SHADER_REPORT(*this, in.sourcePosition, msg::kTooManyActiveValues);
    return E_FAIL;
  }
  const std::uint32_t temporaries = StandardBankIndex(StandardBank::Temporaries);
  std::uint32_t staged[4] = {kNoIndex, kNoIndex, kNoIndex, kNoIndex};
  for (std::uint32_t k = 0; k < w && k < 4; ++k) {
    staged[k] = AddValue(temporaries, m_temporaries, k, 0.0);
    if (staged[k] == kNoIndex) return E_OUTOFMEMORY;
    m_code.push_back({IrWord(kOpMove, 1), 1, {in.arguments[k]}, staged[k], position});
  }
  if (w > 4) return E_FAIL;
  m_code.push_back({in.word, 1, {staged[0]}, in.results[0], position});
  return S_OK;
}

// --- Blocks -----------------------------------------------------------------------------

HRESULT ExpressionTarget::EncodeOperand(std::uint32_t value, std::vector<DWORD>& out) {
  // The chain of relative indexes, innermost first.
  std::uint32_t chain[8];
  std::uint32_t depth = 0;
  const IrValue* v = Stored(*this, value);
  if (!v) return E_FAIL;
  for (std::uint32_t index = v->relativeIndex; index != kNoIndex;) {
    if (depth == std::size(chain)) return E_FAIL;
    chain[depth++] = index;
    const IrValue* link = Stored(*this, index);
    index = link ? link->relativeIndex : kNoIndex;
  }
  out.push_back(depth);
  // The index of the index first, the operand's own register last.
  for (std::uint32_t k = depth + 1; k-- > 0;) {
    const IrValue* at = Stored(*this, k == 0 ? value : chain[k - 1]);
    const RegisterBank* bank = at ? BankOf(*at) : nullptr;
    if (!bank) return E_FAIL;
    if (bank->type & kBankClip) {
      const std::uint32_t definer = at->definingPosition;
      const IrInstruction* d = definer != kNoIndex ? Instruction(definer) : nullptr;
      GXL_SHADER_REPORT(*this, d ? d->sourcePosition : nullptr, msg::kClipInTextureShader);
      return E_FAIL;
    }
    const ExpressionOperandKind kind = OperandKindOf(bank->type);
    if (kind == kOperandNone || at->reg == kNoIndex || at->component > 3) return E_FAIL;
    out.push_back(kind);
    out.push_back(at->reg * 4 + at->component);
  }
  return S_OK;
}

HRESULT ExpressionTarget::AppendBlock(DWORD tag, const std::vector<DWORD>& payload) {
  // The length field counts the FourCC and the payload in 15 bits.
  const std::uint64_t length = std::uint64_t{payload.size()} + 1;
  if (length > 0x7FFF) {
    GXL_SHADER_REPORT(*this, nullptr, msg::kExpressionCodeTooLarge);
    return E_FAIL;
  }
  if (FAILED(AllocateTokens(payload.size() + 2))) return E_OUTOFMEMORY;
  tokens.Append(0xFFFE | static_cast<DWORD>(length) << 16);
  tokens.Append(tag);
  tokens.Append(payload.data(), payload.size());
  return S_OK;
}

HRESULT ExpressionTarget::WriteLiteralBlock(const std::vector<double>& literals) {
  std::vector<DWORD> payload(1 + 2 * literals.size());
  payload[0] = static_cast<DWORD>(literals.size());
  if (!literals.empty()) std::memcpy(&payload[1], literals.data(), literals.size() * sizeof(double));
  return AppendBlock(kTagLiterals, payload);
}

HRESULT ExpressionTarget::WriteCodeBlock() {
  std::vector<DWORD> payload{static_cast<DWORD>(m_code.size())};
  for (const ExpressionInstruction& in : m_code) {
    payload.push_back(in.word);
    payload.push_back(static_cast<DWORD>(in.operands.size()));
    for (std::uint32_t value : in.operands)
      if (HRESULT hr = EncodeOperand(value, payload); FAILED(hr)) return hr;
    if (HRESULT hr = EncodeOperand(in.result, payload); FAILED(hr)) return hr;
    if (payload.size() > 0x8000) break;  // too long already; AppendBlock says so
  }
  payload.insert(payload.end(), std::begin(kExpressionCodeEnd), std::end(kExpressionCodeEnd));
  return AppendBlock(kTagExpressionCode, payload);
}

HRESULT ExpressionTarget::WriteRegisterMap(const OutputSpan spans[3], const std::vector<std::uint8_t> used[3]) {
  std::vector<DWORD> payload;
  for (int k = 0; k < 3; ++k) payload.push_back(spans[k].low == kNoIndex ? 0 : spans[k].low);
  for (int k = 0; k < 3; ++k) payload.push_back(spans[k].low == kNoIndex ? 0 : spans[k].high - spans[k].low + 1);
  for (int k = 0; k < 3; ++k) {
    const std::size_t at = payload.size();
    payload.push_back(0);
    for (std::size_t r = 0; r < used[k].size();) {
      if (!used[k][r]) {
        ++r;
        continue;
      }
      std::size_t end = r;
      while (end < used[k].size() && used[k][end]) ++end;
      payload.push_back(static_cast<DWORD>(spans[k].low + r));
      payload.push_back(static_cast<DWORD>(end - r));
      ++payload[at];
      r = end;
    }
  }
  if (payload.size() + 1 > 0x7FFF) {
    GXL_SHADER_REPORT(*this, nullptr, msg::kExpressionCodeTooLarge);
    return E_FAIL;
  }
  CommentBlockBuilder block(kTagPreshaderRegisters);
  HRESULT hr = block.Append(payload.data(), static_cast<std::uint32_t>(payload.size() * sizeof(DWORD)), 0, nullptr);
  if (FAILED(hr)) return hr;
  return InsertTargetBlock(Blocks(), block);
}

}  // namespace gxl::shader
