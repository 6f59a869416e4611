// The emission rules: programs that use each rule compile, pass the
// platform's validator, decode, and compute in the token kit's interpreter
// what C++ computes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "target_fixture.h"

namespace targettest {
namespace {

using nura::shtok::Float4;
using nura::shtok::Lane;
using shadertest::LogText;

constexpr float kInput[4] = {0.5f, -1.25f, 2.0f, 3.0f};
constexpr float kConstants[4][4] = {
    {1.5f, 2.0f, -0.5f, 0.25f}, {-1.0f, 0.75f, 3.0f, 2.5f}, {0.5f, 0.5f, -2.0f, 1.0f}, {4.0f, -3.0f, 1.25f, 0.0f}};

class GxlEmit : public TargetTest {
 public:
  // A vertex program over v0 (POSITION) and c0-c3 whose result goes to oPos.
  TestTarget& Vertex(TestTarget::Flavour flavour = kVs20, std::uint32_t options = 0) {
    TestTarget& t = Make(flavour, options);
    v0 = t.Reg(StandardBank::Inputs, 0);
    t.SetSemantic(v0, "POSITION");
    for (std::uint32_t r = 0; r < 4; ++r) c[r] = t.Reg(StandardBank::FloatConstants, r);
    return t;
  }
  // Moves `values` into the first components of oPos.
  void Output(TestTarget& t, const Values& values) {
    const char* letters[] = {"x", "xy", "xyz", "xyzw"};
    const Values out = t.Reg(StandardBank::Outputs, 0, letters[values.size() - 1]);
    t.SetSemantic(out, "POSITION");
    t.Put(kOpMove, static_cast<std::uint32_t>(values.size()), values, out);
  }
  // Runs one vertex of the code: v0 and c0-c3 as above, and what `setup` adds.
  Lane RunVertex(const Code& code, const std::function<void(nura::shtok::Interpreter&)>& setup = {}) {
    nura::shtok::Interpreter interp;
    std::string error;
    Lane lane;
    EXPECT_TRUE(interp.Load(code.data(), code.size(), &error)) << error << "\n" << Text(code);
    for (int r = 0; r < 4; ++r)
      interp.SetFloat(r, Float4(kConstants[r][0], kConstants[r][1], kConstants[r][2], kConstants[r][3]));
    if (setup) setup(interp);
    lane.v[0] = Float4(kInput[0], kInput[1], kInput[2], kInput[3]);
    EXPECT_TRUE(interp.Run(&lane, 1, &error)) << error << "\n" << Text(code);
    // vs_3_0 writes the position to o0.
    if (target->versionToken == kVs30) lane.oPos = lane.o[0];
    return lane;
  }
  static void ExpectNear(const Float4& got, std::initializer_list<float> want, const std::string& what) {
    int i = 0;
    for (float w : want) {
      EXPECT_NEAR(got[i], w, 1e-5f * (1 + std::fabs(w))) << what << " component " << i;
      ++i;
    }
  }
  static int Count(const std::string& text, const std::string& word) {
    int n = 0;
    for (std::size_t at = 0; (at = text.find(word, at)) != std::string::npos; at += word.size()) ++n;
    return n;
  }
  Values Sub(const Values& v, std::uint32_t n) { return Values(v.begin(), v.begin() + n); }
  // A copy of four components in temporary register `reg`.
  Values Temporary(std::uint32_t reg, const Values& from) {
    const Values r = target->Reg(StandardBank::Temporaries, reg);
    target->Put(kOpMove, 4, from, r);
    return r;
  }

