// Register binding of variables: uniforms get a register bank of their own
// (named by a register annotation that applies to this compile), samplers a
// sampler bank; inputs and outputs take consecutive registers of their bank
// with the semantic of each struct member or of the variable.
#include <algorithm>
#include <cstring>

#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/core/profiles.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/hlsl/hlsl_types.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kMaxTypeDepth = 64;

// The kinds of uniform storage a variable's components go to.
enum UniformKind : std::uint32_t { kUniformFloat, kUniformBool, kUniformSampler, kUniformKinds };

const char* TokenText(const ParseNode* node) {
  if (!node || node->kind != NodeKind::Token) return nullptr;
  const SourceToken& t = static_cast<const TokenNode*>(node)->token;
  return t.kind == kTokenIdentifier || t.kind == kTokenString ? t.value.text : nullptr;
}

// The register a declaration's annotation names for this compile: one for
// the exact profile or the bare shader type, or one without profile.
const char* ApplicableRegister(const ParseNode* annotations, std::uint32_t version) {
  if (!annotations || annotations->kind != NodeKind::Kind17) return nullptr;
  // The register part: the profile's token when one is named, then the register's.
  const ParseNode* part = static_cast<const ParseNodeKind17*>(annotations)->registers;
  if (!part || part->kind != NodeKind::List) return nullptr;
  const char* profile = part->second ? TokenText(part->first) : nullptr;
  const char* name = TokenText(part->second ? part->second->first : part->first);
  if (!name || !name[0]) return nullptr;
  if (profile) {
    ShaderProfileRow row{};
    if (FAILED(ProfileNameToToken(profile, 0, &row)) ||
        (row.version != version && row.version != (version & 0xFFFF0000u)))
      return nullptr;
  }
  return name;
}

bool IsSampler(const TypeNode& t) {
  return t.shape == kShapeObject && t.baseType >= kBaseSampler && t.baseType <= kBaseSampler + 4;
}

}  // namespace

struct ShaderCompiler::Placement {
  const std::uint32_t* values = nullptr;
  std::uint32_t count = 0;
  std::uint32_t next = 0;         // the next value to place
  std::uint32_t bank = kNoIndex;  // inputs and outputs: their bank
  bool uniform = false;
  bool missing = false;  // a component without semantic
  std::uint32_t banks[kUniformKinds] = {kNoIndex, kNoIndex, kNoIndex};
  std::uint32_t offsets[kUniformKinds + 1] = {};  // running offsets; the last for `bank`
  const ParseNode* annotations = nullptr;
};

HRESULT ShaderCompiler::BindRegisterAnnotations(const ParseNode* annotations, std::uint32_t bank) {
  RegisterBank* b = Bank(bank);
  const char* name = fragmentMode ? nullptr : ApplicableRegister(annotations, version);
  if (!b || !name) return S_FALSE;
  if (b->type & kBankKeepValues) {
    // Named already: both names, as "first; second".
    const std::size_t a = std::strlen(b->name), c = std::strlen(name);
    auto* joined = static_cast<char*>(CurrentPoolAlloc(a + c + 3, 1));
    if (!joined) return E_OUTOFMEMORY;
    std::memcpy(joined, b->name, a);
    std::memcpy(joined + a, "; ", 2);
    std::memcpy(joined + a + 2, name, c + 1);
    name = joined;
  }
  b->name = name;
  b->type |= kBankKeepValues | kBankBound | kBankRelative;
  if (!(FlowCaps() & kFlowRelativeArrays)) b->type |= kBankCounterOnly;
  return S_OK;
}

