#include "d3d9/vertex_decl.h"

#include "d3d9/call_log.h"
#include "d3d9/device.h"
#include "d3d9/out_param.h"

namespace platform::d3d9 {
namespace {

void Add(VertexLayout* layout, WORD offset, D3DDECLTYPE type, D3DDECLUSAGE usage, BYTE index) {
  layout->elements.push_back(D3DVERTEXELEMENT9{0, offset, static_cast<BYTE>(type), D3DDECLMETHOD_DEFAULT,
                                               static_cast<BYTE>(usage), index});
}

void ComputeExtents(VertexLayout* layout) {
  for (UINT& e : layout->streamExtent) e = 0;
  layout->transformed = false;
  for (const D3DVERTEXELEMENT9& e : layout->elements) {
    const UINT end = e.Offset + DeclTypeSize(e.Type);
    if (end > layout->streamExtent[e.Stream]) layout->streamExtent[e.Stream] = end;
    if (e.Usage == D3DDECLUSAGE_POSITIONT) layout->transformed = true;
  }
}

}  // namespace

UINT DeclTypeSize(BYTE type) {
  switch (type) {
    case D3DDECLTYPE_FLOAT1: return 4;
    case D3DDECLTYPE_FLOAT2: return 8;
    case D3DDECLTYPE_FLOAT3: return 12;
    case D3DDECLTYPE_FLOAT4: return 16;
    case D3DDECLTYPE_D3DCOLOR:
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_UBYTE4N:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N:
    case D3DDECLTYPE_FLOAT16_2: return 4;
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT4N:
    case D3DDECLTYPE_USHORT4N:
    case D3DDECLTYPE_FLOAT16_4: return 8;
    default: return 0;
  }
}

bool LayoutFromFvf(DWORD fvf, VertexLayout* layout) {
  layout->elements.clear();
  const DWORD known = D3DFVF_POSITION_MASK | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR |
                      D3DFVF_TEXCOUNT_MASK | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR | 0xFFFF0000u;
  if (fvf & ~known) return false;
  const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  if (texCount > 8) return false;
  WORD offset = 0;
  const DWORD position = fvf & D3DFVF_POSITION_MASK;
  switch (position) {
    case 0: break;
    case D3DFVF_XYZ: Add(layout, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0); offset = 12; break;
    case D3DFVF_XYZRHW: Add(layout, 0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0); offset = 16; break;
    case D3DFVF_XYZW: Add(layout, 0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0); offset = 16; break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5: {
      Add(layout, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
      offset = 12;
      const UINT betas = (position - D3DFVF_XYZRHW) / 2;  // XYZB1 is one step past XYZRHW
      const bool lastIndex = (fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
      const UINT weights = lastIndex ? betas - 1 : betas;
      // A declaration element holds at most four floats: five plain weights
      // have no layout.
      if (weights > 4) return false;
      if (weights > 0) {
        Add(layout, offset, static_cast<D3DDECLTYPE>(D3DDECLTYPE_FLOAT1 + weights - 1), D3DDECLUSAGE_BLENDWEIGHT, 0);
        offset = static_cast<WORD>(offset + 4 * weights);
      }
      if (lastIndex) {
        Add(layout, offset,
            (fvf & D3DFVF_LASTBETA_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR,
            D3DDECLUSAGE_BLENDINDICES, 0);
        offset = static_cast<WORD>(offset + 4);
      }
      break;
    }
    default: return false;
  }
  if (fvf & D3DFVF_NORMAL) {
    Add(layout, offset, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
    offset = static_cast<WORD>(offset + 12);
  }
  if (fvf & D3DFVF_PSIZE) {
    Add(layout, offset, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0);
    offset = static_cast<WORD>(offset + 4);
  }
  if (fvf & D3DFVF_DIFFUSE) {
    Add(layout, offset, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    offset = static_cast<WORD>(offset + 4);
  }
  if (fvf & D3DFVF_SPECULAR) {
    Add(layout, offset, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    offset = static_cast<WORD>(offset + 4);
  }
  for (DWORD i = 0; i < texCount; ++i) {
    static const D3DDECLTYPE kBySize[4] = {D3DDECLTYPE_FLOAT2, D3DDECLTYPE_FLOAT3, D3DDECLTYPE_FLOAT4,
                                           D3DDECLTYPE_FLOAT1};
    const D3DDECLTYPE type = kBySize[(fvf >> (16 + 2 * i)) & 3];
    Add(layout, offset, type, D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i));
    offset = static_cast<WORD>(offset + DeclTypeSize(type));
  }
  ComputeExtents(layout);
  return true;
}

UINT FvfVertexSize(DWORD fvf) {
  VertexLayout layout;
  return LayoutFromFvf(fvf, &layout) ? layout.streamExtent[0] : 0;
}

HRESULT VertexDeclaration::Create(Device* device, const D3DVERTEXELEMENT9* elements, VertexDeclaration** out) {
  VertexLayout layout;
  for (UINT i = 0;; ++i) {
    const D3DVERTEXELEMENT9& e = elements[i];
    if (e.Stream == 0xFF) {
      if (e.Type != D3DDECLTYPE_UNUSED) return D3DERR_INVALIDCALL;
      break;
    }
    if (i + 1 >= MAXD3DDECLLENGTH) return D3DERR_INVALIDCALL;
    if (e.Stream >= kStreamCount || DeclTypeSize(e.Type) == 0 || e.Method > D3DDECLMETHOD_LOOKUPPRESAMPLED ||
        e.Usage > D3DDECLUSAGE_SAMPLE || e.UsageIndex >= 16 || (e.Offset & 3) != 0)
      return D3DERR_INVALIDCALL;
    for (const D3DVERTEXELEMENT9& prior : layout.elements)
      if (prior.Usage == e.Usage && prior.UsageIndex == e.UsageIndex) return D3DERR_INVALIDCALL;
    layout.elements.push_back(e);
  }
  ComputeExtents(&layout);
  *out = new VertexDeclaration(device, std::move(layout));
  return D3D_OK;
}

HRESULT VertexDeclaration::QueryInterface(REFIID iid, void** out) {
  return QueryOut(static_cast<IDirect3DVertexDeclaration9*>(this),
                  iid == IID_IUnknown || iid == IID_IDirect3DVertexDeclaration9, out);
}

HRESULT VertexDeclaration::GetDevice(IDirect3DDevice9** device) { return m_device->HandOut(device); }

HRESULT VertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) {
  HRESULT hr = D3D_OK;
  const UINT n = static_cast<UINT>(m_layout.elements.size()) + 1;
  if (!count) {
    hr = D3DERR_INVALIDCALL;
  } else {
    if (elements) {
      for (UINT i = 0; i + 1 < n; ++i) elements[i] = m_layout.elements[i];
      elements[n - 1] = D3DVERTEXELEMENT9 D3DDECL_END();
    }
    *count = n;
  }
  D3D9_RETURN("VertexDeclaration.GetDeclaration", hr, this, elements, count);
}

std::string VertexDeclaration::Describe() const {
  return std::to_string(m_layout.elements.size()) + " elements, stream 0 extent " +
         std::to_string(m_layout.streamExtent[0]);
}

}  // namespace platform::d3d9
