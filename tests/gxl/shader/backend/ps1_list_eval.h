// The placed instruction lists of a 1.x compile read back for the tests: a
// description of each entry (operation, result shift and saturate, the
// components each group selects) and an evaluation of the arithmetic in list
// order over chosen inputs and constants, with the source and result
// modifiers the bits stand for.
#pragma once

#include <cmath>
#include <map>
#include <string>

#include "gxl/shader/backend/targets/modifier_folds.h"
#include "ps1_fixture.h"

namespace ps1test {

inline const char* ArithmeticName(std::uint32_t group) {
  switch (group) {
    case 0x300:
      return "cmp";
    case 0x704:
      return "mad-";
    case 0x70F:
      return "cnd";
    default:
      return OperationName(group);
  }
}

inline std::string ResultModifiers(std::uint32_t binding) {
  static const char* const kShifts[] = {"_x2", "_x4", "_x8", "_d2", "_d4", "_d8"};
  std::string out;
  for (std::uint32_t k = 0; k < 6; ++k)
    if (binding & (0x400u << k)) out += kShifts[k];
  if (binding & mod::kSaturate) out += "_sat";
  return out;
}

// "name[shift][_sat].mask a,b,c" per arithmetic entry of the stage list:
// the written components, then per group the components it selects ("l" for
// a literal), separated by spaces.
inline std::string Describe(const Ps1Run& r) {
  const PixelShader1Target& t = *r.target;
  std::string out;
  for (std::uint32_t k = t.Stages(); k < t.stageList.Count(); ++k) {
    const IrInstruction* inst = t.Instruction(t.stageList[k]);
    if (!inst || inst->word == 0) continue;
    if (!out.empty()) out += " | ";
    out += ArithmeticName(inst->Group());
    if (inst->resultCount) out += ResultModifiers(t.Value(inst->results[0])->binding);
    out += '.';
    for (std::uint32_t j = 0; j < inst->resultCount; ++j) out += "xyzw"[t.Value(inst->results[j])->component & 3];
    const std::uint32_t n = inst->Width();
    for (std::uint32_t a = 0; n && a < inst->argumentCount; ++a) {
      if (a % n == 0) out += ' ';
      const IrValue* v = t.Value(inst->arguments[a]);
      const bool literal = t.BankOf(*v)->type & kBankLiteral;
      if (v->binding & mod::kNegate) out += '-';
      if ((v->binding & 0x70000) == mod::kComplement) out += '~';
      out += literal ? 'l' : "xyzw"[v->component & 3];
    }
  }
  return out;
}

// Inputs by semantic word and component, uniforms by name and component.
struct EvalInputs {
  std::map<std::uint32_t, double> inputs;  // (semantic word << 2) | component
  std::map<std::string, double> uniforms;  // "name.c"
  void Input(std::uint32_t kind, std::uint32_t index, const double (&v)[4]) {
    for (std::uint32_t c = 0; c < 4; ++c) inputs[Ps1SemanticWord(kind, index) << 2 | c] = v[c];
  }
  void Uniform(const std::string& name, const double (&v)[4]) {
    for (std::uint32_t c = 0; c < 4; ++c) uniforms[name + "." + std::to_string(c)] = v[c];
  }
};

// Runs the stage list's arithmetic and returns the four values the output
// move reads; false with the reason in `error` when an entry cannot be run.
class ListEvaluator {
 public:
  ListEvaluator(const Ps1Run& r, const EvalInputs& in) : m_t(*r.target), m_in(in) {}

  bool Run(double out[4], std::string* error) {
    const PixelShader1Target& t = m_t;
    for (std::uint32_t k = 0; k < t.stageList.Count(); ++k) {
      const IrInstruction* inst = t.Instruction(t.stageList[k]);
      if (!inst || inst->word == 0 || t.stageList[k] == t.outputMove) continue;
      if (!Execute(*inst, error)) return false;
    }
    const IrInstruction* move = t.Instruction(t.outputMove);
    if (!move || move->argumentCount != 4) return Fail(error, "no output move");
    for (std::uint32_t c = 0; c < 4; ++c)
      if (!Read(move->arguments[c], &out[c], error)) return false;
    return true;
  }

 private:
  static bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
  }

