#include "gxl/shader/core/profiles.h"

#include <cstring>

#include "platform/d3d9_api.h"

const ShaderProfileRow ShaderProfileTable[kShaderProfileCount] = {
    {"ps", 0xFFFF0000, 0},        {"ps.1.0", 0xFFFF0100, 3},   {"ps.1.1", 0xFFFF0101, 3},
    {"ps.1.2", 0xFFFF0102, 3},    {"ps.1.3", 0xFFFF0103, 3},   {"ps.1.4", 0xFFFF0104, 3},
    {"ps.2.0", 0xFFFF0200, 3},    {"ps.2.a", 0xFFFF0202, 2},   {"ps.2.b", 0xFFFF0203, 2},
    {"ps.2.sw", 0xFFFF02FF, 3},   {"ps.2.x", 0xFFFF0201, 1},   {"ps.3.0", 0xFFFF0300, 1},
    {"ps.3.sw", 0xFFFF03FF, 1},   {"ps_1_0", 0xFFFF0100, 3},   {"ps_1_1", 0xFFFF0101, 3},
    {"ps_1_2", 0xFFFF0102, 3},    {"ps_1_3", 0xFFFF0103, 3},   {"ps_1_4", 0xFFFF0104, 3},
    {"ps_2_0", 0xFFFF0200, 3},    {"ps_2_a", 0xFFFF0202, 2},   {"ps_2_b", 0xFFFF0203, 2},
    {"ps_2_sw", 0xFFFF02FF, 3},   {"ps_2_x", 0xFFFF0201, 1},   {"ps_3_0", 0xFFFF0300, 3},
    {"ps_3_sw", 0xFFFF03FF, 3},   {"tx", 0x54580000, 0},       {"tx_1_0", 0x54580100, 6},
    {"vs", 0xFFFE0000, 0},        {"vs.1.0", 0xFFFE0100, 3},   {"vs.1.1", 0xFFFE0101, 3},
    {"vs.2.0", 0xFFFE0200, 3},    {"vs.2.a", 0xFFFE0202, 2},   {"vs.2.sw", 0xFFFE02FF, 3},
    {"vs.2.x", 0xFFFE0201, 3},    {"vs.3.0", 0xFFFE0300, 3},   {"vs.3.sw", 0xFFFE03FF, 3},
    {"vs_1_0", 0xFFFE0100, 3},    {"vs_1_1", 0xFFFE0101, 3},   {"vs_2_0", 0xFFFE0200, 3},
    {"vs_2_a", 0xFFFE0202, 2},    {"vs_2_sw", 0xFFFE02FF, 3},  {"vs_2_x", 0xFFFE0201, 1},
    {"vs_3_0", 0xFFFE0300, 3},    {"vs_3_sw", 0xFFFE03FF, 3},
};

HRESULT ProfileNameToToken(const char* name, DWORD requiredFlags, ShaderProfileRow* row) {
  if (!name) return D3DERR_INVALIDCALL;
  std::size_t low = 0, high = kShaderProfileCount;
  while (low < high) {
    const std::size_t middle = (low + high) / 2;
    const int order = std::strcmp(ShaderProfileTable[middle].name, name);
    if (order < 0) {
      low = middle + 1;
    } else if (order > 0) {
      high = middle;
    } else {
      const ShaderProfileRow& found = ShaderProfileTable[middle];
      if ((found.flags & requiredFlags) != requiredFlags) return E_FAIL;
      if (row) *row = found;
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT ProfileTokenToName(DWORD version, DWORD requiredFlags, ShaderProfileRow* row) {
  for (std::size_t i = kShaderProfileCount; i-- > 0;) {
    const ShaderProfileRow& candidate = ShaderProfileTable[i];
    if (candidate.version == version && (candidate.flags & requiredFlags) == requiredFlags) {
      if (row) *row = candidate;
      return S_OK;
    }
  }
  return E_FAIL;
}

namespace {

bool ReadCaps(IDirect3DDevice9* device, D3DCAPS9* caps) {
  return device && SUCCEEDED(device->GetDeviceCaps(caps));
}

}  // namespace

const char* GetBestPixelShaderProfile(IDirect3DDevice9* device) {
  D3DCAPS9 caps{};
  if (!ReadCaps(device, &caps)) return nullptr;
  const DWORD version = caps.PixelShaderVersion & 0xFFFF;
  if (version < 0x200) {
    switch (version) {
      case 0x101: return "ps_1_1";
      case 0x102: return "ps_1_2";
      case 0x103: return "ps_1_3";
      case 0x104: return "ps_1_4";
      default: return nullptr;
    }
  }
  if (version >= 0x300) return "ps_3_0";
  // Arbitrary swizzles, gradients, predication, no dependent-read and no
  // texture-instruction limits.
  constexpr DWORD kPs2aCaps = 0x1 | 0x2 | 0x4 | 0x8 | 0x10;
  const DWORD c = caps.PS20Caps.Caps;
  const INT temps = caps.PS20Caps.NumTemps;
  if (temps >= 22 && (c & kPs2aCaps) == kPs2aCaps) return "ps_2_a";
  if (temps >= 32 && (c & 0x10)) return "ps_2_b";
  return "ps_2_0";
}

const char* GetBestVertexShaderProfile(IDirect3DDevice9* device) {
  D3DCAPS9 caps{};
  if (!ReadCaps(device, &caps)) return nullptr;
  const DWORD version = caps.VertexShaderVersion & 0xFFFF;
  if (version < 0x200) return version == 0x101 ? "vs_1_1" : nullptr;
  if (version >= 0x300) return "vs_3_0";
  constexpr DWORD kPredication = 0x1;
  if (caps.VS20Caps.NumTemps >= 13 && (caps.VS20Caps.Caps & kPredication) &&
      caps.VS20Caps.DynamicFlowControlDepth == 24)
    return "vs_2_a";
  return "vs_2_0";
}
