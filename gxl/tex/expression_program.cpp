// Decoding and interpreting expression code.
#include "gxl/tex/expression_program.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "gxl/math/noise.h"
#include "gxl/tex/shader_token_walker.h"
#include "platform/d3d9_types.h"

namespace {

enum Operation : std::uint32_t {
  kMov = 0x10000000,
  kNeg = 0x10100000,
  kRcp = 0x10300000,
  kFrac = 0x10400000,
  kExp = 0x10500000,
  kLog = 0x10600000,
  kRsq = 0x10700000,
  kSin = 0x10800000,
  kCos = 0x10900000,
  kAsin = 0x10A00000,
  kAcos = 0x10B00000,
  kAtan = 0x10C00000,
  kMin = 0x20000000,
  kMax = 0x20100000,
  kLt = 0x20200000,
  kGe = 0x20300000,
  kAdd = 0x20400000,
  kMul = 0x20500000,
  kAtan2 = 0x20600000,
  kCmp = 0x30000000,
  kDot = 0x50000000,
  kNoise = 0x50200000,
  kDotInputs = 0x70E00000,
};

constexpr std::uint32_t kOperationMask = 0x7FF00000;
constexpr std::uint32_t kCountMask = 0x000FFFFF;
constexpr std::uint32_t kScalarFirstFlag = 0x80000000;

// Inputs an operation reads; 0 for one that does nothing (unknown codes, and
// the scalar-first flag on an operation that has no scalar-first form).
std::uint32_t InputsRead(std::uint32_t operation, bool scalarFirst) {
  switch (operation) {
    case kMov:
    case kNeg:
    case kRcp:
    case kFrac:
    case kExp:
    case kLog:
    case kRsq:
    case kSin:
    case kCos:
    case kAsin:
    case kAcos:
    case kAtan:
    case kNoise:
      return scalarFirst ? 0 : 1;
    case kMin:
    case kMax:
    case kLt:
    case kGe:
    case kAdd:
    case kMul:
    case kAtan2:
    case kDot:
      return 2;
    case kCmp:
      return scalarFirst ? 0 : 3;
    default:
      return 0;
  }
}

bool IsFileKind(std::uint32_t kind) { return kind >= kExprLiteral && kind <= kExprTemporary; }

// Words of a block, read without assuming alignment; every read is checked.
class WordReader {
 public:
  WordReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_words(size / 4) {}
  std::size_t Left() const { return m_words - m_next; }
  bool Read(std::uint32_t* out) {
    if (m_next >= m_words) return false;
    std::memcpy(out, m_data + m_next * 4, 4);
    ++m_next;
    return true;
  }

 private:
  const std::uint8_t* m_data;
  std::size_t m_words;
  std::size_t m_next = 0;
};

// A value read as an index: truncated toward zero, saturated to the 32-bit
// range, NaN as 0. The addressing arithmetic then wraps modulo 2^32.
std::uint32_t IndexOf(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 0x7FFFFFFFu;
  if (v <= -2147483648.0) return 0x80000000u;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
}

// One resolved input: component i is read at (base + i) masked (or modulo the
// literal count), so no count or index reaches outside its file.
struct Source {
  const double* values;
  const float* cells;
  std::uint32_t base;
  std::uint32_t mask;
  std::uint32_t modulo;  // literals: their count; else 0

  double operator[](std::uint32_t i) const {
    const std::uint32_t k = base + i;
    if (modulo) return values[k % modulo];
    if (cells) return cells[k & mask];
    return values[k & mask];
  }
};

struct Target {
  double* values;
  std::uint32_t base;
  std::uint32_t mask;
  double& operator[](std::uint32_t i) const { return values[(base + i) & mask]; }
};

// Component by component in order, each read before its write, so an output
// that overlaps an input sees the components already written.
template <class F>
void Unary(std::uint32_t n, const Source& a, const Target& out, F f) {
  for (std::uint32_t i = 0; i < n; ++i) out[i] = f(a[i]);
}
template <class F>
void Binary(std::uint32_t n, bool scalarFirst, const Source& a, const Source& b, const Target& out, F f) {
  if (scalarFirst) {
    const double s = a[0];
    for (std::uint32_t i = 0; i < n; ++i) out[i] = f(s, b[i]);
  } else {
    for (std::uint32_t i = 0; i < n; ++i) out[i] = f(a[i], b[i]);
  }
}

}  // namespace

