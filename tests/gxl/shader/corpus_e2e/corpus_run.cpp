#include "corpus_run.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "gxl/shader/core/bytecode.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/data_buffer.h"
#include "platform/d3d9_api.h"
#include "platform/src/d3d9/shader_tokens.h"
#include "platform/win_kernel.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"

namespace corpuse2e {
namespace {

using corpusref::Entry;
using corpusref::Inputs;
using corpusref::Outputs;
using corpusref::Stage;
using corpusref::Values;
using nura::shtok::Float4;
using nura::shtok::Lane;
namespace ps = platform::shader;

const char* const kUsageNames[] = {"POSITION", "BLENDWEIGHT", "BLENDINDICES", "NORMAL", "PSIZE", "TEXCOORD", "TANGENT",
                                   "BINORMAL", "TESSFACTOR",  "POSITIONT",    "COLOR",  "FOG",   "DEPTH",    "SAMPLE"};

std::string Semantic(int usage, int index) {
  return (usage >= 0 && usage < static_cast<int>(std::size(kUsageNames)) ? kUsageNames[usage] : "?") +
         std::to_string(index);
}

// "TEXCOORD3" -> usage 5, index 3; false for a name that is no semantic.
bool ParseSemantic(const std::string& name, int* usage, int* index) {
  std::size_t digits = name.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) --digits;
  for (int u = 0; u < static_cast<int>(std::size(kUsageNames)); ++u)
    if (name.compare(0, digits, kUsageNames[u]) == 0 && std::strlen(kUsageNames[u]) == digits) {
      *usage = u;
      *index = digits < name.size() ? std::atoi(name.c_str() + digits) : 0;
      return true;
    }
  return false;
}

HRESULT CollectMessage(const char*, int, DWORD, DWORD number, const char* text, void* context) {
  *static_cast<std::string*>(context) += " [" + std::to_string(number) + " " + text + "]";
  return S_OK;
}

// The platform's validator over the code, fed an item at a time as the shader
// tools feed it; empty when it accepts.
std::string Validate(const Words& words) {
  auto create = reinterpret_cast<PFN_Direct3DShaderValidatorCreate9>(
      GetProcAddress(GetModuleHandleA("d3d9.dll"), "Direct3DShaderValidatorCreate9"));
  if (!create) return "no validator";
  std::string messages;
  ShaderValidator9* validator = create();
  validator->Begin(&CollectMessage, &messages, 0);
  ps::Version version;
  std::size_t pos = 0;
  if (!words.empty() && ps::ParseVersion(words[0], &version)) {
    validator->Instruction("corpus", 0, words.data(), 1);
    for (pos = 1; pos < words.size();) {
      const ps::Item item = ps::ReadItem(words.data(), words.size(), pos, version);
      if (item.kind == ps::ItemKind::kError || item.kind == ps::ItemKind::kIncomplete) break;
      validator->Instruction("corpus", 0, words.data() + pos, static_cast<DWORD>(item.next - pos));
      pos = item.next;
    }
  }
  if (pos < words.size())
    validator->Instruction("corpus", 0, words.data() + pos, static_cast<DWORD>(words.size() - pos));
  const HRESULT hr = validator->End();
  validator->Release();
  return hr == S_OK && messages.empty() ? std::string() : "validator:" + messages;
}

std::string ReadFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return *error = "cannot read " + path, std::string();
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Built Collect(HRESULT hr, DataBuffer* code, DataBuffer* messages, ConstantTable* table) {
  Built b;
  b.hr = hr;
  if (messages && messages->GetSize() > 0) {
    const char* text = static_cast<const char*>(messages->GetPointer());
    b.log.assign(text, messages->GetSize());
    b.logTerminated = b.log.back() == '\0';
    b.log.resize(std::strlen(b.log.c_str()));
  }
  if (code) {
    const auto* words = static_cast<const std::uint32_t*>(code->GetPointer());
    b.code.assign(words, words + code->GetSize() / 4);
  }
  b.codeMade = code != nullptr;
  b.tableMade = table != nullptr;
  return b;
}

double Draw(std::mt19937& random, const corpusref::Range& r, double lo, double hi) {
  if (r.integral) return std::min(hi, std::floor(std::uniform_real_distribution<double>(lo, hi + 1)(random)));
  // What the shader sees is a float: the reference sees the same.
  return static_cast<float>(std::uniform_real_distribution<double>(lo, hi)(random));
}

// Values for every range, each range clamped into [lo, hi] (a range wholly
// outside gives the nearer bound).
void DrawRanges(std::mt19937& random, const std::vector<corpusref::Range>& ranges, double lo, double hi, Values* out) {
  for (const corpusref::Range& r : ranges) {
    const double a = std::clamp(r.lo, lo, hi), b = std::clamp(r.hi, lo, hi);
    std::vector<double>& v = (*out)[r.name];
    v.clear();
    for (int k = 0; k < r.count; ++k) v.push_back(Draw(random, r, a, b));
  }
}

// The names every lane gets a value for: what the code could declare.
std::vector<std::string> InputNames(const Entry& e) {
  std::vector<std::string> names;
  if (!e.entry) {
    for (int i = 0; i < 16; ++i) names.push_back("v" + std::to_string(i));
    for (int i = 0; i < 8; ++i) names.push_back("t" + std::to_string(i));
  } else {
    for (const char* n : {"POSITION0", "NORMAL0", "TANGENT0", "BINORMAL0", "COLOR0", "COLOR1"}) names.push_back(n);
    for (int i = 0; i < 8; ++i) names.push_back("TEXCOORD" + std::to_string(i));
  }
  return names;
}

Inputs DrawInputs(std::mt19937& random, const Entry& e, bool unit) {
  Inputs in;
  for (const std::string& name : InputNames(e)) {
    corpusref::Range r{name.c_str(), 4, 0, 1};
    for (const corpusref::Range& given : e.inputs)
      if (name == given.name) r = given;
    Values drawn;
    DrawRanges(random, {r}, unit ? 0 : -1e30, unit ? 1 : 1e30, &drawn);
    const std::vector<double>& v = drawn[name];
    in[name] = {v[0], v[1], v[2], v[3]};
  }
  return in;
}

// Where the run leaves an output; null when the code has no such register.
const Float4* OutputSlot(const Lane& lane, const std::string& name, const nura::shtok::Interpreter& interp) {
  const ps::Version& v = interp.version();
  if (name == "oPos") return &lane.oPos;
  if (name.rfind("oD", 0) == 0) return &lane.oD[std::atoi(name.c_str() + 2) & 1];
  if (name.rfind("oT", 0) == 0) return &lane.o[std::atoi(name.c_str() + 2) & 15];
  if (name.rfind("oC", 0) == 0) return &lane.oC[std::atoi(name.c_str() + 2) & 3];
  int usage = 0, index = 0;
  if (!ParseSemantic(name, &usage, &index)) return nullptr;
  if (v.pixel) return usage == nura::shtok::kUsageColor && index < 4 ? &lane.oC[index] : nullptr;
  if (v.major >= 3) {
    const nura::shtok::Declaration* d = interp.FindDeclaration(usage, index, true);
    return d ? nura::shtok::DeclaredSlot(const_cast<Lane&>(lane), *d) : nullptr;
  }
  if (usage == nura::shtok::kUsagePosition && index == 0) return &lane.oPos;
  if (usage == nura::shtok::kUsageColor) return &lane.oD[index & 1];
  if (usage == nura::shtok::kUsageTexCoord) return &lane.o[index & 15];
  return nullptr;
}

void FeedInputs(Lane& lane, const Inputs& in, const Entry& e, const nura::shtok::Interpreter& interp) {
  auto set = [](Float4& slot, const corpusref::V4& v) {
    for (int k = 0; k < 4; ++k) slot[k] = static_cast<float>(v[k]);
  };
  if (!e.entry) {
    for (int i = 0; i < 16; ++i) set(lane.v[i], in.at("v" + std::to_string(i)));
    for (int i = 0; i < 8; ++i) set(lane.t[i], in.at("t" + std::to_string(i)));
    return;
  }
  if (interp.version().pixel && interp.version().major == 1) {
    // No declarations: stage coordinates and the two colours.
    for (int i = 0; i < 8; ++i) set(lane.t[i], in.at("TEXCOORD" + std::to_string(i)));
    for (int i = 0; i < 2; ++i) set(lane.v[i], in.at("COLOR" + std::to_string(i)));
    return;
  }
  for (const nura::shtok::Declaration& d : interp.Declarations()) {
    if (d.usage < 0 || d.output) continue;
    Float4* slot = nura::shtok::DeclaredSlot(lane, d);
    const auto found = in.find(Semantic(d.usage, d.usageIndex));
    if (slot && found != in.end()) set(*slot, found->second);
  }
}

// Constants by name through the table; what the test does not draw takes the
// table's default. `seen` receives what the reference sees.
bool PlaceConstants(ConstantTable* table, const Values& drawn, nura::shtok::Interpreter& interp, Values* seen,
                    std::string* error) {
  ConstantTableDesc desc{};
  if (!table || FAILED(table->Describe(&desc))) return *error = "no readable constant table", false;
  *seen = drawn;
  for (UINT i = 0; i < desc.constants; ++i) {
    ConstantDesc c{};
    UINT count = 1;
    if (FAILED(table->DescribeConstants(table->ConstantByIndex(nullptr, i), &c, &count)) || !c.name)
      return *error = "constant " + std::to_string(i) + " has no description", false;
    if (c.registerSet > 2) continue;
    const auto given = drawn.find(c.name);
    const float* defaults = c.registerSet == 2 ? static_cast<const float*>(c.defaultValue) : nullptr;
    std::vector<double> seenDefault;
    for (UINT r = 0; r < c.registerCount; ++r) {
      float x[4] = {0, 0, 0, 0};
      for (UINT k = 0; k < 4; ++k) {
        if (given != drawn.end()) {
          // Matrices by columns hold a column a register; the rest a row.
          const bool byColumns = c.typeClass == 3;
          const std::size_t at = byColumns ? std::size_t{k} * c.columns + r : std::size_t{r} * c.columns + k;
          const bool inside =
              byColumns ? k < c.rows && r < c.columns : r < c.rows * std::max(c.elements, 1u) && k < c.columns;
          if (inside && at < given->second.size()) x[k] = static_cast<float>(given->second[at]);
        } else if (defaults) {
          x[k] = defaults[r * 4 + k];
          if (k < c.columns && c.typeClass < 2) seenDefault.push_back(x[k]);
        }
      }
      const int reg = static_cast<int>(c.registerIndex + r);
      if (c.registerSet == 0) interp.SetBool(reg, x[0] != 0);
      if (c.registerSet == 1)
        interp.SetInt(reg, static_cast<int>(x[0]), static_cast<int>(x[1]), static_cast<int>(x[2]),
                      static_cast<int>(x[3]));
      if (c.registerSet == 2) interp.SetFloat(reg, Float4(x[0], x[1], x[2], x[3]));
    }
    if (given == drawn.end() && !seenDefault.empty()) (*seen)[c.name] = seenDefault;
  }
  return true;
}

// Assembly constants by register: "c8" with 16 values fills c8-c11.
void PlaceRegisters(const Values& drawn, nura::shtok::Interpreter& interp) {
  for (const auto& [name, v] : drawn) {
    const int first = std::atoi(name.c_str() + 1);
    for (std::size_t r = 0; 4 * r < v.size(); ++r) {
      float x[4] = {0, 0, 0, 0};
      for (std::size_t k = 0; k < 4 && 4 * r + k < v.size(); ++k) x[k] = static_cast<float>(v[4 * r + k]);
      interp.SetFloat(first + static_cast<int>(r), Float4(x[0], x[1], x[2], x[3]));
    }
  }
}

}  // namespace

