// The intrinsic functions of HLSL: 94 overloads of 82 names with intrinsic ids
// 0-89, sorted by name in byte order. The parser matches calls against these
// rows and the lowering dispatches on their ids.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gxl::shader {

// Ends of the shape and base lists of a descriptor.
constexpr std::uint32_t kIntrinsicShapeEnd = 5;
constexpr std::uint32_t kIntrinsicBaseEnd = 30;

// Usage bits of a descriptor.
constexpr std::uint32_t kIntrinsicIn = 0x10;
constexpr std::uint32_t kIntrinsicOut = 0x20;

// A result or parameter. The groups are template variables: descriptors of one
// group must agree on one shape (or base type). A negative size names the size
// variable -size (1-4); a positive one is the size, for a parameter the least
// the argument must have. A function without result has null lists.
struct IntrinsicEntry {
  const char* name;  // the function's name in the first entry, else the parameter's
  std::uint32_t usage;
  std::uint32_t shapeGroup;
  const std::uint32_t* shapes;  // ended by kIntrinsicShapeEnd
  std::uint32_t baseGroup;
  const std::uint32_t* bases;  // ended by kIntrinsicBaseEnd
  std::int32_t rows;
  std::int32_t columns;
};

struct IntrinsicRecord {
  std::uint32_t id;
  IntrinsicEntry entries[5];  // the result, then parameters until a null name

  const char* Name() const { return entries[0].name; }
  std::uint32_t ParameterCount() const;
};

constexpr std::size_t kIntrinsicCount = 94;
extern const IntrinsicRecord IntrinsicTable[kIntrinsicCount];

// The run of rows named `name`; count 0 when there is none.
struct IntrinsicRows {
  const IntrinsicRecord* first;
  std::size_t count;
};
IntrinsicRows FindIntrinsics(const char* name);

// Intrinsic ids the parser treats specially.
enum IntrinsicId : std::uint32_t {
  kIntrinsicAbs = 0,
  kIntrinsicAcos = 1,
  kIntrinsicAll = 2,
  kIntrinsicAny = 3,
  kIntrinsicAsin = 4,
  kIntrinsicAtan = 5,
  kIntrinsicAtan2 = 6,
  kIntrinsicCeil = 7,
  kIntrinsicClamp = 8,
  kIntrinsicClip = 9,
  kIntrinsicCos = 10,
  kIntrinsicCosh = 11,
  kIntrinsicCross = 12,
  kIntrinsicDdx = 13,
  kIntrinsicDdy = 14,
  kIntrinsicDegrees = 15,
  kIntrinsicDeterminant = 16,
  kIntrinsicDistance = 17,
  kIntrinsicDot = 18,
  kIntrinsicDst = 19,
  kIntrinsicExp = 20,
  kIntrinsicExp2 = 21,
  kIntrinsicFaceforward = 22,
  kIntrinsicFloor = 23,
  kIntrinsicFmod = 24,
  kIntrinsicFrac = 25,
  kIntrinsicFrexp = 26,
  kIntrinsicFwidth = 27,
  kIntrinsicIsfinite = 28,
  kIntrinsicIsinf = 29,
  kIntrinsicIsnan = 30,
  kIntrinsicLdexp = 31,
  kIntrinsicLength = 32,
  kIntrinsicLerp = 33,
  kIntrinsicLit = 34,
  kIntrinsicLog = 35,
  kIntrinsicLog10 = 36,
  kIntrinsicLog2 = 37,
  kIntrinsicMax = 38,
  kIntrinsicMin = 39,
  kIntrinsicModf = 40,
  kIntrinsicMulFirst = 41,  // 41-49: the nine forms of mul
  kIntrinsicMulLast = 49,
  kIntrinsicNoise = 50,
  kIntrinsicNormalize = 51,
  kIntrinsicPow = 52,
  kIntrinsicRadians = 53,
  kIntrinsicReflect = 54,
  kIntrinsicRefract = 55,
  kIntrinsicRound = 56,
  kIntrinsicRsqrt = 57,
  kIntrinsicSaturate = 58,
  kIntrinsicSign = 59,
  kIntrinsicSin = 60,
  kIntrinsicSincos = 61,
  kIntrinsicSinh = 62,
  kIntrinsicSmoothstep = 63,
  kIntrinsicSqrt = 64,
  kIntrinsicStep = 65,
  kIntrinsicTan = 66,
  kIntrinsicTanh = 67,
  kIntrinsicTexFirst = 68,  // 68-87: the texture lookups
  kIntrinsicTexLast = 87,
  kIntrinsicTranspose = 88,
  kIntrinsicColorToUbyte4 = 89,
  kIntrinsicIdCount = 90,
};

}  // namespace gxl::shader
