// Reduction of the device state to a draw's pipeline: which passes run, with
// which kernels, over which texture levels; and the diagnostics of states that
// are stored but have no effect here.
#include <algorithm>
#include <cstring>

#include "d3d9/raster/pipeline.h"
#include "d3d9/raster/texture_cache.h"
#include "d3d9/surface.h"
#include "d3d9/texture.h"
#include "d3d9/vertex_decl.h"
#include "testing/failure.h"

namespace platform::d3d9::raster {
namespace {

float FloatOf(DWORD bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

void Diagnose(const char* name) { platform::detail::CountDiagnostic(name); }

bool KnownOp(DWORD op) {
  return (op >= D3DTOP_DISABLE && op <= D3DTOP_ADDSIGNED) || op == D3DTOP_SUBTRACT ||
         (op >= D3DTOP_BLENDDIFFUSEALPHA && op <= D3DTOP_BLENDFACTORALPHA) || op == D3DTOP_BLENDCURRENTALPHA;
}

std::uint8_t AddressMode(DWORD v) {
  return v >= kWrap && v <= kMirrorOnce ? static_cast<std::uint8_t>(v) : static_cast<std::uint8_t>(kWrap);
}
bool Linear(DWORD filter) { return filter >= D3DTEXF_LINEAR; }

// The source of one channel group in the reduced combiner.
enum Source { kNone, kTex, kDiff, kMod };

// What a stage-0 operation yields when it can be reduced; kNone otherwise.
Source Reduced(DWORD op, DWORD arg1, DWORD arg2, bool sampled) {
  if (op != D3DTOP_DISABLE && !sampled && ReadsTexture(op, arg1, arg2)) return kDiff;  // passes CURRENT through
  auto source = [&](DWORD arg) -> Source {
    if (arg & ~D3DTA_SELECTMASK) return kNone;  // modifiers
    if (arg == D3DTA_TEXTURE) return sampled ? kTex : kDiff;
    if (arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT) return kDiff;
    return kNone;
  };
  switch (op) {
    case D3DTOP_SELECTARG1: return source(arg1);
    case D3DTOP_SELECTARG2: return source(arg2);
    case D3DTOP_MODULATE: {
      const Source a = source(arg1), b = source(arg2);
      return (a == kTex && b == kDiff) || (a == kDiff && b == kTex) ? kMod : kNone;
    }
    default: return kNone;
  }
}

void StageTexture(const DeviceState& st, int stage, StageConfig* sc) {
  BaseTexture* t = st.textures[stage];
  sc->levels = 0;
  if (t->Type() != D3DRTYPE_TEXTURE) {
    Diagnose("d3d9.unsupported-texture-type");
    sc->level[0] = MagentaLevel();
    sc->levels = 1;
    return;
  }
  const UINT levels = t->Levels() < UINT(kMaxLevels) ? t->Levels() : UINT(kMaxLevels);
  for (UINT l = 0; l < levels; ++l) ResolveLevel(*t->SurfaceAt(0, l), &sc->level[l]);
  sc->levels = static_cast<int>(levels);
}

void DiagnoseIgnoredStates(const DeviceState& st, const DrawRequest& r) {
  const DWORD* rs = st.renderStates;
  if (rs[D3DRS_FOGENABLE]) Diagnose("d3d9.fog");
  if (rs[D3DRS_STENCILENABLE]) Diagnose("d3d9.stencil");
  if (rs[D3DRS_CLIPPLANEENABLE]) Diagnose("d3d9.clip-planes");
  if (rs[D3DRS_VERTEXBLEND] != D3DVBF_DISABLE || rs[D3DRS_INDEXEDVERTEXBLENDENABLE]) Diagnose("d3d9.vertex-blend");
  if (st.nPatchMode > 0.0f || rs[D3DRS_ENABLEADAPTIVETESSELLATION]) Diagnose("d3d9.tessellation");
  if (rs[D3DRS_SRGBWRITEENABLE]) Diagnose("d3d9.srgb");
  if (rs[D3DRS_DITHERENABLE]) Diagnose("d3d9.dither");
  if (rs[D3DRS_SCISSORTESTENABLE]) Diagnose("d3d9.scissor");
  if (rs[D3DRS_FILLMODE] != D3DFILL_SOLID) Diagnose("d3d9.fill-mode");
  for (DWORD w = D3DRS_WRAP0; w <= D3DRS_WRAP7; ++w)
    if (rs[w]) {
      Diagnose("d3d9.texture-wrap-flags");
      break;
    }
  if (!r.layout->transformed && rs[D3DRS_LIGHTING]) Diagnose("d3d9.lighting");
  if (r.type == D3DPT_POINTLIST && (rs[D3DRS_POINTSPRITEENABLE] || rs[D3DRS_POINTSCALEENABLE] ||
                                    FloatOf(rs[D3DRS_POINTSIZE]) != 1.0f))
    Diagnose("d3d9.point-size");
  if ((r.type == D3DPT_LINELIST || r.type == D3DPT_LINESTRIP) && rs[D3DRS_ANTIALIASEDLINEENABLE])
    Diagnose("d3d9.antialiased-lines");
}

}  // namespace

bool BuildConfig(const DrawRequest& r, const Kernels& kernels, DrawConfig* dc) {
  const DeviceState& st = *r.state;
  const DWORD* rs = st.renderStates;
  dc->k = &kernels;

  // Target and the rectangle drawn into.
  Surface& target = *r.target;
  if (target.Format() != D3DFMT_A8R8G8B8 && target.Format() != D3DFMT_X8R8G8B8) {
    Diagnose("d3d9.unsupported-target-format");
    return false;
  }
  dc->target = target.Bits();
  dc->targetPitch = target.Pitch();
  const D3DVIEWPORT9& vp = st.viewport;
  dc->clipX0 = static_cast<int>(vp.X);
  dc->clipY0 = static_cast<int>(vp.Y);
  dc->clipX1 = static_cast<int>(std::min<std::uint64_t>(std::uint64_t(vp.X) + vp.Width, target.Width()));
  dc->clipY1 = static_cast<int>(std::min<std::uint64_t>(std::uint64_t(vp.Y) + vp.Height, target.Height()));
  if (dc->clipX0 >= dc->clipX1 || dc->clipY0 >= dc->clipY1) return false;

  DiagnoseIgnoredStates(st, r);
  dc->cull = rs[D3DRS_CULLMODE];
  dc->flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  dc->lastPixel = rs[D3DRS_LASTPIXEL] != FALSE;
  dc->tfactor = rs[D3DRS_TEXTUREFACTOR];

  // Texture stages up to the first colour DISABLE.
  int maxSet = -1;
  bool readsSpecular = false;
  dc->stages = 0;
  for (int s = 0; s < int(kStageCount); ++s) {
    const DWORD* ts = st.stageStates[s];
    if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    StageConfig& sc = dc->stage[s];
    sc.colorOp = ts[D3DTSS_COLOROP];
    sc.colorArg1 = ts[D3DTSS_COLORARG1];
    sc.colorArg2 = ts[D3DTSS_COLORARG2];
    sc.alphaOp = ts[D3DTSS_ALPHAOP];
    sc.alphaArg1 = ts[D3DTSS_ALPHAARG1];
    sc.alphaArg2 = ts[D3DTSS_ALPHAARG2];
    if (!KnownOp(sc.colorOp) || !KnownOp(sc.alphaOp)) Diagnose("d3d9.unknown-texture-op");
    for (DWORD arg : {sc.colorArg1, sc.colorArg2, sc.alphaArg1, sc.alphaArg2}) {
      const DWORD sel = arg & D3DTA_SELECTMASK;
      if (sel == D3DTA_TEMP || sel == D3DTA_CONSTANT || sel > D3DTA_CONSTANT) Diagnose("d3d9.unknown-texture-arg");
    }
    if (ts[D3DTSS_RESULTARG] != D3DTA_CURRENT) Diagnose("d3d9.result-temp");
    if (ts[D3DTSS_TEXTURETRANSFORMFLAGS] != D3DTTFF_DISABLE) Diagnose("d3d9.texture-transform");
    readsSpecular = readsSpecular || ReadsArg(sc.colorOp, sc.colorArg1, sc.colorArg2, D3DTA_SPECULAR) ||
                    ReadsArg(sc.alphaOp, sc.alphaArg1, sc.alphaArg2, D3DTA_SPECULAR);
    const bool reads = ReadsTexture(sc.colorOp, sc.colorArg1, sc.colorArg2) ||
                       (sc.alphaOp != D3DTOP_DISABLE && ReadsTexture(sc.alphaOp, sc.alphaArg1, sc.alphaArg2));
    sc.sampled = reads && st.textures[s] != nullptr;
    if (sc.sampled) {
      const DWORD index = ts[D3DTSS_TEXCOORDINDEX];
      if (index > 7) Diagnose("d3d9.texcoord-generation");
      sc.texSet = static_cast<int>(index & 7);
      maxSet = std::max(maxSet, sc.texSet);
      const DWORD* ss = st.samplerStates[s];
      if (ss[D3DSAMP_SRGBTEXTURE]) Diagnose("d3d9.srgb");
      sc.addrU = AddressMode(ss[D3DSAMP_ADDRESSU]);
      sc.addrV = AddressMode(ss[D3DSAMP_ADDRESSV]);
      sc.border = ss[D3DSAMP_BORDERCOLOR];
      sc.magLinear = Linear(ss[D3DSAMP_MAGFILTER]);
      sc.minLinear = Linear(ss[D3DSAMP_MINFILTER]);
      sc.mipFilter = ss[D3DSAMP_MIPFILTER] == D3DTEXF_NONE    ? D3DTEXF_NONE
                     : ss[D3DSAMP_MIPFILTER] == D3DTEXF_POINT ? D3DTEXF_POINT
                                                              : D3DTEXF_LINEAR;
      sc.lodBias = FloatOf(ss[D3DSAMP_MIPMAPLODBIAS]);
      if (!(sc.lodBias == sc.lodBias)) sc.lodBias = 0.0f;
      StageTexture(st, s, &sc);
      sc.finest = std::min<int>(static_cast<int>(std::min<DWORD>(ss[D3DSAMP_MAXMIPLEVEL], 64)), sc.levels - 1);
    }
    ++dc->stages;
  }
  dc->attrs = kTexCoord + 2 * (maxSet + 1);

  // The combiner: one stage of texture, diffuse or their product reduces to
  // channel masks; everything else runs the general combiner.
  dc->specularAdd = rs[D3DRS_SPECULARENABLE] != FALSE;
  dc->combine = Combine::General;
  const std::uint32_t kColour = 0x00FFFFFFu, kAlpha = 0xFF000000u;
  if (dc->stages == 0) {
    dc->combine = Combine::Masks;
    dc->modMask = dc->texMask = 0;
    dc->diffMask = 0xFFFFFFFFu;
  } else if (dc->stages == 1 && !dc->specularAdd) {
    const StageConfig& sc = dc->stage[0];
    const Source colour = Reduced(sc.colorOp, sc.colorArg1, sc.colorArg2, sc.sampled);
    const Source alpha = sc.alphaOp == D3DTOP_DISABLE ? kDiff : Reduced(sc.alphaOp, sc.alphaArg1, sc.alphaArg2, sc.sampled);
    if (colour != kNone && alpha != kNone) {
      dc->combine = Combine::Masks;
      auto mask = [&](Source which) {
        return (colour == which ? kColour : 0) | (alpha == which ? kAlpha : 0);
      };
      dc->modMask = mask(kMod);
      dc->texMask = mask(kTex);
      dc->diffMask = mask(kDiff);
    }
  }
  dc->needSpecular = dc->specularAdd || (dc->combine == Combine::General && readsSpecular);

  // Alpha test.
  dc->alphaTest = rs[D3DRS_ALPHATESTENABLE] && rs[D3DRS_ALPHAFUNC] != D3DCMP_ALWAYS;
  dc->alphaFunc = rs[D3DRS_ALPHAFUNC];
  dc->alphaRef = rs[D3DRS_ALPHAREF] & 0xFF;
  if (dc->alphaTest && dc->alphaFunc == D3DCMP_NEVER) return false;

  // Depth.
  dc->depth = false;
  if (rs[D3DRS_ZENABLE] != D3DZB_FALSE && r.depth) {
    dc->depth = true;
    switch (r.depth->Format()) {
      case D3DFMT_D16:
      case D3DFMT_D16_LOCKABLE: dc->depthFormat = DepthFormat::D16; break;
      case D3DFMT_D24S8:
      case D3DFMT_D24X8:
      case D3DFMT_D24X4S4:
      case D3DFMT_D24FS8: dc->depthFormat = DepthFormat::D24; break;
      case D3DFMT_D32: dc->depthFormat = DepthFormat::D32; break;
      case D3DFMT_D32F_LOCKABLE: dc->depthFormat = DepthFormat::D32F; break;
      default:
        Diagnose("d3d9.unsupported-depth-format");
        dc->depth = false;
        break;
    }
    dc->depthFunc = rs[D3DRS_ZFUNC];
    dc->depthWrite = rs[D3DRS_ZWRITEENABLE] != FALSE;
    dc->depthBits = r.depth->Bits();
    dc->depthPitch = r.depth->Pitch();
    const bool bounded = dc->depthFormat == DepthFormat::D16 || dc->depthFormat == DepthFormat::D24;
    dc->depthBound = bounded ? &r.depth->Bound() : nullptr;
    dc->depthWidth = static_cast<int>(r.depth->Width());
    dc->depthHeight = static_cast<int>(r.depth->Height());
    // Unknown formats and lost bounds are tested pixel by pixel from now on.
    if (!bounded) r.depth->Bound().known = false;
    if (dc->depthFunc == D3DCMP_ALWAYS && !dc->depthWrite) dc->depth = false;
  }

  // Blending and the write mask.
  WriteParams& w = dc->write;
  w = WriteParams{};
  const DWORD mask = rs[D3DRS_COLORWRITEENABLE];
  w.keep = (mask & D3DCOLORWRITEENABLE_RED ? 0 : 0x00FF0000u) | (mask & D3DCOLORWRITEENABLE_GREEN ? 0 : 0x0000FF00u) |
           (mask & D3DCOLORWRITEENABLE_BLUE ? 0 : 0x000000FFu) | (mask & D3DCOLORWRITEENABLE_ALPHA ? 0 : 0xFF000000u);
  w.alphaOr = target.Format() == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0;
  if (rs[D3DRS_ALPHABLENDENABLE]) {
    BlendState& b = w.blend;
    DWORD src = rs[D3DRS_SRCBLEND], dst = rs[D3DRS_DESTBLEND];
    if (src == D3DBLEND_BOTHSRCALPHA) {
      src = D3DBLEND_SRCALPHA;
      dst = D3DBLEND_INVSRCALPHA;
    } else if (src == D3DBLEND_BOTHINVSRCALPHA) {
      src = D3DBLEND_INVSRCALPHA;
      dst = D3DBLEND_SRCALPHA;
    }
    b.srcColor = static_cast<std::uint8_t>(src);
    b.dstColor = static_cast<std::uint8_t>(dst);
    b.opColor = static_cast<std::uint8_t>(rs[D3DRS_BLENDOP]);
    if (rs[D3DRS_SEPARATEALPHABLENDENABLE]) {
      b.srcAlpha = static_cast<std::uint8_t>(rs[D3DRS_SRCBLENDALPHA]);
      b.dstAlpha = static_cast<std::uint8_t>(rs[D3DRS_DESTBLENDALPHA]);
      b.opAlpha = static_cast<std::uint8_t>(rs[D3DRS_BLENDOPALPHA]);
    } else {
      b.srcAlpha = b.srcColor;
      b.dstAlpha = b.dstColor;
      b.opAlpha = b.opColor;
    }
    b.factor = rs[D3DRS_BLENDFACTOR];
    const bool same = b.srcAlpha == b.srcColor && b.dstAlpha == b.dstColor && b.opAlpha == b.opColor;
    w.kind = BlendKind::General;
    if (same && b.opColor == D3DBLENDOP_ADD) {
      if (b.srcColor == D3DBLEND_SRCALPHA && b.dstColor == D3DBLEND_INVSRCALPHA) w.kind = BlendKind::SrcAlpha;
      else if (b.srcColor == D3DBLEND_SRCALPHA && b.dstColor == D3DBLEND_ONE) w.kind = BlendKind::SrcAlphaAdd;
      else if (b.srcColor == D3DBLEND_ONE && b.dstColor == D3DBLEND_ONE) w.kind = BlendKind::Add;
      else if (b.srcColor == D3DBLEND_ONE && b.dstColor == D3DBLEND_ZERO) w.kind = BlendKind::Replace;
    }
  }
  return true;
}

}  // namespace platform::d3d9::raster
