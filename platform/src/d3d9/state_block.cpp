#include "d3d9/state_block.h"

#include "d3d9/buffers.h"
#include "d3d9/call_log.h"
#include "d3d9/device.h"
#include "d3d9/out_param.h"
#include "d3d9/texture.h"

namespace platform::d3d9 {

StateBlock::~StateBlock() {
  for (auto& t : m_textures) Rebind(t, static_cast<BaseTexture*>(nullptr));
  for (auto& s : m_streams) Rebind(s.buffer, static_cast<VertexBuffer*>(nullptr));
  Rebind(m_declaration, static_cast<VertexDeclaration*>(nullptr));
  Rebind(m_indices, static_cast<IndexBuffer*>(nullptr));
}

HRESULT StateBlock::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DStateBlock9*>(this),
                  iid == IID_IUnknown || iid == IID_IDirect3DStateBlock9, out);
}

HRESULT StateBlock::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

// --- Recording -------------------------------------------------------------------------

void StateBlock::RecordRenderState(UINT state, DWORD value) {
  m_rsMask.set(state);
  m_rs[state] = value;
}

void StateBlock::RecordStageState(UINT stage, UINT type, DWORD value) {
  m_tssMask[stage].set(type);
  m_tss[stage][type] = value;
}

void StateBlock::RecordSamplerState(UINT slot, UINT type, DWORD value) {
  m_ssMask[slot].set(type);
  m_ss[slot][type] = value;
}

void StateBlock::RecordTexture(UINT slot, BaseTexture* texture) {
  m_texMask.set(slot);
  Rebind(m_textures[slot], texture);
}

void StateBlock::RecordTransform(UINT slot, const D3DMATRIX& matrix) { m_transforms[slot] = matrix; }

void StateBlock::RecordViewport(const D3DVIEWPORT9& viewport) {
  m_hasViewport = true;
  m_viewport = viewport;
}

void StateBlock::RecordFvf(DWORD fvf) {
  m_hasFormat = true;
  m_fvf = fvf;
  Rebind(m_declaration, static_cast<VertexDeclaration*>(nullptr));
}

void StateBlock::RecordDeclaration(VertexDeclaration* declaration) {
  m_hasFormat = true;
  m_fvf = 0;
  Rebind(m_declaration, declaration);
}

void StateBlock::RecordStream(UINT stream, const StreamBinding& binding) {
  m_streamMask.set(stream);
  Rebind(m_streams[stream].buffer, binding.buffer);
  m_streams[stream].offset = binding.offset;
  m_streams[stream].stride = binding.stride;
}

void StateBlock::RecordIndices(IndexBuffer* indices) {
  m_hasIndices = true;
  Rebind(m_indices, indices);
}

void StateBlock::RecordNPatchMode(float segments) {
  m_hasNPatch = true;
  m_nPatch = segments;
}

void StateBlock::RecordConstant(ConstantKind kind, UINT reg, const std::array<DWORD, 4>& value) {
  m_constants[static_cast<int>(kind)].values[reg] = value;
}

void StateBlock::RecordAll() {
  for (UINT s = 0; s < kRenderStateCount; ++s)
    if (IsRenderState(s)) m_rsMask.set(s);
  for (UINT stage = 0; stage < kStageCount; ++stage)
    for (UINT t = 0; t < kStageStateCount; ++t)
      if (IsStageState(t)) m_tssMask[stage].set(t);
  for (UINT slot = 0; slot < kSamplerSlotCount; ++slot)
    for (UINT t = 0; t < kSamplerStateCount; ++t)
      if (IsSamplerState(t)) m_ssMask[slot].set(t);
  m_texMask.set();
  for (UINT slot = 0; slot < kTransformSlotCount; ++slot) m_transforms[slot] = IdentityMatrix();
  m_hasViewport = m_hasFormat = m_hasIndices = m_hasNPatch = true;
  m_vertexShader = m_pixelShader = true;
  m_streamMask.set();
  const ShaderConstants& constants = m_device->Constants();
  for (int k = 0; k < kConstantKinds; ++k)
    for (UINT reg = 0; reg < constants.files[k].Size(); ++reg) m_constants[k].values[reg] = {};
  CaptureNow();
}

// --- Capture and apply -------------------------------------------------------------------

