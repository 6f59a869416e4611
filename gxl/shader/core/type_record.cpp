#include "gxl/shader/core/type_record.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gxl/shader/core/float_truncation.h"
#include "gxl/shader/core/profiles.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kShapeScalar = 0, kShapeVector = 1, kShapeMatrix = 2;
constexpr std::uint32_t kRowMajorFlag = 0x400;
constexpr std::uint32_t kLiteralBool = 0, kLiteralInt = 1, kLiteralUnsigned = 2, kLiteralFloat = 3;
// Counts saturate here, far above every register and component limit.
constexpr std::uint64_t kCountCap = std::uint64_t{1} << 40;

std::uint64_t Saturate(std::uint64_t x) { return std::min(x, kCountCap); }
std::uint64_t Times(std::uint64_t a, std::uint64_t b) { return b != 0 && a > kCountCap / b ? kCountCap : a * b; }
std::uint32_t To32(std::uint64_t x) { return static_cast<std::uint32_t>(std::min<std::uint64_t>(x, 0xFFFFFFFFu)); }
std::uint16_t To16(std::uint64_t x) { return static_cast<std::uint16_t>(std::min<std::uint64_t>(x, 0xFFFF)); }

std::uint16_t ClassOf(const TypeNode& t) {
  switch (t.shape) {
    case kShapeScalar:
      return kConstantClassScalar;
    case kShapeVector:
      return kConstantClassVector;
    case kShapeMatrix:
      return (t.flags & kRowMajorFlag) ? kConstantClassMatrixRows : kConstantClassMatrixColumns;
    default:
      return kConstantClassObject;
  }
}

std::uint16_t TypeCodeOf(std::uint32_t base, std::uint32_t binding) {
  if (base == 0) return kConstantTypeBool;
  if ((base >= 1 && base <= 8) || base == 13) return kConstantTypeInt;
  if (base >= 9 && base <= 12) return kConstantTypeFloat;
  if (base >= 14 && base <= 19) return static_cast<std::uint16_t>(base - 10);
  if (base == 20) {  // a generic sampler takes its dimensions from the binding
    if (binding & 0x400000) return 13;
    if (binding & 0x800000) return 14;
    return 12;
  }
  if (base >= 21 && base <= 28) return static_cast<std::uint16_t>(base - 10);
  return kConstantTypeVoid;
}

const TokenNode* AsToken(const ParseNode* node) {
  return node && node->kind == NodeKind::Token ? static_cast<const TokenNode*>(node) : nullptr;
}

const char* TokenText(const ParseNode* node) {
  const TokenNode* t = AsToken(node);
  return t && (t->token.kind == kTokenIdentifier || t->token.kind == kTokenString) ? t->token.value.text : nullptr;
}

}  // namespace

// Registers a type takes in a register set: one per component for bools; a
// register per vector, matrix row (or column, when stored by columns) or
// object otherwise.
std::uint64_t LaidRegisters(const ParseNode* type, std::uint32_t set) {
  type = ResolveType(type);
  if (!type) return 0;
  switch (type->kind) {
    case NodeKind::Type: {
      const auto& t = *static_cast<const TypeNode*>(type);
      if (set == kRegisterSetBool) return Times(t.shape == kShapeScalar ? 1 : t.rows, t.columns);
      if (t.shape != kShapeMatrix) return 1;
      return (t.flags & kRowMajorFlag) ? t.rows : t.columns;
    }
    case NodeKind::ArrayType: {
      const auto* a = static_cast<const ArrayTypeNode*>(type);
      return Times(LaidRegisters(a->element, set), a->dimension);
    }
    case NodeKind::List: {
      std::uint64_t total = 0;
      for (const ParseNode* c = type; c && c->kind == NodeKind::List; c = c->second)
        total = Saturate(total + LaidRegisters(c->first, set));
      return total;
    }
    default:
      return 0;
  }
}

namespace {

// Places the components of a folded value into a register image.
class ImageLayout {
 public:
  ImageLayout(std::uint32_t* image, std::uint32_t registers, std::uint32_t set, const LiteralComponent* items,
              std::uint32_t count)
      : m_image(image), m_registers(registers), m_set(set), m_items(items), m_count(count) {}

