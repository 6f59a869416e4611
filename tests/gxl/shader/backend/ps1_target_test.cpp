// The pixel shader 1.x target's compile flow on HLSL sources: semantics and
// output checks, the size limit of ps_1_1-1_3, the move that makes COLOR0
// the register r0, the row of the compile driver, and the ps_1_4 partition
// search driven by a stand-in for the phase rules and checked against a
// brute-force scorer.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "../fail_alloc.h"
#include "gxl/shader/compiler/target_choice.h"
#include "ps1_fixture.h"

namespace {

using namespace gxl::shader;
using ps1test::Ps1Run;

struct SemanticCase {
  const char* name;
  const char* source;
  int minor;
  const char* message;  // a line of the log, "" for none
  int times;            // how often it is logged
  bool placed;          // the compile reaches placement
};

TEST(GxlPs1Target, SemanticsAndOutputChecks) {
  const SemanticCase cases[] = {
      {"diffuse", "float4 main(float4 d : diffuse) : COLOR { return d; }", 1,
       "warning X4705: input semantic 'diffuse' has been deprecated; use 'COLOR0' instead", 1, true},
      {"specular", "float4 main(float4 s : SPECULAR) : COLOR { return s; }", 3,
       "warning X4705: input semantic 'SPECULAR' has been deprecated; use 'COLOR1' instead", 1, true},
      {"texcoord past ps_1_1",
       "float4 main(float2 a : TEXCOORD4, float2 b : TEXCOORD6) : COLOR { return a.xyxy + "
       "b.xyxy; }",
       1, "error X4502: 'texcoord' reference exceeds valid range for this shader model (max: 4)", 1, false},
      {"TEXCOORD5 on ps_1_4", "float4 main(float2 c : TEXCOORD5) : COLOR { return c.xyxy; }", 4, "", 0, true},
      {"third colour", "float4 main(float4 c : COLOR2) : COLOR { return c; }", 2,
       "error X4502: invalid input semantic 'COLOR2'", 1, false},
      {"unknown input", "float4 main(float4 c : FOO) : COLOR { return c; }", 1,
       "error X4502: invalid input semantic 'FOO'", 1, false},
      {"void inputs, once", "float4 main(float4 p : POSITION, float f : FOG) : COLOR { return p * f; }", 1,
       "error X4502: invalid reference to input semantic 'POSITION'", 1, false},
      {"second colour output",
       "void main(float4 c : COLOR0, out float4 o : COLOR0, out float4 p : COLOR1) { o = c; "
       "p = c; }",
       1, "error X4502: invalid output semantic 'COLOR1'", 1, false},
      {"depth output", "void main(float4 c : COLOR0, out float4 o : COLOR, out float d : DEPTH) { o = c; d = c.x; }", 2,
       "error X4502: output semantic 'DEPTH' not yet implemented in ps_1_x", 1, false},
      {"COLOR0.rgb only", "float3 main(float4 c : COLOR0) : COLOR { return c.rgb; }", 1,
       "error X4530: pixel shader must minimally write all four components of COLOR0", 1, false},
  };
  for (const SemanticCase& c : cases) {
    SCOPED_TRACE(c.name);
    Ps1Run r(c.source, c.minor);
    if (*c.message) {
      EXPECT_EQ(r.Count(std::string(c.message) + "\n"), c.times) << r.log;
    }
    EXPECT_EQ(r.Placed(), c.placed) << r.log;
  }
}

// Inputs carry the 1.x semantic word: kind | index << 8; the deprecated
// names stand for colours.
TEST(GxlPs1Target, SemanticWordsOfInputs) {
  Ps1Run r(
      "float4 main(float4 d : diffuse, float4 s : specular, float2 t : TEXCOORD3) : COLOR { return d * s + "
      "t.xyxy; }",
      2);
  ASSERT_TRUE(r.Placed()) << r.log;
  std::vector<std::uint32_t> words;
  for (std::uint32_t i = 0; i < r.target->values.Count(); ++i)
    if (r.target->IsInputValue(i)) words.push_back(r.target->SemanticOf(i));
  for (const std::uint32_t expected :
       {Ps1SemanticWord(kPs1Color, 0), Ps1SemanticWord(kPs1Color, 1), Ps1SemanticWord(kPs1Texcoord, 3)})
    EXPECT_NE(std::find(words.begin(), words.end(), expected), words.end()) << std::hex << expected;
}

// ps_1_1 has four stages; ps_1_4 six.
TEST(GxlPs1Target, SamplerLimitPerModel) {
  const std::string five =
      "sampler a, b, c, d, e; float4 main(float2 u : TEXCOORD0) : COLOR { return tex2D(a, u) + "
      "tex2D(b, u) + tex2D(c, u) + tex2D(d, u) + tex2D(e, u); }";
  Ps1Run ps11(five, 1);
  EXPECT_TRUE(ps11.Logged("maximum number of samplers exceeded. ps_1_1 target can have a maximum of 4 samplers"))
      << ps11.log;
  Ps1Run ps14(five, 4);
  EXPECT_FALSE(ps14.Logged("maximum number of samplers")) << ps14.log;
  EXPECT_TRUE(ps14.Placed()) << ps14.log;
}

// Records the instructions that placement sees (the rules run after it).
class CountingRules : public Ps1Rules {
 public:
  explicit CountingRules(std::uint32_t* seen) : m_seen(seen) {}
  HRESULT EmulateSwizzles(PixelShader1Target& t) override {
    *m_seen = 0;
    for (std::uint32_t i = 0; i < t.instructions.Count(); ++i) *m_seen += t.Instruction(i) && t.Instruction(i)->word;
    return 1;
  }

