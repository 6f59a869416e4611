// Whole pixel shader 1.x compiles on a target the test keeps: the ps_1_4
// partition search gives the same code as a search pinned to its winner, and
// failing each allocation of a compile in turn fails it without a leak.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../fail_alloc.h"
#include "gxl/shader/backend/targets/ps1/ps1_standard_rules.h"
#include "ps1_fixture.h"

namespace {

using namespace gxl::shader;
using ps1test::Ps1Run;

// The target's own rules; with a pinned mask every other partition is
// infeasible. The mask of the final build is recorded.
class PinnedRules : public Ps1StandardRules {
 public:
  PinnedRules(std::uint32_t pinned, std::uint32_t* winner) : m_pinned(pinned), m_winner(winner) {}
  HRESULT BuildPhaseLists14(PixelShader1Target& t, std::uint32_t mask, bool trial) override {
    if (!trial) *m_winner = mask;
    if (m_pinned != kNoIndex && mask != m_pinned) return 0;
    return Ps1StandardRules::BuildPhaseLists14(t, mask, trial);
  }

 private:
  std::uint32_t m_pinned;
  std::uint32_t* m_winner;
};

std::vector<std::uint32_t> Tokens(const Ps1Run& r) {
  if (!r.code) return {};
  const auto* words = static_cast<const std::uint32_t*>(r.code->GetPointer());
  return std::vector<std::uint32_t>(words, words + r.code->GetSize() / 4);
}

TEST(GxlPs1EndToEnd, PinnedSearchGivesTheSameCode) {
  const std::string head =
      "sampler s0 : register(s0); sampler s1 : register(s1); sampler s2 : register(s2);\n"
      "float4 main(float2 u0 : TEXCOORD0, float2 u1 : TEXCOORD1, float4 c : COLOR0) : COLOR { ";
  const std::string bodies[] = {
      "return tex2D(s0, u0) * c; }",
      "return tex2D(s0, u0) * tex2D(s1, u1) + c; }",
      "float4 a = tex2D(s0, u0); return tex2D(s1, a.xy) * c + a.x; }",
      "float4 a = tex2D(s0, u0); float4 b = tex2D(s2, u1); return tex2D(s1, a.xy) * b + c * a.y; }",
  };
  int compared = 0;
  for (const std::string& body : bodies) {
    SCOPED_TRACE(body);
    std::uint32_t winner = kNoIndex, pinnedWinner = kNoIndex;
    Ps1Run full(head + body, 4, std::make_unique<PinnedRules>(kNoIndex, &winner));
    if (FAILED(full.hr)) {
      // Only a program no partition fits may fail, and it says so.
      EXPECT_TRUE(full.Logged("error X4500: program too complex to compile to ps_1_4")) << full.log;
      continue;
    }
    ASSERT_NE(winner, kNoIndex);
    Ps1Run pinned(head + body, 4, std::make_unique<PinnedRules>(winner, &pinnedWinner));
    ASSERT_EQ(pinned.hr, S_OK) << pinned.log;
    EXPECT_EQ(pinnedWinner, winner);
    EXPECT_EQ(Tokens(full), Tokens(pinned));
    EXPECT_GT(Tokens(full).size(), 2u);
    ++compared;
  }
  EXPECT_GE(compared, 3);
}

// Constants, a dp4 emulated over its own source, a co-issued pair and a
// sample: failing any allocation fails the compile, or (where the allocation
// only speeds a sort up) gives the same code; the leak checker sees
// everything freed.
TEST(GxlPs1EndToEnd, EveryAllocationFailureIsHandled) {
  const std::string source =
      "sampler s0 : register(s0); float4 k;\n"
      "float4 main(float2 u : TEXCOORD0, float4 c : COLOR0, float4 d : COLOR1) : COLOR { "
      "float4 x = tex2D(s0, u) * c; return float4(x.rgb * d.rgb + float3(0.5, 0.25, 0.125), dot(x, k)); }";
  std::uint64_t total = 0;
  std::vector<std::uint32_t> code;
  {
    Ps1Run r(
        source, 1, nullptr, [] { shadertest::FailNthAllocation(0); },
        [&total] { total = shadertest::AllocationsCounted(); });
    ASSERT_EQ(r.hr, S_OK) << r.log;
    ASSERT_EQ(r.log, "");
    code = Tokens(r);
  }
  ASSERT_GT(total, 10u);
  for (std::uint64_t n = 1; n <= total; ++n) {
    bool failed = false;
    Ps1Run r(
        source, 1, nullptr, [n] { shadertest::FailNthAllocation(n); },
        [&failed] {
          failed = shadertest::AllocationFailed();
          shadertest::FailNthAllocation(0);
        });
    EXPECT_TRUE(failed) << n;
    if (SUCCEEDED(r.hr)) {
      EXPECT_EQ(Tokens(r), code) << n;
    } else {
      EXPECT_TRUE(r.hr == E_OUTOFMEMORY || r.Logged("error X")) << n << " " << std::hex << r.hr;
    }
  }
}

}  // namespace
