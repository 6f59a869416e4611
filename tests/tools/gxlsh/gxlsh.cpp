#include "tests/tools/gxlsh/gxlsh.h"

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <set>

#include "platform/d3d9_api.h"
#include "platform/src/d3d9/shader_tokens.h"
#include "platform/win_kernel.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/interp.h"
#include "tests/support/shader/token_file.h"
#include "tests/tools/gxlsh/asm_command.h"
#include "tests/tools/gxlsh/compile_command.h"
#include "tests/tools/gxlsh/parse_command.h"
#include "tests/tools/gxlsh/pp_command.h"

namespace nura::gxlsh {
namespace ps = platform::shader;
namespace {

using Args = std::vector<std::string>;
using Words = std::vector<std::uint32_t>;

struct Command {
  const char* name;
  const char* usage;
  int (*run)(const Args& args, std::ostream& out, std::ostream& err);
};

constexpr int kOk = 0, kRejected = 1, kUsage = 2;

bool Load(const std::string& path, Words* words, std::ostream& err) {
  std::string error;
  if (shtok::ReadTokenFile(path, words, &error)) return true;
  err << "gxlsh: " << error << "\n";
  return false;
}

int Dis(const Args& args, std::ostream& out, std::ostream& err) {
  Words words;
  if (!Load(args[0], &words, err)) return kUsage;
  std::string text, error;
  if (!shtok::Disassemble(words.data(), words.size(), &text, &error)) {
    err << args[0] << ": " << error << "\n";
    return kRejected;
  }
  out << text;
  return kOk;
}

struct Report {
  std::ostream* out;
  int messages;
};

HRESULT OnValidatorMessage(const char* file, int line, DWORD type, DWORD number, const char* text, void* context) {
  auto* report = static_cast<Report*>(context);
  *report->out << file << "(" << line << "): " << (type == 2 ? "error" : "warning") << " X" << 5000 + number << ": "
               << text << "\n";
  ++report->messages;
  return S_OK;
}

// Validates through "d3d9.dll"'s export, fed one token group per line as the
// shader tools feed it: the version, each instruction or comment, the end.
int Validate(const Args& args, std::ostream& out, std::ostream& err) {
  Words words;
  if (!Load(args[0], &words, err)) return kUsage;
  HMODULE d3d9 = GetModuleHandleA("d3d9.dll");
  if (!d3d9) d3d9 = LoadLibraryA("d3d9.dll");
  auto create = d3d9 ? reinterpret_cast<PFN_Direct3DShaderValidatorCreate9>(
                           GetProcAddress(d3d9, "Direct3DShaderValidatorCreate9"))
                     : nullptr;
  ShaderValidator9* validator = create ? create() : nullptr;
  if (!validator) {
    err << "gxlsh: d3d9.dll has no shader validator\n";
    return kUsage;
  }
  Report report{&out, 0};
  validator->Begin(&OnValidatorMessage, &report, 0);
  int line = 1;
  auto feed = [&](std::size_t from, std::size_t to) {
    validator->Instruction(args[0].c_str(), line++, words.data() + from, static_cast<DWORD>(to - from));
  };
  std::size_t pos = 0;
  ps::Version v;
  if (!words.empty()) {
    feed(0, 1);
    pos = 1;
    if (ps::ParseVersion(words[0], &v)) {
      for (;;) {
        const ps::Item item = ps::ReadItem(words.data(), words.size(), pos, v);
        if (item.kind == ps::ItemKind::kError || item.kind == ps::ItemKind::kIncomplete) break;
        feed(pos, item.next);
        pos = item.next;
      }
    }
  }
  if (pos < words.size()) feed(pos, words.size());
  const HRESULT hr = validator->End();
  validator->Release();
  out << args[0] << ": " << (SUCCEEDED(hr) ? "valid" : "invalid") << "\n";
  return SUCCEEDED(hr) ? kOk : kRejected;
}

// "1,2.5,-3" -> up to four numbers, the rest 0.
bool ParseNumbers(const std::string& text, float out[4]) {
  const char* p = text.c_str();
  for (int i = 0; i < 4; ++i) out[i] = 0;
  for (int i = 0; i < 4; ++i) {
    char* end;
    out[i] = std::strtof(p, &end);
    if (end == p) return false;
    if (*end == '\0') return true;
    if (*end != ',') return false;
    p = end + 1;
  }
  return false;
}

std::string Number(float f) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
  return buf;
}

// Applies one NAME[@LANE]=VALUES argument.
bool Assign(const std::string& arg, shtok::Interpreter& interp, std::vector<shtok::Lane>& lanes) {
  const std::size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  std::string name = arg.substr(0, eq);
  float f[4];
  if (!ParseNumbers(arg.substr(eq + 1), f)) return false;
  int laneOnly = -1;
  if (const std::size_t at = name.find('@'); at != std::string::npos) {
    laneOnly = std::atoi(name.c_str() + at + 1);
    name.resize(at);
    if (laneOnly < 0 || laneOnly >= static_cast<int>(lanes.size())) return false;
  }
  const shtok::Float4 value(f[0], f[1], f[2], f[3]);
  auto perLane = [&](auto set) {
    for (int l = 0; l < static_cast<int>(lanes.size()); ++l)
      if (laneOnly < 0 || laneOnly == l) set(lanes[l]);
  };
  if (name == "vpos") return perLane([&](shtok::Lane& l) { l.vPos = value; }), true;
  if (name == "vface") return perLane([&](shtok::Lane& l) { l.vFace = f[0]; }), true;
  const char kind = name[0];
  char* end;
  const long n = std::strtol(name.c_str() + 1, &end, 10);
  if (name.size() < 2 || *end || n < 0) return false;
  switch (kind) {
    case 'v': if (n >= 16) return false; perLane([&](shtok::Lane& l) { l.v[n] = value; }); return true;
    case 't': if (n >= 8) return false; perLane([&](shtok::Lane& l) { l.t[n] = value; }); return true;
    case 'c': interp.SetFloat(static_cast<int>(n), value); return laneOnly < 0;
    case 'i':
      interp.SetInt(static_cast<int>(n), static_cast<int>(f[0]), static_cast<int>(f[1]), static_cast<int>(f[2]),
                    static_cast<int>(f[3]));
      return laneOnly < 0;
    case 'b': interp.SetBool(static_cast<int>(n), f[0] != 0); return laneOnly < 0;
    default: return false;
  }
}

int Run(const Args& args, std::ostream& out, std::ostream& err) {
  Words words;
  if (!Load(args[0], &words, err)) return kUsage;
  shtok::Interpreter interp;
  std::string error;
  if (!interp.Load(words.data(), words.size(), &error)) {
    err << args[0] << ": " << error << "\n";
    return kRejected;
  }
  int count = 1;
  for (std::size_t i = 1; i < args.size(); ++i)
    if (args[i] == "quad") count = 4;
  std::vector<shtok::Lane> lanes(static_cast<std::size_t>(count));
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "quad") continue;
    if (args[i].rfind("budget=", 0) == 0) {
      interp.SetBudget(std::strtoull(args[i].c_str() + 7, nullptr, 10));
    } else if (!Assign(args[i], interp, lanes)) {
      err << "gxlsh: bad argument '" << args[i] << "'\n";
      return kUsage;
    }
  }
  // Lookups return the coordinates, so results show what was sampled.
  interp.SetSampler([](const shtok::SampleRequest& r) { return shtok::Float4(r.coord[0], r.coord[1], r.coord[2], 1); });
  if (!interp.Run(lanes.data(), count, &error)) {
    err << args[0] << ": " << error << "\n";
    return kRejected;
  }
  // The output registers the program writes, in register order.
  std::set<std::pair<int, std::uint32_t>> outputs;
  const ps::Version& v = interp.version();
  for (std::size_t pos = 1;;) {
    const ps::Item item = ps::ReadItem(words.data(), words.size(), pos, v);
    if (item.kind != ps::ItemKind::kInstruction && item.kind != ps::ItemKind::kComment) break;
    const int type = ps::RegisterType(item.instr.dst.token);
    if (item.kind == ps::ItemKind::kInstruction && item.instr.hasDst && item.instr.Op() != ps::kDcl &&
        (type == ps::kRastOut || type == ps::kAttrOut || type == ps::kTexCrdOut || type == ps::kColorOut ||
         type == ps::kDepthOut))
      outputs.insert({type, ps::RegisterNumber(item.instr.dst.token)});
    pos = item.next;
  }
  for (int l = 0; l < count; ++l) {
    const shtok::Lane& lane = lanes[l];
    const std::string prefix = count > 1 ? "lane " + std::to_string(l) + ": " : "";
    if (lane.killed) out << prefix << "killed\n";
    // ps_1_x has no colour output register: r0 is the colour.
    if (v.Ps1x()) {
      const shtok::Float4& r0 = lane.oC[0];
      out << prefix << "r0 = " << Number(r0[0]) << ", " << Number(r0[1]) << ", " << Number(r0[2]) << ", "
          << Number(r0[3]) << "\n";
    }
    for (const auto& [type, number] : outputs) {
      out << prefix << ps::RegisterText(type, number, v) << " = ";
      if (type == ps::kDepthOut) {
        out << Number(lane.oDepth) << "\n";
        continue;
      }
      const shtok::Float4* rast[3] = {&lane.oPos, &lane.oFog, &lane.oPts};
      const shtok::Float4& value = type == ps::kRastOut   ? *rast[number < 3 ? number : 0]
                                   : type == ps::kAttrOut ? lane.oD[number & 1]
                                   : type == ps::kColorOut ? lane.oC[number & 3]
                                                           : lane.o[number & 15];
      out << Number(value[0]) << ", " << Number(value[1]) << ", " << Number(value[2]) << ", " << Number(value[3])
          << "\n";
    }
  }
  return kOk;
}