 private:
  std::uint32_t* m_seen;
};

// More than 128 instructions on ps_1_1-1_3 is refused before placement.
TEST(GxlPs1Target, InstructionLimitOfPs12) {
  bool saw128 = false, saw129 = false;
  for (int n = 118; n <= 134; ++n) {
    std::string source = "float4 main(float4 c : COLOR0, float4 d : COLOR1) : COLOR { float4 x = c; ";
    for (int i = 0; i < n; ++i) source += i % 2 ? "x = x * d;" : "x = x + c;";
    source += " return x; }";
    std::uint32_t seen = 0;
    Ps1Run r(source, 2, std::make_unique<CountingRules>(&seen));
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < r.target->instructions.Count(); ++i)
      count += r.target->Instruction(i) && r.target->Instruction(i)->word;
    const bool refused = r.Logged("error X4500: program is order of magnitude too large to compile to ps_1_2\n");
    SCOPED_TRACE(n);
    if (refused) {
      EXPECT_GT(count, 128u);
      saw129 |= count == 129;
    } else {
      ASSERT_TRUE(r.Placed()) << r.log;
      EXPECT_LE(seen, 128u);
      saw128 |= seen == 128;
    }
  }
  EXPECT_TRUE(saw128);
  EXPECT_TRUE(saw129);
}

// The last move into COLOR0 vanishes: its producer writes r0.
TEST(GxlPs1Target, OutputMoveFoldsIntoItsProducer) {
  Ps1Run r("float4 main(float4 c : COLOR0, float4 d : COLOR1) : COLOR { return c * d; }", 1);
  ASSERT_TRUE(r.Placed()) << r.log;
  ASSERT_EQ(r.Dump(), "0:- 1:- 2:- 3:- mul nop");
  const PixelShader1Target& t = *r.target;
  const IrInstruction& mul = *t.Instruction(t.stageList[4]);
  for (std::uint32_t k = 0; k < mul.resultCount; ++k) {
    EXPECT_EQ(t.Value(mul.results[k])->reg, 0u);
    EXPECT_EQ(t.Value(mul.results[k])->bank, t.StandardBankIndex(StandardBank::Temporaries));
  }
}

TEST(GxlPs1Target, CompileDriverRow) {
  for (const DWORD version : {0xFFFF0101u, 0xFFFF0102u, 0xFFFF0103u, 0xFFFF0104u}) {
    std::uint32_t options = kOptionNoOptimisation | kOptionDebug;
    std::unique_ptr<ShaderTarget> target;
    ASSERT_EQ(ChooseTarget(version, false, &options, &target), TargetChoice::kMade);
    EXPECT_NE(dynamic_cast<PixelShader1Target*>(target.get()), nullptr);
    EXPECT_EQ(options, kOptionDebug);
  }
}

// A fragment needs its named registers, which 1.x code cannot carry: the
// target refuses, and fragment gathering reports the fragment.
TEST(GxlPs1Target, FragmentModeIsRefused) {
  std::uint32_t options = 0;
  std::unique_ptr<ShaderTarget> target;
  ASSERT_EQ(ChooseTarget(0xFFFF0101, true, &options, &target), TargetChoice::kMade);
  DataBuffer* code = reinterpret_cast<DataBuffer*>(&options);
  EXPECT_EQ(target->Compile(&code), E_FAIL);
  EXPECT_EQ(code, nullptr);
}

// --- The ps_1_4 partition search -------------------------------------------------------

// What the stand-in reports for one mask: whether the mask is feasible and
// fits, its texture slots and arithmetic entries per phase, and pairs of
// co-issued entries (counted once).
struct MaskResult {
  bool feasible = true, fits = true;
  std::uint32_t textures1 = 0, arithmetic1 = 0, pairs1 = 0, textures2 = 0, arithmetic2 = 0, pairs2 = 0;
};

