// Vertex layouts: a declaration's elements, or the elements an FVF code stands
// for, in one form the draw validation and the rasteriser read.
#pragma once

#include <vector>

#include "d3d9/object.h"
#include "d3d9/state.h"
#include "platform/d3d9_api.h"

namespace platform::d3d9 {

struct VertexLayout {
  std::vector<D3DVERTEXELEMENT9> elements;  // without the end marker
  // Per stream: bytes a vertex needs (highest element end), 0 when unused.
  UINT streamExtent[kStreamCount] = {};
  // Whether the position is pre-transformed (XYZRHW / POSITIONT).
  bool transformed = false;
};

// Bytes of a declaration type; 0 for UNUSED or an unknown type.
UINT DeclTypeSize(BYTE type);
// The layout of an FVF code; false for codes that describe no valid vertex.
bool LayoutFromFvf(DWORD fvf, VertexLayout* layout);
// Bytes of one FVF vertex (0 when the code is invalid).
UINT FvfVertexSize(DWORD fvf);

class VertexDeclaration final : public IDirect3DVertexDeclaration9, public DeviceChild {
 public:
  // D3DERR_INVALIDCALL for malformed element lists.
  static HRESULT Create(Device* device, const D3DVERTEXELEMENT9* elements, VertexDeclaration** out);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override { return AddRefPublic(); }
  ULONG Release() override { return ReleasePublic(); }
  HRESULT GetDevice(IDirect3DDevice9** device) override;
  HRESULT GetDeclaration(D3DVERTEXELEMENT9* elements, UINT* count) override;

  const VertexLayout& Layout() const { return m_layout; }
  std::string Describe() const override;

 private:
  VertexDeclaration(Device* device, VertexLayout layout)
      : DeviceChild(device, "VertexDeclaration", true), m_layout(std::move(layout)) {}
  VertexLayout m_layout;
};

}  // namespace platform::d3d9
