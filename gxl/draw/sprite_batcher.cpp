// The sprite batcher's lifetime, transforms and queue.
#include <cmath>
#include <cstring>
#include <new>

#include "gxl/draw/interface_ids.h"
#include "gxl/draw/sprite_batcher_object.h"
#include "gxl/math/matrix.h"
#include "gxl/math/vector.h"

namespace gxl {

namespace {

constexpr D3DVERTEXELEMENT9 kSpriteElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

// Exact comparison: a matrix that is off by one rounding error is not the identity.
bool IsIdentity(const Matrix4& m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!(m.m[r][c] == (r == c ? 1.0f : 0.0f))) return false;
  return true;
}

float Length3(float x, float y, float z) { return std::sqrt(x * x + y * y + z * z); }

// The queue never needs more than this; doubling past it would overflow the count.
constexpr std::uint32_t kMaxQueueCapacity = 0x40000000;

template <class T>
std::unique_ptr<T[]> AllocateArray(std::uint32_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

}  // namespace

SpriteBatcherObject::SpriteBatcherObject() = default;
SpriteBatcherObject::~SpriteBatcherObject() = default;

HRESULT SpriteBatcherObject::Init(IDirect3DDevice9* device) {
  if (!device) return D3DERR_INVALIDCALL;
  device->AddRef();
  m_device = ComRef<IDirect3DDevice9>(device);

  HRESULT hr = device->GetDirect3D(m_d3d.Put());
  if (FAILED(hr)) return hr;
  hr = device->CreateVertexDeclaration(kSpriteElements, m_declaration.Put());
  if (FAILED(hr)) return hr;

  // Zeroed, so that a device that cannot answer leaves the plainest choices.
  D3DCAPS9 caps{};
  device->GetDeviceCaps(&caps);
  m_deviceType = caps.DeviceType;
  m_adapterOrdinal = caps.AdapterOrdinal;
  m_magFilter = (caps.TextureFilterCaps & D3DPTFILTERCAPS_MAGFANISOTROPIC) ? D3DTEXF_ANISOTROPIC : D3DTEXF_LINEAR;
  m_minFilter = (caps.TextureFilterCaps & D3DPTFILTERCAPS_MINFANISOTROPIC) ? D3DTEXF_ANISOTROPIC : D3DTEXF_LINEAR;
  m_mipFilter = (caps.TextureFilterCaps & D3DPTFILTERCAPS_MIPFLINEAR) ? D3DTEXF_LINEAR : D3DTEXF_POINT;
  m_maxAnisotropy = caps.MaxAnisotropy;
  m_alphaTest = (caps.AlphaCmpCaps & D3DPCMPCAPS_GREATER) != 0;
  m_targetBlends = true;

  D3DDEVICE_CREATION_PARAMETERS params{};
  device->GetCreationParameters(&params);
  m_bufferPool = (params.BehaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING))
                     ? D3DPOOL_SYSTEMMEM
                     : D3DPOOL_DEFAULT;

  MatrixIdentity(&m_matrices.sprite);
  MatrixIdentity(&m_matrices.worldView);
  MatrixIdentity(&m_matrices.combined);
  m_viewDirection = Vec3(0.0f, 0.0f, -1.0f);
  m_billboardScale = Vec3(1.0f, 1.0f, 1.0f);
  m_identity = true;
  m_billboardCacheValid = true;
  return OnDeviceReset();
}

// --- Shared object operations -------------------------------------------------

