// State setters and getters, shader constants and state-block recording.
// While a block is being recorded a setter records its value and leaves the
// device's state as it was.
#include <cmath>
#include <cstring>

#include "d3d9/buffers.h"
#include "d3d9/call_log.h"
#include "d3d9/out_param.h"
#include "d3d9/device.h"
#include "d3d9/state_block.h"
#include "d3d9/surface.h"
#include "d3d9/texture.h"
#include "testing/failure.h"

namespace platform::d3d9 {
namespace {

template <class T, class I>
T* Own(I* iface, const Device* device) {
  T* object = iface ? dynamic_cast<T*>(iface) : nullptr;
  return object && object->Dev() == device ? object : nullptr;
}

}  // namespace

// --- Render, stage and sampler states -------------------------------------------------

HRESULT Device::SetRenderStateNow(DWORD state, DWORD value) {
  if (!IsRenderState(state)) return D3DERR_INVALIDCALL;
  if (m_recording)
    m_recording->RecordRenderState(state, value);
  else
    m_state.renderStates[state] = value;
  return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  D3D9_RETURN("SetRenderState", SetRenderStateNow(state, value), state, value);
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  HRESULT hr = D3D_OK;
  if (!IsRenderState(state) || !value)
    hr = D3DERR_INVALIDCALL;
  else
    *value = m_state.renderStates[state];
  D3D9_RETURN("GetRenderState", hr, state);
}

HRESULT Device::SetStageStateNow(DWORD stage, DWORD type, DWORD value) {
  if (stage >= kStageCount || !IsStageState(type)) return D3DERR_INVALIDCALL;
  if (m_recording)
    m_recording->RecordStageState(stage, type, value);
  else
    m_state.stageStates[stage][type] = value;
  return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  D3D9_RETURN("SetTextureStageState", SetStageStateNow(stage, type, value), stage, type, value);
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
  HRESULT hr = D3D_OK;
  if (stage >= kStageCount || !IsStageState(type) || !value)
    hr = D3DERR_INVALIDCALL;
  else
    *value = m_state.stageStates[stage][type];
  D3D9_RETURN("GetTextureStageState", hr, stage, type);
}

HRESULT Device::SetSamplerStateNow(DWORD sampler, DWORD type, DWORD value) {
  const int slot = SamplerSlot(sampler);
  if (slot < 0 || !IsSamplerState(type)) return D3DERR_INVALIDCALL;
  if (m_recording)
    m_recording->RecordSamplerState(slot, type, value);
  else
    m_state.samplerStates[slot][type] = value;
  return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  D3D9_RETURN("SetSamplerState", SetSamplerStateNow(sampler, type, value), sampler, type, value);
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
  HRESULT hr = D3D_OK;
  const int slot = SamplerSlot(sampler);
  if (slot < 0 || !IsSamplerState(type) || !value)
    hr = D3DERR_INVALIDCALL;
  else
    *value = m_state.samplerStates[slot][type];
  D3D9_RETURN("GetSamplerState", hr, sampler, type);
}

// --- Textures and transforms ------------------------------------------------------------

HRESULT Device::SetTextureNow(DWORD stage, BaseTexture* texture) {
  const int slot = SamplerSlot(stage);
  if (slot < 0) return D3DERR_INVALIDCALL;
  if (m_recording)
    m_recording->RecordTexture(slot, texture);
  else
    Rebind(m_state.textures[slot], texture);
  return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
  BaseTexture* t = AsBaseTexture(texture);
  const HRESULT hr =
      (texture && (!t || t->Dev() != this)) ? D3DERR_INVALIDCALL : SetTextureNow(stage, texture ? t : nullptr);
  D3D9_RETURN("SetTexture", hr, stage, texture);
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
  HRESULT hr = D3D_OK;
  const int slot = SamplerSlot(stage);
  if (!texture || slot < 0) {
    hr = D3DERR_INVALIDCALL;
  } else {
    BaseTexture* t = m_state.textures[slot];
    *texture = t ? t->Interface() : nullptr;
    if (t) t->AddRefPublic();
  }
  D3D9_RETURN("GetTexture", hr, stage, texture ? *texture : nullptr);
}

HRESULT Device::SetTransformNow(DWORD state, const D3DMATRIX& matrix) {
  const int slot = TransformSlot(state);
  if (slot < 0) return D3DERR_INVALIDCALL;
  if (m_recording)
    m_recording->RecordTransform(slot, matrix);
  else
    m_state.transforms[slot] = matrix;
  return D3D_OK;
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
  D3D9_RETURN("SetTransform", matrix ? SetTransformNow(state, *matrix) : D3DERR_INVALIDCALL, state, matrix);
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
  HRESULT hr = D3D_OK;
  const int slot = TransformSlot(state);
  if (slot < 0 || !matrix)
    hr = D3DERR_INVALIDCALL;
  else
    *matrix = m_state.transforms[slot];
  D3D9_RETURN("GetTransform", hr, state);
}

HRESULT Device::SetNPatchModeNow(float segments) {
  if (!(segments >= 0.0f)) return D3DERR_INVALIDCALL;
  if (m_recording)
    m_recording->RecordNPatchMode(segments);
  else
    m_state.nPatchMode = segments;
  return D3D_OK;
}

HRESULT Device::SetNPatchMode(float segments) { D3D9_RETURN("SetNPatchMode", SetNPatchModeNow(segments), segments); }

float Device::GetNPatchMode() {
  if (CallLogEnabled()) LogCall("GetNPatchMode", LogArgs(), D3D_OK);
  return m_state.nPatchMode;
}

// --- Viewport -----------------------------------------------------------------------------

HRESULT Device::SetViewportNow(const D3DVIEWPORT9& v) {
  if (!(v.MinZ >= 0.0f && v.MinZ <= v.MaxZ && v.MaxZ <= 1.0f)) return D3DERR_INVALIDCALL;
  if (m_recording) {
    // The target it will meet is known only when the block is applied.
    m_recording->RecordViewport(v);
    return D3D_OK;
  }
  if (std::uint64_t(v.X) + v.Width > m_renderTarget->Width() ||
      std::uint64_t(v.Y) + v.Height > m_renderTarget->Height())
    return D3DERR_INVALIDCALL;
  m_state.viewport = v;
  return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* viewport) {
  // Tests make the call itself fail; a state block's Apply never does.
  HRESULT hr = D3DERR_INVALIDCALL;
  if (viewport && !platform::detail::ShouldFail("SetViewport", &hr)) hr = SetViewportNow(*viewport);
  D3D9_RETURN("SetViewport", hr, viewport);
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport) {
  const HRESULT hr = CopyOut(viewport, m_state.viewport);
  D3D9_RETURN("GetViewport", hr);
}

// --- Vertex input --------------------------------------------------------------------------

HRESULT Device::SetFvfNow(DWORD fvf) {
  VertexLayout layout;
  if (fvf != 0 && !LayoutFromFvf(fvf, &layout)) return D3DERR_INVALIDCALL;
  if (m_recording) {
    m_recording->RecordFvf(fvf);
    return D3D_OK;
  }
  m_state.fvf = fvf;
  Rebind(m_state.declaration, static_cast<VertexDeclaration*>(nullptr));
  return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf) { D3D9_RETURN("SetFVF", SetFvfNow(fvf), fvf); }

HRESULT Device::GetFVF(DWORD* fvf) {
  const HRESULT hr = CopyOut(fvf, m_state.fvf);
  D3D9_RETURN("GetFVF", hr);
}

HRESULT Device::SetDeclarationNow(VertexDeclaration* declaration) {
  if (m_recording) {
    m_recording->RecordDeclaration(declaration);
    return D3D_OK;
  }
  Rebind(m_state.declaration, declaration);
  m_state.fvf = 0;
  return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
  VertexDeclaration* d = Own<VertexDeclaration>(declaration, this);
  D3D9_RETURN("SetVertexDeclaration", declaration && !d ? D3DERR_INVALIDCALL : SetDeclarationNow(d), declaration);
}

HRESULT Device::GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) {
  const HRESULT hr = RefOut(declaration, m_state.declaration);
  D3D9_RETURN("GetVertexDeclaration", hr, declaration ? *declaration : nullptr);
}

