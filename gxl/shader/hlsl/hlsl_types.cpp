// The base-type catalogue, built-in type names, and the walks over types that
// count, compare, print and mark them. Every walk keeps its own stack, so a
// deeply nested type cannot exhaust the machine stack, and structures shared
// by many members are visited once where that suffices.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {

const HlslBaseType kHlslBaseTypes[kBaseTypeCount] = {
    {"bool", 0, 0xF},
    {"int", 0, 0xA},
    {"int", 8, 0xA},
    {"int", 16, 0xA},
    {"int", 32, 0xA},
    {"int", 0, 0xE},
    {"int", 8, 0xE},
    {"int", 16, 0xE},
    {"int", 32, 0xE},
    {"float", 0, 0x8},
    {"half", 16, 0x8},
    {"float", 32, 0x8},
    {"double", 64, 0x8},
    {"NULL", 0, 0x10},
    {"string", 0, 0x10},
    {"texture", 0, 0x10},
    {"texture1D", 0, 0x10},
    {"texture2D", 0, 0x10},
    {"texture3D", 0, 0x10},
    {"textureCUBE", 0, 0x10},
    {"sampler", 0, 0x10},
    {"sampler1D", 0, 0x10},
    {"sampler2D", 0, 0x10},
    {"sampler3D", 0, 0x10},
    {"samplerCUBE", 0, 0x10},
    {"pixelshader", 0, 0x10},
    {"vertexshader", 0, 0x10},
    {"pixelfragment", 0, 0x10},
    {"vertexfragment", 0, 0x10},
    {"stateblock", 0, 0x10},
};

ComponentKind ComponentKindOfBase(std::uint32_t base) {
  if (base == kBaseBool) return kComponentBool;
  if (base <= kBaseInt) return kComponentInt;
  if (base <= kBaseUint) return kComponentUint;
  if (base <= kBaseDouble) return kComponentFloat;
  if ((base >= kBaseSampler && base < kBasePixelShader) || base == kBaseStateBlock) return kComponentSampler;
  return kComponentObject;
}

TypeNode* BuiltinType(const char* name) {
  if (!name) return nullptr;
  struct Named {
    const char* name;
    std::uint32_t shape, base, rows, columns;
  };
  static constexpr Named kNamed[] = {
      {"dword", kShapeScalar, kBaseInt, 1, 1},
      {"float", kShapeScalar, kBaseFloat, 1, 1},
      {"vector", kShapeVector, kBaseFloat, 1, 4},
      {"matrix", kShapeMatrix, kBaseFloat, 4, 4},
      {"string", kShapeObject, kBaseString, 1, 1},
      {"texture", kShapeObject, kBaseTexture, 1, 1},
      {"pixelshader", kShapeObject, kBasePixelShader, 1, 1},
      {"vertexshader", kShapeObject, kBaseVertexShader, 1, 1},
  };
  for (const Named& n : kNamed)
    if (strcasecmp(name, n.name) == 0) return new TypeNode(n.shape, n.base, n.rows, n.columns, 0);

  static constexpr std::pair<const char*, std::uint32_t> kSized[] = {
      {"bool", kBaseBool}, {"int", kBaseInt}, {"half", kBaseHalf}, {"float", kBaseFloat}, {"double", kBaseDouble}};
  for (const auto& [prefix, base] : kSized) {
    const std::size_t length = std::strlen(prefix);
    if (std::strncmp(name, prefix, length) != 0) continue;
    const char* s = name + length;
    auto size = [](char c) { return c >= '1' && c <= '4' ? static_cast<std::uint32_t>(c - '0') : 0u; };
    if (size(s[0]) && s[1] == '\0') return new TypeNode(kShapeVector, base, 1, size(s[0]), 0);
    if (size(s[0]) && s[1] == 'x' && size(s[2]) && s[3] == '\0')
      return new TypeNode(kShapeMatrix, base, size(s[0]), size(s[2]), 0);
  }
  return nullptr;
}

namespace {

// Structural steps one count or comparison may take (arrays are not
// expanded); past them the type counts as too large.
constexpr std::uint64_t kWalkBudget = std::uint64_t{1} << 22;
// Steps of a walk over components, which visits every array element.
constexpr std::uint64_t kComponentWalkBudget = std::uint64_t{1} << 25;
// Component counts saturate here, far above every limit.
constexpr std::uint64_t kCountCap = std::uint64_t{1} << 40;

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
  return b != 0 && a > kCountCap / b ? kCountCap : std::min(a * b, kCountCap);
}

std::uint64_t TypeNodeComponents(const TypeNode& t) {
  switch (t.shape) {
    case kShapeVector:
      return t.columns;
    case kShapeMatrix:
      return std::uint64_t{t.rows} * t.columns;
    default:
      return 1;
  }
}