  void Lay(const ParseNode* type, std::uint64_t base) {
    type = ResolveType(type);
    if (!type || m_next >= m_count) return;
    switch (type->kind) {
      case NodeKind::Type:
        LayType(*static_cast<const TypeNode*>(type), base);
        break;
      case NodeKind::ArrayType: {
        const auto* a = static_cast<const ArrayTypeNode*>(type);
        const std::uint64_t stride = LaidRegisters(a->element, m_set);
        for (std::uint32_t k = 0; k < a->dimension && m_next < m_count; ++k)
          Lay(a->element, Saturate(base + Times(stride, k)));
        break;
      }
      case NodeKind::List:
        for (const ParseNode* c = type; c && c->kind == NodeKind::List && m_next < m_count; c = c->second) {
          Lay(c->first, base);
          base = Saturate(base + LaidRegisters(c->first, m_set));
        }
        break;
      default:
        break;
    }
  }

 private:
  void LayType(const TypeNode& t, std::uint64_t base) {
    const std::uint32_t rows = t.shape == kShapeMatrix ? t.rows : 1;
    const std::uint32_t columns = t.shape == kShapeScalar || t.shape > kShapeMatrix ? 1 : t.columns;
    const bool byColumns = t.shape == kShapeMatrix && !(t.flags & kRowMajorFlag);
    for (std::uint32_t r = 0; r < rows; ++r)
      for (std::uint32_t c = 0; c < columns && m_next < m_count; ++c) {
        const LiteralComponent& item = m_items[m_next++];
        if (m_set == kRegisterSetBool) {
          const std::uint64_t at = base + (byColumns ? std::uint64_t{c} * rows + r : std::uint64_t{r} * columns + c);
          Put(at, 0, item);
        } else {
          Put(base + (byColumns ? c : r), byColumns ? r : c, item);
        }
      }
  }

  void Put(std::uint64_t reg, std::uint32_t lane, const LiteralComponent& item) {
    if (reg >= m_registers || lane >= 4) return;
    std::uint32_t word;
    const bool isFloat = item.kind == kLiteralFloat;
    if (m_set == kRegisterSetBool) {
      m_image[reg] = isFloat ? item.number != 0.0 : item.bits != 0;
      return;
    }
    if (m_set == kRegisterSetInt) {
      word = isFloat ? static_cast<std::uint32_t>(TruncToInt32(item.number))
                     : (item.kind == kLiteralBool ? item.bits != 0 : item.bits);
    } else {
      float f;
      switch (item.kind) {
        case kLiteralBool:
          f = item.bits != 0 ? 1.0f : 0.0f;
          break;
        case kLiteralInt:
          f = static_cast<float>(static_cast<std::int32_t>(item.bits));
          break;
        case kLiteralUnsigned:
          f = static_cast<float>(item.bits);
          break;
        default:
          f = static_cast<float>(item.number);
          break;
      }
      std::memcpy(&word, &f, sizeof word);
    }
    m_image[reg * 4 + lane] = word;
  }

  std::uint32_t* m_image;
  std::uint32_t m_registers;
  std::uint32_t m_set;
  const LiteralComponent* m_items;
  std::uint32_t m_count;
  std::uint32_t m_next = 0;
};

// The register annotations below a node: a ParseNodeKind17 whose register
// part is the register's token, or a list of the profile's token (when one
// is named) and the register's. Lists and other ParseNodeKind17s are searched.
template <class Visit>
void ForEachRegisterAnnotation(const ParseNode* node, Visit visit, int depth = 0) {
  if (!node || depth > 16) return;
  if (node->kind == NodeKind::List) {
    for (const ParseNode* c = node; c && c->kind == NodeKind::List; c = c->second)
      ForEachRegisterAnnotation(c->first, visit, depth + 1);
    return;
  }
  if (node->kind != NodeKind::Kind17) return;
  const auto* k = static_cast<const ParseNodeKind17*>(node);
  const ParseNode* part = k->registers;
  if (AsToken(part)) {
    visit(TokenText(k->semantics), TokenText(part));
  } else if (part && part->kind == NodeKind::List && AsToken(part->first)) {
    const ParseNode* second = part->second ? part->second->first : nullptr;
    if (AsToken(second)) {
      visit(TokenText(part->first), TokenText(second));
    } else {
      visit(nullptr, TokenText(part->first));
    }
  } else {
    ForEachRegisterAnnotation(part, visit, depth + 1);
  }
  ForEachRegisterAnnotation(k->semantics, visit, depth + 1);
}

}  // namespace

const ParseNodeKind11* VariableOf(const ParseNode* declaration) {
  if (declaration && declaration->kind == NodeKind::Declaration)
    declaration = static_cast<const DeclarationNode*>(declaration)->description;
  return declaration && declaration->kind == NodeKind::Kind11 ? static_cast<const ParseNodeKind11*>(declaration)
                                                              : nullptr;
}