const std::vector<const char*>& Profiles(Stage stage) {
  static const std::vector<const char*> vertex = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
  static const std::vector<const char*> pixel = {"ps_1_1", "ps_1_2", "ps_1_3",  "ps_1_4", "ps_2_0",
                                                 "ps_2_a", "ps_2_b", "ps_2_sw", "ps_3_0", "ps_3_sw"};
  return stage == Stage::kVertex ? vertex : pixel;
}

std::string SourceOf(const Entry& e, const std::string& root, std::string* error) {
  const std::string text = ReadFile(root + "/" + e.file, error);
  if (!e.partner || !error->empty()) return text;
  const std::string vertex = ReadFile(root + "/" + e.partner, error);
  return vertex + "\n#line 1\n" + text +
         "\ntechnique TECH { pass p1 { VertexShader = compile vs_2_0 vs_main(); "
         "PixelShader = compile ps_2_0 ps_main(); } }\n";
}

Built Compile(const std::string& source, const std::string& path, const Entry& e, const char* profile,
              std::uint32_t options) {
  gxl::ComRef<DataBuffer> code, messages;
  gxl::ComRef<ConstantTable> table;
  const HRESULT hr = path.empty()
                         ? CompileShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr,
                                                   e.entry, profile, options, code.Put(), messages.Put(), table.Put())
                         : CompileShaderFromFileA(path.c_str(), nullptr, nullptr, e.entry, profile, options, code.Put(),
                                                  messages.Put(), table.Put());
  Built b = Collect(hr, code.Get(), messages.Get(), table.Get());
  b.table = std::move(table);
  return b;
}