  Values v0, c[4];
};

float Dot(const float* a, const float* b, int n) {
  float s = 0;
  for (int i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

TEST_F(GxlEmit, DotProductsByWidth) {
  struct Row {
    std::uint32_t n;
    const char* instructions;
  };
  for (const Row& row : {Row{1, "mul"}, Row{2, "mul add"}, Row{3, "dp3"}, Row{4, "dp4"}}) {
    TestTarget& t = Vertex();
    const Values r = t.Reg(StandardBank::Temporaries, 1, "x");
    t.Put(kOpDot, row.n, Concat(Sub(v0, row.n), Sub(c[0], row.n)), r);
    Output(t, r);
    const Code code = MustCompile();
    const std::string text = Text(code);
    std::string names;
    for (const char* op : {"mul", "add", "dp3", "dp4"})
      if (text.find(std::string("\n") + op + " ") != std::string::npos)
        names += (names.empty() ? "" : " ") + std::string(op);
    EXPECT_EQ(names, row.instructions) << text;
    ExpectNear(RunVertex(code).oPos, {Dot(kInput, kConstants[0], row.n)}, text);
  }
}

// Scalar operations: one instruction per run of the same source component,
// and a scratch register where a write would clobber a later read.
TEST_F(GxlEmit, ScalarRunsAndHazards) {
  struct Row {
    const char* what;
    std::function<Values(TestTarget&, const Values&)> build;  // given r0 = v0, the result values
    int instructions;
    std::vector<float> want;
  };
  const float x = kInput[0], y = kInput[1], z = kInput[2];
  const Row rows[] = {
      {"rcp r0.xy from r0.yx crosses",
       [](TestTarget& t, const Values& r0) {
         const Values out = t.Reg(StandardBank::Temporaries, 0, "xy");
         t.Put(kOpReciprocal, 2, {r0[1], r0[0]}, out);
         return out;
       },
       3,
       {1 / y, 1 / x}},
      {"rcp r1.xy from one replicated r0.z",
       [](TestTarget& t, const Values& r0) {
         const Values out = t.Reg(StandardBank::Temporaries, 1, "xy");
         t.Put(kOpReciprocal, 1, {r0[2]}, out);
         return out;
       },
       1,
       {1 / z, 1 / z}},
      {"rsq r1.xyz from r0.xxy: two runs",
       [](TestTarget& t, const Values& r0) {
         const Values out = t.Reg(StandardBank::Temporaries, 1, "xyz");
         t.Put(kOpRsq, 3, {r0[2], r0[2], r0[3]}, out);
         return out;
       },
       2,
       {1 / std::sqrt(z), 1 / std::sqrt(z), 1 / std::sqrt(kInput[3])}},
      {"exp r0.yz from r0.zy crosses",
       [](TestTarget& t, const Values& r0) {
         const Values out = t.Reg(StandardBank::Temporaries, 0, "yz");
         t.Put(kOpExp2, 2, {r0[2], r0[1]}, out);
         return out;
       },
       3,
       {std::exp2(z), std::exp2(y)}},
  };
  for (const Row& row : rows) {
    TestTarget& t = Vertex();
    const Values r0 = t.Reg(StandardBank::Temporaries, 0);
    t.Put(kOpMove, 4, v0, r0);
    const Values out = row.build(t, r0);
    Output(t, out);
    const Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_EQ(Count(text, "\nrcp ") + Count(text, "\nrsq ") + Count(text, "\nexp ") + Count(text, "\nmov "),
              row.instructions + 2)
        << row.what << "\n"
        << text;
    const Lane lane = RunVertex(code);
    for (std::size_t i = 0; i < row.want.size(); ++i)
      EXPECT_NEAR(lane.oPos[static_cast<int>(i)], row.want[i], 1e-5) << row.what << " " << i << "\n" << text;
  }
}

TEST_F(GxlEmit, MatrixMacros) {
  struct Row {
    std::uint32_t group, n, rows;
    const char* name;
  };
  for (const Row& row : {Row{0x707, 4, 4, "m4x4"}, Row{0x706, 4, 3, "m4x3"}, Row{0x707, 3, 4, "m3x4"},
                         Row{0x706, 3, 3, "m3x3"}, Row{0x705, 3, 2, "m3x2"}}) {
    TestTarget& t = Vertex();
    Values arguments = Sub(v0, row.n);
    for (std::uint32_t r = 0; r < row.rows; ++r) arguments = Concat(arguments, Sub(c[r], row.n));
    const Values result = t.Reg(StandardBank::Temporaries, 1, std::string("xyzw").substr(0, row.rows).c_str());
    t.Put(row.group, row.n, arguments, result);
    Output(t, result);
    const Code code = MustCompile();
    EXPECT_EQ(Count(Text(code), std::string("\n") + row.name + " r1"), 1) << Text(code);
    const Lane lane = RunVertex(code);
    for (std::uint32_t r = 0; r < row.rows; ++r)
      EXPECT_NEAR(lane.oPos[static_cast<int>(r)], Dot(kInput, kConstants[r], static_cast<int>(row.n)), 1e-5)
          << row.name << " row " << r;
  }
}

// sincos writes only the components that are read; before 3.0 with the two
// constant registers, from 3.0 with its one source.
TEST_F(GxlEmit, SinCosWritesWhatIsRead) {
  struct Row {
    TestTarget::Flavour flavour;
    bool readCos, readSin;
    const char* instruction;
  };
  for (const Row& row :
       {Row{kVs20, false, true, "sincos r2.y, v0.x, c4, c5"}, Row{kVs20, true, true, "sincos r2.xy, v0.x, c4, c5"},
        Row{kVs30, true, false, "sincos r2.x, v0.x"}, Row{kVs30, false, false, ""}}) {
    TestTarget& t = Vertex(row.flavour);
    t.sinCosConstants = true;
    const Values r2 = t.Reg(StandardBank::Temporaries, 2, "xy");
    t.Put(kOpSinCos, 2, {v0[0], v0[0]}, r2);
    Values read;
    if (row.readCos) read.push_back(r2[0]);
    if (row.readSin) read.push_back(r2[1]);
    if (!read.empty()) Output(t, read);
    const Code code = MustCompile();
    const std::string text = Text(code);
    if (!*row.instruction) {
      EXPECT_EQ(text.find("sincos"), std::string::npos) << text;
      continue;
    }
    EXPECT_NE(text.find(std::string("\n") + row.instruction + "\n"), std::string::npos) << text;
    const Lane lane = RunVertex(code);
    int at = 0;
    if (row.readCos) {
      EXPECT_NEAR(lane.oPos[at++], std::cos(kInput[0]), 1e-5);
    }
    if (row.readSin) {
      EXPECT_NEAR(lane.oPos[at], std::sin(kInput[0]), 1e-5);
    }
  }
}

// Negation goes through the modifier table; a source whose modifier has no
// negated form is negated through a copy.
TEST_F(GxlEmit, NegationOfModifiedSources) {
  struct Row {
    std::uint32_t binding;
    float (*want)(float);
  };
  const Row rows[] = {{0, [](float a) { return -a; }},
                      {0x80000, [](float a) { return a; }},
                      {0x100000, [](float a) { return -std::fabs(a); }},
                      {0x180000, [](float a) { return std::fabs(a); }}};
  for (const Row& row : rows) {
    TestTarget& t = Vertex(kVs30);
    const Values r0 = t.Reg(StandardBank::Temporaries, 0);
    t.Put(kOpMove, 4, v0, r0);
    const Values source = t.Reg(StandardBank::Temporaries, 0);
    for (std::uint32_t v : source) t.Value(v)->binding = row.binding;
    const Values r1 = t.Reg(StandardBank::Temporaries, 1);
    t.Put(kOpNegate, 4, source, r1);
    Output(t, r1);
    const Code code = MustCompile();
    const Lane lane = RunVertex(code);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(lane.oPos[i], row.want(kInput[i]), 1e-6) << row.binding << Text(code);
  }
  // The pixel 1.x modifiers and their negations, as tokens (no validation:
  // vertex shaders take none of them).
  struct Pair {
    std::uint32_t binding;
    DWORD negated;
  };
  for (const Pair& pair : {Pair{0x20000, 0x3}, Pair{0xA0000, 0x2}, Pair{0x60000, 0x5}, Pair{0xE0000, 0x4},
                           Pair{0x40000, 0x8}, Pair{0xC0000, 0x7}}) {
    TestTarget& t = Vertex(kVs20, kOptionNoValidation);
    const Values source = t.Reg(StandardBank::Temporaries, 0);
    for (std::uint32_t v : source) t.Value(v)->binding = pair.binding;
    t.Put(kOpNegate, 4, source, t.Reg(StandardBank::Temporaries, 1));
    const Code body = Body(MustCompile());
    ASSERT_EQ(body.size(), 6u);
    EXPECT_EQ(body[5], 0x80E40000u | pair.negated << 24) << std::hex << pair.binding;
  }
  // Complement has no negated form: copied, then negated.
  TestTarget& t = Vertex(kVs20, kOptionNoValidation);
  const Values source = t.Reg(StandardBank::Temporaries, 0);
  for (std::uint32_t v : source) t.Value(v)->binding = 0x10000;
  const Values r1 = t.Reg(StandardBank::Temporaries, 1);
  t.Put(kOpNegate, 4, source, r1);
  Output(t, r1);
  const Code body = Body(MustCompile());
  // dcl; mov rS, 1-r0; mov r1, -rS; mov oPos, r1
  ASSERT_EQ(body.size(), 12u);
  const DWORD scratch = body[4] & 0x7FF;
  EXPECT_GT(scratch, 1u);
  EXPECT_EQ(body[4], 0x800F0000u | scratch);
  EXPECT_EQ(body[5], 0x86E40000u);
  EXPECT_EQ(body[7], 0x800F0001u);
  EXPECT_EQ(body[8], 0x81E40000u | scratch);
}

TEST_F(GxlEmit, ArithmeticAgainstTheReference) {
  struct Row {
    const char* what;
    std::uint32_t group, width;
    std::function<Values(GxlEmit&)> arguments;
    TestTarget::Flavour flavour;     // vs_3_0 reads any number of constant registers
    std::function<float(int)> want;  // per component
  };
  const float* in = kInput;
  const float(*k)[4] = kConstants;
  auto two = [](std::uint32_t a, std::uint32_t b) {
    return [a, b](GxlEmit& e) { return Concat(a == 4 ? e.v0 : e.c[a], b == 4 ? e.v0 : e.c[b]); };
  };
  // Vertex shaders read one constant register per instruction: the others
  // through temporaries.
  auto three = [](std::uint32_t a, std::uint32_t b, std::uint32_t d) {
    return [a, b, d](GxlEmit& e) {
      return Concat(Concat(a == 4 ? e.v0 : e.Temporary(2, e.c[a]), e.c[b]), e.Temporary(3, e.c[d]));
    };
  };
  const Row rows[] = {
      {"add", kOpAdd, 4, two(4, 0), kVs20, [&](int i) { return in[i] + k[0][i]; }},
      {"mul", kOpMultiply, 4, two(4, 1), kVs20, [&](int i) { return in[i] * k[1][i]; }},
      {"min", kOpMin, 4, two(4, 0), kVs20, [&](int i) { return std::min(in[i], k[0][i]); }},
      {"max", kOpMax, 4, two(4, 0), kVs20, [&](int i) { return std::max(in[i], k[0][i]); }},
      {"slt", kOpLess, 4, two(4, 0), kVs20, [&](int i) { return in[i] < k[0][i] ? 1.0f : 0.0f; }},
      {"sge", kOpGreaterEqual, 4, two(4, 0), kVs20, [&](int i) { return in[i] >= k[0][i] ? 1.0f : 0.0f; }},
      {"frc", kOpFraction, 4, [](GxlEmit& e) { return e.c[1]; }, kVs20,
       [&](int i) { return k[1][i] - std::floor(k[1][i]); }},
      {"abs", 0x700, 4, [](GxlEmit& e) { return e.v0; }, kVs20, [&](int i) { return std::fabs(in[i]); }},
      {"mad", 0x703, 4, three(4, 0, 1), kVs20, [&](int i) { return in[i] * k[0][i] + k[1][i]; }},
      {"mad negated", 0x704, 4, three(4, 0, 1), kVs20, [&](int i) { return k[1][i] - in[i] * k[0][i]; }},
      {"lrp", 0x701, 4, three(2, 0, 1), kVs20, [&](int i) { return k[2][i] * k[0][i] + (1 - k[2][i]) * k[1][i]; }},
      {"pow", 0x70D, 2,
       [](GxlEmit& e) {
         return Concat(e.Sub(e.c[0], 2), {e.Temporary(2, e.c[1])[2], e.Temporary(3, e.c[0])[3]});
       },
       kVs20, [&](int i) { return std::pow(k[0][i], i ? k[0][3] : k[1][2]); }},
      {"nrm", 0x702, 3, [](GxlEmit& e) { return e.Sub(e.v0, 3); }, kVs20,
       [&](int i) { return in[i] / std::sqrt(Dot(in, in, 3)); }},
  };
  for (const Row& row : rows) {
    TestTarget& t = Vertex(row.flavour);
    const std::string mask = std::string("xyzw").substr(0, row.width);
    const Values r = t.Reg(StandardBank::Temporaries, 1, mask.c_str());
    t.Put(row.group, row.width, row.arguments(*this), r);
    Output(t, r);
    const Code code = MustCompile();
    const Lane lane = RunVertex(code);
    for (std::uint32_t i = 0; i < row.width; ++i)
      EXPECT_NEAR(lane.oPos[static_cast<int>(i)], row.want(static_cast<int>(i)), 1e-5) << row.what << " " << i << "\n"
                                                                                       << Text(code);
  }
}

// nrm writes temporaries only: into an output it goes through a scratch register.
TEST_F(GxlEmit, NormalizeIntoAnOutput) {
  TestTarget& t = Vertex(kVs30);
  const Values out = t.Reg(StandardBank::Outputs, 0, "xyz");
  t.SetSemantic(out, "POSITION");
  t.Put(0x702, 3, Sub(v0, 3), out);
  const Values w = t.Reg(StandardBank::Outputs, 0, "w");
  t.SetSemantic(w, "POSITION");
  t.Put(kOpMove, 1, {c[0][0]}, w);
  const Code code = MustCompile();
  EXPECT_EQ(Count(Text(code), "\nnrm r"), 1) << Text(code);
  const Lane lane = RunVertex(code);
  const float length = std::sqrt(Dot(kInput, kInput, 3));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(lane.o[0][i], kInput[i] / length, 1e-6);
}

// A dot product with no free temporary register fails with its message,
// never leaving the instruction out.
TEST_F(GxlEmit, MissingScratchRegisterFails) {
  TestTarget& t = Vertex();
  t.profileLimits.temporaries = 2;
  const Values r0 = t.Reg(StandardBank::Temporaries, 0), r1 = t.Reg(StandardBank::Temporaries, 1);
  t.Put(kOpMove, 4, v0, r0);
  t.Put(kOpMove, 4, c[0], r1);
  const Values d = t.Reg(StandardBank::Temporaries, 0, "x");
  t.Put(kOpDot, 2, Concat(Sub(r0, 2), Sub(r1, 2)), d);
  Output(t, Concat(d, Values{t.Reg(StandardBank::Temporaries, 1, "y")}));
  Code code;
  EXPECT_EQ(Compile(&code), E_FAIL);
  EXPECT_EQ(LogText(log), "error X4521: program too complex: out of temporary registers\n");
}

TEST_F(GxlEmit, MovesIdentityAndAddress) {
  // An identity move writes nothing, unless optimisation is skipped and its
  // value is kept.
  for (std::uint32_t options : {0u, kOptionNoOptimisation}) {
    TestTarget& t = Vertex(kVs20, options);
    const Values r0 = t.Reg(StandardBank::Temporaries, 0);
    t.Put(kOpMove, 4, v0, r0);
    const Values same = t.Reg(StandardBank::Temporaries, 0);
    for (std::uint32_t v : same) t.Value(v)->flags |= kValueKeep;
    t.Put(kOpMove, 4, r0, same);
    Output(t, same);
    EXPECT_EQ(Count(Text(MustCompile()), "\nmov "), options ? 3 : 2);
  }
  // Into the address register: mova, and a relative read through it.
  TestTarget& t = Vertex();
  const Values a0 = t.Reg(StandardBank::Address, 0, "x");
  t.Put(kOpMove, 1, {c[3][2]}, a0);  // 1.25 rounds to 1
  const Values read = t.Reg(StandardBank::FloatConstants, 1);
  for (std::uint32_t v : read) t.Value(v)->relativeIndex = a0[0];
  Output(t, read);
  const Code code = MustCompile();
  EXPECT_NE(Text(code).find("\nmova a0.x, c3.z\n"), std::string::npos) << Text(code);
  ExpectNear(RunVertex(code).oPos, {kConstants[2][0], kConstants[2][1], kConstants[2][2], kConstants[2][3]},
             Text(code));
}

// Static and dynamic flow control through the interpreter.
TEST_F(GxlEmit, FlowControl) {
  const float x = kInput[0];
  // if b0 / else / endif: r1.x = b0 ? v0.x : c0.x
  for (bool b : {true, false}) {
    TestTarget& t = Vertex();
    const Values b0 = t.Reg(StandardBank::BoolConstants, 0, "x");
    const Values r1 = t.Reg(StandardBank::Temporaries, 1, "x");
    t.Put(0x730, 1, b0, {});
    t.Put(kOpMove, 1, {v0[0]}, r1);
    t.Put(0x731, 0, {}, {});
    t.Put(kOpMove, 1, {c[0][0]}, r1);
    t.Put(0x734, 0, {}, {});
    Output(t, r1);
    const Lane lane = RunVertex(MustCompile(), [&](nura::shtok::Interpreter& i) { i.SetBool(0, b); });
    EXPECT_EQ(lane.oPos[0], b ? x : kConstants[0][0]);
  }
  // rep i0 and loop aL, i0: r1.x += c1.y, i0.x times.
  for (std::uint32_t begin : {0x742u, 0x741u}) {
    TestTarget& t = Vertex();
    const Values i0 = t.Reg(StandardBank::IntConstants, 0, "x");
    const Values r1 = t.Reg(StandardBank::Temporaries, 1, "x");
    t.Put(kOpMove, 1, {v0[0]}, r1);
    t.Put(begin, 1, i0, {});
    t.Put(kOpAdd, 1, {r1[0], c[1][1]}, r1);
    t.Put(begin == 0x742 ? 0x74B : 0x74A, 0, {}, {});
    Output(t, r1);
    const Code code = MustCompile();
    EXPECT_NE(Text(code).find(begin == 0x742 ? "\nrep i0\n" : "\nloop aL, i0\n"), std::string::npos) << Text(code);
    const Lane lane = RunVertex(code, [](nura::shtok::Interpreter& i) { i.SetInt(0, 5, 0, 1, 0); });
    EXPECT_NEAR(lane.oPos[0], x + 5 * kConstants[1][1], 1e-5);
  }
  // vs_3_0: if_lt / else / endif, and a loop left by break_ge.
  TestTarget& t = Vertex(kVs30);
  const Values r1 = t.Reg(StandardBank::Temporaries, 1, "x");
  t.Put(0x73A, 1, {v0[0], c[0][0]}, {});
  t.Put(kOpMove, 1, {c[1][1]}, r1);
  t.Put(0x73D, 0, {}, {});
  t.Put(kOpMove, 1, {c[1][2]}, r1);
  t.Put(0x734, 0, {}, {});
  const Values i0 = t.Reg(StandardBank::IntConstants, 0, "x");
  t.Put(0x742, 1, i0, {});
  t.Put(0x747, 1, {r1[0], c[2][3]}, {});  // break when r1.x >= 1
  t.Put(kOpAdd, 1, {r1[0], c[2][0]}, r1);
  t.Put(0x74B, 0, {}, {});
  Output(t, r1);
  const Code code = MustCompile();
  EXPECT_NE(Text(code).find("\nif_lt v0.x, c0.x\n"), std::string::npos) << Text(code);
  const Lane lane = RunVertex(code, [](nura::shtok::Interpreter& i) { i.SetInt(0, 10, 0, 1, 0); });
  // 0.5 < 1.5: r1.x = 0.75, then += 0.5 until at least 1.
  EXPECT_NEAR(lane.oPos[0], 1.25f, 1e-6);
}

// setp and the predicated selection of one of two alternatives.
TEST_F(GxlEmit, PredicatedSelection) {
  for (std::uint32_t test : {0x736u, 0x10Fu}) {
    TestTarget& t = Vertex(kVs30);
    const Values p0 = t.Reg(StandardBank::Predicates, 0, "x");
    if (test == 0x736)
      t.Put(test, 1, {v0[0], c[0][0]}, p0);  // p0.x = v0.x < c0.x
    else
      t.Put(test, 1, {v0[3]}, p0);  // p0.x = v0.w != 0
    const Values yes = t.Reg(StandardBank::FloatConstants, 1), no = t.Reg(StandardBank::FloatConstants, 2);
    for (std::uint32_t v : yes) t.Value(v)->predicate = p0[0];
    for (std::uint32_t v : no) t.Value(v)->predicate = p0[0], t.Value(v)->predicateSense = 0;
    const Values r1 = t.Reg(StandardBank::Temporaries, 1);
    t.Put(0x207, 4, Concat(yes, no), r1);
    Output(t, r1);
    const Code code = MustCompile();
    const std::string text = Text(code);
    EXPECT_EQ(Count(text, "\n(p0.x) mov r1, c1\n") + Count(text, "\n(!p0.x) mov r1, c2\n"), 2) << text;
    const Lane lane = RunVertex(code);
    ExpectNear(lane.oPos, {kConstants[1][0], kConstants[1][1], kConstants[1][2], kConstants[1][3]}, text);
  }
}

// A pixel program over t0 (TEXCOORD0) and s0: sampling in its forms and clip.
TEST_F(GxlEmit, SamplingAndClip) {
  struct Row {
    std::uint32_t group, width;
    nura::shtok::SampleKind kind;
  };
  for (const Row& row :
       {Row{0x605, 2, nura::shtok::SampleKind::kImplicit}, Row{0x607, 4, nura::shtok::SampleKind::kProjected},
        Row{0x608, 4, nura::shtok::SampleKind::kBias}}) {
    TestTarget& t = Make(kPs20);
    const Values t0 = t.Reg(StandardBank::Inputs, 0, std::string("xyzw").substr(0, row.width).c_str());
    t.SetSemantic(t0, "TEXCOORD0");
    const std::uint32_t s0 = t.Reg(StandardBank::Samplers, 0, "x")[0];
    const Values r0 = t.Reg(StandardBank::Temporaries, 0);
    t.Put(row.group, row.width, Concat(Values(row.width, s0), t0), r0);
    const Values out = t.Reg(StandardBank::Outputs, 0);
    t.SetSemantic(out, "COLOR0");
    t.Put(kOpMove, 4, r0, out);
    const Code code = MustCompile();
    nura::shtok::Interpreter interp;
    std::string error;
    ASSERT_TRUE(interp.Load(code.data(), code.size(), &error)) << error << Text(code);
    nura::shtok::SampleKind seen{};
    interp.SetSampler([&](const nura::shtok::SampleRequest& r) {
      seen = r.kind;
      return Float4(r.coord[0], r.coord[1], 0.25f, static_cast<float>(r.sampler));
    });
    Lane lane;
    lane.t[0] = Float4(0.25f, 0.5f, 0.0f, 2.0f);
    ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
    EXPECT_EQ(seen, row.kind) << Text(code);
    const float w = row.kind == nura::shtok::SampleKind::kProjected ? 2.0f : 1.0f;
    ExpectNear(lane.oC[0], {0.25f / w, 0.5f / w, 0.25f, 0.0f}, Text(code));
  }
  // clip(t0) discards where a component is negative.
  for (float y : {0.5f, -0.5f}) {
    TestTarget& t = Make(kPs20);
    const Values t0 = t.Reg(StandardBank::Inputs, 0);
    t.SetSemantic(t0, "TEXCOORD0");
    t.Put(0x110, 4, t0, t.Reg(StandardBank::Clip, 0));
    const Values out = t.Reg(StandardBank::Outputs, 0);
    t.SetSemantic(out, "COLOR0");
    t.Put(kOpMove, 4, t0, out);
    const Code code = MustCompile();
    EXPECT_NE(Text(code).find("\ntexkill t0\n"), std::string::npos) << Text(code);
    nura::shtok::Interpreter interp;
    std::string error;
    ASSERT_TRUE(interp.Load(code.data(), code.size(), &error)) << error;
    Lane lane;
    lane.t[0] = Float4(1, y, 0, 1);
    ASSERT_TRUE(interp.Run(&lane, 1, &error)) << error;
    EXPECT_EQ(lane.killed, y < 0);
  }
}

TEST_F(GxlEmit, UnmappedAndMalformedOperations) {
  struct Row {
    TestTarget::Flavour flavour;
    std::function<void(GxlEmit&, TestTarget&)> build;
    HRESULT hr;
    const char* message;
  };
  const Row rows[] = {
      {kVs20,
       [](GxlEmit& e, TestTarget& t) {
         t.Put(0x300, 4, Concat(Concat(e.v0, e.c[0]), e.v0), t.Reg(StandardBank::Temporaries, 0));
       },
       E_NOTIMPL, "error X4532: cannot map expression to vertex shader instruction set\n"},
      {kPs20, [](GxlEmit& e, TestTarget& t) { t.Put(0x110, 3, e.Sub(e.v0, 3), t.Reg(StandardBank::Clip, 0)); }, E_FAIL,
       "error X4500: clip must be performed from a float4 vector for ps_2_0 models\n"},
      {kPs20, [](GxlEmit& e, TestTarget& t) { t.Put(0x110, 4, e.c[0], t.Reg(StandardBank::Clip, 0)); }, E_FAIL,
       "error X4500: clip cannot be performed from a constant or literal\n"},
      {kPs20,
       [](GxlEmit& e, TestTarget& t) {
         t.Put(0x736, 1, {e.c[0][0], e.c[0][1]}, t.Reg(StandardBank::Predicates, 0, "x"));
       },
       E_NOTIMPL, "error X4532: cannot map expression to pixel shader instruction set\n"},
  };
  for (const Row& row : rows) {
    log.Reset();
    TestTarget& t = Make(row.flavour);
    v0 = t.Reg(StandardBank::Inputs, 0);
    t.SetSemantic(v0, row.flavour == kPs20 ? "TEXCOORD0" : "POSITION");
    for (std::uint32_t r = 0; r < 4; ++r) c[r] = t.Reg(StandardBank::FloatConstants, r);
    row.build(*this, t);
    Code code;
    EXPECT_EQ(Compile(&code), row.hr);
    EXPECT_EQ(LogText(log), row.message);
  }
}

}  // namespace
}  // namespace targettest
