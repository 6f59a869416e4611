// Test-only reference interpreter for every vertex and pixel shader version
// (software versions included): per-lane register files of four floats, every
// arithmetic, flow-control and texture instruction, and 2x2 pixel quads run in
// lockstep for dsx, dsy and the implicit gradients of texture lookups. Texture
// lookups go through a caller's callback.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/src/d3d9/shader_tokens.h"

namespace nura::shtok {

struct Float4 {
  float v[4] = {0, 0, 0, 0};
  Float4() = default;
  Float4(float x, float y, float z, float w) : v{x, y, z, w} {}
  float& operator[](int i) { return v[i]; }
  float operator[](int i) const { return v[i]; }
};

enum class SampleKind { kImplicit, kProjected, kBias, kLod, kGradient };

struct SampleRequest {
  int sampler = 0;      // s#; the texture stage in ps_1_x
  int textureType = 0;  // from the sampler's dcl: 2 2-D, 3 cube, 4 volume; 0 in ps_1_x
  SampleKind kind = SampleKind::kImplicit;
  Float4 coord;         // texldp: already divided by w
  float lod = 0;        // texldb: the bias; texldl: the level
  Float4 ddx, ddy;      // implicit (from the quad) or texldd's gradients
  int lane = 0;
};
using Sampler = std::function<Float4(const SampleRequest&)>;

// Usage codes of the declaration token (bits 0-4).
enum Usage : int {
  kUsagePosition = 0, kUsageBlendWeight, kUsageBlendIndices, kUsageNormal, kUsagePSize, kUsageTexCoord,
  kUsageTangent, kUsageBinormal, kUsageTessFactor, kUsagePositionT, kUsageColor, kUsageFog, kUsageDepth,
  kUsageSample,
};

// One dcl of the loaded program. ps_2_x inputs carry no usage in their token:
// v# reads as COLOR and t# as TEXCOORD, index = register number (`implied`).
struct Declaration {
  int type = 0;  // register type: v# 1, t# 3, o# 6, s# 10, vPos/vFace 17
  std::uint32_t number = 0;
  int usage = -1;  // -1 for samplers, vPos and vFace
  int usageIndex = 0;
  bool implied = false;
  std::uint32_t mask = 0;  // declared components (bit 0 = x)
  int samplerType = 0;     // 2 2-D, 3 cube, 4 volume; 0 for other registers
  int modifiers = 0;       // _pp, _centroid (platform::shader::kResult*)
  bool output = false;     // vs_3_0 o#
};

struct Lane;
// Where a run reads or leaves the declared register in a lane (v#, t#, o#,
// vPos); null for samplers, vFace and registers past the lane's files.
Float4* DeclaredSlot(Lane& lane, const Declaration& d);

// One vertex or pixel: inputs the caller fills, outputs the run leaves.
struct Lane {
  Float4 v[16];  // vertex inputs; pixel colour (2_x) or general (3_0) inputs
  Float4 t[8];   // texture coordinates: ps_2_x t#, ps_1_x the coordinates of stage #
  Float4 vPos;
  float vFace = 1;

  Float4 oPos, oFog, oPts, oD[2], oC[4];  // ps_1_x: oC[0] is r0 at the end
  Float4 o[16];  // oT# before vs_3_0, o# in vs_3_0
  float oDepth = 0;
  bool depthWritten = false;
  bool killed = false;

  Float4 r[32];
  Float4 tex[8];  // ps_1_1-1_3 t# registers, written by texture instructions and arithmetic
  std::array<int, 4> a0 = {0, 0, 0, 0};
  std::array<bool, 4> p0 = {false, false, false, false};
};

class Interpreter {
 public:
  Interpreter();

  // False with the reason for a malformed stream, unbalanced blocks or an
  // instruction the interpreter does not run.
  bool Load(const std::uint32_t* words, std::size_t count, std::string* error);
  const platform::shader::Version& version() const { return m_v; }
  // The program's declarations in stream order.
  const std::vector<Declaration>& Declarations() const { return m_declarations; }
  // The input (or, with `output`, vs_3_0 output) declared with this usage and
  // index; null when there is none.
  const Declaration* FindDeclaration(int usage, int usageIndex, bool output = false) const;

  // Application constants; def, defi and defb in the shader override them.
  void SetFloat(int reg, const Float4& value);
  void SetInt(int reg, int x, int y, int z, int w);
  void SetBool(int reg, bool value);
  void SetSampler(Sampler sampler) { m_sampler = std::move(sampler); }
  // The bump-environment matrix, luminance scale and offset of a texture stage
  // (texbem, texbeml, bem); all 0 until set.
  struct BumpEnv {
    float m00 = 0, m01 = 0, m10 = 0, m11 = 0, lscale = 0, loffset = 0;
  };
  void SetBumpEnv(int stage, const BumpEnv& env);
  // Strict mode makes results the format leaves undefined NaN instead of a
  // value: components of a co-issued pair that depend on the order the two
  // run in, texcrd components it does not copy or copies outside [0, 1], and
  // the alpha of every r# at ps_1_4's phase. NaN sticks through cnd and cmp
  // conditions and texture coordinates, so it reaches the output. ps_1_x only.
  void SetStrict(bool strict) { m_strict = strict; }
  // Instructions each lane may execute before the run fails (runaway loops).
  void SetBudget(std::uint64_t instructions) { m_budget = instructions; }