// Calls visit(TypeNode&) for every TypeNode the type reaches, each shared
// structure once; false on a node that is no type.
template <class Visit>
bool ForEachTypeNode(const ParseNode* type, Visit visit) {
  type = ResolveType(type);
  if (!type) return true;
  if (type->kind == NodeKind::Type) {
    visit(*const_cast<TypeNode*>(static_cast<const TypeNode*>(type)));
    return true;
  }
  std::vector<const ParseNode*> stack{type};
  std::unordered_set<const ParseNode*> seen;
  while (!stack.empty()) {
    const ParseNode* node = ResolveType(stack.back());
    stack.pop_back();
    if (!node || !seen.insert(node).second) continue;
    switch (node->kind) {
      case NodeKind::Type:
        visit(*const_cast<TypeNode*>(static_cast<const TypeNode*>(node)));
        break;
      case NodeKind::ArrayType:
        stack.push_back(static_cast<const ArrayTypeNode*>(node)->element);
        break;
      case NodeKind::List:
        for (const ParseNode* cell = node; cell && cell->kind == NodeKind::List; cell = cell->second)
          stack.push_back(cell->first);
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

TypeComponentWalker::TypeComponentWalker(const ParseNode* type) { m_stack.push_back({type, 1}); }

bool TypeComponentWalker::Next(ScalarComponent* out) {
  for (;;) {
    if (m_leafLeft) {
      --m_leafLeft;
      *out = {m_leaf->baseType, m_leaf->shape == kShapeObject, (m_leaf->flags & TypeNode::kConst) != 0};
      return true;
    }
    if (m_stack.empty()) return false;
    if (++m_steps > kComponentWalkBudget) break;
    Frame& top = m_stack.back();
    if (top.repeat == 0) {  // the next member of a struct
      const ParseNode* cell = top.node;
      if (!cell || cell->kind != NodeKind::List) {
        m_stack.pop_back();
        continue;
      }
      top.node = cell->second;
      m_stack.push_back({cell->first, 1});
      continue;
    }
    const ParseNode* node = ResolveType(top.node);
    if (--top.repeat == 0) m_stack.pop_back();
    if (!node) continue;
    if (node->kind == NodeKind::Type) {
      m_leaf = static_cast<const TypeNode*>(node);
      m_leafLeft = TypeNodeComponents(*m_leaf);
    } else if (node->kind == NodeKind::ArrayType) {
      const auto* array = static_cast<const ArrayTypeNode*>(node);
      if (array->dimension) m_stack.push_back({array->element, array->dimension});
    } else if (node->kind == NodeKind::List) {
      m_stack.push_back({node, 0});
    } else {
      break;
    }
  }
  m_malformed = true;
  m_stack.clear();
  return false;
}

// --- Parser operations on types -------------------------------------------------

const char* HlslParser::TypeToText(const ParseNode* type, char* buffer) {
  const ParseNode* t = ResolveType(type);
  std::vector<std::uint32_t> dimensions;
  while (t && t->kind == NodeKind::ArrayType) {
    dimensions.push_back(static_cast<const ArrayTypeNode*>(t)->dimension);
    t = ResolveType(static_cast<const ArrayTypeNode*>(t)->element);
  }
  int used = 0;
  if (!t) {
    used = std::snprintf(buffer, kTypeTextSize, "void");
  } else if (t->kind == NodeKind::Type) {
    const auto* n = static_cast<const TypeNode*>(t);
    const char* prefix = (n->flags & TypeNode::kConst) ? "const " : "";
    const char* name = n->baseType < kBaseTypeCount ? kHlslBaseTypes[n->baseType].name : "unknown";
    if (n->shape == kShapeVector) {
      used = std::snprintf(buffer, kTypeTextSize, "%s%s%u", prefix, name, n->columns);
    } else if (n->shape == kShapeMatrix) {
      used = std::snprintf(buffer, kTypeTextSize, "%s%s%ux%u", prefix, name, n->rows, n->columns);
    } else {
      used = std::snprintf(buffer, kTypeTextSize, "%s%s", prefix, name);
    }
  } else if (t->kind == NodeKind::List) {
    used = std::snprintf(buffer, kTypeTextSize, "%sstruct{%u}", IsConst(t) ? "const " : "", ComponentCount(t));
  } else {
    UnknownNode();
    used = std::snprintf(buffer, kTypeTextSize, "unknown");
  }
  for (std::uint32_t d : dimensions) {
    if (used < 0 || static_cast<std::size_t>(used) >= kTypeTextSize - 1) break;
    used += std::snprintf(buffer + used, kTypeTextSize - used, "[%u]", d);
  }
  return buffer;
}

void HlslParser::SetConst(ParseNode* type, bool on) {
  if (!ForEachTypeNode(
          type, [on](TypeNode& t) { t.flags = on ? (t.flags | TypeNode::kConst) : (t.flags & ~TypeNode::kConst); }))
    UnknownNode();
}

bool HlslParser::IsConst(const ParseNode* type) {
  bool found = false;
  if (!ForEachTypeNode(type, [&found](TypeNode& t) { found |= (t.flags & TypeNode::kConst) != 0; }))
    return UnknownNode();
  return found;
}

bool HlslParser::IsScalarType(const ParseNode* type) {
  const TypeNode* t = AsTypeNode(type);
  return t && t->shape == kShapeScalar;
}

bool HlslParser::IsNumericType(const ParseNode* type) {
  bool numeric = true;
  if (!ForEachTypeNode(type, [&numeric](TypeNode& t) { numeric &= t.shape <= kShapeMatrix; })) return UnknownNode();
  return numeric;
}

std::uint64_t HlslParser::ComponentCount64(const ParseNode* type) {
  const ParseNode* resolved = ResolveType(type);
  if (!resolved) return 0;
  if (resolved->kind == NodeKind::Type) return TypeNodeComponents(*static_cast<const TypeNode*>(resolved));
  struct Item {
    const ParseNode* node;
    std::uint64_t multiplier;
  };
  std::vector<Item> stack{{resolved, 1}};
  std::uint64_t total = 0, steps = 0;
  while (!stack.empty()) {
    if (++steps > kWalkBudget) return kCountCap;
    const Item item = stack.back();
    stack.pop_back();
    const ParseNode* node = ResolveType(item.node);
    if (!node) continue;
    if (node->kind == NodeKind::Type) {
      total += SaturatingMultiply(item.multiplier, TypeNodeComponents(*static_cast<const TypeNode*>(node)));
      if (total >= kCountCap) return kCountCap;
    } else if (node->kind == NodeKind::ArrayType) {
      const auto* array = static_cast<const ArrayTypeNode*>(node);
      stack.push_back({array->element, SaturatingMultiply(item.multiplier, array->dimension)});
    } else if (node->kind == NodeKind::List) {
      for (const ParseNode* cell = node; cell && cell->kind == NodeKind::List; cell = cell->second)
        stack.push_back({cell->first, item.multiplier});
    } else {
      UnknownNode();
      return 0;
    }
  }
  return total;
}

std::uint32_t HlslParser::ComponentCount(const ParseNode* type) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(ComponentCount64(type), 0xFFFFFFFFu));
}

bool HlslParser::TypesEqual(const ParseNode* a, const ParseNode* b) {
  std::vector<std::pair<const ParseNode*, const ParseNode*>> stack{{a, b}};
  std::uint64_t steps = 0;
  while (!stack.empty()) {
    if (++steps > kWalkBudget) return false;
    const ParseNode* x = ResolveType(stack.back().first);
    const ParseNode* y = ResolveType(stack.back().second);
    stack.pop_back();
    if (x == y) continue;
    if (!x || !y || x->kind != y->kind) return false;
    switch (x->kind) {
      case NodeKind::Type: {
        const auto& s = *static_cast<const TypeNode*>(x);
        const auto& t = *static_cast<const TypeNode*>(y);
        if (s.shape != t.shape || s.baseType != t.baseType || s.rows != t.rows || s.columns != t.columns) return false;
        break;
      }
      case NodeKind::ArrayType: {
        const auto& s = *static_cast<const ArrayTypeNode*>(x);
        const auto& t = *static_cast<const ArrayTypeNode*>(y);
        if (s.dimension != t.dimension) return false;
        stack.emplace_back(s.element, t.element);
        break;
      }
      case NodeKind::List: {
        const ParseNode* p = x;
        const ParseNode* q = y;
        for (; p && q && p->kind == NodeKind::List && q->kind == NodeKind::List; p = p->second, q = q->second)
          stack.emplace_back(p->first, q->first);
        const bool pEnds = !p || p->kind != NodeKind::List;
        const bool qEnds = !q || q->kind != NodeKind::List;
        if (!pEnds || !qEnds) return false;  // member counts differ
        break;
      }
      default:
        return UnknownNode();
    }
  }
  return true;
}

TypeNode* HlslParser::ComponentType(const ParseNode* type, std::uint32_t index) {
  TypeComponentWalker walker(type);
  ScalarComponent c;
  for (std::uint32_t i = 0;; ++i) {
    if (!walker.Next(&c)) {
      if (walker.Malformed()) UnknownNode();
      return nullptr;
    }
    if (i == index) break;
  }
  auto* t = new TypeNode(c.object ? kShapeObject : kShapeScalar, c.base, 1, 1, c.isConst ? TypeNode::kConst : 0);
  return t ? t : OutOfMemory();
}

ParseNode* HlslParser::CopyType(const ParseNode* type) {
  type = ResolveType(type);
  if (!type) return nullptr;
  ParseNode* copy = type->Clone();
  return copy ? copy : OutOfMemory();
}

ParseNode* HlslParser::ConstCopy(const ParseNode* type) {
  ParseNode* copy = CopyType(type);
  if (copy) SetConst(copy, true);
  return copy;
}

}  // namespace gxl::shader
