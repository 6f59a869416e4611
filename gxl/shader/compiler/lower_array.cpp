// Array access through an index that is not a literal: the elements the
// index's range can reach, then the cheapest read the storage allows: the one
// element, relative addressing of a register file, a dot product with
// selectors, or a chain of selects.
#include <algorithm>
#include <cmath>

#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

namespace {

// The identity table: a literal file of four registers, 1.0 where register
// and component agree.
constexpr std::uint32_t kIdentityTableType = 0x751;
// Its bank's name, by address: it tells the table's bank from literal tables
// of bound constants, which share the type word and name "l".
constexpr char kIdentityTableName[] = "l";

// A range bound moved away from zero, so that an index a rounding error
// below a whole number still reaches it.
double Widen(double x, double epsilon) { return x > 0 ? x + epsilon : x < 0 ? x - epsilon : x; }

}  // namespace

std::uint32_t ShaderCompiler::IdentityTable() {
  // The cached table counts only while its sixteen literals are still in
  // place: a compiler outlives its programs, and literal tables of bound
  // constants share the type word.
  bool cached = Bank(m_identityTable) && Bank(m_identityTable)->type == kIdentityTableType;
  for (std::uint32_t k = 0; k < 16 && cached; ++k) {
    const IrValue* v = Value(m_identityValues + k);
    cached = v && v->bank == m_identityTable && v->reg == k / 4 && v->component == k % 4 &&
             v->relativeIndex == kNoIndex && v->rangeLow == (k / 4 == k % 4 ? 1.0 : 0.0);
  }
  if (cached) return m_identityTable;
  // Banks are not rolled back with the values: a table whose literals a
  // rollback took (a simulated loop's, at each pass) is made again in its
  // own bank, where the program has one.
  std::uint32_t bank = m_identityTable;
  if (!Bank(bank) || Bank(bank)->type != kIdentityTableType || Bank(bank)->name != kIdentityTableName)
    bank = target->AddRegisterBank(kIdentityTableName, kIdentityTableType, 4, 4);
  if (bank == kNoIndex) return kNoIndex;
  const std::uint32_t first = ValueCount();
  for (std::uint32_t r = 0; r < 4; ++r)
    for (std::uint32_t c = 0; c < 4; ++c)
      if (target->AddValue(bank, r, c, r == c ? 1.0 : 0.0) == kNoIndex) return kNoIndex;
  m_identityValues = first;
  return m_identityTable = bank;
}

HRESULT ShaderCompiler::EmitIndexFloor(const ParseNode* node, std::uint32_t* value) {
  const IrValue* v = Value(*value);
  if (!v) return E_FAIL;
  if (v->flags & kValueInteger) return S_OK;
  std::uint32_t t, f, g;
  HRESULT hr = Emit1(node, kOpKeptMove, 1, &t, value, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpFraction, 1, &f, &t, kValueNonNegative);
  if (SUCCEEDED(hr)) hr = Emit1(node, kOpNegate, 1, &g, &f, kValueNonPositive);
  if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, 1, value, &g, &t, kValueNonNegative | kValueInteger);
  return hr;
}

