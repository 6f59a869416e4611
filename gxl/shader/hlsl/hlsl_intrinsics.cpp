// The intrinsic table. Notation of the rows: Any(b) admits a scalar, vector or
// matrix of n x m; Vec, Mat and Scalar fix the shape; negative sizes are the
// size variables n = -1, m = -2, p = -3, q = -4, which every descriptor of a
// row shares. Groups other than 0 are given where descriptors must bind apart.
#include "gxl/shader/hlsl/hlsl_intrinsics.h"

#include <algorithm>
#include <cstring>

namespace gxl::shader {
namespace {

constexpr std::int32_t n = -1, m = -2, p = -3, q = -4;

constexpr std::uint32_t kScalar[] = {0, kIntrinsicShapeEnd};
constexpr std::uint32_t kVector[] = {1, kIntrinsicShapeEnd};
constexpr std::uint32_t kMatrix[] = {2, kIntrinsicShapeEnd};
constexpr std::uint32_t kAnyShape[] = {0, 1, 2, kIntrinsicShapeEnd};
constexpr std::uint32_t kObject[] = {3, kIntrinsicShapeEnd};

constexpr std::uint32_t kBool[] = {0, kIntrinsicBaseEnd};
constexpr std::uint32_t kInt[] = {1, kIntrinsicBaseEnd};
constexpr std::uint32_t kF[] = {9, 10, 11, 12, kIntrinsicBaseEnd};
constexpr std::uint32_t kN[] = {9, 10, 11, 12, 1, 2, 3, 4, 5, 6, 7, 8, kIntrinsicBaseEnd};
constexpr std::uint32_t kA[] = {9, 10, 11, 12, 1, 2, 3, 4, 5, 6, 7, 8, 0, kIntrinsicBaseEnd};
constexpr std::uint32_t kSampler1D[] = {21, kIntrinsicBaseEnd};
constexpr std::uint32_t kSampler2D[] = {22, kIntrinsicBaseEnd};
constexpr std::uint32_t kSampler3D[] = {23, kIntrinsicBaseEnd};
constexpr std::uint32_t kSamplerCube[] = {24, kIntrinsicBaseEnd};

struct Form {
  const std::uint32_t* shapes;
  const std::uint32_t* bases;
  std::int32_t rows;
  std::int32_t columns;
};

constexpr Form Any(const std::uint32_t* b) { return {kAnyShape, b, n, m}; }
constexpr Form Scalar(const std::uint32_t* b) { return {kScalar, b, 1, 1}; }
constexpr Form Vec(const std::uint32_t* b, std::int32_t c) { return {kVector, b, 1, c}; }
constexpr Form Mat(const std::uint32_t* b, std::int32_t r, std::int32_t c) { return {kMatrix, b, r, c}; }
constexpr Form Obj(const std::uint32_t* b) { return {kObject, b, 1, 1}; }

constexpr IntrinsicEntry Result(const char* name, Form f) {
  return {name, kIntrinsicOut, 0, f.shapes, 0, f.bases, f.rows, f.columns};
}
constexpr IntrinsicEntry NoResult(const char* name) { return {name, 0, 0, nullptr, 0, nullptr, 0, 0}; }
constexpr IntrinsicEntry In(const char* name, Form f, std::uint32_t shapeGroup = 0, std::uint32_t baseGroup = 0,
                            std::uint32_t usage = kIntrinsicIn) {
  return {name, usage, shapeGroup, f.shapes, baseGroup, f.bases, f.rows, f.columns};
}
constexpr IntrinsicEntry Out(const char* name, Form f, std::uint32_t shapeGroup = 0, std::uint32_t baseGroup = 0) {
  return In(name, f, shapeGroup, baseGroup, kIntrinsicOut);
}

// One floating argument of any shape, result of the same shape.
constexpr IntrinsicRecord Unary(std::uint32_t id, const char* name) {
  return {id, {Result(name, Any(kF)), In("x", Any(kF))}};
}
constexpr IntrinsicRecord Binary(std::uint32_t id, const char* name, const char* a, const char* b) {
  return {id, {Result(name, Any(kF)), In(a, Any(kF)), In(b, Any(kF))}};
}
constexpr IntrinsicRecord Ternary(std::uint32_t id, const char* name, Form f, const char* a, const char* b,
                                  const char* c) {
  return {id, {Result(name, f), In(a, f), In(b, f), In(c, f)}};
}

// A texture lookup: the sampler, then `coordinates` of one form.
constexpr IntrinsicRecord Tex(std::uint32_t id, const char* name, const std::uint32_t* sampler, Form coordinates) {
  return {id, {Result(name, Vec(kF, 4)), In("s", Obj(sampler), 1, 1), In("x", coordinates, 2, 2)}};
}
constexpr IntrinsicRecord TexGrad(std::uint32_t id, const char* name, const std::uint32_t* sampler, std::int32_t size) {
  return {id,
          {Result(name, Vec(kF, 4)), In("s", Obj(sampler), 1, 1), In("x", Vec(kF, size), 2, 2),
           In("ddx", Vec(kF, size), 2, 2), In("ddy", Vec(kF, size), 2, 2)}};
}

}  // namespace

const IntrinsicRecord IntrinsicTable[kIntrinsicCount] = {
    {89, {Result("D3DCOLORtoUBYTE4", Vec(kInt, 4)), In("x", Vec(kF, 4), 0, 1)}},
    {0, {Result("abs", Any(kN)), In("x", Any(kN))}},
    Unary(1, "acos"),
    {2, {Result("all", Scalar(kBool)), In("x", Any(kA), 1, 1)}},
    {3, {Result("any", Scalar(kBool)), In("x", Any(kA), 1, 1)}},
    Unary(4, "asin"),
    Unary(5, "atan"),
    Binary(6, "atan2", "x", "y"),
    Unary(7, "ceil"),
    Ternary(8, "clamp", Any(kN), "x", "min", "max"),
    {9, {NoResult("clip"), In("x", Any(kF), 1, 1)}},
    Unary(10, "cos"),
    Unary(11, "cosh"),
    {12, {Result("cross", Vec(kF, 3)), In("a", Vec(kF, 3)), In("b", Vec(kF, 3))}},
    Unary(13, "ddx"),
    Unary(14, "ddy"),
    Unary(15, "degrees"),
    {16, {Result("determinant", Scalar(kF)), In("x", Mat(kF, n, n), 1)}},
    {17, {Result("distance", Scalar(kF)), In("a", Vec(kF, m), 1), In("b", Vec(kF, m), 1)}},
    {18, {Result("dot", Scalar(kN)), In("a", Vec(kN, m), 1), In("b", Vec(kN, m), 1)}},
    {19, {Result("dst", Vec(kN, 4)), In("a", Vec(kN, 4)), In("b", Vec(kN, 4))}},
    Unary(20, "exp"),
    Unary(21, "exp2"),
    Ternary(22, "faceforward", Vec(kF, m), "N", "I", "Ng"),
    Unary(23, "floor"),
    Binary(24, "fmod", "a", "b"),
    Unary(25, "frac"),
    {26, {Result("frexp", Any(kF)), In("x", Any(kF)), Out("exp", Any(kF))}},
    Unary(27, "fwidth"),
    {28, {Result("isfinite", Any(kBool)), In("x", Any(kF), 0, 1)}},
    {29, {Result("isinf", Any(kBool)), In("x", Any(kF), 0, 1)}},
    {30, {Result("isnan", Any(kBool)), In("x", Any(kF), 0, 1)}},
    Binary(31, "ldexp", "x", "exp"),
    {32, {Result("length", Scalar(kF)), In("x", Vec(kF, m), 1)}},
    Ternary(33, "lerp", Any(kF), "a", "b", "s"),
    {34, {Result("lit", Vec(kF, 4)), In("l", Scalar(kF), 1), In("h", Scalar(kF), 2), In("m", Scalar(kF), 3)}},
    Unary(35, "log"),
    Unary(36, "log10"),
    Unary(37, "log2"),
    {38, {Result("max", Any(kN)), In("a", Any(kN)), In("b", Any(kN))}},
    {39, {Result("min", Any(kN)), In("a", Any(kN)), In("b", Any(kN))}},
    {40, {Result("modf", Any(kN)), In("x", Any(kN)), Out("ip", Any(kN))}},
    {41, {Result("mul", Scalar(kN)), In("a", Scalar(kN), 1), In("b", Scalar(kN), 2)}},
    {42, {Result("mul", Vec(kN, q)), In("a", Scalar(kN), 1), In("b", Vec(kN, q), 2)}},
    {43, {Result("mul", Mat(kN, p, q)), In("a", Scalar(kN), 1), In("b", Mat(kN, p, q), 2)}},
    {44, {Result("mul", Vec(kN, m)), In("a", Vec(kN, m), 1), In("b", Scalar(kN), 2)}},
    {45, {Result("mul", Scalar(kN)), In("a", Vec(kN, m), 1), In("b", Vec(kN, m), 2)}},
    {46, {Result("mul", Vec(kN, q)), In("a", Vec(kN, m), 1), In("b", Mat(kN, m, q), 2, 0, 0x810)}},
    {47, {Result("mul", Mat(kN, n, m)), In("a", Mat(kN, n, m), 1), In("b", Scalar(kN), 2)}},
    {48, {Result("mul", Vec(kN, n)), In("a", Mat(kN, n, m), 1, 0, 0x410), In("b", Vec(kN, m), 2)}},
    {49, {Result("mul", Mat(kN, n, q)), In("a", Mat(kN, n, m), 1, 0, 0x410), In("b", Mat(kN, m, q), 2, 0, 0x810)}},
    {50, {Result("noise", Scalar(kF)), In("x", Vec(kF, m), 1)}},
    {51, {Result("normalize", Vec(kF, m)), In("x", Vec(kF, m))}},
    Binary(52, "pow", "x", "y"),
    Unary(53, "radians"),
    {54, {Result("reflect", Vec(kF, m)), In("i", Vec(kF, m)), In("n", Vec(kF, m))}},
    // The ratio is a scalar beside two vectors, so it binds its shape apart.
    {55, {Result("refract", Vec(kF, m)), In("i", Vec(kF, m)), In("n", Vec(kF, m)), In("ri", Scalar(kF), 1)}},
    Unary(56, "round"),
    Unary(57, "rsqrt"),
    Unary(58, "saturate"),
    {59, {Result("sign", Any(kInt)), In("x", Any(kN), 0, 1)}},
    Unary(60, "sin"),
    {61, {NoResult("sincos"), In("x", Any(kF), 1, 1), Out("s", Any(kF), 1, 1), Out("c", Any(kF), 1, 1)}},
    Unary(62, "sinh"),
    Ternary(63, "smoothstep", Any(kF), "a", "b", "x"),
    Unary(64, "sqrt"),
    Binary(65, "step", "a", "x"),
    Unary(66, "tan"),
    Unary(67, "tanh"),
    Tex(68, "tex1D", kSampler1D, Scalar(kF)),
    TexGrad(69, "tex1D", kSampler1D, 1),
    Tex(71, "tex1Dbias", kSampler1D, Vec(kF, 4)),
    TexGrad(69, "tex1Dgrad", kSampler1D, 1),
    Tex(72, "tex1Dlod", kSampler1D, Vec(kF, 4)),
    Tex(70, "tex1Dproj", kSampler1D, Vec(kF, 4)),
    Tex(73, "tex2D", kSampler2D, Vec(kF, 2)),
    TexGrad(74, "tex2D", kSampler2D, 2),
    Tex(76, "tex2Dbias", kSampler2D, Vec(kF, 4)),
    TexGrad(74, "tex2Dgrad", kSampler2D, 2),
    Tex(77, "tex2Dlod", kSampler2D, Vec(kF, 4)),
    Tex(75, "tex2Dproj", kSampler2D, Vec(kF, 4)),
    Tex(78, "tex3D", kSampler3D, Vec(kF, 3)),
    TexGrad(79, "tex3D", kSampler3D, 3),
    Tex(81, "tex3Dbias", kSampler3D, Vec(kF, 4)),
    TexGrad(79, "tex3Dgrad", kSampler3D, 3),
    Tex(82, "tex3Dlod", kSampler3D, Vec(kF, 4)),
    Tex(80, "tex3Dproj", kSampler3D, Vec(kF, 4)),
    Tex(83, "texCUBE", kSamplerCube, Vec(kF, 3)),
    TexGrad(84, "texCUBE", kSamplerCube, 3),
    Tex(86, "texCUBEbias", kSamplerCube, Vec(kF, 4)),
    TexGrad(84, "texCUBEgrad", kSamplerCube, 3),
    Tex(87, "texCUBElod", kSamplerCube, Vec(kF, 4)),
    Tex(85, "texCUBEproj", kSamplerCube, Vec(kF, 4)),
    {88, {Result("transpose", Mat(kA, m, n)), In("x", Mat(kA, n, m))}},
};

std::uint32_t IntrinsicRecord::ParameterCount() const {
  std::uint32_t count = 0;
  while (count < 4 && entries[count + 1].name) ++count;
  return count;
}

IntrinsicRows FindIntrinsics(const char* name) {
  if (!name) return {nullptr, 0};
  auto less = [](const IntrinsicRecord& row, const char* key) { return std::strcmp(row.Name(), key) < 0; };
  auto greater = [](const char* key, const IntrinsicRecord& row) { return std::strcmp(key, row.Name()) < 0; };
  const IntrinsicRecord* begin = IntrinsicTable;
  const IntrinsicRecord* end = IntrinsicTable + kIntrinsicCount;
  const IntrinsicRecord* first = std::lower_bound(begin, end, name, less);
  const IntrinsicRecord* last = std::upper_bound(first, end, name, greater);
  return {first, static_cast<std::size_t>(last - first)};
}

}  // namespace gxl::shader
