// The corpus's vertex and pixel functions lower whole on targets of their
// profiles, and the lowered programs compute what the sources say.
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "lower_run.h"
#include "tests/support/shader/corpus.h"

namespace compilertest {
namespace {

struct Entry {
  const char* file;
  const char* before;  // the file whose text goes first (Allegro pairs its halves), or null
  const char* function;
  const char* profile;
};

// Every entry outside sdl/, with the profile its project compiles it for.
constexpr Entry kEntries[] = {
    {"allegro5/ex_shader_vertex.hlsl", nullptr, "vs_main", "vs_2_0"},
    {"allegro5/ex_shader_pixel.hlsl", "allegro5/ex_shader_vertex.hlsl", "ps_main", "ps_2_0"},
    {"allegro5/ex_shader_multitex_pixel.hlsl", "allegro5/ex_shader_vertex.hlsl", "ps_main", "ps_2_0"},
    {"allegro5/ex_prim_wrap_pixel.hlsl", "allegro5/ex_shader_vertex.hlsl", "ps_main", "ps_2_0"},
    {"allegro5/ex_prim_shader_vertex.hlsl", nullptr, "vs_main", "vs_2_0"},
    {"allegro5/ex_prim_shader_pixel.hlsl", "allegro5/ex_prim_shader_vertex.hlsl", "ps_main", "ps_2_0"},
    {"allegro5/ex_prim_high_vertex.hlsl", nullptr, "vs_main", "vs_2_0"},
    {"allegro5/ex_prim_high_pixel.hlsl", "allegro5/ex_prim_high_vertex.hlsl", "ps_main", "ps_2_0"},
    {"irrlicht/d3d9.hlsl", nullptr, "vertexMain", "vs_1_1"},
    {"irrlicht/d3d9.hlsl", nullptr, "pixelMain", "ps_1_1"},
    {"mame/primary.fx", nullptr, "vs_screen_main", "vs_2_0"},
    {"mame/primary.fx", nullptr, "ps_screen_main", "ps_2_0"},
    {"mame/primary.fx", nullptr, "vs_vector_buffer_main", "vs_2_0"},
    {"mame/primary.fx", nullptr, "ps_vector_buffer_main", "ps_2_0"},
    {"mame/primary.fx", nullptr, "vs_ui_main", "vs_2_0"},
    {"mame/primary.fx", nullptr, "ps_ui_main", "ps_2_0"},
    {"mame/phosphor.fx", nullptr, "vs_main", "vs_2_0"},
    {"mame/phosphor.fx", nullptr, "ps_main", "ps_2_0"},
    {"mame/chroma.fx", nullptr, "vs_main", "vs_2_0"},
    {"mame/chroma.fx", nullptr, "ps_main", "ps_2_0"},
    {"mame/ghosting.fx", nullptr, "vs_main", "vs_2_0"},
    {"mame/ghosting.fx", nullptr, "ps_main", "ps_2_0"},
    {"mame/focus.fx", nullptr, "vs_main", "vs_2_0"},
    {"mame/focus.fx", nullptr, "ps_main", "ps_2_0"},
    {"mame/vector.fx", nullptr, "vs_main", "vs_2_0"},
    {"mame/vector.fx", nullptr, "ps_main", "ps_2_0"},
    {"mame/bloom.fx", nullptr, "vs_main", "vs_3_0"},
    {"mame/bloom.fx", nullptr, "ps_main", "ps_3_0"},
    {"mame/ntsc.fx", nullptr, "vs_main", "vs_3_0"},
    {"mame/ntsc.fx", nullptr, "ps_main", "ps_3_0"},
    {"mame/distortion.fx", nullptr, "vs_main", "vs_3_0"},
    {"mame/distortion.fx", nullptr, "ps_main", "ps_3_0"},
    {"mame/post.fx", nullptr, "vs_main", "vs_3_0"},
    {"mame/post.fx", nullptr, "ps_main", "ps_3_0"},
};

struct Profile {
  const char* name;
  std::uint32_t version;
  ProfileLimits limits;
};

const Profile& ProfileOf(const std::string& name) {
  static const Profile kProfiles[] = {
      {"vs_1_1", 0xFFFE0101,
       [] {
         ProfileLimits l = TargetLimits(0x40 | 0x1000000, 0x40 | 0x300 | 0x2002, 0, 0, 0, 0);
         l.word15 = 10;
         return l;
       }()},
      {"vs_2_0", 0xFFFE0200, Vs20()},
      {"vs_3_0", 0xFFFE0300, Vs30()},
      {"ps_1_1", 0xFFFF0101, TargetLimits(0x36FF2C9E & ~0xD021u, 0x8, 0, 0, 0, 0)},
      {"ps_2_0", 0xFFFF0200, Ps20()},
      {"ps_3_0", 0xFFFF0300, Ps30()},
  };
  for (const Profile& p : kProfiles)
    if (name == p.name) return p;
  return kProfiles[0];
}

std::string CorpusRoot() {
  const std::vector<shadertest::CorpusFile> files = shadertest::CorpusFiles();
  if (files.empty()) return {};
  const std::string& any = files.front().path;
  const std::size_t at = any.rfind("/shaders/");
  return at == std::string::npos ? std::string() : any.substr(0, at + 9);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Random values for every input and uniform the program reads.
std::map<std::string, std::vector<double>> RandomInputs(const LowerRun& run, std::mt19937& random) {
  std::map<std::string, std::vector<double>> values;
  std::uniform_real_distribution<double> u(0.05, 0.95);
  for (std::uint32_t i = 0; i < run.program->values.Count(); ++i) {
    const IrValue* v = run.program->Value(i);
    const RegisterBank* bank = v ? run.program->BankOf(*v) : nullptr;
    const char* name = v ? DeclarationNameText(v->declaration) : nullptr;
    if (!bank || !name || !(bank->type & kBankInitialised) || (bank->type & kBankLiteral) || v->reg == kNoIndex)
      continue;
    std::vector<double>& x = values[name];
    if (x.size() <= v->variableComponent) x.resize(v->variableComponent + 1);
    x[v->variableComponent] = (bank->type & kBankBoolean) ? static_cast<double>(random() % 2) : u(random);
  }
  return values;
}

using Inputs = std::map<std::string, std::vector<double>>;
using Reference = std::vector<double> (*)(const Inputs&);

double Dot(const double* a, const double* b, int n) {
  double s = 0;
  for (int i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}
irkit::Texel Sample2D(std::uint32_t sampler, double u, double v) {
  const double p[3] = {u, v, 0};
  return irkit::ProceduralTexel(sampler, 2, p, 0);
}

// mame/chroma.fx ps_main: per channel, chromaticity to XYZ, then to sRGB.
std::vector<double> ChromaPixel(const Inputs& in) {
  const std::vector<double>& input = in.at("Input");  // Color, TexCoord, PrevCoord
  const irkit::Texel t = Sample2D(0, input[4], input[5]);
  const double cin[4] = {t.r, t.g, t.b, t.a};
  const double toRgb[3][3] = {{3.2406, -1.5372, -0.4986}, {-0.9689, 1.8758, 0.0415}, {0.0557, -0.2040, 1.0570}};
  const std::vector<double>* chroma[3] = {&in.at("ChromaA"), &in.at("ChromaB"), &in.at("ChromaC")};
  std::vector<double> out = {0, 0, 0, cin[3]};
  for (int i = 0; i < 3; ++i) {
    const double x = (*chroma[i])[0], y = (*chroma[i])[1];
    const double Y = in.at("YGain")[i] * cin[i];
    const double xyz[3] = {x * (Y / y), Y, (1.0 - x - y) * (Y / y)};
    for (int r = 0; r < 3; ++r) out[r] += Dot(toRgb[r], xyz, 3);
  }
  return out;
}

// mame/vector.fx ps_main: the colour faded by time and length.
std::vector<double> VectorPixel(const Inputs& in) {
  const std::vector<double>& input = in.at("Input");  // Color, TexCoord, LineInfo
  const std::vector<double>& time = in.at("TimeParams");
  const std::vector<double>& length = in.at("LengthParams");
  auto lerp = [](double a, double b, double s) { return a + s * (b - a); };
  const double timeModulate = lerp(1.0, time[0], time[1]);
  double lengthModulate = 1.0 - std::clamp(input[6] / length[2], 0.0, 1.0);
  const double minLength = 2.0 - std::clamp(input[6] - 1.0, 0.0, 2.0);
  lengthModulate = lerp(lengthModulate, 2.0, minLength * 0.5);
  lengthModulate = lerp(1.0, timeModulate * lengthModulate, length[1]);
  return {input[0] * lengthModulate, input[1] * lengthModulate, input[2] * lengthModulate, input[3]};
}

// irrlicht/d3d9.hlsl vertexMain: transform, per-vertex diffuse light.
std::vector<double> IrrlichtVertex(const Inputs& in) {
  auto m = [&](const char* name, int r, int c) { return in.at(name)[r * 4 + c]; };
  const std::vector<double>& position = in.at("vPosition");
  const std::vector<double>& n = in.at("vNormal");
  std::vector<double> out(10);
  double normal[3], world[3], light[3];
  for (int j = 0; j < 4; ++j)
    for (int k = 0; k < 4; ++k) out[j] += position[k] * m("mWorldViewProj", k, j);
  for (int j = 0; j < 3; ++j) {
    normal[j] = n[0] * m("mInvWorld", 0, j) + n[1] * m("mInvWorld", 1, j) + n[2] * m("mInvWorld", 2, j);
    world[j] = 0;
    for (int k = 0; k < 4; ++k) world[j] += m("mTransWorld", j, k) * position[k];
    light[j] = world[j] - in.at("mLightPos")[j];
  }
  const double nl = std::sqrt(Dot(normal, normal, 3)), ll = std::sqrt(Dot(light, light, 3));
  const double d = -Dot(light, normal, 3) / (nl * ll);
  for (int j = 0; j < 3; ++j) out[4 + j] = in.at("mLightColor")[j] * std::max(0.0, d);
  out[8] = in.at("texCoord")[0];
  out[9] = in.at("texCoord")[1];
  return out;
}

// irrlicht/d3d9.hlsl pixelMain: the diffuse colour times the texture, times 4.
std::vector<double> IrrlichtPixel(const Inputs& in) {
  const std::vector<double>& uv = in.at("TexCoord");
  const irkit::Texel t = Sample2D(0, uv[0], uv[1]);
  const double texel[4] = {t.r, t.g, t.b, t.a};
  std::vector<double> out(4);
  for (int i = 0; i < 4; ++i) out[i] = in.at("Diffuse")[i] * texel[i] * 4.0;
  return out;
}

// mame/ntsc.fx ps_main: 16 iterations of an NTSC decoding filter, each
// sampling the composite signal four times.
std::vector<double> NtscPixel(const Inputs& in) {
  const double pi = 3.1415927, pi2 = pi * 2.0;
  auto get = [&](const char* name, int i = 0) { return in.at(name)[i]; };
  const double uvX = get("Input", 0), uvY = get("Input", 1);
  const double dims[2] = {get("SourceDims"), get("SourceDims", 1)}, rect[2] = {get("SourceRect"), get("SourceRect", 1)};
  const double res[2] = {dims[0] * rect[0], dims[1] * rect[1]};
  const double W = pi2 * get("CCValue") * get("ScanTime"), woPi = W / pi;
  const double hOffset = (get("BValue") + get("SignalOffset")) / woPi, vScale = (get("AValue") * res[1]) / woPi;
  auto composite = [&](double x, double y) {
    const double offsets[4] = {0.0, 0.25, 0.5, 0.75};
    const double yDot[4] = {0.299, 0.587, 0.114, 0}, iDot[4] = {0.595716, -0.274453, -0.321263, 0};
    const double qDot[4] = {0.211456, -0.522591, 0.311135, 0};
    double c[4];
    for (int k = 0; k < 4; ++k) {
      const double cx = x + get("PValue") / dims[0] * offsets[k], cy = y;
      const irkit::Texel t = Sample2D(0, cx, cy);
      const double texel[4] = {t.r, t.g, t.b, t.a};
      const double T = cx / rect[0] + hOffset + cy / rect[1] * vScale;
      c[k] = Dot(texel, yDot, 4) + Dot(texel, iDot, 4) * std::cos(T * W) + Dot(texel, qDot, 4) * std::sin(T * W);
    }
    return std::vector<double>(c, c + 4);
  };
  const double perSample = get("ScanTime") / (res[0] * 4.0);
  const double fy1 = (get("CCValue") - get("NotchHalfWidth")) * perSample;
  const double fy2 = (get("CCValue") + get("NotchHalfWidth")) * perSample;
  const double fy3 = get("YFreqResponse") * perSample, fi = get("IFreqResponse") * perSample;
  const double fq = get("QFreqResponse") * perSample;
  auto sinc = [](double x) { return x != 0.0 ? std::sin(x) / x : 1.0; };
  double yAccum = 0, iAccum = 0, qAccum = 0;
  for (double i = 0; i < 64; i += 4) {
    const double n = i - 32;
    double cx[4], n4[4];
    for (int k = 0; k < 4; ++k) {
      n4[k] = n + k;
      cx[k] = uvX + 1.0 / dims[0] * (n4[k] * 0.25);
    }
    const std::vector<double> C = composite(cx[0], uvY);
    for (int k = 0; k < 4; ++k) {
      const double T = cx[k] / rect[0] + hOffset + uvY / rect[1] * vScale;
      const double wt = W * T + get("OValue");
      const double kernel = 0.54 + 0.46 * std::cos(pi2 / 64 * n4[k]);
      const double idealY =
          (fy1 * 2 * sinc(fy1 * pi2 * n4[k]) - fy2 * 2 * sinc(fy2 * pi2 * n4[k])) + fy3 * 2 * sinc(fy3 * pi2 * n4[k]);
      yAccum += C[k] * kernel * idealY;
      iAccum += C[k] * std::cos(wt) * kernel * fi * 2 * sinc(fi * pi2 * n4[k]);
      qAccum += C[k] * std::sin(wt) * kernel * fq * 2 * sinc(fq * pi2 * n4[k]);
    }
  }
  const double yiq[3] = {yAccum, iAccum * 2, qAccum * 2};
  const double r[3] = {1.0, 0.956, 0.621}, g[3] = {1.0, -0.272, -0.647}, b[3] = {1.0, -1.106, 1.703};
  return {Dot(yiq, r, 3), Dot(yiq, g, 3), Dot(yiq, b, 3), Sample2D(0, uvX, uvY).a};
}

struct Checked {
  Entry entry;
  Reference reference;
  double tolerance;
};
const Checked kChecked[] = {
    {{"mame/chroma.fx", nullptr, "ps_main", "ps_2_0"}, ChromaPixel, 1e-6},
    {{"mame/vector.fx", nullptr, "ps_main", "ps_2_0"}, VectorPixel, 1e-6},
    {{"irrlicht/d3d9.hlsl", nullptr, "vertexMain", "vs_1_1"}, IrrlichtVertex, 1e-6},
    {{"irrlicht/d3d9.hlsl", nullptr, "pixelMain", "ps_1_1"}, IrrlichtPixel, 1e-6},
    // Its angles reach a few hundred radians, which the reduction by single-
    // precision 2 pi carries to about 1e-5 each, summed over 64 samples.
    {{"mame/ntsc.fx", nullptr, "ps_main", "ps_3_0"}, NtscPixel, 1e-3},
};

// The lowered program against a reference written from the source, on 100
// random inputs; ntsc's loop is a flow-control loop, chroma's is unrolled.
TEST(GxlLowerCorpus, LoweredEntriesComputeWhatTheSourceSays) {
  const std::string root = CorpusRoot();
  if (root.empty()) return shadertest::CorpusMissing();
  std::mt19937 random(11);
  for (const Checked& c : kChecked) {
    const Profile& p = ProfileOf(c.entry.profile);
    LowerRun run(ReadFile(root + c.entry.file), c.entry.function, p.limits, 0, p.version);
    ASSERT_EQ(run.hr, S_OK) << c.entry.file << "\n" << run.log;
    for (int k = 0; k < 100; ++k) {
      const Inputs in = RandomInputs(run, random);
      const std::vector<double> got = run.Run(in), want = c.reference(in);
      ASSERT_EQ(got.size(), want.size()) << c.entry.file;
      for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_NEAR(got[i], want[i], c.tolerance * std::max(1.0, std::fabs(want[i])))
            << c.entry.file << " " << c.entry.function << " output " << i;
    }
  }
  // The loops took the forms their targets give them.
  const Profile& ps20 = ProfileOf("ps_2_0");
  const Profile& ps30 = ProfileOf("ps_3_0");
  LowerRun chroma(ReadFile(root + "mame/chroma.fx"), "ps_main", ps20.limits, 0, ps20.version);
  EXPECT_EQ(chroma.Count(kOpLoopBegin), 0u);
  EXPECT_EQ(chroma.Count(0x605), 1u);
  LowerRun ntsc(ReadFile(root + "mame/ntsc.fx"), "ps_main", ps30.limits, 0, ps30.version);
  EXPECT_EQ(ntsc.Count(kOpLoopBegin), 1u);
  EXPECT_EQ(ntsc.Count(0x605), 5u);
}

TEST(GxlLowerCorpus, EveryEntryLowersAndRuns) {
  const std::string root = CorpusRoot();
  if (root.empty()) return shadertest::CorpusMissing();
  std::mt19937 random(7);
  for (const Entry& e : kEntries) {
    std::string text = ReadFile(root + e.file);
    if (e.before) text = ReadFile(root + e.before) + "\n#line 1\n" + text;
    const Profile& p = ProfileOf(e.profile);
    LowerRun run(text, e.function, p.limits, 0, p.version);
    // An early return inside an if is the one construct the lowering refuses.
    if (std::string(e.file) == "mame/distortion.fx" && std::string(e.function) == "ps_main") {
      EXPECT_EQ(run.hr, E_NOTIMPL);
      EXPECT_TRUE(run.Logged("(285): error X3500: asymetric returns from if statements not yet implemented"))
          << run.log;
      continue;
    }
    EXPECT_EQ(run.hr, S_OK) << e.file << " " << e.function << "\n" << run.log;
    if (run.hr != S_OK) continue;
    for (int k = 0; k < 3; ++k) {
      const std::vector<double> out = run.Run(RandomInputs(run, random));
      EXPECT_FALSE(out.empty()) << e.file << " " << e.function;
      for (double x : out) EXPECT_TRUE(std::isfinite(x)) << e.file << " " << e.function;
    }
  }
}

}  // namespace
}  // namespace compilertest