HRESULT ShaderCompiler::LowerArrayAccess(const ParseNode* node, std::uint32_t* results, std::uint32_t s,
                                         const std::uint32_t* base, std::uint32_t total, const ParseNode* arrayType,
                                         const std::uint32_t* index, std::uint32_t write) {
  if (!target) return E_FAIL;
  if (total == 0) {
    GXL_SHADER_REPORT(*this, node, msg::kLoweringIndexOutOfBounds);
    return E_FAIL;
  }
  if (!base || !index || !Value(index[0])) return E_FAIL;
  const std::uint32_t e = s ? total / s : 1;

  // The elements the index can reach: [lo, end). Each bound is clamped to
  // [0, e] before it becomes a whole number, so 1e20 means "past the end".
  std::uint32_t lo = 0, end = e;
  ValueRange r;
  if (SUCCEEDED(EvaluateRange(index[0], &r))) {
    const double low = Widen(r.low, epsilon), high = Widen(r.high, epsilon);
    if (std::isfinite(low) && low >= 0) lo = static_cast<std::uint32_t>(std::trunc(std::min<double>(low, e)));
    if (high < 0 || lo >= e) {
      if (loopAttempt) {
        outOfBounds = 1;
        if (results) std::copy_n(base, s, results);
        return S_OK;
      }
      GXL_SHADER_REPORT(*this, node, msg::kLoweringIndexOutOfBounds);
      return E_FAIL;
    }
    if (std::isfinite(high)) end = std::min(static_cast<std::uint32_t>(std::trunc(std::min<double>(high, e))) + 1, e);
  }
  if (!results) return S_OK;
  FillIndicesWithNone(results, s);

  WordBlock words(*this, total);
  if (!words) return OutOfMemory(node);
  std::uint32_t* values = words.Get();
  std::copy_n(base, total, values);
  if (!write) {
    const HRESULT hr = ResolveMoveSources(arrayType, values, total);
    if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
  }

  // What the storage allows.
  bool sampler = false, writable = true, bound = true, relative = true, counterOnly = false;
  for (std::uint32_t i = 0; i < total; ++i) {
    const IrValue* v = Value(values[i]);
    if (!v) {
      GXL_SHADER_REPORT(*this, node, msg::kInternalResultRegisterInvalid);
      return E_FAIL;
    }
    const RegisterBank* bank = Bank(v->bank);
    const std::uint32_t type = bank ? bank->type : 0;
    sampler = sampler || (type & kBankSampler);
    writable = writable && (type & kBankWritable);
    bound = bound && (type & kBankBound);
    relative = relative && (type & kBankRelative);
    counterOnly = counterOnly || (type & kBankCounterOnly);
  }
  if (counterOnly && (lo < loopCounter.low || end - 1 > loopCounter.high)) {
    relative = false;
    abandonLoop = 1;
  } else if (!relative && !(FlowCaps() & kFlowRelativeArrays)) {
    abandonLoop = 1;
  }
  if (end - lo == 1) {
    std::copy_n(values + std::size_t{lo} * s, s, results);
    return S_OK;
  }

  // Element layout: the same register or component throughout, and for
  // relative addressing one register distance between all neighbours.
  bool sameRegister = bound, sameComponent = bound, even = true;
  std::int64_t stride = 0;
  for (std::uint32_t i = 0; i + 1 < e; ++i) {
    for (std::uint32_t c = 0; c < s; ++c) {
      const IrValue& x = *Value(values[std::size_t{i} * s + c]);
      const IrValue& y = *Value(values[std::size_t{i + 1} * s + c]);
      if (x.bank != y.bank || x.relativeIndex != y.relativeIndex) {
        sameRegister = sameComponent = false;
        continue;
      }
      if (x.reg != y.reg) sameRegister = false;
      if (x.component != y.component) sameComponent = false;
      const std::int64_t distance = std::int64_t{y.reg} - std::int64_t{x.reg};
      if (i == 0 && c == 0) stride = distance;
      even = even && distance == stride && x.reg != kNoIndex && y.reg != kNoIndex;
    }
  }
  if (sameRegister && sameComponent) {
    std::copy_n(values, s, results);  // every element is the one storage
    return S_OK;
  }
  if (!sameComponent || !even || stride <= 0) relative = false;
  if (!relative) writable = false;

  if (write && !writable) {
    if (loopAttempt && loopDepth > 0) return E_FAIL;
    GXL_SHADER_REPORT(*this, node, msg::kArrayNotLValue);
    return E_FAIL;
  }
  if (relative)
    return EmitRelativeRead(node, results, s, values, lo, end, static_cast<std::uint32_t>(stride), index[0]);
  if (sampler) {
    // A flow-control loop cannot hold it; unrolled, it is the program's fault.
    if (loopAttempt && loopDepth > 0) {
      abandonLoop = 1;
      return E_FAIL;
    }
    GXL_SHADER_REPORT(*this, node, msg::kSamplerIndexNotLiteral);
    return E_FAIL;
  }
  if (Value(index[0])->flags & kValueBoolean) {
    WordBlock guards(*this, s);
    if (!guards) return OutOfMemory(node);
    std::fill_n(guards.Get(), s, index[0]);
    const HRESULT hr = EmitSelect(node, results, values, values + s, guards.Get(), s);
    return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
  }
  const HRESULT hr = EmitSelectedElement(node, results, s, values, lo, end, bound, sameRegister, index[0]);
  return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;
}