HRESULT ShaderCompiler::BindTypeRegisters(const ParseNode* type, Placement& p, TokenNode* semantic,
                                          std::uint32_t depth) {
  type = ResolveType(type);
  if (!type || p.next >= p.count) return S_OK;
  if (depth > kMaxTypeDepth) return E_FAIL;
  if (type->kind == NodeKind::ArrayType) {
    const auto* a = static_cast<const ArrayTypeNode*>(type);
    for (std::uint32_t i = 0; i < a->dimension && p.next < p.count; ++i) {
      const HRESULT hr = BindTypeRegisters(a->element, p, semantic, depth + 1);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  if (type->kind == NodeKind::List) {
    // Members; one with a semantic of its own counts its registers from 0.
    for (const ParseNode* c = type; c && c->kind == NodeKind::List; c = c->second) {
      const ParseNodeKind11* member = VariableDescription(c->first);
      TokenNode* own = member && member->nodes[3] && member->nodes[3]->kind == NodeKind::Token
                           ? static_cast<TokenNode*>(member->nodes[3])
                           : nullptr;
      if (own && !p.uniform) p.offsets[kUniformKinds] = 0;
      const HRESULT hr = BindTypeRegisters(member ? member->nodes[0] : c->first, p, own ? own : semantic, depth + 1);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  if (type->kind != NodeKind::Type) return E_FAIL;
  const auto& t = *static_cast<const TypeNode*>(type);
  const std::uint32_t rows = t.shape == kShapeMatrix ? t.rows : 1;
  const std::uint32_t columns = t.shape == kShapeScalar || t.shape >= kShapeObject ? 1 : t.columns;
  const std::uint32_t n = std::min(rows * columns, p.count - p.next);
  const std::uint32_t* values = p.values + p.next;
  for (std::uint32_t i = 0; i < n; ++i) {
    IrValue* v = Value(values[i]);
    if (!v) return E_FAIL;
    v->semantic = semantic;
    v->ordinalSlot = p.next + i;
  }
  std::uint32_t bank = p.bank, *offset = &p.offsets[kUniformKinds];
  if (p.uniform) {
    UniformKind kind = kUniformFloat;
    if (IsSampler(t))
      kind = kUniformSampler;
    else if (t.shape >= kShapeObject)
      return p.next += n, S_OK;  // textures, strings and shaders take no register
    else if (t.baseType == kBaseBool && target->profileLimits.booleanConstants)
      kind = kUniformBool;
    if (p.banks[kind] == kNoIndex) {
      static constexpr StandardBank kBanks[] = {StandardBank::FloatConstants, StandardBank::BoolConstants,
                                                StandardBank::Samplers};
      const std::uint32_t copy = target->AddRegisterBankCopy(Bank(target->StandardBankIndex(kBanks[kind])));
      RegisterBank* b = Bank(copy);
      if (!b) return E_OUTOFMEMORY;
      b->registerCount = 0;
      if (kind != kUniformSampler) {
        b->type |= kBankRelative;
        if (!(FlowCaps() & kFlowRelativeArrays)) b->type |= kBankCounterOnly;
      }
      // The annotation names the storage its register letter gives.
      const char* named = fragmentMode ? nullptr : ApplicableRegister(p.annotations, version);
      const char letter = named ? static_cast<char>(named[0] | 0x20) : 0;
      const UniformKind annotated = letter == 's'                                             ? kUniformSampler
                                    : letter == 'b' && target->profileLimits.booleanConstants ? kUniformBool
                                                                                              : kUniformFloat;
      if (named && annotated == kind) {
        const HRESULT hr = BindRegisterAnnotations(p.annotations, copy);
        if (FAILED(hr)) return hr;
      }
      p.banks[kind] = copy;
    }
    bank = p.banks[kind];
    offset = &p.offsets[kind];
  } else if (!semantic) {
    p.missing = true;
  }
  std::uint32_t placed = 0;
  const std::uint32_t shape = t.shape >= kShapeObject ? kShapeScalar : t.shape;
  const HRESULT hr = PlaceValuesInBank(shape, n == rows * columns ? rows : 1, n == rows * columns ? columns : n,
                                       t.flags, values, bank, offset, 1, &placed);
  p.next += n;
  return hr;
}

HRESULT ShaderCompiler::BindRegisters(const ParseNode* type, const std::uint32_t* values, std::uint32_t count,
                                      std::uint32_t bank, TokenNode* semantic, const ParseNode* annotations) {
  RegisterBank* b = Bank(bank);
  if (!b || (count && !values)) return E_FAIL;
  Placement p;
  p.values = values;
  p.count = count;
  p.bank = bank;
  p.uniform = (b->type & kBankUniform) != 0;
  p.annotations = annotations;
  if (!p.uniform) {
    // An input or output with a register of its own goes to a bank named by it.
    if (!fragmentMode && ApplicableRegister(annotations, version)) {
      const std::uint32_t copy = target->AddRegisterBankCopy(b);
      if (copy == kNoIndex) return E_OUTOFMEMORY;
      Bank(copy)->registerCount = 0;
      const HRESULT hr = BindRegisterAnnotations(annotations, copy);
      if (FAILED(hr)) return hr;
      p.bank = copy;
    }
    if (Bank(p.bank)->registerCount == kNoIndex) Bank(p.bank)->registerCount = 0;
  }
  HRESULT hr = BindTypeRegisters(type, p, semantic, 0);
  if (SUCCEEDED(hr) && p.next < count) {
    // Components the type does not account for (a malformed type) stay unplaced.
    hr = E_FAIL;
  }
  if (FAILED(hr)) return hr;
  return p.missing ? S_FALSE : S_OK;
}

}  // namespace gxl::shader