HRESULT StateBlock::CaptureNow() {
  const DeviceState& s = m_device->State();
  for (UINT i = 0; i < kRenderStateCount; ++i)
    if (m_rsMask.test(i)) m_rs[i] = s.renderStates[i];
  for (UINT stage = 0; stage < kStageCount; ++stage)
    for (UINT t = 0; t < kStageStateCount; ++t)
      if (m_tssMask[stage].test(t)) m_tss[stage][t] = s.stageStates[stage][t];
  for (UINT slot = 0; slot < kSamplerSlotCount; ++slot) {
    for (UINT t = 0; t < kSamplerStateCount; ++t)
      if (m_ssMask[slot].test(t)) m_ss[slot][t] = s.samplerStates[slot][t];
    if (m_texMask.test(slot)) Rebind(m_textures[slot], s.textures[slot]);
  }
  for (auto& [slot, matrix] : m_transforms) matrix = s.transforms[slot];
  if (m_hasViewport) m_viewport = s.viewport;
  if (m_hasFormat) {
    m_fvf = s.fvf;
    Rebind(m_declaration, s.declaration);
  }
  for (UINT i = 0; i < kStreamCount; ++i)
    if (m_streamMask.test(i)) {
      Rebind(m_streams[i].buffer, s.streams[i].buffer);
      m_streams[i].offset = s.streams[i].offset;
      m_streams[i].stride = s.streams[i].stride;
    }
  if (m_hasIndices) Rebind(m_indices, s.indices);
  if (m_hasNPatch) m_nPatch = s.nPatchMode;
  const ShaderConstants& constants = m_device->Constants();
  for (int k = 0; k < kConstantKinds; ++k)
    for (auto& [reg, value] : m_constants[k].values) value = constants.files[k].Get(reg);
  return D3D_OK;
}

HRESULT StateBlock::Capture() {
  D3D9_RETURN("StateBlock.Capture", m_device->Recording() ? D3DERR_INVALIDCALL : CaptureNow(), this);
}

HRESULT StateBlock::Apply() {
  if (m_device->Recording()) D3D9_RETURN("StateBlock.Apply", D3DERR_INVALIDCALL, this);
  Device& d = *m_device;
  HRESULT result = D3D_OK;
  auto keep = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  };
  if (m_hasFormat) keep(m_declaration ? d.SetDeclarationNow(m_declaration) : d.SetFvfNow(m_fvf));
  for (UINT i = 0; i < kStreamCount; ++i)
    if (m_streamMask.test(i)) keep(d.SetStreamNow(i, m_streams[i].buffer, m_streams[i].offset, m_streams[i].stride));
  if (m_hasIndices) keep(d.SetIndicesNow(m_indices));
  for (UINT i = 0; i < kRenderStateCount; ++i)
    if (m_rsMask.test(i)) keep(d.SetRenderStateNow(i, m_rs[i]));
  for (UINT stage = 0; stage < kStageCount; ++stage)
    for (UINT t = 0; t < kStageStateCount; ++t)
      if (m_tssMask[stage].test(t)) keep(d.SetStageStateNow(stage, t, m_tss[stage][t]));
  for (UINT slot = 0; slot < kSamplerSlotCount; ++slot)
    for (UINT t = 0; t < kSamplerStateCount; ++t)
      if (m_ssMask[slot].test(t)) keep(d.SetSamplerStateNow(SamplerNumber(slot), t, m_ss[slot][t]));
  for (UINT slot = 0; slot < kSamplerSlotCount; ++slot)
    if (m_texMask.test(slot)) keep(d.SetTextureNow(SamplerNumber(slot), m_textures[slot]));
  for (const auto& [slot, matrix] : m_transforms) keep(d.SetTransformNow(TransformNumber(slot), matrix));
  if (m_hasViewport) keep(d.SetViewportNow(m_viewport));
  // Shaders are always null on this device: applying them changes nothing.
  for (int k = 0; k < kConstantKinds; ++k)
    for (const auto& [reg, value] : m_constants[k].values)
      keep(d.SetConstantsNow(static_cast<ConstantKind>(k), reg, value.data(), 1));
  if (m_hasNPatch) keep(d.SetNPatchModeNow(m_nPatch));
  D3D9_RETURN("StateBlock.Apply", result, this);
}

std::string StateBlock::Describe() const {
  std::size_t entries = m_rsMask.count() + m_texMask.count() + m_transforms.size() + m_streamMask.count() +
                        m_hasViewport + m_hasFormat + m_hasIndices + m_hasNPatch + m_vertexShader + m_pixelShader;
  for (const auto& m : m_tssMask) entries += m.count();
  for (const auto& m : m_ssMask) entries += m.count();
  for (const auto& c : m_constants) entries += c.values.size();
  return std::to_string(entries) + " entries";
}

}  // namespace platform::d3d9