HRESULT SpriteBatcherObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return D3DERR_INVALIDCALL;
  if (iid == IidSpriteBatcher || iid == IID_IUnknown) {
    *out = static_cast<SpriteBatcher*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG SpriteBatcherObject::AddRef() { return ++m_refs; }

ULONG SpriteBatcherObject::Release() {
  const ULONG refs = --m_refs;
  if (refs == 0) Destroy();
  return refs;
}

HRESULT SpriteBatcherObject::GetDeviceRef(IDirect3DDevice9** device) {
  if (!device) return D3DERR_INVALIDCALL;
  m_device->AddRef();
  *device = m_device.Get();
  return S_OK;
}

// --- Transforms --------------------------------------------------------------------

HRESULT SpriteBatcherObject::GetSpriteTransform(Matrix4* transform) {
  if (!transform) return D3DERR_INVALIDCALL;
  *transform = m_matrices.sprite;
  return S_OK;
}

HRESULT SpriteBatcherObject::SetSpriteTransform(const Matrix4* transform) {
  if (!transform) return D3DERR_INVALIDCALL;
  // Sprites queued so far keep the transform that was current when they were queued.
  if (m_inBatch) {
    TransformPendingSprites();
    m_transformedCount = m_count;
  }
  m_matrices.sprite = *transform;
  m_identity = IsIdentity(m_matrices.sprite);
  m_billboardCacheValid = false;
  return S_OK;
}

void SpriteBatcherObject::TransformPendingSprites() {
  if (m_identity || (m_flags & SpriteBatchFlags::Billboard) || m_transformedCount >= m_count) return;
  Vec3* first = &m_quads[m_transformedCount].corner[0].position;
  Vec3TransformPointArray(first, sizeof(SpriteVertex), first, sizeof(SpriteVertex), &m_matrices.sprite,
                          (m_count - m_transformedCount) * 4);
}

HRESULT SpriteBatcherObject::SetWorldViewRightHanded(const Matrix4* world, const Matrix4* view) {
  return SetWorldView(world, view, true);
}

HRESULT SpriteBatcherObject::SetWorldViewLeftHanded(const Matrix4* world, const Matrix4* view) {
  return SetWorldView(world, view, false);
}

HRESULT SpriteBatcherObject::SetWorldView(const Matrix4* world, const Matrix4* view, bool rightHanded) {
  if (m_inBatch) return D3DERR_INVALIDCALL;
  Matrix4& wv = m_matrices.worldView;
  if (world && view)
    MatrixMultiply(&wv, world, view);
  else if (world || view)
    wv = world ? *world : *view;
  else
    MatrixIdentity(&wv);
  // The viewer looks down -z in a right-handed view and down +z in a left-handed one.
  const float sign = rightHanded ? -1.0f : 1.0f;
  const Vec3 direction(sign * wv.m[0][2], sign * wv.m[1][2], sign * wv.m[2][2]);
  Vec3Normalize(&m_viewDirection, &direction);
  m_billboardCacheValid = false;
  return S_OK;
}

// --- The queue -----------------------------------------------------------------------

HRESULT SpriteBatcherObject::GrowQueue() {
  if (m_capacity >= kMaxQueueCapacity) return E_OUTOFMEMORY;
  const std::uint32_t capacity = m_capacity == 0 ? 64 : m_capacity * 2;
  // Each array is replaced as soon as its successor exists, so a failure part
  // way leaves arrays that are all at least as large as the capacity says.
  auto sortOrder = AllocateArray<std::uint32_t>(capacity);
  if (!sortOrder) return E_OUTOFMEMORY;
  m_sortOrder = std::move(sortOrder);

  auto textureKeys = AllocateArray<IDirect3DTexture9*>(capacity);
  if (!textureKeys) return E_OUTOFMEMORY;
  if (m_count) std::memcpy(textureKeys.get(), m_textureKeys.get(), m_count * sizeof(IDirect3DTexture9*));
  m_textureKeys = std::move(textureKeys);

  auto depthKeys = AllocateArray<float>(capacity);
  if (!depthKeys) return E_OUTOFMEMORY;
  m_depthKeys = std::move(depthKeys);

  auto quads = AllocateArray<SpriteQuad>(capacity);
  if (!quads) return E_OUTOFMEMORY;
  if (m_count) std::memcpy(quads.get(), m_quads.get(), m_count * sizeof(SpriteQuad));
  m_quads = std::move(quads);

  m_capacity = capacity;
  return S_OK;
}

void SpriteBatcherObject::EmptyQueue() {
  m_count = 0;
  m_transformedCount = 0;
  m_textureChanges = 0;
  m_currentTexture = nullptr;
  m_textureWidth = m_textureHeight = 0;
  m_texelWidth = m_texelHeight = 0.0f;
}

HRESULT SpriteBatcherObject::QueueSprite(IDirect3DTexture9* texture, const RECT* rect, const Vec3* centre,
                                         const Vec3* position, D3DCOLOR color) {
  if (!m_inBatch || !texture) return D3DERR_INVALIDCALL;

  // A new texture's size is read first: a texture that cannot describe itself
  // refuses the sprite before anything changes.
  const bool newTexture = texture != m_currentTexture;
  D3DSURFACE_DESC desc{};
  if (newTexture) {
    const HRESULT hr = texture->GetLevelDesc(0, &desc);
    if (FAILED(hr)) return hr;
  }
  if (m_count == m_capacity) {
    const HRESULT hr = GrowQueue();
    if (FAILED(hr)) return hr;
  }
  if (newTexture) {
    if (m_count != 0) ++m_textureChanges;
    m_currentTexture = texture;
    m_textureWidth = desc.Width;
    m_textureHeight = desc.Height;
    m_texelWidth = 1.0f / static_cast<float>(desc.Width);
    m_texelHeight = 1.0f / static_cast<float>(desc.Height);
  }

  const RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(m_textureWidth), static_cast<LONG>(m_textureHeight)};
  // A reversed rectangle gives a negative size and mirrors the quad.
  float w = static_cast<float>(std::int64_t{r.right} - r.left);
  float h = static_cast<float>(std::int64_t{r.bottom} - r.top);

  m_textureKeys[m_count] = texture;

  const Vec3 origin = position ? *position : Vec3(0.0f, 0.0f, 0.0f);
  Vec3 p;
  if (!(m_flags & SpriteBatchFlags::Billboard)) {
    p = origin;
    if (centre) p -= *centre;
  } else {
    if (!m_billboardCacheValid) {
      m_billboardCacheValid = true;
      Matrix4& c = m_matrices.combined;
      MatrixMultiply(&c, &m_matrices.sprite, &m_matrices.worldView);
      const Matrix4& s = m_matrices.sprite;
      m_billboardScale.x = Length3(c.m[0][0], c.m[0][1], c.m[0][2]);
      m_billboardScale.y = Length3(c.m[1][0], c.m[1][1], c.m[1][2]);
      m_billboardScale.z = Length3(c.m[2][0], c.m[2][1], c.m[2][2]);
      if (s.m[0][0] < 0.0f) m_billboardScale.x = -m_billboardScale.x;
      if (s.m[1][1] < 0.0f) m_billboardScale.y = -m_billboardScale.y;
      if (s.m[2][2] < 0.0f) m_billboardScale.z = -m_billboardScale.z;
    }
    Vec3TransformPoint(&p, &origin, &m_matrices.combined);
    w *= m_billboardScale.x;
    h *= m_billboardScale.y;
    if (centre) {
      p.x -= centre->x * m_billboardScale.x;
      p.y -= centre->y * m_billboardScale.y;
      p.z -= centre->z * m_billboardScale.z;
    }
  }

  // No half-texel offset here: the pixel offset lives in the projection.
  const float uLeft = static_cast<float>(r.left) * m_texelWidth;
  const float vTop = static_cast<float>(r.top) * m_texelHeight;
  const float uRight = static_cast<float>(r.right) * m_texelWidth;
  const float vBottom = static_cast<float>(r.bottom) * m_texelHeight;

  SpriteQuad& q = m_quads[m_count];
  q.corner[0] = {Vec3(p.x, p.y, p.z), color, uLeft, vTop};
  q.corner[1] = {Vec3(p.x, p.y + h, p.z), color, uLeft, vBottom};
  q.corner[2] = {Vec3(p.x + w, p.y, p.z), color, uRight, vTop};
  q.corner[3] = {Vec3(p.x + w, p.y + h, p.z), color, uRight, vBottom};
  ++m_count;
  return S_OK;
}