HRESULT Device::SetStreamNow(UINT stream, VertexBuffer* buffer, UINT offset, UINT stride) {
  const D3DCAPS9 caps = Caps();
  if (stream >= caps.MaxStreams || stream >= kStreamCount || stride > caps.MaxStreamStride || (offset & 3))
    return D3DERR_INVALIDCALL;
  if (m_recording) {
    m_recording->RecordStream(stream, StreamBinding{buffer, offset, stride});
    return D3D_OK;
  }
  StreamBinding& s = m_state.streams[stream];
  Rebind(s.buffer, buffer);
  s.offset = offset;
  s.stride = stride;
  return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
  VertexBuffer* b = Own<VertexBuffer>(buffer, this);
  D3D9_RETURN("SetStreamSource", buffer && !b ? D3DERR_INVALIDCALL : SetStreamNow(stream, b, offset, stride), stream,
              buffer, offset, stride);
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) {
  HRESULT hr = D3D_OK;
  if (stream >= kStreamCount || !buffer || !offset || !stride) {
    hr = D3DERR_INVALIDCALL;
  } else {
    const StreamBinding& s = m_state.streams[stream];
    *buffer = s.buffer;
    if (s.buffer) s.buffer->AddRef();
    *offset = s.offset;
    *stride = s.stride;
  }
  D3D9_RETURN("GetStreamSource", hr, stream, buffer ? *buffer : nullptr);
}