Built Assemble(const std::string& source, std::uint32_t flags) {
  gxl::ComRef<DataBuffer> code, messages;
  const HRESULT hr = AssembleShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr, flags,
                                              code.Put(), messages.Put());
  return Collect(hr, code.Get(), messages.Get(), nullptr);
}

std::string Outcome(const Built& b) {
  if (SUCCEEDED(b.hr)) return "compiled";
  const std::size_t at = b.log.find("error X");
  if (at == std::string::npos) return "none";
  std::size_t end = at + 7;
  while (end < b.log.size() && std::isdigit(static_cast<unsigned char>(b.log[end]))) ++end;
  return b.log.substr(at + 6, end - at - 6);
}

int Rank(const std::string& outcome, Kind kind) {
  const int code = outcome.size() > 1 && outcome[0] == 'X' ? std::atoi(outcome.c_str() + 1) : -1;
  if (kind == Kind::kForeign) return code == 3000 ? 3 : code == 3500 ? 1 : 0;
  if (outcome == "compiled") return 3;
  if (code < 0) return 0;
  if (kind == Kind::kAssembly) return code >= 5000 && code < 6000 ? 1 : 0;
  if ((code >= 4500 && code < 4600) || code == 4004 || code == 5018 || code == 5020) return 2;
  return code == 3500 ? 1 : 0;
}

