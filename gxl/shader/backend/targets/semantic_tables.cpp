#include "gxl/shader/backend/targets/semantic_tables.h"

namespace gxl::shader {

namespace {

constexpr std::uint16_t kAny = kSemanticAnyDirection;
constexpr std::uint16_t kVs = kSemanticVertex;
constexpr std::uint16_t kPs = kSemanticPixel;
constexpr std::uint8_t kCentroid = kSemanticCentroidAllowed;

}  // namespace

#define GXL_END_ROW \
  { "UNKNOWN", kAny, 0, nullptr, kUsageEnd, 0, 0, 0, 0 }

// The vertex input rows; the two copies differ in the case of the name their
// deprecated rows point to.
// clang-format off
#define GXL_VERTEX_INPUT_ROWS(color)                                   \
  {"Position", kAny, 0, nullptr, kUsagePosition, 0, 16, 0, 4},         \
  {"BlendWeight", kAny, 0, nullptr, kUsageBlendWeight, 0, 16, 0, 4},   \
  {"BlendIndices", kAny, 0, nullptr, kUsageBlendIndices, 0, 16, 0, 4}, \
  {"Normal", kAny, 0, nullptr, kUsageNormal, 0, 16, 0, 4},             \
  {"PSize", kAny, 0, nullptr, kUsagePointSize, 0, 16, 0, 4},           \
  {"Texcoord", kAny, 0, nullptr, kUsageTexcoord, 0, 16, 0, 4},         \
  {"Tangent", kAny, 0, nullptr, kUsageTangent, 0, 16, 0, 4},           \
  {"Binormal", kAny, 0, nullptr, kUsageBinormal, 0, 16, 0, 4},         \
  {"PositionT", kAny, 0, nullptr, kUsagePositionT, 1, 16, 0, 4},       \
  {"Color", kAny, 0, nullptr, kUsageColor, 0, 16, 0, 4},               \
  {"Fog", kAny, 0, nullptr, kUsageFog, 0, 16, 0, 4},                   \
  {"Depth", kAny, 0, nullptr, kUsageDepth, 0, 16, 0, 4},               \
  {"Sample", kAny, 0, nullptr, kUsageSample, 0, 16, 0, 4},             \
  {"Diffuse", kAny, 0, color, kUsageColor, 0, 1, 0, 4},                \
  {"Specular", kAny, 0, color, kUsageColor, 0, 1, 1, 4},               \
  GXL_END_ROW
// clang-format on

const SemanticTableRow kVertexInputSemantics[] = {GXL_VERTEX_INPUT_ROWS("Color")};
const SemanticTableRow kShaderModel3InputSemantics[] = {GXL_VERTEX_INPUT_ROWS("color")};
#undef GXL_VERTEX_INPUT_ROWS

const SemanticTableRow kVertexOutputSemantics[] = {
    {"Position", kVs, 0, nullptr, kUsagePosition, 0, 1, 0, 4},
    {"Psize", kAny, 0, nullptr, kUsagePointSize, 0, 1, 0, 4},
    {"Texcoord", kAny, kCentroid, nullptr, kUsageTexcoord, 0, 8, 0, 4},
    {"Color", kAny, kCentroid, nullptr, kUsageColor, 0, 2, 0, 4},
    {"Fog", kAny, 0, nullptr, kUsageFog, 0, 1, 0, 4},
    {"Diffuse", kPs, 0, "Color", kUsageColor, 0, 1, 0, 4},
    {"Specular", kPs, 0, "Color", kUsageColor, 0, 1, 1, 4},
    GXL_END_ROW,
};

const SemanticTableRow kPixelInputSemantics[] = {
    {"Position", kVs, 0, nullptr, kUsageNotReadable, 0, 1, 0, 4},
    {"Psize", kAny, 0, nullptr, kUsageNotReadable, 0, 1, 0, 4},
    {"Texcoord", kAny, kCentroid, nullptr, kUsageTexcoord, 0, 8, 0, 4},
    {"Color", kAny, kCentroid, nullptr, kUsageColor, 0, 2, 0, 4},
    {"Fog", kAny, 0, nullptr, kUsageNotReadable, 0, 1, 0, 4},
    {"Diffuse", kPs, 0, "Color", kUsageColor, 0, 1, 0, 4},
    {"Specular", kPs, 0, "Color", kUsageColor, 0, 1, 0, 4},
    GXL_END_ROW,
};

const SemanticTableRow kInterpolatorSemantics[] = {
    {"Tessfactor", kAny, 0, nullptr, kUsageTessFactor, 0, 1, 0, 1},
    {"Position", kVs, 0, nullptr, kUsagePosition, 0, 16, 0, 4},
    {"Position", kPs, 0, nullptr, kUsagePosition, 1, 16, 0, 4},
    {"PositionT", kAny, 0, nullptr, kUsagePositionT, 1, 16, 0, 4},
    {"Psize", kAny, 0, nullptr, kUsagePointSize, 0, 16, 0, 4},
    {"Texcoord", kAny, kCentroid, nullptr, kUsageTexcoord, 0, 16, 0, 4},
    {"Color", kAny, kCentroid, nullptr, kUsageColor, 0, 16, 0, 4},
    {"Fog", kAny, 0, nullptr, kUsageFog, 0, 16, 0, 4},
    {"BlendWeight", kAny, 0, nullptr, kUsageBlendWeight, 0, 16, 0, 4},
    {"BlendIndices", kAny, 0, nullptr, kUsageBlendIndices, 0, 16, 0, 4},
    {"Normal", kAny, 0, nullptr, kUsageNormal, 0, 16, 0, 4},
    {"Binormal", kAny, 0, nullptr, kUsageBinormal, 0, 16, 0, 4},
    {"Tangent", kAny, 0, nullptr, kUsageTangent, 0, 16, 0, 4},
    {"Depth", kAny, 0, nullptr, kUsageDepth, 0, 16, 0, 4},
    {"Diffuse", kPs, 0, "color", kUsageColor, 0, 16, 0, 4},
    {"Specular", kPs, 0, "color", kUsageColor, 0, 16, 1, 4},
    {"VFace", kAny, 0, nullptr, kUsageFace, 0, 1, 0, 1},
    {"VPos", kAny, 0, nullptr, kUsageScreenPosition, 0, 1, 0, 2},
    GXL_END_ROW,
};

const SemanticTableRow kPixelOutputSemantics[] = {
    {"Color", kAny, 0, nullptr, kUsageColor, 0, 4, 0, 4},
    {"Depth", kAny, 0, nullptr, kUsageDepth, 0, 1, 0, 4},
    GXL_END_ROW,
};

#undef GXL_END_ROW

}  // namespace gxl::shader