HRESULT ShaderCompiler::EmitRelativeRead(const ParseNode* node, std::uint32_t* results, std::uint32_t s,
                                         const std::uint32_t* values, std::uint32_t lo, std::uint32_t end,
                                         std::uint32_t stride, std::uint32_t index) {
  // The address in registers from element 0: index x stride, plus the
  // address the array itself is read through.
  std::uint32_t address = index;
  HRESULT hr = S_OK;
  if (!(stride == 1 && (OperationCaps() & kCapFractionalIndex))) {
    const std::uint32_t literal = NewLiteral(stride);
    if (literal == kNoIndex) return OutOfMemory(node);
    hr = EmitIndexFloor(node, &address);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpMultiply, 1, &address, &address, &literal, kValueInteger);
  }
  if (std::uint32_t outer = Value(values[0])->relativeIndex; SUCCEEDED(hr) && outer != kNoIndex) {
    if (IrValue* o = Value(outer); o && Instruction(o->definingPosition))
      o->bank = target->StandardBankIndex(StandardBank::Temporaries);
    hr = EmitIndexFloor(node, &outer);
    if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, 1, &address, &address, &outer);
  }
  if (SUCCEEDED(hr) && target->profileLimits.addressRegisters) {
    hr = Emit1(node, kOpMove, 1, &address, &address, kValueNonNegative);
    if (SUCCEEDED(hr)) Value(address)->bank = target->StandardBankIndex(StandardBank::Address);
  }
  if (FAILED(hr)) return hr == E_OUTOFMEMORY ? OutOfMemory(node) : hr;

  for (std::uint32_t c = 0; c < s; ++c) {
    // What every reachable element's component c is known to be.
    std::uint32_t facts = 0x1F;
    ValueRange hull{infinity, negativeInfinity};
    for (std::uint32_t i = lo; i < end; ++i) {
      const std::uint32_t element = values[std::size_t{i} * s + c];
      facts &= Value(element)->flags;
      ValueRange range;
      if (FAILED(EvaluateRange(element, &range))) range = {negativeInfinity, infinity};
      hull = {std::fmin(hull.low, range.low), std::fmax(hull.high, range.high)};
    }
    const std::uint32_t copy = target->AddValueCopy(Value(values[c]));
    IrValue* v = Value(copy);
    if (!v) return OutOfMemory(node);
    v->moveSource = kNoIndex;
    v->relativeIndex = address;
    v->useCount = 0;
    v->flags = (v->flags & kValuePrecisionMask) | facts;
    if (hull.low <= hull.high) {
      v->rangeLow = hull.low;
      v->rangeHigh = hull.high;
      v->flags |= kValueRangeCached;
      if (hull.low == hull.high && std::isfinite(hull.low)) v->flags |= kValueConstant;
    }
    results[c] = copy;
  }
  return S_OK;
}