HRESULT Device::SetIndicesNow(IndexBuffer* indices) {
  if (m_recording)
    m_recording->RecordIndices(indices);
  else
    Rebind(m_state.indices, indices);
  return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* indices) {
  IndexBuffer* b = Own<IndexBuffer>(indices, this);
  D3D9_RETURN("SetIndices", indices && !b ? D3DERR_INVALIDCALL : SetIndicesNow(b), indices);
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer9** indices) {
  const HRESULT hr = RefOut(indices, m_state.indices);
  D3D9_RETURN("GetIndices", hr, indices ? *indices : nullptr);
}

// --- Shaders and constants ----------------------------------------------------------------

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader) {
  // No shader can be made on this device, so only null is a valid one.
  HRESULT hr = shader ? D3DERR_INVALIDCALL : D3D_OK;
  if (SUCCEEDED(hr) && m_recording) m_recording->RecordVertexShader();
  D3D9_RETURN("SetVertexShader", hr, shader);
}

HRESULT Device::GetVertexShader(IDirect3DVertexShader9** shader) {
  HRESULT hr = shader ? D3D_OK : D3DERR_INVALIDCALL;
  if (shader) *shader = nullptr;
  D3D9_RETURN("GetVertexShader", hr);
}

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader) {
  HRESULT hr = shader ? D3DERR_INVALIDCALL : D3D_OK;
  if (SUCCEEDED(hr) && m_recording) m_recording->RecordPixelShader();
  D3D9_RETURN("SetPixelShader", hr, shader);
}

HRESULT Device::GetPixelShader(IDirect3DPixelShader9** shader) {
  HRESULT hr = shader ? D3D_OK : D3DERR_INVALIDCALL;
  if (shader) *shader = nullptr;
  D3D9_RETURN("GetPixelShader", hr);
}

HRESULT Device::SetConstantsNow(ConstantKind kind, UINT start, const DWORD* words, UINT count) {
  RegisterFile& file = m_constants[kind];
  if (!file.InRange(start, count) || (count && !words)) return D3DERR_INVALIDCALL;
  const UINT per = WordsPerRegister(kind);
  for (UINT i = 0; i < count; ++i) {
    std::array<DWORD, 4> value{};
    std::memcpy(value.data(), words + std::size_t(i) * per, per * sizeof(DWORD));
    if (m_recording)
      m_recording->RecordConstant(kind, start + i, value);
    else
      file.Set(start + i, value);
  }
  return D3D_OK;
}

HRESULT Device::GetConstants(ConstantKind kind, UINT start, DWORD* words, UINT count) {
  const RegisterFile& file = m_constants[kind];
  if (!file.InRange(start, count) || (count && !words)) return D3DERR_INVALIDCALL;
  const UINT per = WordsPerRegister(kind);
  for (UINT i = 0; i < count; ++i) std::memcpy(words + std::size_t(i) * per, file.Get(start + i).data(), per * 4);
  return D3D_OK;
}

#define D3D9_CONSTANTS(Name, Kind, T)                                                                   \
  HRESULT Device::Set##Name(UINT start, const T* data, UINT count) {                                   \
    D3D9_RETURN("Set" #Name, SetConstantsNow(ConstantKind::Kind, start, reinterpret_cast<const DWORD*>(data), count), \
                start, count);                                                                          \
  }                                                                                                     \
  HRESULT Device::Get##Name(UINT start, T* data, UINT count) {                                         \
    D3D9_RETURN("Get" #Name, GetConstants(ConstantKind::Kind, start, reinterpret_cast<DWORD*>(data), count), start, \
                count);                                                                                 \
  }
D3D9_CONSTANTS(VertexShaderConstantF, VertexF, float)
D3D9_CONSTANTS(VertexShaderConstantI, VertexI, int)
D3D9_CONSTANTS(VertexShaderConstantB, VertexB, BOOL)
D3D9_CONSTANTS(PixelShaderConstantF, PixelF, float)
D3D9_CONSTANTS(PixelShaderConstantI, PixelI, int)
D3D9_CONSTANTS(PixelShaderConstantB, PixelB, BOOL)
#undef D3D9_CONSTANTS

// --- State-block recording ------------------------------------------------------------------

HRESULT Device::BeginStateBlock() {
  HRESULT hr = D3D_OK;
  if (m_recording) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("BeginStateBlock", &hr)) {
    m_recording = new StateBlock(this, false);
    m_recording->Bind();
  }
  D3D9_RETURN("BeginStateBlock", hr);
}

HRESULT Device::EndStateBlock(IDirect3DStateBlock9** block) {
  HRESULT hr = D3D_OK;
  if (!block || !m_recording) {
    hr = D3DERR_INVALIDCALL;
  } else if (!platform::detail::ShouldFail("EndStateBlock", &hr)) {
    StateBlock* b = m_recording;
    m_recording = nullptr;
    b->AddRefPublic();
    b->Unbind();
    *block = b;
  } else {
    // A failed end discards the recording.
    StateBlock* b = m_recording;
    m_recording = nullptr;
    b->Unbind();
  }
  if (block && FAILED(hr)) *block = nullptr;
  D3D9_RETURN("EndStateBlock", hr, block ? *block : nullptr);
}

}  // namespace platform::d3d9
