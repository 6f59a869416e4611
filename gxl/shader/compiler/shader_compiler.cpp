// The compiler object: its reporters, the choice of the entry function, the
// placement of values in register banks and the scratch storage of the
// lowering.
#include "gxl/shader/compiler/shader_compiler.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "gxl/shader/compiler/loop/loop_state.h"
#include "gxl/shader/core/profiles.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"

namespace gxl::shader {

namespace {

// Statements nest as deep as the source does; past this depth a message goes
// without a location rather than deeper into the stack.
constexpr std::uint32_t kMaxLocationDepth = 64;

const SourceToken* LocationOf(const ParseNode* node, std::uint32_t depth) {
  if (!node || depth > kMaxLocationDepth) return nullptr;
  switch (node->kind) {
    case NodeKind::Token:
      return &static_cast<const TokenNode*>(node)->token;
    case NodeKind::Kind13:
      return &static_cast<const ParseNodeKind13*>(node)->token;
    case NodeKind::Declaration: {
      const ParseNode* name = static_cast<const DeclarationNode*>(node)->name;
      return name && name->kind == NodeKind::Token ? &static_cast<const TokenNode*>(name)->token : nullptr;
    }
    case NodeKind::Statement:
      for (const ParseNode* child : static_cast<const StatementNode*>(node)->children)
        if (const SourceToken* at = LocationOf(child, depth + 1)) return at;
      return nullptr;
    case NodeKind::List:  // a statement's body
      for (const ParseNode* cell = node; cell && cell->kind == NodeKind::List; cell = cell->second)
        if (const SourceToken* at = LocationOf(cell->first, depth + 1)) return at;
      return nullptr;
    default:
      return nullptr;
  }
}

// The version token a function's target clause names: 0 without a clause,
// 0xFFFFFFFF for a name no profile has.
std::uint32_t DeclaredTarget(const ParseNodeKind10& function) {
  const ParseNode* clause = function.profile;
  if (!clause || clause->kind != NodeKind::Token) return 0;
  const SourceToken& token = static_cast<const TokenNode*>(clause)->token;
  if (token.kind != kTokenIdentifier && token.kind != kTokenString) return 0;
  ShaderProfileRow row{};
  return SUCCEEDED(ProfileNameToToken(token.value.text, 0, &row)) ? row.version : 0xFFFFFFFFu;
}

// A bare shader type or the exact version fits; so does no target at all.
bool TargetFits(std::uint32_t declared, std::uint32_t version) {
  const std::uint32_t high = declared >> 16, low = declared & 0xFFFF;
  return (high == 0 || high == version >> 16) && (low == 0 || low == (version & 0xFFFF));
}

// Two declarations of one function: a prototype and its definition, say.
bool SameSignature(const DeclarationNode& a, const DeclarationNode& b) {
  const ParseNodeKind10* f = FunctionDescription(&a);
  const ParseNodeKind10* g = FunctionDescription(&b);
  if (!f || !g || std::strcmp(IdentifierText(a.name, ""), IdentifierText(b.name, "")) != 0) return false;
  const ParseNode *p = f->parameters, *q = g->parameters;
  for (; p && q; p = p->second, q = q->second) {
    const ParseNodeKind11* x = VariableDescription(p->first);
    const ParseNodeKind11* y = VariableDescription(q->first);
    if (!x || !y || (x->storage & kUsageInOut) != (y->storage & kUsageInOut) || !NodesEqual(x->nodes[0], y->nodes[0]))
      return false;
  }
  return !p && !q;
}

// Whether `declarations` names the declaration: directly or through a value
// addressing it, or as another declaration of the same function.
bool Listed(const ParseNode* declarations, const DeclarationNode* declaration) {
  for (const ParseNode* cell = declarations; cell && cell->kind == NodeKind::List; cell = cell->second) {
    const ParseNode* item = cell->first;
    if (item && item->kind == NodeKind::Expression) {
      const auto* value = static_cast<const ExpressionNode*>(item);
      item = value->value.subKind == kValueFunction ? static_cast<const ParseNode*>(value->value.address) : nullptr;
    }
    if (!item || item->kind != NodeKind::Declaration) continue;
    if (item == declaration) return true;
    const auto* listed = static_cast<const DeclarationNode*>(item);
    if (listed->declClass == kDeclFunction &&
        (listed->description == declaration->description || SameSignature(*listed, *declaration)))
      return true;
  }
  return false;
}

}  // namespace

std::uint32_t FillIndicesWithNone(std::uint32_t* array, std::uint32_t n) {
  if (array) std::fill_n(array, n, kNoIndex);
  return 0;
}

void* CurrentPoolAlloc(std::size_t size, std::size_t alignment) {
  PagePool* pool = CurrentPool();
  return pool ? pool->Allocate(size, alignment) : nullptr;
}

// --- Word stack ----------------------------------------------------------------------
// Blocks are cut from chunks of the run's page pool. Each block starts with a
// header of four words: where the stack stood before the push and what was
// left in its chunk, negated when the push opened a new chunk. The pool gives
// nothing back, so a popped chunk is kept for the next one that needs room.

namespace {

struct BlockHeader {
  std::uint32_t* previousTop;
  std::int32_t previousLeft;  // <= 0: this block opened its chunk
  std::uint32_t chunkWords;   // of the chunk it opened
};
static_assert(sizeof(BlockHeader) == 16);
constexpr std::uint32_t kHeaderWords = sizeof(BlockHeader) / 4;
constexpr std::uint32_t kChunkWords = 8192;
constexpr std::uint32_t kMaxBlockWords = 1u << 28;

}  // namespace

struct ShaderCompiler::WordStack {
  PagePool* pool = nullptr;  // the chunks' pool
  std::uint32_t* top = nullptr;
  std::uint32_t left = 0;
  std::uint32_t depth = 0;
  std::uint32_t* spare = nullptr;
  std::uint32_t spareWords = 0;
};

std::uint32_t* ShaderCompiler::PushWords(std::uint32_t n) {
  if (n > kMaxBlockWords) return nullptr;
  if (!m_words) m_words.reset(new (std::nothrow) WordStack);
  if (!m_words) return nullptr;
  WordStack& s = *m_words;
  if (s.depth == 0 && s.pool != CurrentPool()) s = WordStack{CurrentPool()};  // a new run: the old pool is gone
  const std::uint32_t need = n + kHeaderWords;
  BlockHeader header{s.top, static_cast<std::int32_t>(s.left), 0};
  std::uint32_t* block = s.top;
  if (!block || s.left < need) {
    std::uint32_t words = std::max(need, kChunkWords);
    if (s.spare && s.spareWords >= words) {
      block = s.spare;
      words = s.spareWords;
      s.spare = nullptr;
      s.spareWords = 0;
    } else if (!(block = static_cast<std::uint32_t*>(CurrentPoolAlloc(std::size_t{words} * 4, 16)))) {
      return nullptr;
    }
    header.previousLeft = -header.previousLeft;
    header.chunkWords = words;
    s.left = words;
  }
  std::memcpy(block, &header, sizeof header);
  s.top = block + need;
  s.left -= need;
  ++s.depth;
  return block + kHeaderWords;
}

void ShaderCompiler::PopWords(std::uint32_t* block) {
  if (!block || !m_words || m_words->depth == 0) return;
  WordStack& s = *m_words;
  BlockHeader header;
  std::memcpy(&header, block - kHeaderWords, sizeof header);
  if (header.chunkWords && (!s.spare || header.chunkWords > s.spareWords)) {
    s.spare = block - kHeaderWords;
    s.spareWords = header.chunkWords;
  }
  s.top = header.previousTop;
  s.left = static_cast<std::uint32_t>(header.chunkWords ? -header.previousLeft : header.previousLeft);
  --s.depth;
}

// --- Scratch ------------------------------------------------------------------------------

std::uint32_t* ShaderCompiler::ReserveScratch(std::uint32_t n) {
  if (n <= m_scratchCapacity) return m_scratch;
  std::uint64_t capacity = m_scratchCapacity ? std::uint64_t{m_scratchCapacity} * 2 : 16;
  while (capacity < n) capacity *= 2;
  // Callers hold nothing across a reserve, so the old contents need no copy.
  std::free(m_scratch);
  m_scratch = nullptr;
  m_scratchCapacity = 0;
  if (capacity > kMaxBlockWords) return nullptr;
  m_scratch = static_cast<std::uint32_t*>(std::malloc(capacity * 4));
  if (!m_scratch) return nullptr;
  m_scratchCapacity = static_cast<std::uint32_t>(capacity);
#ifndef NDEBUG
  std::memset(m_scratch, 0xCD, capacity * 4);  // what a caller wrongly kept shows as garbage
#endif
  return m_scratch;
}

// --- Object -------------------------------------------------------------------------------

ShaderCompiler::ShaderCompiler()
    : infinity(std::numeric_limits<double>::infinity()),
      negativeInfinity(-std::numeric_limits<double>::infinity()),
      m_loop(std::make_unique<LoopLowering>()) {}

ShaderCompiler::~ShaderCompiler() { std::free(m_scratch); }

std::uint64_t ShaderCompiler::InstructionsBuilt() const { return m_loop->instructionsBuilt; }

HRESULT ShaderCompiler::ResetValueMap(std::uint32_t slots) {
  valueMap.Clear();
  if (!valueMap.Reserve(slots)) return E_OUTOFMEMORY;
  for (std::uint32_t i = 0; i < slots; ++i) valueMap.Append(kNoIndex);
  return S_OK;
}

std::uint32_t ShaderCompiler::NewLiteral(double x) {
  return target ? target->AddValue(target->StandardBankIndex(StandardBank::Literals), kNoIndex, kNoIndex, x) : kNoIndex;
}

std::uint32_t ShaderCompiler::ExpansionConstant(double x) {
  return target ? target->AddValue(target->StandardBankIndex(StandardBank::Literals), 0, 0, x) : kNoIndex;
}

std::uint32_t ShaderCompiler::KeptLiteral(std::uint32_t& slot, double x) {
  if (!Value(slot)) slot = NewLiteral(x);
  return slot;
}

std::uint32_t ShaderCompiler::One() { return KeptLiteral(one, 1.0); }
std::uint32_t ShaderCompiler::Zero() { return KeptLiteral(zero, 0.0); }
std::uint32_t ShaderCompiler::MinusOne() { return KeptLiteral(minusOne, -1.0); }

// --- Messages -----------------------------------------------------------------------------

void ShaderCompiler::VReport(const ParseNode* node, MessageSeverity severity, std::uint32_t code, const char* format,
                             va_list args) {
  const bool held = m_heldMessages != 0;
  char text[256];
  text[0] = '\0';
  if (!held && std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
  Deliver(held ? nullptr : LocationOf(node, 0), severity, code, text, held);
}

void ShaderCompiler::Deliver(const SourceToken* at, MessageSeverity severity, std::uint32_t code, const char* text,
                             bool held) {
  if (severity == MessageSeverity::Error) errorFlag = 1;
  ++reportedMessages;
  held = held || m_heldMessages;
  // A held message is caught too: it counts again where the catch delivers.
  if (m_caught) {
    Catch(at, severity, code, text, held);
    return;
  }
  if (!held && source) source->Log().Report(at, severity, code, "%s", text);
}

void ShaderCompiler::Report(const ParseNode* node, MessageSeverity severity, std::uint32_t code, const char* format,
                            ...) {
  va_list args;
  va_start(args, format);
  VReport(node, severity, code, format, args);
  va_end(args);
}

void ShaderCompiler::ReportError(const ParseNode* node, std::uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(node, MessageSeverity::Error, code, format, args);
  va_end(args);
}

void ShaderCompiler::ReportWarning(const ParseNode* node, std::uint32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  VReport(node, MessageSeverity::Warning, code, format, args);
  va_end(args);
}

// --- Entry functions ----------------------------------------------------------------------

ParseNodeKind10* ShaderCompiler::ChooseEntryPoint(const char* name, const ParseNode* declarations,
                                                  const char** chosenName) {
  if (!tree || tree->kind != NodeKind::Program) return nullptr;
  ParseNodeKind10* best = nullptr;
  std::uint32_t bestTarget = 0;
  for (const ParseNode* cell = static_cast<const ProgramNode*>(tree)->statements; cell && cell->kind == NodeKind::List;
       cell = cell->second) {
    const ParseNode* item = cell->first;
    if (!item || item->kind != NodeKind::Declaration) continue;
    const auto* declaration = static_cast<const DeclarationNode*>(item);
    ParseNodeKind10* function = FunctionDescription(declaration);
    if (declaration->declClass != kDeclFunction || !function || !(function->hasBody || function->body)) continue;
    const char* text = IdentifierText(declaration->name, "");
    if (name ? std::strcmp(text, name) != 0 || (function->flags & ParseNodeKind10::kNotEntryPoint)
             : !Listed(declarations, declaration))
      continue;
    const std::uint32_t declared = DeclaredTarget(*function);
    if (!TargetFits(declared, version) || (best && declared <= bestTarget)) continue;
    best = function;
    bestTarget = declared;
    if (chosenName) *chosenName = text;
  }
  return best;
}

ParseNodeKind10* ShaderCompiler::FindEntryPoint(const char* name) {
  return name ? ChooseEntryPoint(name, nullptr, nullptr) : nullptr;
}

ParseNodeKind10* ShaderCompiler::FindEntryPointByDeclaration(const ParseNode* declarations, const char** name) {
  return ChooseEntryPoint(nullptr, declarations, name);
}

// --- Placement ----------------------------------------------------------------------------

HRESULT ShaderCompiler::PlaceValuesInBank(std::uint32_t shape, std::uint32_t rows, std::uint32_t columns,
                                          std::uint32_t typeFlags, const std::uint32_t* values, std::uint32_t bank,
                                          std::uint32_t* runningOffset, std::uint32_t tag, std::uint32_t* count) {
  m_loop->moveRoots.clear();  // registers placed: walks may now end sooner
  if (count) *count = 0;
  const std::uint64_t total = std::uint64_t{rows} * columns;
  if (total == 0) return S_OK;
  RegisterBank* b = Bank(bank);
  if (!b || !values || b->registerCount == kNoIndex) return E_FAIL;
  // Matrices are column-major unless the type says rows: place the transpose.
  const bool transpose = shape == kShapeMatrix && !(typeFlags & kTypeRowMajor);
  const std::uint32_t placedRows = transpose ? columns : rows, placedColumns = transpose ? rows : columns;
  const std::uint64_t perRow = (std::uint64_t{placedColumns} + 3) / 4;
  const std::uint64_t grown = b->registerCount + placedRows * perRow;
  const std::uint64_t offset = runningOffset ? *runningOffset : 0;
  if (grown >= kNoIndex || offset + 4 * placedRows * perRow >= kNoIndex) return E_FAIL;
  for (std::uint64_t i = 0; i < total; ++i)
    if (!Value(values[i])) return E_FAIL;
  const std::uint32_t first = b->registerCount;
  for (std::uint32_t r = 0; r < placedRows; ++r) {
    for (std::uint32_t c = 0; c < placedColumns; ++c) {
      IrValue* v = Value(values[transpose ? std::uint64_t{c} * columns + r : std::uint64_t{r} * columns + c]);
      const std::uint64_t slot = r * perRow + c / 4;
      v->bank = bank;
      v->tag = tag;
      v->reg = static_cast<std::uint32_t>(first + slot);
      v->component = c % 4;
      v->variableOffset = static_cast<std::uint32_t>(offset + slot * 4 + c % 4);
    }
  }
  b->registerCount = static_cast<std::uint32_t>(grown);
  if (b->type & kBankBound) b->registersUsed += static_cast<std::uint32_t>(placedRows * perRow);
  if (runningOffset) *runningOffset = static_cast<std::uint32_t>(offset + 4 * placedRows * perRow);
  if (count) *count = static_cast<std::uint32_t>(total);
  return S_OK;
}

bool ShaderCompiler::AllValuesTagged(const std::uint32_t* values, std::uint32_t count) const {
  for (std::uint32_t i = 0; i < count; ++i) {
    const IrValue* v = Value(values[i]);
    if (!v || v->tag == 0) return false;
  }
  return true;
}

namespace {

// Whether n values, `stride` apart from `first`, can be read as one operand:
// a bound file's consecutive components, or another bank's one instruction.
bool Consecutive(const ShaderCompiler& c, const std::uint32_t* first, std::uint32_t stride, std::uint32_t n) {
  const IrValue* head = c.Value(first[0]);
  if (!head) return false;
  const RegisterBank* bank = c.Bank(head->bank);
  for (std::uint32_t i = 1; i < n; ++i) {
    const IrValue* v = c.Value(first[std::size_t{i} * stride]);
    if (!v || v->bank != head->bank) return false;
    if (bank && (bank->type & kBankBound)) {
      const std::uint64_t position = std::uint64_t{head->component} + i;
      if (v->reg != head->reg + position / 4 || v->component != position % 4) return false;
    } else if (v->definingPosition != head->definingPosition) {
      return false;
    }
  }
  return true;
}

// Every row (by rows) or every column of a rows x columns operand consecutive.
bool AllConsecutive(const ShaderCompiler& c, const std::uint32_t* values, std::uint32_t rows, std::uint32_t columns,
                    bool byRows) {
  const std::uint32_t lines = byRows ? rows : columns;
  for (std::uint32_t i = 0; i < lines; ++i) {
    const bool ok = byRows ? Consecutive(c, values + std::size_t{i} * columns, 1, columns)
                           : Consecutive(c, values + i, columns, rows);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::uint32_t ShaderCompiler::CheckRowLayout(const std::uint32_t* values, std::uint32_t shape, std::uint32_t rows,
                                             std::uint32_t columns) const {
  if (shape != kShapeMatrix) return rows == 1;
  if (std::uint64_t{rows} * columns == 0 || !values) return 0;
  if (!AllConsecutive(*this, values, rows, columns, false)) return 1;
  return AllConsecutive(*this, values, rows, columns, true);
}

std::uint32_t ShaderCompiler::CheckColumnLayout(const std::uint32_t* values, std::uint32_t shape, std::uint32_t rows,
                                                std::uint32_t columns) const {
  if (shape != kShapeMatrix) return rows > 1;
  if (std::uint64_t{rows} * columns == 0 || !values) return 0;
  if (!AllConsecutive(*this, values, rows, columns, true)) return 1;
  return AllConsecutive(*this, values, rows, columns, false);
}

}  // namespace gxl::shader