std::string Soundness(const Built& b, bool validate) {
  if (b.log.find("internal error") != std::string::npos) return "internal error: " + b.log;
  if (b.hr == E_OUTOFMEMORY) return "E_OUTOFMEMORY";
  if (!b.logTerminated) return "messages without a terminating NUL";
  if (FAILED(b.hr)) {
    if (b.codeMade || b.tableMade) return "a failure with code or a constant table";
    if (b.log.find("error") == std::string::npos) return "a failure that says nothing";
    return {};
  }
  if (b.code.empty()) return "success without code";
  // The decoder first: it never reads past the code, and fails without an
  // end token, which GetShaderSize would look for past the buffer.
  std::string text, error;
  if (!nura::shtok::Disassemble(b.code.data(), b.code.size(), &text, &error)) return "undecodable: " + error;
  if (GetShaderSize(b.code.data()) != b.code.size() * 4)
    return "GetShaderSize says " + std::to_string(GetShaderSize(b.code.data())) + " bytes for " +
           std::to_string(b.code.size() * 4);
  if (validate) {
    const std::string verdict = Validate(b.code);
    if (!verdict.empty()) return verdict + "\n" + text;
  }
  return {};
}

bool RunLanes(const Built& b, const RunSpec& spec, LaneOutputs* got, LaneOutputs* want, std::string* error) {
  const Entry& e = *spec.entry;
  if (e.entry && !b.table) return *error = "a compile without a constant table", false;
  nura::shtok::Interpreter interp;
  if (!interp.Load(b.code.data(), b.code.size(), error)) return false;
  const bool pixel = interp.version().pixel;
  interp.SetStrict(pixel && interp.version().major == 1);
  std::map<int, std::string> samplers;
  for (const char* name : e.samplers) {
    const INT index = e.entry ? b.table->SamplerIndex(b.table->ConstantByName(nullptr, name)) : std::atoi(name + 1);
    if (index >= 0) samplers[index] = name;
  }
  interp.SetSampler([&samplers](const nura::shtok::SampleRequest& r) {
    const auto found = samplers.find(r.sampler);
    if (found == samplers.end()) return Float4(0, 0, 0, 0);
    const corpusref::V4 t = corpusref::Texel(found->second, r.coord[0], r.coord[1]);
    return Float4(static_cast<float>(t[0]), static_cast<float>(t[1]), static_cast<float>(t[2]),
                  static_cast<float>(t[3]));
  });
  std::mt19937 random(spec.seed);
  const int lanes = 4;
  for (int round = 0; round < spec.rounds; ++round) {
    Values drawn, seen;
    DrawRanges(random, e.constants, spec.unitRange ? -1 : -1e30, spec.unitRange ? 1 : 1e30, &drawn);
    if (e.entry) {
      if (!PlaceConstants(b.table.Get(), drawn, interp, &seen, error)) return false;
    } else {
      PlaceRegisters(drawn, interp);
      seen = drawn;
    }
    Lane quad[lanes];
    Inputs inputs[lanes];
    for (int l = 0; l < lanes; ++l) {
      inputs[l] = DrawInputs(random, e, spec.unitRange);
      FeedInputs(quad[l], inputs[l], e, interp);
    }
    if (pixel) {
      if (!interp.Run(quad, lanes, error)) return false;
    } else {
      for (Lane& lane : quad)
        if (!interp.Run(&lane, 1, error)) return false;
    }
    for (int l = 0; l < lanes; ++l) {
      Outputs reference;
      if (e.reference) {
        try {
          reference = e.reference(inputs[l], seen);
        } catch (const std::out_of_range& missing) {
          return *error = std::string("the reference reads a value the run does not have: ") + missing.what(), false;
        }
      } else {
        reference[e.entry ? "COLOR0" : "oC0"] = {0, 0, 0, 0};
      }
      Outputs outputs;
      for (const auto& [name, values] : reference) {
        const Float4* slot = OutputSlot(quad[l], name, interp);
        if (!slot) return *error = "no output register for " + name, false;
        for (std::size_t k = 0; k < values.size(); ++k) outputs[name].push_back((*slot)[static_cast<int>(k)]);
      }
      got->push_back(outputs);
      if (e.reference) want->push_back(reference);
    }
  }
  return true;
}

std::string Compare(const LaneOutputs& got, const LaneOutputs& want, double tolerance) {
  for (std::size_t l = 0; l < got.size() && l < want.size(); ++l)
    for (const auto& [name, values] : want[l]) {
      const auto found = got[l].find(name);
      if (found == got[l].end()) continue;
      for (std::size_t k = 0; k < values.size() && k < found->second.size(); ++k) {
        const double a = found->second[k], b = values[k];
        if (std::isnan(a) && std::isnan(b)) continue;
        if (std::fabs(a - b) <= tolerance * std::max(1.0, std::fabs(b))) continue;
        char text[160];
        std::snprintf(text, sizeof text, "lane %zu (round %zu) %s[%zu] is %.9g for %.9g", l % 4, l / 4, name.c_str(), k,
                      a, b);
        return text;
      }
    }
  return {};
}

}  // namespace corpuse2e