// The score of a partition, written from the search's rule.
std::uint32_t BruteForceScore(const MaskResult& m) {
  const std::uint32_t a1 = m.arithmetic1 + m.pairs1, a2 = m.arithmetic2 + m.pairs2;
  std::uint32_t score = std::max(a1, 2 * m.textures1) + std::max(a2, 2 * m.textures2);
  if (m.textures1 + a1 > 0) score += 10;
  if (a1 > 8) score += 20;
  if (a2 > 8) score += 20;
  return score;
}

class PhaseStandIn : public Ps1Rules {
 public:
  std::vector<MaskResult> table;  // by mask; empty: every mask feasible and empty
  std::vector<std::uint32_t> trials, finals;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> scored;  // (mask, the target's score) of balanced trials
  bool grow = false;                                            // every balancing adds an instruction and a value

  HRESULT PreparePhases14(PixelShader1Target& t) override {
    m_plain = t.AddInstruction(IrWord(kOpAdd, 1), 2, 1);
    m_paired = t.AddInstruction(IrWord(kOpAdd, 1), 2, 1);
    if (m_plain == kNoIndex || m_paired == kNoIndex) return E_OUTOFMEMORY;
    PixelShader1Target::CoIssueMark(*t.Instruction(m_paired)) = 1;
    return 1;
  }
  HRESULT BuildPhaseLists14(PixelShader1Target& t, std::uint32_t mask, bool trial) override {
    (trial ? trials : finals).push_back(mask);
    m_mask = mask;
    const MaskResult m = Result(mask);
    if (!m.feasible) return 0;
    Fill(t.phaseOneList, m.textures1, m.arithmetic1, m.pairs1);
    Fill(t.stageList, m.textures2, m.arithmetic2, m.pairs2);
    return 1;
  }
  HRESULT BalancePhases14(PixelShader1Target& t) override {
    scored.emplace_back(m_mask, PixelShader1Target::ScorePartition(t.CountPartition()));
    if (grow && (t.AddInstruction(IrWord(kOpMove, 1), 1, 1) == kNoIndex ||
                 t.AddValue(t.StandardBankIndex(StandardBank::Temporaries), kNoIndex, 0, 0.0) == kNoIndex))
      return E_OUTOFMEMORY;
    return Result(m_mask).fits ? 0 : 1;
  }

 private:
  MaskResult Result(std::uint32_t mask) const { return table.empty() ? MaskResult{} : table.at(mask); }
  void Fill(Ps1List& list, std::uint32_t textures, std::uint32_t arithmetic, std::uint32_t pairs) const {
    list.Truncate(0);
    for (std::uint32_t k = 0; k < 6; ++k) list.Append(k < textures ? m_plain : kNoIndex);
    for (std::uint32_t a = 0; a < arithmetic; ++a) list.Append(m_plain);
    for (std::uint32_t p = 0; p < pairs; ++p) {
      list.Append(m_plain);
      list.Append(m_paired);
    }
  }
  std::uint32_t m_plain = kNoIndex, m_paired = kNoIndex, m_mask = 0;
};

// n texture loads: two samplers over the first texture coordinates, then a third.
std::string Loads(int n) {
  std::string source = "sampler a; sampler b; sampler c; float4 main(";
  for (int k = 0; k < 6; ++k)
    source += (k ? ", float2 u" : "float2 u") + std::to_string(k) + " : TEXCOORD" + std::to_string(k);
  source += ") : COLOR { float4 x = 0; ";
  for (int i = 0; i < n; ++i)
    source += std::string("x += tex2D(") + "abc"[i / 6] + ", u" + std::to_string(i % 6) + "); ";
  return source + "return x; }";
}