HRESULT ExpressionProgram::Validate(const void* code, std::size_t byteSize) {
  *this = ExpressionProgram();
  if (!code || byteSize < 4) return E_FAIL;
  DWORD version;
  std::memcpy(&version, code, 4);
  if (version != kExpressionVersion && version != kExpressionVersion1 && version != kTextureShaderVersion)
    return E_FAIL;
  // The walk reads whole tokens; code that is not 4-byte aligned is copied.
  std::vector<DWORD> aligned;
  const auto* tokens = static_cast<const DWORD*>(code);
  if (reinterpret_cast<std::uintptr_t>(code) % alignof(DWORD)) {
    try {
      aligned.resize(byteSize / 4);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    std::memcpy(aligned.data(), code, aligned.size() * 4);
    tokens = aligned.data();
  }
  const void* fxlc = nullptr;
  const void* clit = nullptr;
  UINT fxlcSize = 0;
  UINT clitSize = 0;
  if (gxl::tex::FindShaderCommentBounded(tokens, byteSize, MAKEFOURCC('F', 'X', 'L', 'C'), &fxlc, &fxlcSize) != S_OK ||
      gxl::tex::FindShaderCommentBounded(tokens, byteSize, MAKEFOURCC('C', 'L', 'I', 'T'), &clit, &clitSize) != S_OK ||
      !fxlc || !clit)
    return E_FAIL;
  HRESULT hr;
  try {
    hr = Decode(static_cast<const std::uint8_t*>(fxlc), fxlcSize, static_cast<const std::uint8_t*>(clit), clitSize);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) *this = ExpressionProgram();
  return hr;
}

HRESULT ExpressionProgram::Decode(const std::uint8_t* fxlc, std::size_t fxlcSize, const std::uint8_t* clit,
                                  std::size_t clitSize) {
  WordReader literals(clit, clitSize);
  std::uint32_t literalCount;
  if (!literals.Read(&literalCount) || literalCount > (clitSize - 4) / 8) return E_FAIL;
  m_literals.resize(literalCount);
  if (literalCount) std::memcpy(m_literals.data(), clit + 4, std::size_t{literalCount} * 8);

  WordReader words(fxlc, fxlcSize);
  std::uint32_t instructionCount;
  if (!words.Read(&instructionCount)) return E_FAIL;
  // Each instruction takes at least five words: a bound on what to reserve.
  if (instructionCount > words.Left() / 5) return E_FAIL;
  m_instructions.reserve(instructionCount);
  for (std::uint32_t k = 0; k < instructionCount; ++k) {
    Instruction in{};
    std::uint32_t token;
    if (!words.Read(&token) || !words.Read(&in.inputCount) || in.inputCount > kMaxInputs) return E_FAIL;
    in.operation = token & kOperationMask;
    in.count = token & kCountMask;
    in.scalarFirst = (token & kScalarFirstFlag) != 0;
    if (in.count > kMaxComponents || in.inputCount < InputsRead(in.operation, in.scalarFirst)) return E_FAIL;
    in.firstInput = static_cast<std::uint32_t>(m_operands.size());
    for (std::uint32_t i = 0; i < in.inputCount; ++i) {
      Operand op{};
      if (!words.Read(&op.termCount) || op.termCount > words.Left() / 2) return E_FAIL;
      op.firstTerm = static_cast<std::uint32_t>(m_terms.size());
      for (std::uint32_t t = 0; t < op.termCount; ++t) {
        Term term;
        words.Read(&term.kind);
        words.Read(&term.index);
        if (!IsFileKind(term.kind)) return E_FAIL;
        m_kindsUsed |= 1u << term.kind;
        m_terms.push_back(term);
      }
      if (!words.Read(&op.kind) || !words.Read(&op.index)) return E_FAIL;
      if (!IsFileKind(op.kind) && op.kind != kExprCell) return E_FAIL;
      m_kindsUsed |= 1u << op.kind;
      m_operands.push_back(op);
    }
    std::uint32_t outputTerms;
    if (!words.Read(&outputTerms) || !words.Read(&in.outputKind) || !words.Read(&in.outputIndex)) return E_FAIL;
    if (outputTerms != 0 || in.outputKind < kExprOutput4 || in.outputKind > kExprTemporary) return E_FAIL;
    m_kindsUsed |= 1u << in.outputKind;
    m_instructions.push_back(in);
  }
  if ((m_kindsUsed & (1u << kExprLiteral)) && literalCount == 0) return E_FAIL;
  return S_OK;
}

bool ExpressionProgram::CanRunWith(const ExpressionFiles& files) const {
  const auto missing = [&](std::uint32_t kind, const void* file) { return (m_kindsUsed & (1u << kind)) && !file; };
  return !missing(kExprConstant, files.constants) && !missing(kExprInput, files.inputs) &&
         !missing(kExprOutput4, files.outputs[0]) && !missing(kExprOutput5, files.outputs[1]) &&
         !missing(kExprOutput6, files.outputs[2]) && !missing(kExprCell, files.cells);
}

HRESULT ExpressionProgram::Run(const ExpressionFiles& files) const {
  if (!CanRunWith(files)) return E_FAIL;
  double temporaries[kTemporaryCount] = {};
  const std::uint32_t literalCount = static_cast<std::uint32_t>(m_literals.size());

  // The file of a kind, as a source starting at index 0.
  const auto file = [&](std::uint32_t kind) -> Source {
    switch (kind) {
      case kExprLiteral:
        return {m_literals.data(), nullptr, 0, 0, literalCount};
      case kExprConstant:
        return {files.constants, nullptr, 0, files.constantMask, 0};
      case kExprInput:
        return {files.inputs, nullptr, 0, files.inputMask, 0};
      case kExprOutput4:
      case kExprOutput5:
      case kExprOutput6:
        return {files.outputs[kind - kExprOutput4], nullptr, 0, files.outputMasks[kind - kExprOutput4], 0};
      case kExprTemporary:
        return {temporaries, nullptr, 0, kTemporaryCount - 1, 0};
      default:
        return {nullptr, files.cells, 0, files.cellMask, 0};
    }
  };
  const auto resolve = [&](const Operand& op) {
    std::uint32_t soFar = 0;
    for (std::uint32_t t = 0; t < op.termCount; ++t) {
      const Term& term = m_terms[op.firstTerm + t];
      soFar = IndexOf(file(term.kind)[term.index + 4 * soFar]);
    }
    Source s = file(op.kind);
    s.base = op.index + 4 * soFar;
    return s;
  };

  Source in[kMaxInputs];
  for (const Instruction& instruction : m_instructions) {
    for (std::uint32_t i = 0; i < instruction.inputCount; ++i) in[i] = resolve(m_operands[instruction.firstInput + i]);
    const Source& a = in[0];
    const Source& b = in[1];
    const std::uint32_t kind = instruction.outputKind;
    const Target out{kind == kExprTemporary ? temporaries : files.outputs[kind - kExprOutput4], instruction.outputIndex,
                     kind == kExprTemporary ? kTemporaryCount - 1 : files.outputMasks[kind - kExprOutput4]};
    const std::uint32_t n = instruction.count;
    const bool scalar = instruction.scalarFirst;
    if (scalar && InputsRead(instruction.operation, true) == 0) continue;
    switch (instruction.operation) {
      case kMov:
        Unary(n, a, out, [](double x) { return x; });
        break;
      case kNeg:
        Unary(n, a, out, [](double x) { return -x; });
        break;
      case kRcp:
        Unary(n, a, out, [](double x) { return 1.0 / x; });
        break;
      case kFrac:
        Unary(n, a, out, [](double x) { return x - std::floor(x); });
        break;
      case kExp:
        Unary(n, a, out, [](double x) { return std::exp2(x); });
        break;
      case kLog:
        Unary(n, a, out, [](double x) { return x == 0.0 ? 0.0 : std::log2(std::fabs(x)); });
        break;
      case kRsq:
        Unary(n, a, out, [](double x) { return 1.0 / std::sqrt(std::fabs(x)); });
        break;
      case kSin:
        Unary(n, a, out, [](double x) { return std::sin(x); });
        break;
      case kCos:
        Unary(n, a, out, [](double x) { return std::cos(x); });
        break;
      case kAsin:
        Unary(n, a, out, [](double x) { return std::asin(x); });
        break;
      case kAcos:
        Unary(n, a, out, [](double x) { return std::acos(x); });
        break;
      case kAtan:
        Unary(n, a, out, [](double x) { return std::atan(x); });
        break;
      case kMin:
        Binary(n, scalar, a, b, out, [](double x, double y) { return y <= x ? y : x; });
        break;
      case kMax:
        Binary(n, scalar, a, b, out, [](double x, double y) { return x <= y ? y : x; });
        break;
      case kLt:
        Binary(n, scalar, a, b, out, [](double x, double y) { return x < y ? 1.0 : 0.0; });
        break;
      case kGe:
        Binary(n, scalar, a, b, out, [](double x, double y) { return x >= y ? 1.0 : 0.0; });
        break;
      case kAdd:
        Binary(n, scalar, a, b, out, [](double x, double y) { return x + y; });
        break;
      case kMul:
        Binary(n, scalar, a, b, out, [](double x, double y) { return x * y; });
        break;
      case kAtan2:
        Binary(n, scalar, a, b, out, [](double x, double y) { return std::atan2(x, y); });
        break;
      case kCmp:
        for (std::uint32_t i = 0; i < n; ++i) out[i] = a[i] < 0.0 ? in[2][i] : b[i];
        break;
      case kDot: {
        // Summed apart from the output, which may be one of the inputs.
        double sum = 0.0;
        for (std::uint32_t i = 0; i < n; ++i) sum += (scalar ? a[0] : a[i]) * b[i];
        out[0] = sum;
        break;
      }
      case kNoise: {
        float p[3] = {0.0f, 0.0f, 0.0f};
        for (std::uint32_t i = 0; i < n && i < 3; ++i) p[i] = static_cast<float>(a[i]);
        const Vec3 v(p[0], p[1], p[2]);
        out[0] = Noise3(&v);
        break;
      }
      case kDotInputs: {
        const std::uint32_t m = instruction.inputCount / 2;
        double sum = 0.0;
        for (std::uint32_t k = 0; k < m; ++k) sum += in[k][0] * in[m + k][0];
        out[0] = sum;
        break;
      }
      default:
        break;
    }
  }
  return S_OK;
}

HRESULT ExpressionProgram::Evaluate(const void* code, std::size_t byteSize, const ExpressionFiles& files) {
  ExpressionProgram program;
  const HRESULT hr = program.Validate(code, byteSize);
  if (FAILED(hr)) return hr;
  return program.Run(files);
}
