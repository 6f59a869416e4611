// The semantic tables of the targets: which semantic names an input or
// output may carry, the declaration usage each stands for and the indexes
// and components it allows. A row with usage -1 ends a table.
#pragma once

#include <cstdint>

namespace gxl::shader {

// Usage codes of a semantic word: the declaration usage of the token format
// plus one (a declaration writes usage - 1), and the codes no declaration has.
enum SemanticUsage : std::int32_t {
  kUsageEnd = -1,
  kUsagePosition = 1,
  kUsageBlendWeight = 2,
  kUsageBlendIndices = 3,
  kUsageNormal = 4,
  kUsagePointSize = 5,
  kUsageTexcoord = 6,
  kUsageTangent = 7,
  kUsageBinormal = 8,
  kUsageTessFactor = 9,
  kUsagePositionT = 10,
  kUsageColor = 11,
  kUsageFog = 12,
  kUsageDepth = 13,
  kUsageSample = 14,
  kUsageNotReadable = 15,  // rows a pixel shader may not read
  kUsageFace = 17,
  kUsageScreenPosition = 18,
};

// Direction masks: which lookups accept a row.
constexpr std::uint16_t kSemanticAnyDirection = 0xFFFF;
constexpr std::uint16_t kSemanticVertex = 2;  // vertex shader inputs and outputs
constexpr std::uint16_t kSemanticPixel = 1;   // pixel shader inputs (and outputs)
// Row flags.
constexpr std::uint8_t kSemanticCentroidAllowed = 1;

struct SemanticTableRow {
  const char* name;  // without index; compared ignoring case
  std::uint16_t directions;
  std::uint8_t flags;
  const char* replacement;  // the name to use instead of a deprecated one, or null
  std::int32_t usage;
  std::uint32_t minimumIndex;
  std::uint32_t indexLimit;  // indexes are below this
  std::uint32_t indexBase;   // added to the index in the semantic word
  std::uint32_t componentLimit;
};

// Vertex shader inputs (vertex shader target; the shader model 3 copy
// differs only in the case of its replacement names).
extern const SemanticTableRow kVertexInputSemantics[];
extern const SemanticTableRow kShaderModel3InputSemantics[];
// Vertex shader outputs (vertex shader target).
extern const SemanticTableRow kVertexOutputSemantics[];
// Pixel shader 2.x inputs.
extern const SemanticTableRow kPixelInputSemantics[];
// Shader model 3: vertex outputs and pixel inputs.
extern const SemanticTableRow kInterpolatorSemantics[];
// Pixel shader outputs.
extern const SemanticTableRow kPixelOutputSemantics[];

// The semantic word of an input or output value: usage in the low half,
// index (with the row's base) in the high half.
constexpr std::uint32_t SemanticWord(std::uint32_t usage, std::uint32_t index) {
  return index << 16 | (usage & 0xFFFF);
}
constexpr std::uint32_t SemanticUsageOf(std::uint32_t word) { return word & 0xFFFF; }
constexpr std::uint32_t SemanticIndexOf(std::uint32_t word) { return word >> 16; }
// The key of a value that has no semantic but a register (fragment names).
constexpr std::uint32_t kNoSemanticUsage = 0xFFFF;

}  // namespace gxl::shader