const Command kCommands[] = {
    {"dis", "dis FILE", &Dis},
    {"validate", "validate FILE", &Validate},
    {"run", "run FILE [quad] [budget=N] [vN|tN|cN|iN|bN|vpos|vface[@LANE]=X[,Y,Z,W]]...", &Run},
    {"pp", "pp FILE [asm|hlsl] [-DNAME[=TEXT]]...", &PreprocessCommand},
    {"asm", "asm FILE [novalidate] [-DNAME[=TEXT]]...", &AssembleCommand},
    {"parse", "parse FILE [-DNAME[=TEXT]]...", &ParseCommand},
    {"compile", "compile -T PROFILE -E ENTRY FILE [novalidate] [noopt] [-DNAME[=TEXT]]...", &CompileCommand},
};

int Usage(std::ostream& err) {
  err << "usage:\n";
  for (const Command& c : kCommands) err << "  gxlsh " << c.usage << "\n";
  return kUsage;
}

}  // namespace

int Main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() < 2) return Usage(err);
  for (const Command& c : kCommands)
    if (args[0] == c.name) return c.run(Args(args.begin() + 1, args.end()), out, err);
  err << "gxlsh: unknown command '" << args[0] << "'\n";
  return Usage(err);
}

}  // namespace nura::gxlsh
