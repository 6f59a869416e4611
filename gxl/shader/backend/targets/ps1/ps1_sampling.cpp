// Which sampling forms and clips the 1.x models accept: clips become the
// 3-component kill, bias and projective forms are refused (ps_1_4 keeps
// tex2Dproj), and the eye-vector values may be read only by reflections.
#include "gxl/shader/backend/targets/modifier_folds.h"
#include "gxl/shader/backend/targets/ps1/ps1_target.h"

namespace gxl::shader {

namespace {

struct UnsupportedForm {
  std::uint32_t group;
  const char* function;
  const char* form;
};

constexpr UnsupportedForm kUnsupportedForms[] = {
    {0x602, "tex1D", "proj"}, {0x603, "tex1D", "bias"}, {0x607, "tex2D", "proj"},   {0x608, "tex2D", "bias"},
    {0x60C, "tex3D", "proj"}, {0x60D, "tex3D", "bias"}, {0x611, "texCUBE", "proj"}, {0x612, "texCUBE", "bias"},
};

}  // namespace

// The kill instruction tests x, y and z: a clip whose w repeats one of them
// (the same value, a move of it, or the same operation on the same
// arguments) drops w.
HRESULT PixelShader1Target::CheckClip(std::uint32_t index) {
  IrInstruction* clip = Instruction(index);
  SetCurrentInstruction(index);
  if (clip->argumentCount != 4 || clip->Width() != 4) {
    GXL_SHADER_REPORT(*this, currentSource, msg::kMalformedClip);
    return E_FAIL;
  }
  const std::uint32_t w = clip->arguments[3];
  const IrInstruction* wProducer = Instruction(ProducerOf(w));
  auto columnOf = [](const IrInstruction& inst, std::uint32_t value) {
    for (std::uint32_t r = 0; r < inst.resultCount; ++r)
      if (inst.results[r] == value) return r;
    return kNoIndex;
  };
  bool repeats = false;
  for (std::uint32_t j = 0; j < 3 && !repeats; ++j) {
    const std::uint32_t other = clip->arguments[j];
    repeats = other == w;
    if (!repeats && wProducer && wProducer->IsMove() && wProducer->word != 0) {
      const std::uint32_t column = columnOf(*wProducer, w);
      repeats = column < wProducer->argumentCount && wProducer->arguments[column] == other;
    }
    const IrInstruction* otherProducer = Instruction(ProducerOf(other));
    if (repeats || !wProducer || !otherProducer || wProducer->word != otherProducer->word ||
        wProducer->argumentCount != otherProducer->argumentCount || wProducer->Width() == 0 ||
        wProducer->resultCount != wProducer->Width())
      continue;
    const std::uint32_t width = wProducer->Width();
    const std::uint32_t cw = columnOf(*wProducer, ResolveAlias(w)), co = columnOf(*otherProducer, ResolveAlias(other));
    if (cw == kNoIndex || co == kNoIndex) continue;
    repeats = true;
    for (std::uint32_t g = 0; g * width < wProducer->argumentCount && repeats; ++g)
      repeats = wProducer->arguments[g * width + cw] == otherProducer->arguments[g * width + co];
  }
  if (!repeats) {
    GXL_SHADER_REPORT(*this, currentSource, msg::kClipNotFromVector3, static_cast<int>(Minor()));
    return E_FAIL;
  }
  clip->word = IrWord(kOpDiscard, 3);
  clip->argumentCount = 3;
  if (clip->resultCount > 3) clip->resultCount = 3;
  // The kill reads a register of its own: look through plain copies to the
  // values they copy.
  for (std::uint32_t j = 0; j < 3; ++j) {
    for (std::uint32_t steps = 0; steps < instructions.Count(); ++steps) {
      const std::uint32_t value = clip->arguments[j];
      const IrInstruction* move = Instruction(ProducerOf(value));
      const IrValue* v = Value(value);
      if (!move || move->word == 0 || !move->IsMove() || !v || v->alias != kNoIndex || (v->binding & kPs1Modifiers))
        break;
      const std::uint32_t column = columnOf(*move, value);
      if (column >= move->argumentCount) break;
      clip->arguments[j] = move->arguments[column];
    }
  }
  return S_OK;
}

HRESULT PixelShader1Target::RejectUnsupportedSampling() {
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst) continue;
    const std::uint32_t group = inst->Group();
    for (const UnsupportedForm& f : kUnsupportedForms) {
      if (f.group != group || (group == 0x607 && Is14())) continue;
      SetCurrentInstruction(i);
      GXL_SHADER_REPORT(*this, currentSource, msg::kNotSupportedOnPs1x, f.function, f.form, static_cast<int>(Minor()));
      return E_FAIL;
    }
    if (Is14() || !(IsTextureLoad(group) || group == kOpDiscard)) continue;
    const std::uint32_t start = CoordinateStart(*inst);
    const std::uint32_t coordinate = start < inst->argumentCount ? inst->arguments[start] : kNoIndex;
    const IrValue* v = Value(coordinate);
    if (v && (v->binding & mod::kSourceBits) && IsInputValue(ResolveAlias(coordinate))) {
      SetCurrentInstruction(i);
      GXL_SHADER_REPORT(*this, currentSource, msg::kDependentReadOnPs1x, static_cast<int>(Minor()));
      return E_FAIL;
    }
  }
  for (std::uint32_t i = 0; i < instructions.Count(); ++i) {
    const IrInstruction* inst = Instruction(i);
    if (!inst || inst->Group() == kOpReflectEyeInTexcoord) continue;
    for (std::uint32_t a = 0; a < inst->argumentCount; ++a) {
      if (Ps1KindOf(SemanticOf(ResolveAlias(inst->arguments[a]))) != kPs1Special) continue;
      SetCurrentInstruction(i);
      GXL_SHADER_REPORT(*this, currentSource, msg::kTexcoordWInExpression);
      return E_FAIL;
    }
  }
  return S_OK;
}

}  // namespace gxl::shader