HRESULT ShaderCompiler::EmitSelectedElement(const ParseNode* node, std::uint32_t* results, std::uint32_t s,
                                            const std::uint32_t* values, std::uint32_t lo, std::uint32_t end,
                                            bool bound, bool sameRegister, std::uint32_t index) {
  const std::uint32_t n = end - lo;
  const bool relativeArrays = FlowCaps() & kFlowRelativeArrays;
  const bool dotForm = n <= 4 && ((s == 1 && !bound) || (s <= 4 && sameRegister));
  WordBlock words(*this, 3 * n + 5 * s);
  if (!words) return E_OUTOFMEMORY;
  std::uint32_t *selectors = words.Get(), *spread = selectors + n, *m = spread + n;
  std::uint32_t *total = m + n, *next = total + s, *guards = next + s, *product = guards + s, *element = product + s;

  HRESULT hr = S_OK;
  if (!dotForm || !relativeArrays || !(OperationCaps() & kCapFractionalIndex)) hr = EmitIndexFloor(node, &index);
  if (FAILED(hr)) return hr;
  if (relativeArrays && n <= 4) {
    // Selector i reads the identity table at the index less lo: 1 exactly for element lo + i.
    std::uint32_t address = index;
    if (lo > 0) {
      const std::uint32_t offset = NewLiteral(-static_cast<double>(lo));
      if (offset == kNoIndex) return E_OUTOFMEMORY;
      hr = Emit2(node, kOpAdd, 1, &address, &address, &offset, kValueNonNegative);
    }
    if (SUCCEEDED(hr) && target->profileLimits.addressRegisters) {
      hr = Emit1(node, kOpMove, 1, &address, &address, kValueNonNegative);
      if (SUCCEEDED(hr)) Value(address)->bank = target->StandardBankIndex(StandardBank::Address);
    }
    const std::uint32_t table = SUCCEEDED(hr) ? IdentityTable() : kNoIndex;
    if (FAILED(hr)) return hr;
    if (table == kNoIndex) return E_OUTOFMEMORY;
    for (std::uint32_t i = 0; i < n; ++i) {
      IrValue* v = Value(selectors[i] = target->AddValue(table, 0, i, 0.0));
      if (!v) return E_OUTOFMEMORY;
      v->relativeIndex = address;
      v->rangeLow = 0.0;
      v->rangeHigh = 1.0;
      v->flags = kValueRangeCached | kValueComparison;
    }
  } else {
    // Selector i = (index - (lo + i) == 0).
    for (std::uint32_t i = 0; i < n; ++i) {
      spread[i] = index;
      if ((m[i] = NewLiteral(-(static_cast<double>(lo) + i))) == kNoIndex) return E_OUTOFMEMORY;
    }
    hr = Emit2(node, kOpAdd, n, m, spread, m, kValueInteger);
    if (SUCCEEDED(hr)) hr = EmitTruth(node, selectors, m, n, true);
    if (FAILED(hr)) return hr;
  }

  if (dotForm) {
    if (loopAttempt && !(s == 1 && relativeArrays)) abandonLoop = 1;
    for (std::uint32_t c = 0; c < s && SUCCEEDED(hr); ++c) {
      for (std::uint32_t i = 0; i < n; ++i) spread[i] = values[std::size_t{lo + i} * s + c];
      results[c] = kNoIndex;
      hr = EmitInstruction(node, IrWord(kOpDot, n), &results[c], spread, selectors, 0);
    }
    return hr;
  }
  if (loopAttempt) abandonLoop = 1;
  const std::uint32_t zero = Zero();
  if (zero == kNoIndex) return E_OUTOFMEMORY;
  std::fill_n(total, s, zero);
  const bool bySelect = (OperationCaps() & kCapCompareBySelect) && !(OperationCaps() & kCapSelectOneGuard);
  for (std::uint32_t i = 0; i < n && SUCCEEDED(hr); ++i) {
    std::copy_n(values + std::size_t{lo + i} * s, s, element);
    std::fill_n(guards, s, selectors[i]);
    if (bySelect) {
      FillIndicesWithNone(next, s);
      hr = EmitSelect(node, next, total, element, guards, s);
    } else {
      hr = Emit2(node, kOpMultiply, s, product, guards, element);
      if (SUCCEEDED(hr)) hr = Emit2(node, kOpAdd, s, next, product, total);
    }
    std::copy_n(next, s, total);
  }
  if (SUCCEEDED(hr)) std::copy_n(total, s, results);
  return hr;
}

}  // namespace gxl::shader