  // Runs `count` lanes. Vertex lanes run one after another; pixel lanes form a
  // quad when count is 4 (lane 0 top left, 1 top right, 2 bottom left, 3 bottom
  // right) and run in lockstep; a single pixel lane sees zero gradients.
  // Temporaries and outputs are reset first; inputs are the caller's.
  bool Run(Lane* lanes, int count, std::string* error);

 private:
  struct Frame {
    bool loop;
    int count, aL, step;
    std::size_t start, end;
  };
  struct Thread {
    std::size_t pc = 0;
    std::vector<Frame> frames;
    std::vector<std::size_t> calls;
    bool done = false;
    std::uint64_t executed = 0;
    int lane = 0;
  };
  enum class Step { kNext, kWait, kDone, kError };

  Step RunUntilWait(Lane& lane, Thread& th, bool stopAtGradient, std::string* error);
  bool ExecuteGradient(Lane* lanes, Thread* threads, int count, std::string* error);
  // ps_1_x: no flow control, so every instruction runs across the lanes.
  struct Ps1Lane;
  bool RunPs1(Lane* lanes, int count, std::string* error);
  bool Ps1Texture(const platform::shader::Instruction& in, Lane* lanes, Ps1Lane* state, int count, std::string* error);
  bool Ps1Arithmetic(const platform::shader::Instruction& in, const platform::shader::Instruction* paired, Lane& lane,
                     const Thread& th, std::string* error);
  bool Evaluate(const platform::shader::Instruction& in, const Lane& lane, const Thread& th, Float4* value,
                std::uint32_t* produced, std::string* error) const;
  Float4 Lookup(int stage, const Float4& coord, const Float4& ddx, const Float4& ddy, int lane) const;
  bool Execute(const platform::shader::Instruction& in, Lane& lane, Thread& th, std::string* error);
  bool Flow(const platform::shader::Instruction& in, Lane& lane, Thread& th, std::string* error);
  Float4 Read(const platform::shader::Operand& op, const Lane& lane, const Thread& th, int row = 0) const;
  Float4 Fetch(int type, std::uint32_t index, const Lane& lane, const Thread& th) const;
  int RelativeOffset(const platform::shader::Operand& op, const Lane& lane, const Thread& th) const;
  std::array<bool, 4> PredicateMask(const platform::shader::Instruction& in, const Lane& lane) const;
  void Write(const platform::shader::Instruction& in, Lane& lane, const Thread& th, const Float4& value,
             std::uint32_t produced) const;
  bool Condition(const platform::shader::Instruction& in, int src, const Lane& lane, const Thread& th) const;
  Float4 Sample(const platform::shader::Instruction& in, const Float4& coord, const Float4& ddx, const Float4& ddy,
                float lod, SampleKind kind, int lane) const;

  platform::shader::Version m_v;
  std::vector<platform::shader::Instruction> m_program;
  std::vector<std::size_t> m_match;  // if->else/endif, else->endif, loop<->endloop, rep<->endrep
  std::map<std::uint32_t, std::size_t> m_labels;
  std::vector<Declaration> m_declarations;
  std::uint32_t m_inputMask[16];
  int m_samplerType[16];

  std::vector<Float4> m_floats, m_defFloats;
  std::vector<bool> m_hasDefFloat;
  std::vector<std::array<int, 4>> m_ints;
  std::vector<bool> m_bools;
  std::map<std::uint32_t, std::array<int, 4>> m_defInts;
  std::map<std::uint32_t, bool> m_defBools;

  Sampler m_sampler;
  std::uint64_t m_budget = 1u << 20;
  BumpEnv m_bump[8];
  bool m_strict = false;
};

// An error text naming the instruction's position and name first.
std::string ErrorAt(const platform::shader::Instruction& in, const std::string& text);

// Gradients of a value across a quad (lanes as in Interpreter::Run); zero
// unless `count` is 4.
void QuadGradients(const Float4* values, int count, int lane, Float4* ddx, Float4* ddy);

// Per-component result of the arithmetic instructions; `s` holds the sources
// after swizzle and modifier (scalar instructions get their selected component
// replicated; matrix instructions get s0 then the rows). Sets `produced` to the
// components the instruction computes. False for an opcode it does not handle.
// cnd reads the alpha of its first source in ps_1_1-1_3 (r0.a) and each
// component in ps_1_4.
bool Compute(std::uint16_t op, const platform::shader::Version& v, const Float4* s, Float4* d,
             std::uint32_t* produced);

}  // namespace nura::shtok