const char* DeclarationNameText(const ParseNode* declaration) {
  if (!declaration || declaration->kind != NodeKind::Declaration) return nullptr;
  return TokenText(static_cast<const DeclarationNode*>(declaration)->name);
}

HRESULT WriteTypeRecord(CommentBlockBuilder* builder, const ParseNode* type, std::uint32_t elements,
                        std::uint32_t binding, std::uint32_t* offset) {
  type = ResolveType(type);
  std::uint64_t count = elements;
  while (type && type->kind == NodeKind::ArrayType) {
    const auto* a = static_cast<const ArrayTypeNode*>(type);
    count = Times(count, a->dimension);
    type = ResolveType(a->element);
  }
  TypeInfoRecord record{};
  record.elements = To16(count);
  if (type && type->kind == NodeKind::Type) {
    const auto& t = *static_cast<const TypeNode*>(type);
    record.typeClass = ClassOf(t);
    record.type = TypeCodeOf(t.baseType, binding);
    record.rows = To16(t.rows);
    record.columns = To16(t.columns);
  } else if (type && type->kind == NodeKind::List) {
    std::uint32_t members = 0;
    for (const ParseNode* c = type; c && c->kind == NodeKind::List; c = c->second) ++members;
    auto* infos = static_cast<MemberInfoRecord*>(std::calloc(members ? members : 1, sizeof(MemberInfoRecord)));
    if (!infos) return E_OUTOFMEMORY;
    std::uint32_t i = 0;
    for (const ParseNode* c = type; c && c->kind == NodeKind::List; c = c->second, ++i) {
      const char* name = DeclarationNameText(c->first);
      HRESULT hr = builder->Append(name ? name : "", CommentBlockBuilder::kZeroTerminated, CommentBlockBuilder::kName,
                                   &infos[i].name);
      if (SUCCEEDED(hr)) hr = WriteTypeRecord(builder, c->first, 1, 0, &infos[i].typeInfo);
      if (FAILED(hr)) {
        std::free(infos);
        return hr;
      }
    }
    record.typeClass = kConstantClassStruct;
    record.type = kConstantTypeVoid;
    record.rows = 1;
    record.columns = To16(TypeComponentCount(type));
    record.members = To16(members);
    // Identical member arrays are stored once, like the type records.
    const HRESULT hr =
        builder->Append(infos, members * sizeof(MemberInfoRecord), CommentBlockBuilder::kTypes, &record.memberInfo);
    std::free(infos);
    if (FAILED(hr)) return hr;
  } else {
    return E_FAIL;
  }
  return builder->Append(&record, sizeof record, CommentBlockBuilder::kTypes, offset);
}

std::uint32_t TypeComponentCount(const ParseNode* type) {
  type = ResolveType(type);
  if (!type) return 0;
  switch (type->kind) {
    case NodeKind::Type: {
      const auto& t = *static_cast<const TypeNode*>(type);
      return To32(Times(t.rows, t.columns));
    }
    case NodeKind::ArrayType: {
      const auto* a = static_cast<const ArrayTypeNode*>(type);
      return To32(Times(TypeComponentCount(a->element), a->dimension));
    }
    case NodeKind::List: {
      std::uint64_t total = 0;
      for (const ParseNode* c = type; c && c->kind == NodeKind::List; c = c->second)
        total = Saturate(total + TypeComponentCount(c->first));
      return To32(total);
    }
    default:
      return 0;
  }
}

HRESULT TypeRegisterShape(const ParseNode* type, std::uint32_t* registers, std::uint32_t* columns) {
  type = ResolveType(type);
  if (!type) return E_FAIL;
  switch (type->kind) {
    case NodeKind::Type: {
      const auto& t = *static_cast<const TypeNode*>(type);
      if (t.shape == kShapeScalar || t.shape == kShapeVector) {
        *registers = 1, *columns = t.columns;
      } else if (t.shape == kShapeMatrix) {
        *registers = t.columns, *columns = t.rows;
      } else {
        *registers = 1, *columns = 1;
      }
      return S_OK;
    }
    case NodeKind::ArrayType: {
      const auto* a = static_cast<const ArrayTypeNode*>(type);
      const HRESULT hr = TypeRegisterShape(a->element, registers, columns);
      if (SUCCEEDED(hr)) *registers = To32(Times(*registers, a->dimension));
      return hr;
    }
    case NodeKind::List: {
      std::uint64_t total = 0;
      std::uint32_t widest = 0;
      for (const ParseNode* c = type; c && c->kind == NodeKind::List; c = c->second) {
        std::uint32_t r = 0, w = 0;
        const HRESULT hr = TypeRegisterShape(c->first, &r, &w);
        if (FAILED(hr)) return hr;
        total = Saturate(total + r);
        widest = std::max(widest, w);
      }
      *registers = To32(total), *columns = widest;
      return S_OK;
    }
    default:
      return E_FAIL;
  }
}