  static double SourceModifier(double x, std::uint32_t binding) {
    switch (binding & 0x70000) {
      case mod::kComplement:
        x = 1.0 - x;
        break;
      case mod::kBias:
        x -= 0.5;
        break;
      case mod::kTimesTwo:
        x *= 2.0;
        break;
      case mod::kSignedScale:
        x = 2.0 * x - 1.0;
        break;
    }
    return binding & mod::kNegate ? -x : x;
  }

  bool Read(std::uint32_t value, double* x, std::string* error) const {
    const IrValue* v = m_t.Value(value);
    if (!v) return Fail(error, "no value");
    const std::uint32_t root = m_t.ResolveAlias(value);
    const IrValue* r = m_t.Value(root);
    const RegisterBank* bank = m_t.BankOf(*r);
    if (auto it = m_computed.find(root); it != m_computed.end()) {
      *x = it->second;
    } else if (bank->type & kBankLiteral) {
      *x = r->rangeLow;
    } else if (m_t.IsInputValue(root)) {
      auto it2 = m_in.inputs.find(m_t.SemanticOf(root) << 2 | (r->component & 3));
      if (it2 == m_in.inputs.end()) return Fail(error, "input not given");
      *x = it2->second;
    } else if ((bank->type & kBankUniform) && r->declaration) {
      const std::string name = IdentifierText(r->declaration->name, "");
      auto it2 = m_in.uniforms.find(name + "." + std::to_string(r->variableComponent));
      if (it2 == m_in.uniforms.end()) return Fail(error, "uniform " + name + " not given");
      *x = it2->second;
    } else {
      return Fail(error, "value " + std::to_string(value) + " read before it is written");
    }
    *x = SourceModifier(*x, v->binding);
    return true;
  }

  bool Execute(const IrInstruction& inst, std::string* error) {
    const std::uint32_t n = inst.Width(), group = inst.Group();
    double results[4];
    for (std::uint32_t j = 0; j < inst.resultCount && j < 4; ++j) {
      double s[3] = {};
      if (group == kOpDot) {
        double sum = 0, a, b;
        for (std::uint32_t p = 0; p < n; ++p) {
          if (!Read(inst.arguments[p], &a, error) || !Read(inst.arguments[n + p], &b, error)) return false;
          sum += a * b;
        }
        results[j] = sum;
        continue;
      }
      for (std::uint32_t g = 0; g < 3 && g * n + j < inst.argumentCount; ++g)
        if (!Read(inst.arguments[g * n + j], &s[g], error)) return false;
      switch (group) {
        case 0x721:  // texcoord: the coordinate, clamped
          results[j] = std::fmin(1.0, std::fmax(0.0, s[0]));
          break;
        case 0x100:
          results[j] = s[0];
          break;
        case 0x101:
          results[j] = -s[0];
          break;
        case 0x204:
          results[j] = s[0] + s[1];
          break;
        case 0x205:
          results[j] = s[0] * s[1];
          break;
        case 0x703:
          results[j] = s[0] * s[1] + s[2];
          break;
        case 0x704:
          results[j] = s[0] * -s[1] + s[2];
          break;
        case 0x701:
          results[j] = s[0] * s[1] + (1.0 - s[0]) * s[2];
          break;
        case 0x70F:
          results[j] = s[0] > 0.5 ? s[1] : s[2];
          break;
        case 0x300:
          results[j] = s[0] >= 0 ? s[1] : s[2];
          break;
        default:
          return Fail(error, std::string("cannot run ") + ArithmeticName(group));
      }
    }
    for (std::uint32_t j = 0; j < inst.resultCount && j < 4; ++j) {
      const std::uint32_t binding = m_t.Value(inst.results[j])->binding;
      static const double kScale[] = {2, 4, 8, 0.5, 0.25, 0.125};
      for (std::uint32_t k = 0; k < 6; ++k)
        if (binding & (0x400u << k)) results[j] *= kScale[k];
      if (binding & mod::kSaturate) results[j] = std::fmin(1.0, std::fmax(0.0, results[j]));
      m_computed[inst.results[j]] = results[j];
    }
    return true;
  }

  const PixelShader1Target& m_t;
  const EvalInputs& m_in;
  std::map<std::uint32_t, double> m_computed;
};

}  // namespace ps1test
