// The HLSL base types and shapes: codes, printed names, widths and classes, the
// built-in type names, and the walk over a type's components in storage order.
// The conversion rules that use them are operations of HlslParser.
#pragma once

#include <cstdint>
#include <vector>

#include "gxl/shader/core/syntax_tree.h"

namespace gxl::shader {

// TypeNode shapes; an aggregate (struct or array) counts as shape 4 in the
// conversion rules.
enum HlslShape : std::uint32_t {
  kShapeScalar = 0,
  kShapeVector = 1,
  kShapeMatrix = 2,
  kShapeObject = 3,
  kShapeAggregate = 4,
};

// TypeNode base types. 1, 5 and 9 are the literal kinds, which take the width
// of whatever they meet.
enum HlslBase : std::uint32_t {
  kBaseBool = 0,
  kBaseLiteralInt = 1,
  kBaseInt8 = 2,
  kBaseInt16 = 3,
  kBaseInt = 4,
  kBaseLiteralUint = 5,
  kBaseUint8 = 6,
  kBaseUint16 = 7,
  kBaseUint = 8,
  kBaseLiteralFloat = 9,
  kBaseHalf = 10,
  kBaseFloat = 11,
  kBaseDouble = 12,
  kBaseNull = 13,
  kBaseString = 14,
  kBaseTexture = 15,  // 16-19 texture1D, texture2D, texture3D, textureCUBE
  kBaseSampler = 20,  // 21-24 sampler1D, sampler2D, sampler3D, samplerCUBE
  kBasePixelShader = 25,
  kBaseVertexShader = 26,
  kBasePixelFragment = 27,
  kBaseVertexFragment = 28,
  kBaseStateBlock = 29,
  kBaseTypeCount = 30,
};

// Class-mask bits of a base type.
constexpr std::uint32_t kClassBool = 1;
constexpr std::uint32_t kClassInteger = 2;
constexpr std::uint32_t kClassUnsigned = 4;
constexpr std::uint32_t kClassNumeric = 8;
constexpr std::uint32_t kClassObject = 16;

// TypeNode flags beyond TypeNode::kConst.
constexpr std::uint32_t kTypeRowMajor = 0x400;
constexpr std::uint32_t kTypeColumnMajor = 0x800;

struct HlslBaseType {
  const char* name;  // as the type printer writes it
  std::uint32_t width;
  std::uint32_t classMask;
};

extern const HlslBaseType kHlslBaseTypes[kBaseTypeCount];

// The class mask of a base code; 0 outside 0-29.
inline std::uint32_t BaseClassMask(std::uint32_t base) {
  return base < kBaseTypeCount ? kHlslBaseTypes[base].classMask : 0;
}

// The kinds of folded components and literal values, by base type.
enum ComponentKind : std::uint32_t {
  kComponentBool = 0,
  kComponentInt = 1,
  kComponentUint = 2,
  kComponentFloat = 3,
  kComponentSampler = 4,  // samplers and state blocks
  kComponentObject = 5,
};

ComponentKind ComponentKindOfBase(std::uint32_t base);

// The base type two base types share, or -1 when they share none.
int CommonBase(std::uint32_t a, std::uint32_t b);

// Every type the tree holds has at most this many components; larger ones are
// refused where they are declared.
constexpr std::uint64_t kMaxTypeComponents = std::uint64_t{1} << 24;


// A new TypeNode for a built-in type name, or null when the name is none: the
// case-insensitive "dword", "float", "vector", "matrix", "string", "texture",
// "pixelshader", "vertexshader", and the case-sensitive bool, int, half,
// float or double followed by a size 1-4 or a size pair such as 4x3.
TypeNode* BuiltinType(const char* name);

// One component of a type in storage order.
struct ScalarComponent {
  std::uint32_t base;
  bool object;
  bool isConst;
};

// Walks the components of a type in storage order (struct members in order,
// array elements in order, matrices row by row) without recursion, so that
// deeply nested types cannot exhaust the stack.
class TypeComponentWalker {
 public:
  explicit TypeComponentWalker(const ParseNode* type);

  // The next component; false at the end or when the type holds a node that is
  // no type (then Malformed() is true).
  bool Next(ScalarComponent* out);
  bool Malformed() const { return m_malformed; }

 private:
  struct Frame {
    const ParseNode* node;  // a type to visit, or the next cell of a member chain
    std::uint64_t repeat;   // visits left; 0 marks a member chain
  };

  std::vector<Frame> m_stack;
  const TypeNode* m_leaf = nullptr;
  std::uint64_t m_leafLeft = 0;
  std::uint64_t m_steps = 0;
  bool m_malformed = false;
};

}  // namespace gxl::shader
