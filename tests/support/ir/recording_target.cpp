#include "tests/support/ir/recording_target.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "gxl/shader/core/syntax_tree.h"

namespace irkit {

using namespace gxl::shader;

HRESULT RecordingTarget::SetupProfileLimits() {
  profileLimits = limits;
  ++setupCount;
  return S_OK;
}

HRESULT RecordingTarget::CheckSemantics(std::uint32_t value, std::uint32_t flags) {
  semanticChecks.emplace_back(value, flags);
  if (refuseSemantics) return E_FAIL;
  IrValue* v = Value(value);
  if (!v || !v->semantic || v->semantic->token.kind != kTokenIdentifier) return S_OK;
  static const char* const kNames[] = {"POSITION", "BLENDWEIGHT", "BLENDINDICES", "NORMAL", "PSIZE",
                                       "TEXCOORD", "TANGENT",     "BINORMAL",     "TESSFACTOR", "POSITIONT",
                                       "COLOR",    "FOG",         "DEPTH",        "SAMPLE"};
  const std::string text = v->semantic->token.value.text;
  std::size_t digits = text.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(text[digits - 1]))) --digits;
  const std::string name = text.substr(0, digits);
  std::uint32_t usage = 0x7FFF;
  for (std::uint32_t i = 0; i < std::size(kNames); ++i)
    if (strcasecmp(kNames[i], name.c_str()) == 0) usage = i + 1;
  std::uint32_t index = 0;
  for (std::size_t i = digits; i < text.size(); ++i) index = std::min<std::uint32_t>(index * 10 + (text[i] - '0'), 0x7FFF);
  index += v->variableOffset / 4;
  v->registerKey = index << 16 | usage;
  return S_OK;
}

ProfileLimits RecordingTarget::Limits(std::uint32_t operationCaps, std::uint32_t flowCaps, std::uint32_t powerCost) {
  ProfileLimits l{};
  l.inputs = 64;
  l.temporaries = 64;
  l.floatConstants = 8192;
  l.word15 = powerCost;
  l.capabilities = operationCaps;
  l.secondFlags = flowCaps;
  return l;
}

}  // namespace irkit
