// State blocks: a set of recorded entries (render state n, stage state, sampler
// state, texture, transform, viewport, vertex format, stream, indices, shaders,
// shader constants, N-patch mode) with a value each. Recording fills the set;
// Capture refreshes exactly those values from the device; Apply sets exactly
// those entries, as the Set* calls would. Textures, buffers and declarations in
// a block are held (bound) by it.
#pragma once

#include <bitset>
#include <map>
#include <vector>

#include "d3d9/object.h"
#include "d3d9/state.h"
#include "platform/d3d9_api.h"

namespace platform::d3d9 {

class StateBlock final : public IDirect3DStateBlock9, public DeviceChild {
 public:
  // A block being recorded is held by the device (no public reference) until
  // EndStateBlock hands it out.
  StateBlock(Device* device, bool publicRef) : DeviceChild(device, "StateBlock", publicRef) {}
  ~StateBlock() override;

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  HRESULT Capture() override;
  HRESULT Apply() override;

  // Recording (a state set twice keeps the last value).
  void RecordRenderState(UINT state, DWORD value);
  void RecordStageState(UINT stage, UINT type, DWORD value);
  void RecordSamplerState(UINT slot, UINT type, DWORD value);
  void RecordTexture(UINT slot, BaseTexture* texture);
  void RecordTransform(UINT slot, const D3DMATRIX& matrix);
  void RecordViewport(const D3DVIEWPORT9& viewport);
  void RecordFvf(DWORD fvf);
  void RecordDeclaration(VertexDeclaration* declaration);
  void RecordStream(UINT stream, const StreamBinding& binding);
  void RecordIndices(IndexBuffer* indices);
  void RecordVertexShader() { m_vertexShader = true; }
  void RecordPixelShader() { m_pixelShader = true; }
  void RecordNPatchMode(float segments);
  void RecordConstant(ConstantKind kind, UINT reg, const std::array<DWORD, 4>& value);

  // Every entry, with the device's current values (D3DSBT_ALL).
  void RecordAll();
  std::string Describe() const override;

 private:
  HRESULT CaptureNow();
  struct ConstantEntries {
    std::map<UINT, std::array<DWORD, 4>> values;
  };

  std::bitset<kRenderStateCount> m_rsMask;
  DWORD m_rs[kRenderStateCount] = {};
  std::bitset<kStageStateCount> m_tssMask[kStageCount];
  DWORD m_tss[kStageCount][kStageStateCount] = {};
  std::bitset<kSamplerStateCount> m_ssMask[kSamplerSlotCount];
  DWORD m_ss[kSamplerSlotCount][kSamplerStateCount] = {};
  std::bitset<kSamplerSlotCount> m_texMask;
  BaseTexture* m_textures[kSamplerSlotCount] = {};
  std::map<UINT, D3DMATRIX> m_transforms;
  bool m_hasViewport = false;
  D3DVIEWPORT9 m_viewport{};
  bool m_hasFormat = false;
  DWORD m_fvf = 0;
  VertexDeclaration* m_declaration = nullptr;
  std::bitset<kStreamCount> m_streamMask;
  StreamBinding m_streams[kStreamCount];
  bool m_hasIndices = false;
  IndexBuffer* m_indices = nullptr;
  bool m_vertexShader = false;
  bool m_pixelShader = false;
  bool m_hasNPatch = false;
  float m_nPatch = 0.0f;
  ConstantEntries m_constants[kConstantKinds];
};

}  // namespace platform::d3d9