std::uint32_t ReadLiteralComponents(const ParseNode* value, LiteralComponent* out, std::uint32_t capacity) {
  if (!value || value->kind != NodeKind::Kind13) return 0;
  const auto* e = static_cast<const ParseNodeKind13*>(value);
  if (e->op != 0) return 0;
  std::uint32_t n = 0;
  for (const ParseNode* c = e->left; c && c->kind == NodeKind::List && n < capacity; c = c->second) {
    if (!c->first || c->first->kind != NodeKind::Expression) return n;
    const ExpressionValue& v = static_cast<const ExpressionNode*>(c->first)->value;
    if (v.subKind > kLiteralFloat) return n;
    out[n++] = {v.subKind, v.subKind == kLiteralFloat ? 0u : v.integer, v.subKind == kLiteralFloat ? v.number : 0.0};
  }
  return n;
}

const ParseNode* FoldedValueOf(const ParseNodeKind11* variable) {
  if (!variable) return nullptr;
  return variable->nodes[2] ? variable->nodes[2] : variable->nodes[1];
}

std::uint32_t* BuildRegisterImage(const ParseNode* type, const ParseNode* value, std::uint32_t registerSet,
                                  std::uint32_t registers, std::uint32_t* bytes) {
  const std::uint32_t lanes = registerSet == kRegisterSetBool ? 1 : 4;
  const std::size_t words = std::size_t{registers} * lanes;
  auto* image = static_cast<std::uint32_t*>(std::calloc(words ? words : 1, sizeof(std::uint32_t)));
  if (!image) return nullptr;
  if (registerSet == kRegisterSetInt)
    for (std::uint32_t r = 0; r < registers; ++r) image[r * 4 + 2] = 1;
  // Never more components than the registers can show.
  const std::uint32_t capacity = static_cast<std::uint32_t>(std::min<std::size_t>(words, 1u << 20));
  auto* items =
      static_cast<LiteralComponent*>(std::malloc(std::max<std::size_t>(capacity, 1) * sizeof(LiteralComponent)));
  if (!items) {
    std::free(image);
    return nullptr;
  }
  const std::uint32_t count = ReadLiteralComponents(value, items, capacity);
  ImageLayout(image, registers, registerSet, items, count).Lay(type, 0);
  std::free(items);
  *bytes = static_cast<std::uint32_t>(words * 4);
  return image;
}

std::uint32_t FindExplicitRegister(const ParseNodeKind11* variable, char letter, DWORD version) {
  if (!variable) return kNoRegister;
  const DWORD wanted = version | 0x80000000u;  // fragment versions have bit 31 cleared
  const char* best[3] = {};                    // exact profile, same kind at minor 0, no profile
  ForEachRegisterAnnotation(variable->nodes[4], [&](const char* profile, const char* text) {
    if (!text) return;
    if (!profile) {
      if (!best[2]) best[2] = text;
      return;
    }
    ShaderProfileRow row{};
    if (FAILED(ProfileNameToToken(profile, 0, &row))) return;
    if (row.version == wanted) {
      if (!best[0]) best[0] = text;
    } else if ((row.version & 0xFFFFFF00u) == (wanted & 0xFFFFFF00u) && (row.version & 0xFF) == 0) {
      if (!best[1]) best[1] = text;
    }
  });
  const char* text = best[0] ? best[0] : best[1] ? best[1] : best[2];
  if (!text || (text[0] | 0x20) != letter || !text[1]) return kNoRegister;
  std::uint64_t n = 0;
  for (const char* c = text + 1; *c; ++c) {
    if (*c < '0' || *c > '9') return kNoRegister;
    n = std::min<std::uint64_t>(n * 10 + static_cast<std::uint64_t>(*c - '0'), kNoRegister - 1);
  }
  return static_cast<std::uint32_t>(n);
}

}  // namespace gxl::shader