// --- Device loss -----------------------------------------------------------------------

HRESULT SpriteBatcherObject::OnDeviceLost() {
  m_inBatch = false;
  m_indexBuffer.Reset();
  m_vertexBuffer.Reset();
  m_savedIndexBuffer.Reset();
  m_generalSet.Reset();
  m_generalCapture.Reset();
  m_alphaSet.Reset();
  m_alphaCapture.Reset();
  m_transformSet.Reset();
  m_transformCapture.Reset();
  return S_OK;
}

HRESULT SpriteBatcherObject::OnDeviceReset() {
  m_inBatch = false;
  m_targetBlends = true;
  ComRef<IDirect3DSurface9> target;
  if (FAILED(m_device->GetRenderTarget(0, target.Put())) || !target) return S_OK;
  // Only a target that the device says cannot blend turns blending off; when
  // the question cannot be put, the default stands.
  D3DSURFACE_DESC desc{};
  D3DDISPLAYMODE mode{};
  if (FAILED(target->GetDesc(&desc)) || FAILED(m_device->GetDisplayMode(0, &mode))) return S_OK;
  if (FAILED(m_d3d->CheckDeviceFormat(m_adapterOrdinal, m_deviceType, mode.Format,
                                      D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING | D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE,
                                      desc.Format)))
    m_targetBlends = false;
  return S_OK;
}

}  // namespace gxl