TEST(GxlPs1Target, PartitionSearchMatchesBruteForce) {
  std::mt19937 random(1401);
  for (int round = 0; round < 3; ++round) {
    auto standIn = std::make_unique<PhaseStandIn>();
    PhaseStandIn& s = *standIn;
    s.grow = true;
    s.table.resize(1024);
    for (MaskResult& m : s.table) {
      m.feasible = random() % 10 < 7 - 3 * (round == 2);
      m.fits = random() % 10 < 8;
      m.textures1 = random() % 7;
      m.arithmetic1 = random() % 13;
      m.pairs1 = random() % 4;
      m.textures2 = random() % 7;
      m.arithmetic2 = random() % 13;
      m.pairs2 = random() % 4;
      if (random() % 10 < 3) m.textures1 = m.arithmetic1 = m.pairs1 = 0;  // no phase one
    }
    std::uint32_t best = ~0u, winner = ~0u;
    for (std::uint32_t mask = 0; mask < 1024; ++mask) {
      const MaskResult& m = s.table[mask];
      if (m.feasible && m.fits && BruteForceScore(m) < best) {
        best = BruteForceScore(m);
        winner = mask;
      }
    }
    ASSERT_NE(winner, ~0u);
    Ps1Run r(Loads(10), 4, std::move(standIn));
    SCOPED_TRACE(round);
    ASSERT_TRUE(r.Placed()) << r.log;
    ASSERT_EQ(s.trials.size(), 1024u);
    for (std::uint32_t mask = 0; mask < 1024; ++mask) ASSERT_EQ(s.trials[mask], mask);
    ASSERT_EQ(s.finals, std::vector<std::uint32_t>{winner});
    // The lists the search counted score as the brute force does.
    ASSERT_GT(s.scored.size(), 300u);
    for (std::size_t i = 0; i + 1 < s.scored.size(); ++i)  // the last is the final build
      ASSERT_EQ(s.scored[i].second, BruteForceScore(s.table[s.scored[i].first])) << s.scored[i].first;
    // Every trial's additions were dropped; the final build's stay.
    EXPECT_EQ(r.target->instructions.Count(), r.target->instructionSnapshot.Size() + 1);
    EXPECT_EQ(r.target->values.Count(), r.target->valueSnapshot.Size() + 1);
  }
}

TEST(GxlPs1Target, PartitionSearchEdges) {
  {
    SCOPED_TRACE("no texture operation: one mask, no phase");
    auto standIn = std::make_unique<PhaseStandIn>();
    PhaseStandIn& s = *standIn;
    Ps1Run r("float4 main(float4 c : COLOR0) : COLOR { return c * c; }", 4, std::move(standIn));
    ASSERT_TRUE(r.Placed()) << r.log;
    EXPECT_EQ(s.trials, std::vector<std::uint32_t>{0});
    EXPECT_EQ(s.finals, std::vector<std::uint32_t>{0});
    EXPECT_EQ(r.target->phaseOneList.Count(), 0u);
  }
  {
    SCOPED_TRACE("a phase one of empty slots gives no phase; one with a load keeps it");
    for (const std::uint32_t textures : {0u, 1u}) {
      auto standIn = std::make_unique<PhaseStandIn>();
      standIn->table.assign(4, MaskResult{});
      for (MaskResult& m : standIn->table) m.textures1 = textures;
      Ps1Run r(Loads(2), 4, std::move(standIn));
      ASSERT_TRUE(r.Placed()) << r.log;
      EXPECT_EQ(r.target->phaseOneList.Count(), textures ? 6u : 0u);
    }
  }
  {
    SCOPED_TRACE("no mask fits");
    auto standIn = std::make_unique<PhaseStandIn>();
    standIn->table.assign(8, MaskResult{});
    for (MaskResult& m : standIn->table) m.fits = false;
    Ps1Run r(Loads(3), 4, std::move(standIn));
    EXPECT_EQ(r.Count("error X4500: program too complex to compile to ps_1_4\n"), 1) << r.log;
  }
  {
    SCOPED_TRACE("4,096 trials over wide instructions stay within the compile's pool");
    std::string source = Loads(12);
    std::string body;
    for (int i = 0; i < 24; ++i) body += "x = x.x >= 0.5 ? x.wzyx : x * 0.5; ";
    source.insert(source.rfind("return x;"), body);
    auto standIn = std::make_unique<PhaseStandIn>();
    PhaseStandIn& s = *standIn;
    std::uint64_t allocations = 0;
    Ps1Run r(
        source, 4, std::move(standIn), [] { shadertest::FailNthAllocation(0); },
        [&allocations] { allocations = shadertest::AllocationsCounted(); });
    EXPECT_EQ(s.trials.size(), 4096u);
    // Restoring a trial reuses what the program holds.
    EXPECT_LT(allocations, 4096u);
    std::uint32_t wide = 0;
    for (std::uint32_t i = 0; i < r.target->instructions.Count(); ++i)
      wide += r.target->Instruction(i) && r.target->Instruction(i)->argumentCount > IrInstruction::kInlineArguments;
    EXPECT_GE(wide, 12u);
    EXPECT_TRUE(r.Placed()) << r.log;
  }
  {
    SCOPED_TRACE("twelve loads are searched, thirteen refused");
    Ps1Run twelve(Loads(12), 4, std::make_unique<PhaseStandIn>());
    EXPECT_TRUE(twelve.Placed()) << twelve.log;
    Ps1Run thirteen(Loads(13), 4, std::make_unique<PhaseStandIn>());
    EXPECT_EQ(thirteen.Count("error X4500: shader too complex. Try reducing number of texture loads used\n"), 1)
        << thirteen.log;
  }
}

}  // namespace
