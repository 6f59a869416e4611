// The IR records, their node pools, the operation sets and the heap sort.
#include "gxl/shader/backend/ir/ir.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "gxl/shader/backend/ir/heap_sort.h"
#include "gxl/shader/core/page_pool.h"

namespace gxl::shader {

namespace {

// --- Node pools -------------------------------------------------------------------

// A free list over nodes drawn from one page pool. The link of a free node
// lives in its own first bytes.
struct NodePool {
  void* freeHead = nullptr;
  PagePool* pages = nullptr;
};

// The two process-wide pools, used only under the shader-tool lock.
NodePool g_instructionPool;
NodePool g_valuePool;

void Attach(NodePool& pool, PagePool* pages) {
  pool.freeHead = nullptr;
  pool.pages = pages;
}

void* Allocate(NodePool& pool, std::size_t size, std::size_t alignment = 16) {
  if (void* node = pool.freeHead) {
    pool.freeHead = *static_cast<void**>(node);
    return node;
  }
  return pool.pages ? pool.pages->Allocate(size, alignment) : nullptr;
}

void Free(NodePool& pool, void* node) {
  // Without a bound pool the node's memory may already be gone: keep nothing.
  if (!node || !pool.pages) return;
  *static_cast<void**>(node) = pool.freeHead;
  pool.freeHead = node;
}

bool InRange(std::uint32_t g, std::uint32_t first, std::uint32_t last) { return g >= first && g <= last; }

template <std::size_t N>
bool OneOf(std::uint32_t g, const std::uint32_t (&groups)[N]) {
  return std::find(groups, groups + N, g) != groups + N;
}

// The counts an operation word implies; kNoIndex where the caller's stands.
// A dot product's result count is the caller's, 1 when not given.
void DerivedCounts(std::uint32_t word, std::uint32_t givenResults, std::uint32_t& arguments,
                   std::uint32_t& results) {
  const std::uint32_t n = IrWidth(word), g = IrGroup(word), c = IrClass(word);
  arguments = results = kNoIndex;
  if (c <= 4) {
    arguments = c * n;
    results = c == 0 ? 0 : n;
  } else if (g == kOpDot) {
    arguments = 2 * n;
    results = givenResults == kNoIndex ? 1 : givenResults;
  } else if (g == kOpLit || g == kOpSinCos) {
    arguments = results = n;
  } else if (g == kOpNoise) {
    arguments = n;
    results = 1;
  } else if (InRange(g, 0x600, 0x613)) {
    results = 4;
    if (g == 0x600 || g == 0x605) arguments = 4;
    else if (g == 0x60A || g == 0x60F) arguments = 6;
    else if (g == 0x60B || g == 0x610) arguments = 12;
    else arguments = 8;
  }
}

// A caller's count against the derived one: kNoIndex takes it, a different one fails.
bool SettleCount(std::uint32_t& given, std::uint32_t derived) {
  if (given == kNoIndex) given = derived;
  return given == derived && given != kNoIndex;
}

}  // namespace

void AttachInstructionPool(PagePool* pool) { Attach(g_instructionPool, pool); }
void AttachValuePool(PagePool* pool) { Attach(g_valuePool, pool); }
void* AllocInstructionNode(std::size_t size) { return Allocate(g_instructionPool, size); }
// Values start on a cache line, so that the fields the passes sweep (the
// first of the record) share one line.
void* AllocValueNode(std::size_t size) { return Allocate(g_valuePool, size, 64); }
void FreeInstructionNode(void* node) { Free(g_instructionPool, node); }
void FreeValueNode(void* node) { Free(g_valuePool, node); }
PagePool* InstructionPagePool() { return g_instructionPool.pages; }

// --- Operation sets ------------------------------------------------------------------

bool IsSpecialOperation(std::uint32_t word) {
  const std::uint32_t g = IrGroup(word);
  return g == 0x10F || InRange(g, 0x111, 0x115) || InRange(g, 0x207, 0x209) || InRange(g, 0x730, 0x747) ||
         g == 0x74A || g == 0x74B;
}

bool IsFlowControlOperation(std::uint32_t word) {
  static constexpr std::uint32_t kGroups[] = {0x10D, 0x10E, 0x600, 0x602, 0x603, 0x605, 0x607,
                                              0x608, 0x60A, 0x60C, 0x60D, 0x60F, 0x611, 0x612};
  return OneOf(IrGroup(word), kGroups);
}

bool InOperationSet1(std::uint32_t word) { return IrClass(word) == 6 || InRange(IrGroup(word), 0x501, 0x503); }

bool InOperationSet2(std::uint32_t word) {
  const std::uint32_t g = IrGroup(word);
  return g == 0x103 || InRange(g, 0x105, 0x107);
}

bool InOperationSet3(std::uint32_t word) {
  static constexpr std::uint32_t kGroups[] = {0x200, 0x201, 0x204, 0x205, 0x500};
  return OneOf(IrGroup(word), kGroups);
}

bool InOperationSet4(std::uint32_t word) {
  static constexpr std::uint32_t kGroups[] = {0x100, 0x101, 0x112, 0x207, 0x208, 0x209};
  return OneOf(IrGroup(word), kGroups);
}

bool InOperationSet5(std::uint32_t word) {
  static constexpr std::uint32_t kGroups[] = {0x503, 0x701, 0x702, 0x705, 0x706, 0x707, 0x70B, 0x70C, 0x70D, 0x710};
  return OneOf(IrGroup(word), kGroups);
}

bool InOperationSet6(std::uint32_t word) {
  const std::uint32_t g = IrGroup(word);
  return InRange(g, 0x111, 0x115) || g == 0x208 || g == 0x209 || InRange(g, 0x741, 0x747) || g == 0x74A ||
         g == 0x74B;
}

bool InOperationSet7(std::uint32_t word) {
  static constexpr std::uint32_t kGroups[] = {0x731, 0x733, 0x73D, 0x73E, 0x73F, 0x740};
  return OneOf(IrGroup(word), kGroups);
}

bool InOperationSet8(std::uint32_t word) { return IrGroup(word) == 0x207 || IrGroup(word) == 0x734; }

bool IsExpressionOperation(std::uint32_t word) {
  const std::uint32_t g = IrGroup(word);
  return (g >= kOpMove && g <= kOpAtan && g != kOpKeptMove) || (g >= kOpMin && g <= kOpAtan2) || g == kOpSelect ||
         g == kOpDot || g == kOpNoise || g == kOpSinCos || g == 0x70E;  // 0x70E: a dot product of single components
}

std::uint32_t ClassifyLiteral(double x) {
  std::uint32_t flags = kValueConstant;
  if (x == 0.0 || x == 1.0) flags |= kValueBoolean;
  // std::trunc rather than a 32-bit conversion, so 3e9 is still whole.
  if (std::fabs(x - std::trunc(x)) < 1e-6) flags |= kValueInteger;
  if (x >= 0.0) flags |= kValueNonNegative;
  if (x <= 0.0) flags |= kValueNonPositive;
  if (std::fabs(x) <= 1.0) flags |= kValueUnitMagnitude;
  return flags;
}

// --- RegisterBank ------------------------------------------------------------------------

HRESULT RegisterBank::Init(const char* bankName, std::uint32_t typeWord, std::uint32_t count,
                           std::uint32_t componentCount) {
  *this = RegisterBank{};
  name = bankName;
  type = typeWord;
  registerCount = count;
  components = std::min<std::uint32_t>(componentCount, 4);
  return S_OK;
}

HRESULT RegisterBank::CopyFrom(const RegisterBank* other) {
  if (!other) return E_FAIL;
  *this = *other;
  return S_OK;
}

// --- IrValue ----------------------------------------------------------------------------

void* IrValue::operator new(std::size_t size) noexcept { return AllocValueNode(size); }
void IrValue::operator delete(void* node) noexcept { FreeValueNode(node); }

HRESULT IrValue::Init(std::uint32_t bankIndex, std::uint32_t registerIndex, std::uint32_t componentIndex,
                      double literal) {
  *this = IrValue{};
  bank = bankIndex;
  reg = registerIndex;
  component = componentIndex;
  rangeLow = rangeHigh = literal;
  return S_OK;
}

HRESULT IrValue::CopyFrom(const IrValue* other) {
  if (!other) return E_FAIL;
  *this = *other;
  return S_OK;
}

HRESULT IrValue::CopyVariableFields(const IrValue* other) {
  if (!other) return E_FAIL;
  declaration = other->declaration;
  variableComponent = other->variableComponent;
  semantic = other->semantic;
  registerKey = other->registerKey;
  variableOffset = other->variableOffset;
  sequence = other->sequence;
  return S_OK;
}

void IrValue::MoveWithinVariable(std::uint32_t registerIndex) {
  const std::int64_t offset = std::int64_t{variableOffset} + 4 * (std::int64_t{registerIndex} - std::int64_t{reg});
  const std::int64_t highest = kNoIndex - 3;
  variableOffset = offset < 0 ? variableOffset % 4 : static_cast<std::uint32_t>(std::min(offset, highest));
  reg = registerIndex;
}

void IrValue::Destroy(std::uint32_t flags) {
  this->~IrValue();
  if (flags & 1) FreeValueNode(this);
}

// --- IrInstruction --------------------------------------------------------------------

void* IrInstruction::operator new(std::size_t size) noexcept { return AllocInstructionNode(size); }
void IrInstruction::operator delete(void* node) noexcept { FreeInstructionNode(node); }

IrInstruction::IrInstruction() {
  std::fill(std::begin(m_inlineArguments), std::end(m_inlineArguments), kNoIndex);
  std::fill(std::begin(m_inlineResults), std::end(m_inlineResults), kNoIndex);
}

HRESULT IrInstruction::PrepareArray(std::uint32_t*& array, std::uint32_t* inlineArray, std::uint32_t inlineSize,
                                    std::uint32_t count) {
  if (count <= inlineSize) {
    array = inlineArray;
  } else {
    PagePool* pages = InstructionPagePool();
    void* block = pages ? pages->Allocate(std::size_t{count} * sizeof(std::uint32_t), 16) : nullptr;
    if (!block) return E_OUTOFMEMORY;
    array = static_cast<std::uint32_t*>(block);
  }
  std::fill(array, array + count, kNoIndex);
  return S_OK;
}

HRESULT IrInstruction::Init(std::uint32_t operationWord, std::uint32_t argCount, std::uint32_t resCount,
                            bool explicitCounts) {
  word = operationWord;
  if (!explicitCounts) {
    std::uint32_t derivedArguments, derivedResults;
    DerivedCounts(word, resCount, derivedArguments, derivedResults);
    // Groups without a rule keep the caller's counts, which must then be given.
    if (derivedArguments == kNoIndex) derivedArguments = argCount;
    if (derivedResults == kNoIndex) derivedResults = resCount;
    if (!SettleCount(argCount, derivedArguments) || !SettleCount(resCount, derivedResults)) return E_FAIL;
  } else if (argCount == kNoIndex || resCount == kNoIndex) {
    return E_FAIL;
  }
  argumentCount = argCount;
  resultCount = resCount;
  HRESULT hr = PrepareArray(arguments, m_inlineArguments, kInlineArguments, argumentCount);
  if (SUCCEEDED(hr)) hr = PrepareArray(results, m_inlineResults, kInlineResults, resultCount);
  if (FAILED(hr)) {
    argumentCount = resultCount = 0;
    arguments = m_inlineArguments;
    results = m_inlineResults;
    return hr;
  }
  pinned = word10 = level = word14 = 0;
  sourcePosition = nullptr;
  return S_OK;
}

HRESULT IrInstruction::CopyFrom(const IrInstruction* other) {
  if (!other) return E_FAIL;
  if (other == this) return S_OK;
  std::uint32_t* newArguments;
  std::uint32_t* newResults;
  HRESULT hr = PrepareArray(newArguments, m_inlineArguments, kInlineArguments, other->argumentCount);
  if (SUCCEEDED(hr)) hr = PrepareArray(newResults, m_inlineResults, kInlineResults, other->resultCount);
  if (FAILED(hr)) return hr;
  word = other->word;
  argumentCount = other->argumentCount;
  resultCount = other->resultCount;
  arguments = newArguments;
  results = newResults;
  std::memcpy(arguments, other->arguments, std::size_t{argumentCount} * sizeof(std::uint32_t));
  std::memcpy(results, other->results, std::size_t{resultCount} * sizeof(std::uint32_t));
  pinned = other->pinned;
  word10 = other->word10;
  orderKey = other->orderKey;
  sourcePosition = other->sourcePosition;
  statementSequence = other->statementSequence;
  inlineDepth = other->inlineDepth;
  return S_OK;
}

HRESULT IrInstruction::CopySourcePosition(const IrInstruction* other) {
  if (!other) return E_FAIL;
  sourcePosition = other->sourcePosition;
  return S_OK;
}

void IrInstruction::CopyTrailingFields(const IrInstruction& other) {
  pinned = other.pinned;
  word10 = other.word10;
  level = other.level;
  orderKey = other.orderKey;
  predicate = other.predicate;
  word14 = other.word14;
}

void IrInstruction::CopyFields(const IrInstruction& other) {
  CopyTrailingFields(other);
  sourcePosition = other.sourcePosition;
  statementSequence = other.statementSequence;
  inlineDepth = other.inlineDepth;
}

void IrInstruction::Destroy(std::uint32_t flags) {
  this->~IrInstruction();
  if (flags & 1) FreeInstructionNode(this);
}

std::uint32_t IrInstruction::ResultGroupWidth() const {
  const std::uint32_t g = Group();
  if (g == kOpNop) return 0;
  if (g == kOpDot || g == 0x708) return resultCount;
  if (g == kOpNoise) return 1;
  if (Class() == 6) return 4;
  return Width();
}

namespace {

std::uint32_t GroupAt(std::uint32_t* array, std::uint32_t count, std::uint32_t width, std::uint32_t k,
                    std::uint32_t** out) {
  const bool inside = (std::uint64_t{k} + 1) * width <= count;
  if (out) *out = inside ? array + std::size_t{k} * width : nullptr;
  return inside ? width : 0;
}

}  // namespace

std::uint32_t IrInstruction::ArgumentGroup(std::uint32_t k, std::uint32_t** out) const {
  return GroupAt(arguments, argumentCount, Width(), k, out);
}

std::uint32_t IrInstruction::ResultGroup(std::uint32_t k, std::uint32_t** out) const {
  return GroupAt(results, resultCount, ResultGroupWidth(), k, out);
}

std::uint32_t IrInstruction::ArgumentGroupCount() const { return Width() ? argumentCount / Width() : 0; }

// --- Heap sort ---------------------------------------------------------------------------

void SortIndicesByComparator(IndexComparator comparator, std::uint32_t* indices, std::uint32_t count,
                             const void* context) {
  HeapSortBy(indices, count, [&](std::uint32_t a, std::uint32_t b) { return comparator(a, b, context); });
}

}  // namespace gxl::shader
