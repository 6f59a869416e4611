#include "d3d9/state.h"

#include <cstring>

namespace platform::d3d9 {
namespace {

DWORD FloatBits(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

// Render states with their Direct3D 9 defaults (ZENABLE depends on the depth buffer).
struct RenderDefault {
  DWORD state;
  DWORD value;
};
const RenderDefault kRenderDefaults[] = {
    {D3DRS_ZENABLE, D3DZB_FALSE},
    {D3DRS_FILLMODE, D3DFILL_SOLID},
    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRS_ZWRITEENABLE, TRUE},
    {D3DRS_ALPHATESTENABLE, FALSE},
    {D3DRS_LASTPIXEL, TRUE},
    {D3DRS_SRCBLEND, D3DBLEND_ONE},
    {D3DRS_DESTBLEND, D3DBLEND_ZERO},
    {D3DRS_CULLMODE, D3DCULL_CCW},
    {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
    {D3DRS_ALPHAREF, 0},
    {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
    {D3DRS_DITHERENABLE, FALSE},
    {D3DRS_ALPHABLENDENABLE, FALSE},
    {D3DRS_FOGENABLE, FALSE},
    {D3DRS_SPECULARENABLE, FALSE},
    {D3DRS_FOGCOLOR, 0},
    {D3DRS_FOGTABLEMODE, D3DFOG_NONE},
    {D3DRS_FOGSTART, FloatBits(0.0f)},
    {D3DRS_FOGEND, FloatBits(1.0f)},
    {D3DRS_FOGDENSITY, FloatBits(1.0f)},
    {D3DRS_RANGEFOGENABLE, FALSE},
    {D3DRS_STENCILENABLE, FALSE},
    {D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILZFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILPASS, D3DSTENCILOP_KEEP},
    {D3DRS_STENCILFUNC, D3DCMP_ALWAYS},
    {D3DRS_STENCILREF, 0},
    {D3DRS_STENCILMASK, 0xFFFFFFFF},
    {D3DRS_STENCILWRITEMASK, 0xFFFFFFFF},
    {D3DRS_TEXTUREFACTOR, 0xFFFFFFFF},
    {D3DRS_WRAP0, 0}, {D3DRS_WRAP1, 0}, {D3DRS_WRAP2, 0}, {D3DRS_WRAP3, 0},
    {D3DRS_WRAP4, 0}, {D3DRS_WRAP5, 0}, {D3DRS_WRAP6, 0}, {D3DRS_WRAP7, 0},
    {D3DRS_CLIPPING, TRUE},
    {D3DRS_LIGHTING, TRUE},
    {D3DRS_AMBIENT, 0},
    {D3DRS_FOGVERTEXMODE, D3DFOG_NONE},
    {D3DRS_COLORVERTEX, TRUE},
    {D3DRS_LOCALVIEWER, TRUE},
    {D3DRS_NORMALIZENORMALS, FALSE},
    {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
    {D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_MATERIAL},
    {D3DRS_VERTEXBLEND, D3DVBF_DISABLE},
    {D3DRS_CLIPPLANEENABLE, 0},
    {D3DRS_POINTSIZE, FloatBits(1.0f)},
    {D3DRS_POINTSIZE_MIN, FloatBits(1.0f)},
    {D3DRS_POINTSPRITEENABLE, FALSE},
    {D3DRS_POINTSCALEENABLE, FALSE},
    {D3DRS_POINTSCALE_A, FloatBits(1.0f)},
    {D3DRS_POINTSCALE_B, FloatBits(0.0f)},
    {D3DRS_POINTSCALE_C, FloatBits(0.0f)},
    {D3DRS_MULTISAMPLEANTIALIAS, TRUE},
    {D3DRS_MULTISAMPLEMASK, 0xFFFFFFFF},
    {D3DRS_PATCHEDGESTYLE, D3DPATCHEDGE_DISCRETE},
    {D3DRS_DEBUGMONITORTOKEN, D3DDMT_ENABLE},
    {D3DRS_POINTSIZE_MAX, FloatBits(64.0f)},
    {D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE},
    {D3DRS_COLORWRITEENABLE, 0xF},
    {D3DRS_TWEENFACTOR, FloatBits(0.0f)},
    {D3DRS_BLENDOP, D3DBLENDOP_ADD},
    {D3DRS_POSITIONDEGREE, D3DDEGREE_CUBIC},
    {D3DRS_NORMALDEGREE, D3DDEGREE_LINEAR},
    {D3DRS_SCISSORTESTENABLE, FALSE},
    {D3DRS_SLOPESCALEDEPTHBIAS, 0},
    {D3DRS_ANTIALIASEDLINEENABLE, FALSE},
    {D3DRS_MINTESSELLATIONLEVEL, FloatBits(1.0f)},
    {D3DRS_MAXTESSELLATIONLEVEL, FloatBits(1.0f)},
    {D3DRS_ADAPTIVETESS_X, FloatBits(0.0f)},
    {D3DRS_ADAPTIVETESS_Y, FloatBits(0.0f)},
    {D3DRS_ADAPTIVETESS_Z, FloatBits(1.0f)},
    {D3DRS_ADAPTIVETESS_W, FloatBits(0.0f)},
    {D3DRS_ENABLEADAPTIVETESSELLATION, FALSE},
    {D3DRS_TWOSIDEDSTENCILMODE, FALSE},
    {D3DRS_CCW_STENCILFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILZFAIL, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILPASS, D3DSTENCILOP_KEEP},
    {D3DRS_CCW_STENCILFUNC, D3DCMP_ALWAYS},
    {D3DRS_COLORWRITEENABLE1, 0xF},
    {D3DRS_COLORWRITEENABLE2, 0xF},
    {D3DRS_COLORWRITEENABLE3, 0xF},
    {D3DRS_BLENDFACTOR, 0xFFFFFFFF},
    {D3DRS_SRGBWRITEENABLE, 0},
    {D3DRS_DEPTHBIAS, 0},
    {D3DRS_WRAP8, 0}, {D3DRS_WRAP9, 0}, {D3DRS_WRAP10, 0}, {D3DRS_WRAP11, 0},
    {D3DRS_WRAP12, 0}, {D3DRS_WRAP13, 0}, {D3DRS_WRAP14, 0}, {D3DRS_WRAP15, 0},
    {D3DRS_SEPARATEALPHABLENDENABLE, FALSE},
    {D3DRS_SRCBLENDALPHA, D3DBLEND_ONE},
    {D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO},
    {D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD},
};

struct ValidTable {
  bool renderState[kRenderStateCount] = {};
  ValidTable() {
    for (const RenderDefault& d : kRenderDefaults) renderState[d.state] = true;
  }
};
const ValidTable& Valid() {
  static const ValidTable table;
  return table;
}

}  // namespace

bool IsRenderState(DWORD state) { return state < kRenderStateCount && Valid().renderState[state]; }

bool IsStageState(DWORD type) {
  return (type >= D3DTSS_COLOROP && type <= D3DTSS_TEXCOORDINDEX) ||
         (type >= D3DTSS_BUMPENVLSCALE && type <= D3DTSS_TEXTURETRANSFORMFLAGS) ||
         (type >= D3DTSS_COLORARG0 && type <= D3DTSS_RESULTARG) || type == D3DTSS_CONSTANT;
}

bool IsSamplerState(DWORD type) { return type >= D3DSAMP_ADDRESSU && type <= D3DSAMP_DMAPOFFSET; }

int SamplerSlot(DWORD sampler) {
  if (sampler < 16) return static_cast<int>(sampler);
  if (sampler >= D3DDMAPSAMPLER && sampler <= D3DVERTEXTEXTURESAMPLER3) return static_cast<int>(sampler - 240);
  return -1;
}

DWORD SamplerNumber(UINT slot) { return slot < 16 ? slot : slot + 240; }

int TransformSlot(DWORD state) {
  if (state == D3DTS_VIEW) return 0;
  if (state == D3DTS_PROJECTION) return 1;
  if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) return static_cast<int>(state - D3DTS_TEXTURE0 + 2);
  if (state >= 256 && state < 512) return static_cast<int>(state - 256 + kWorldSlot);
  return -1;
}

DWORD TransformNumber(UINT slot) {
  if (slot == 0) return D3DTS_VIEW;
  if (slot == 1) return D3DTS_PROJECTION;
  if (slot < kWorldSlot) return D3DTS_TEXTURE0 + slot - 2;
  return 256 + slot - kWorldSlot;
}

const D3DMATRIX& IdentityMatrix() {
  static const D3DMATRIX identity = [] {
    D3DMATRIX m;
    std::memset(&m, 0, sizeof m);
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
  }();
  return identity;
}

void SetDefaultState(DeviceState& s, bool depthBuffer, const D3DVIEWPORT9& viewport) {
  std::memset(s.renderStates, 0, sizeof s.renderStates);
  for (const RenderDefault& d : kRenderDefaults) s.renderStates[d.state] = d.value;
  s.renderStates[D3DRS_ZENABLE] = depthBuffer ? D3DZB_TRUE : D3DZB_FALSE;

  for (UINT stage = 0; stage < kStageCount; ++stage) {
    DWORD* t = s.stageStates[stage];
    std::memset(t, 0, sizeof s.stageStates[stage]);
    t[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    t[D3DTSS_TEXCOORDINDEX] = stage;
    t[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
    t[D3DTSS_COLORARG0] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
    t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
  }

  for (UINT slot = 0; slot < kSamplerSlotCount; ++slot) {
    DWORD* t = s.samplerStates[slot];
    std::memset(t, 0, sizeof s.samplerStates[slot]);
    t[D3DSAMP_ADDRESSU] = t[D3DSAMP_ADDRESSV] = t[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
    t[D3DSAMP_MAGFILTER] = t[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    t[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    t[D3DSAMP_MAXANISOTROPY] = 1;
  }

  for (auto& t : s.textures) t = nullptr;
  for (auto& m : s.transforms) m = IdentityMatrix();
  s.viewport = viewport;
  s.fvf = 0;
  s.declaration = nullptr;
  for (auto& stream : s.streams) stream = StreamBinding{};
  s.indices = nullptr;
  s.nPatchMode = 0.0f;
}

const std::array<DWORD, 4>& RegisterFile::Get(UINT reg) const {
  static const std::array<DWORD, 4> zero{};
  return reg < m_regs.size() ? m_regs[reg] : zero;
}

void RegisterFile::Set(UINT reg, const std::array<DWORD, 4>& value) {
  if (reg >= m_regs.size()) {
    if (value == std::array<DWORD, 4>{}) return;  // unset registers read zero anyway
    m_regs.resize(reg + 1);
  }
  m_regs[reg] = value;
}

}  // namespace platform::d3d9
