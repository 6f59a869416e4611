// The device's fixed-function state as plain arrays the rasteriser reads
// directly, the slot numbering of samplers, textures and transforms, and the
// Direct3D 9 defaults.
#pragma once

#include <array>
#include <vector>

#include "platform/d3d9_types.h"

namespace platform::d3d9 {

class BaseTexture;
class VertexBuffer;
class IndexBuffer;
class VertexDeclaration;

constexpr UINT kRenderStateCount = 210;    // D3DRS_* are below 210
constexpr UINT kStageCount = 8;            // texture stages with stage states
constexpr UINT kStageStateCount = 33;      // D3DTSS_* are below 33
constexpr UINT kSamplerSlotCount = 21;     // samplers 0-15, then 256-260
constexpr UINT kSamplerStateCount = 14;    // D3DSAMP_* are below 14
constexpr UINT kTransformSlotCount = 266;  // VIEW, PROJECTION, TEXTURE0-7, WORLD0-255
constexpr UINT kStreamCount = 16;

bool IsRenderState(DWORD state);
bool IsStageState(DWORD type);
bool IsSamplerState(DWORD type);
// -1 for a number that is not a sampler or texture stage.
int SamplerSlot(DWORD sampler);
DWORD SamplerNumber(UINT slot);
// -1 for a number that is not a transform.
int TransformSlot(DWORD state);
DWORD TransformNumber(UINT slot);
constexpr UINT kViewSlot = 0;
constexpr UINT kProjectionSlot = 1;
constexpr UINT kWorldSlot = 10;

struct StreamBinding {
  VertexBuffer* buffer = nullptr;
  UINT offset = 0;
  UINT stride = 0;
};

struct DeviceState {
  DWORD renderStates[kRenderStateCount];
  DWORD stageStates[kStageCount][kStageStateCount];
  DWORD samplerStates[kSamplerSlotCount][kSamplerStateCount];
  BaseTexture* textures[kSamplerSlotCount];
  D3DMATRIX transforms[kTransformSlotCount];
  D3DVIEWPORT9 viewport;
  DWORD fvf;
  VertexDeclaration* declaration;
  StreamBinding streams[kStreamCount];
  IndexBuffer* indices;
  float nPatchMode;
};

// Fills every value with its default; pointers become null (the caller owns
// their bindings). `depthBuffer` selects ZENABLE's default.
void SetDefaultState(DeviceState& state, bool depthBuffer, const D3DVIEWPORT9& viewport);
const D3DMATRIX& IdentityMatrix();

// Shader constant registers of one kind: four 32-bit words each (bool registers
// use the first word). Storage grows on demand so that devices which never set
// a constant spend nothing on 8192 registers.
class RegisterFile {
 public:
  explicit RegisterFile(UINT limit) : m_limit(limit) {}
  UINT Limit() const { return m_limit; }
  UINT Size() const { return static_cast<UINT>(m_regs.size()); }
  bool InRange(UINT start, UINT count) const { return start <= m_limit && count <= m_limit - start; }
  const std::array<DWORD, 4>& Get(UINT reg) const;
  void Set(UINT reg, const std::array<DWORD, 4>& value);
  void Clear() { m_regs.clear(); }
  bool operator==(const RegisterFile&) const = default;

 private:
  UINT m_limit;
  std::vector<std::array<DWORD, 4>> m_regs;
};

// Vertex F, I, B and pixel F, I, B.
enum class ConstantKind { VertexF, VertexI, VertexB, PixelF, PixelI, PixelB };
constexpr int kConstantKinds = 6;
struct ShaderConstants {
  RegisterFile files[kConstantKinds] = {RegisterFile(8192), RegisterFile(2048), RegisterFile(2048),
                                        RegisterFile(224),  RegisterFile(2048), RegisterFile(2048)};
  RegisterFile& operator[](ConstantKind k) { return files[static_cast<int>(k)]; }
  const RegisterFile& operator[](ConstantKind k) const { return files[static_cast<int>(k)]; }
};
// Words per register passed by the caller: 4 for F and I, 1 for B.
inline UINT WordsPerRegister(ConstantKind k) {
  return k == ConstantKind::VertexB || k == ConstantKind::PixelB ? 1 : 4;
}

}  // namespace platform::d3d9
