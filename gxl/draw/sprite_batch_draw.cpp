// The sprite batcher's drawing: buffers, recorded state lists, the order of a
// flush and its draw calls.
#include <cfloat>
#include <cstring>

#include "gxl/draw/sprite_batcher_object.h"
#include "gxl/draw/sprite_sort.h"
#include "gxl/math/matrix.h"
#include "gxl/math/services.h"
#include "gxl/math/vector.h"

namespace gxl {

namespace {

struct RenderStateValue {
  D3DRENDERSTATETYPE state;
  DWORD value;
};

// The general render states, in recording order; the N-patch mode is set
// between the first seven and the rest.
// clang-format off
constexpr RenderStateValue kGeneralStatesBeforeNPatch[] = {
    {D3DRS_FILLMODE, D3DFILL_SOLID},
    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRS_CULLMODE, D3DCULL_NONE},
    {D3DRS_WRAP0, 0},
    {D3DRS_CLIPPING, TRUE},
    {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
    {D3DRS_CLIPPLANEENABLE, 0},
};
constexpr RenderStateValue kGeneralStatesAfterNPatch[] = {
    {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
    {D3DRS_ENABLEADAPTIVETESSELLATION, FALSE},
    {D3DRS_SRGBWRITEENABLE, FALSE},
    {D3DRS_COLORWRITEENABLE, 0xF},
    {D3DRS_FOGENABLE, FALSE},
    {D3DRS_RANGEFOGENABLE, FALSE},
    {D3DRS_SPECULARENABLE, FALSE},
    {D3DRS_STENCILENABLE, FALSE},
    {D3DRS_LIGHTING, FALSE},
    {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
};

struct StageStateValue {
  DWORD stage;
  D3DTEXTURESTAGESTATETYPE type;
  DWORD value;
};

// Stage 0 = texture times diffuse in colour and alpha; stage 1 off.
constexpr StageStateValue kStageStates[] = {
    {0, D3DTSS_COLOROP, D3DTOP_MODULATE},     {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
    {0, D3DTSS_COLORARG2, D3DTA_DIFFUSE},     {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
    {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},     {0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
    {0, D3DTSS_TEXCOORDINDEX, 0},             {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
    {1, D3DTSS_COLOROP, D3DTOP_DISABLE},      {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
};
// clang-format on

// The texture a draw run binds before any: never a real texture's address.
constexpr std::uintptr_t kNoTexture = ~std::uintptr_t{0};

std::uintptr_t Key(IDirect3DTexture9* texture) { return reinterpret_cast<std::uintptr_t>(texture); }

const D3DMATRIX* AsD3D(const Matrix4* m) { return reinterpret_cast<const D3DMATRIX*>(m); }

}  // namespace

HRESULT SpriteBatcherObject::CreateBuffers() {
  if (!m_indexBuffer) {
    ComRef<IDirect3DIndexBuffer9> indices;
    HRESULT hr = m_device->CreateIndexBuffer(kIndexBufferBytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, m_bufferPool,
                                             indices.Put(), nullptr);
    if (FAILED(hr)) return hr;
    void* data = nullptr;
    hr = indices->Lock(0, 0, &data, 0);
    // A buffer that cannot be filled would draw garbage: drop it, and the next
    // BeginBatch tries again.
    if (FAILED(hr)) return hr;
    if (!data) {
      indices->Unlock();
      return E_FAIL;
    }
    auto* index = static_cast<std::uint16_t*>(data);
    for (std::uint32_t v = 0; v < kRingVertices; v += 4) {
      *index++ = static_cast<std::uint16_t>(v);
      *index++ = static_cast<std::uint16_t>(v + 1);
      *index++ = static_cast<std::uint16_t>(v + 2);
      *index++ = static_cast<std::uint16_t>(v + 2);
      *index++ = static_cast<std::uint16_t>(v + 1);
      *index++ = static_cast<std::uint16_t>(v + 3);
    }
    indices->Unlock();
    m_indexBuffer = std::move(indices);
  }
  if (!m_vertexBuffer) {
    const HRESULT hr = m_device->CreateVertexBuffer(kVertexBufferBytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                                    m_bufferPool, m_vertexBuffer.Put(), nullptr);
    if (FAILED(hr)) return hr;
    m_vertexWritePos = 0;
    m_indexWritePos = 0;
  }
  return S_OK;
}

// Each pair's capture block is recorded first, then its set block; the values
// are those of the moment, so the alpha list follows the target-blends flag.
void SpriteBatcherObject::RecordStateBlocks() {
  IDirect3DDevice9* d = m_device.Get();
  if (!m_generalCapture) {
    for (const bool capture : {true, false}) {
      d->BeginStateBlock();
      d->SetVertexDeclaration(m_declaration.Get());
      d->SetVertexShader(nullptr);
      d->SetPixelShader(nullptr);
      for (const RenderStateValue& s : kGeneralStatesBeforeNPatch) d->SetRenderState(s.state, s.value);
      d->SetNPatchMode(0.0f);
      for (const RenderStateValue& s : kGeneralStatesAfterNPatch) d->SetRenderState(s.state, s.value);
      for (const StageStateValue& s : kStageStates) d->SetTextureStageState(s.stage, s.type, s.value);
      d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
      d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
      d->SetSamplerState(0, D3DSAMP_MAGFILTER, m_magFilter);
      d->SetSamplerState(0, D3DSAMP_MINFILTER, m_minFilter);
      d->SetSamplerState(0, D3DSAMP_MIPFILTER, m_mipFilter);
      d->SetSamplerState(0, D3DSAMP_MIPMAPLODBIAS, 0);
      d->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, 0);
      d->SetSamplerState(0, D3DSAMP_MAXANISOTROPY, m_maxAnisotropy);
      d->SetSamplerState(0, D3DSAMP_SRGBTEXTURE, 0);
      if (capture) {
        // What a flush binds, so that End gives the application its own back.
        d->SetVertexDeclaration(m_declaration.Get());
        d->SetStreamSource(0, nullptr, 0, 0);
        d->SetTexture(0, nullptr);
      }
      d->EndStateBlock(capture ? m_generalCapture.Put() : m_generalSet.Put());
    }
  }
  if (!m_alphaCapture) {
    for (const bool capture : {true, false}) {
      d->BeginStateBlock();
      d->SetRenderState(D3DRS_ALPHATESTENABLE, m_alphaTest ? TRUE : FALSE);
      // A target that cannot blend gets a hard alpha test instead.
      d->SetRenderState(D3DRS_ALPHAREF, m_targetBlends ? 0 : 0x3F);
      d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
      d->SetRenderState(D3DRS_ALPHABLENDENABLE, m_targetBlends ? TRUE : FALSE);
      d->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
      d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
      d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
      d->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
      d->EndStateBlock(capture ? m_alphaCapture.Put() : m_alphaSet.Put());
    }
  }
  if (!m_transformCapture) {
    Matrix4 identity;
    MatrixIdentity(&identity);
    for (const bool capture : {true, false}) {
      d->BeginStateBlock();
      d->SetTransform(D3DTS_WORLD, AsD3D(&identity));
      d->SetTransform(D3DTS_VIEW, AsD3D(&identity));
      // The set block leaves the projection out: Begin sets it from the viewport.
      if (capture) d->SetTransform(D3DTS_PROJECTION, AsD3D(&identity));
      d->EndStateBlock(capture ? m_transformCapture.Put() : m_transformSet.Put());
    }
  }
}

// Target pixels with y downward, shifted by half a pixel so that a sprite at
// an integer position samples texel centres.
void SpriteBatcherObject::SetPixelProjection() {
  D3DVIEWPORT9 vp{};
  m_device->GetViewport(&vp);
  const float x = static_cast<float>(vp.X), y = static_cast<float>(vp.Y);
  const float w = static_cast<float>(vp.Width), h = static_cast<float>(vp.Height);
  Matrix4 p;
  std::memset(&p, 0, sizeof p);
  p.m[0][0] = 2.0f / w;
  p.m[1][1] = -2.0f / h;
  p.m[2][2] = 1.0f;
  p.m[3][0] = -(2.0f * x + 1.0f) / w - 1.0f;
  p.m[3][1] = (2.0f * y + 1.0f) / h + 1.0f;
  p.m[3][3] = 1.0f;
  m_device->SetTransform(D3DTS_PROJECTION, AsD3D(&p));
}

HRESULT SpriteBatcherObject::BeginBatch(DWORD flags) {
  if (m_inBatch || (flags & ~DWORD{0xFF})) return D3DERR_INVALIDCALL;
  m_flags = flags;
  if (m_flags & SpriteBatchFlags::Billboard) m_flags |= SpriteBatchFlags::ObjectSpace;

  const HRESULT hr = CreateBuffers();
  if (FAILED(hr)) return hr;

  SetDebugMute(1);
  RecordStateBlocks();
  const bool save = !(m_flags & SpriteBatchFlags::NoStateSave);
  // A block whose recording failed is missing; it is recorded again next time.
  if (!(m_flags & SpriteBatchFlags::KeepRenderState)) {
    if (save) {
      if (m_generalCapture) m_generalCapture->Capture();
      m_device->GetIndices(m_savedIndexBuffer.Put());
    }
    if (m_generalSet) m_generalSet->Apply();
  }
  if (m_flags & SpriteBatchFlags::AlphaBlend) {
    if (save && m_alphaCapture) m_alphaCapture->Capture();
    if (m_alphaSet) m_alphaSet->Apply();
  }
  if (!(m_flags & SpriteBatchFlags::ObjectSpace)) {
    if (save && m_transformCapture) m_transformCapture->Capture();
    if (m_transformSet) m_transformSet->Apply();
    SetPixelProjection();
  } else if (m_flags & SpriteBatchFlags::Billboard) {
    // Billboards keep the application's projection.
    if (save && m_transformCapture) m_transformCapture->Capture();
    if (m_transformSet) m_transformSet->Apply();
  }
  SetDebugMute(0);

  EmptyQueue();
  m_inBatch = true;
  return S_OK;
}

bool SpriteBatcherObject::ComputeDepthKeys() {
  const bool viewSpace = (m_flags & SpriteBatchFlags::ObjectSpace) && !(m_flags & SpriteBatchFlags::Billboard);
  float smallest = FLT_MAX, largest = -FLT_MAX;
  for (std::uint32_t i = 0; i < m_count; ++i) {
    const SpriteVertex* c = m_quads[i].corner;
    float key;
    if (viewSpace) {
      const Vec3 sum = c[0].position + c[1].position + c[2].position + c[3].position;
      key = sum.x * m_viewDirection.x + sum.y * m_viewDirection.y + sum.z * m_viewDirection.z;
    } else {
      key = -(c[0].position.z + c[1].position.z + c[2].position.z + c[3].position.z);
    }
    m_depthKeys[i] = key;
    // A NaN key changes neither bound.
    if (key < smallest) smallest = key;
    if (key > largest) largest = key;
  }
  return smallest != largest;
}

HRESULT SpriteBatcherObject::FlushBatch() {
  if (!m_inBatch) return D3DERR_INVALIDCALL;

  TransformPendingSprites();
  m_transformedCount = m_count;

  // The order: by texture when asked and the texture changed at all, else by
  // depth when asked and the keys differ, else the queue order.
  bool sorted = false;
  const SpriteSortKeys keys{m_textureKeys.get(), m_depthKeys.get()};
  SpriteIndexComparator comparator = nullptr;
  if (m_flags & SpriteBatchFlags::SortByTexture) {
    if (m_textureChanges != 0) comparator = CompareSpritesByTexture;
  } else if (m_flags & (SpriteBatchFlags::SortDepthAscending | SpriteBatchFlags::SortDepthDescending)) {
    if (ComputeDepthKeys())
      comparator = (m_flags & SpriteBatchFlags::SortDepthAscending) ? CompareSpritesByDepthAscending
                                                                    : CompareSpritesByDepthDescending;
  }
  if (comparator) {
    for (std::uint32_t i = 0; i < m_count; ++i) m_sortOrder[i] = i;
    HeapSortIndices(comparator, m_sortOrder.get(), m_count, &keys);
    sorted = true;
  }

  IDirect3DDevice9* d = m_device.Get();
  d->SetVertexDeclaration(m_declaration.Get());
  d->SetIndices(m_indexBuffer.Get());
  d->SetStreamSource(0, m_vertexBuffer.Get(), 0, sizeof(SpriteVertex));

  // One draw per run of consecutive sprites of one texture, split where the
  // ring fills up.
  HRESULT result = S_OK;
  std::uintptr_t lastTexture = kNoTexture;
  std::uint32_t i = 0;
  while (i < m_count) {
    std::uint32_t sprite = sorted ? m_sortOrder[i] : i;
    if (Key(m_textureKeys[sprite]) != lastTexture) {
      lastTexture = Key(m_textureKeys[sprite]);
      d->SetTexture(0, m_textureKeys[sprite]);
    }
    void* data = nullptr;
    const HRESULT hr = m_vertexBuffer->Lock(0, 0, &data, m_vertexWritePos != 0 ? D3DLOCK_NOOVERWRITE : D3DLOCK_DISCARD);
    // Nothing can be written without the buffer: the rest of the queue is dropped.
    if (FAILED(hr) || !data) {
      result = FAILED(hr) ? hr : E_FAIL;
      break;
    }
    const std::uint32_t firstIndex = m_indexWritePos;
    const std::uint32_t firstVertex = m_vertexWritePos;
    auto* out = static_cast<std::uint8_t*>(data);
    while (i < m_count && Key(m_textureKeys[sprite]) == lastTexture && m_vertexWritePos < kRingVertices) {
      std::memcpy(out + std::size_t{m_vertexWritePos} * sizeof(SpriteVertex), &m_quads[sprite], sizeof(SpriteQuad));
      m_vertexWritePos += 4;
      m_indexWritePos += 6;
      if (++i < m_count) sprite = sorted ? m_sortOrder[i] : i;
    }
    m_vertexBuffer->Unlock();
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, firstVertex, m_vertexWritePos - firstVertex, firstIndex,
                            (m_indexWritePos - firstIndex) / 3);
    // A full ring starts over with a discarding lock.
    if (m_vertexWritePos >= kRingVertices) {
      m_vertexWritePos = 0;
      m_indexWritePos = 0;
    }
  }

  EmptyQueue();
  return result;
}

HRESULT SpriteBatcherObject::EndBatch() {
  if (!m_inBatch) return D3DERR_INVALIDCALL;
  const HRESULT result = m_count != 0 ? FlushBatch() : S_OK;

  SetDebugMute(1);
  const bool save = !(m_flags & SpriteBatchFlags::NoStateSave);
  if (save && !(m_flags & SpriteBatchFlags::KeepRenderState)) {
    if (m_generalCapture) m_generalCapture->Apply();
    // The saved reference stays until the next saving Begin, a device loss or destruction.
    m_device->SetIndices(m_savedIndexBuffer.Get());
  }
  if (save && (m_flags & SpriteBatchFlags::AlphaBlend) && m_alphaCapture) m_alphaCapture->Apply();
  if (save && (!(m_flags & SpriteBatchFlags::ObjectSpace) || (m_flags & SpriteBatchFlags::Billboard)) &&
      m_transformCapture)
    m_transformCapture->Apply();
  SetDebugMute(0);

  m_inBatch = false;
  return result;
}

}  // namespace gxl
