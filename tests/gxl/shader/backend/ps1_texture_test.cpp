// Texture placement of the pixel shader 1.x target on HLSL sources: which
// stage each texture operation takes, which texture-address instruction a
// dependent read becomes, and every message of placement and matching, read
// from the placed lists and the message log.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "../fail_alloc.h"
#include "ps1_fixture.h"

namespace {

using namespace gxl::shader;
using ps1test::Ps1Run;

// Samplers and inputs the sources share.
const std::string kTwo = "sampler s0; sampler s1; ";
const std::string kRows = "float4 main(float2 uv : TEXCOORD0, float3 t1 : TEXCOORD1, float3 t2 : TEXCOORD2";

struct Placement {
  const char* name;
  std::string source;
  int minor;
  const char* dump;  // stage slots, then the arithmetic
};

TEST(GxlPs1Texture, DependentReadsTakeTheirTextureAddressInstruction) {
  const Placement cases[] = {
      {"plain samples keep their coordinate's stage",
       "sampler a; sampler b; float4 main(float2 u : TEXCOORD0, "
       "float2 v : TEXCOORD2) : COLOR { return tex2D(a, u) * tex2D(b, v); }",
       1, "0:tex2D 1:- 2:tex2D 3:- mul nop"},
      {"(w, x) of an earlier sample",
       kTwo + "float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = tex2D(s0, uv); "
              "return tex2D(s1, a.wx); }",
       1, "0:tex2D 1:texreg2ar 2:- 3:- mov"},
      {"(y, z) of an earlier sample",
       kTwo + "float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = tex2D(s0, uv); "
              "return tex2D(s1, a.yz); }",
       1, "0:tex2D 1:texreg2gb 2:- 3:- mov"},
      {"next free stage after the source",
       kTwo + "float4 main(float2 uv : TEXCOORD1, float2 v : TEXCOORD2) : COLOR { "
              "float4 a = tex2D(s0, uv); return tex2D(s1, a.wx) * tex2D(s0, v); }",
       1, "0:- 1:tex2D 2:tex2D 3:texreg2ar mul nop"},
      {"xyz on ps_1_2",
       "sampler s0; samplerCUBE s1; float4 main(float2 uv : TEXCOORD0) : COLOR { "
       "float4 a = tex2D(s0, uv); return texCUBE(s1, a.xyz); }",
       2, "0:tex2D 1:texreg2rgb 2:- 3:- mov"},
      {"one row on ps_1_2",
       "sampler s0; sampler1D s1; float4 main(float2 uv : TEXCOORD0, float3 t1 : TEXCOORD1) "
       ": COLOR { float4 a = tex2D(s0, uv); return tex1D(s1, dot(a.xyz, t1)); }",
       2, "0:tex2D 1:texdp3tex 2:- 3:- mov"},
      {"two rows",
       kTwo + kRows +
           ") : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, float2(dot(a.xyz, t1), "
           "dot(a.xyz, t2))); }",
       1, "0:tex2D 1:texm3x2pad 2:texm3x2tex 3:- mov"},
      {"three rows",
       "sampler s0; sampler3D s1; " + kRows +
           ", float3 t3 : TEXCOORD3) : COLOR { float4 a = "
           "tex2D(s0, uv); return tex3D(s1, float3(dot(a.xyz, t1), dot(a.xyz, t2), dot(a.xyz, t3))); }",
       3, "0:tex2D 1:texm3x3pad 2:texm3x3pad 3:texm3x3tex mov"},
      {"texture coordinate read by arithmetic",
       "float4 main(float4 c : COLOR0, float2 t : TEXCOORD0) : COLOR { "
       "return c * t.x; }",
       2, "0:texcoord 1:- 2:- 3:- dp mul nop"},
      {"clip of a texture coordinate", "float4 main(float3 v : TEXCOORD2) : COLOR { clip(v); return 1; }", 1,
       "0:- 1:- 2:texkill 3:- mov nop"},
  };
  for (const Placement& c : cases) {
    SCOPED_TRACE(c.name);
    Ps1Run r(c.source, c.minor);
    EXPECT_TRUE(r.Placed()) << r.log;
    EXPECT_EQ(r.Dump(), c.dump);
  }
}

// The instruction a dependent read becomes reads its own stage's coordinate
// and the source stage's register, writes the sample's results and binds
// the sampler to its stage.
TEST(GxlPs1Texture, RegisterFormOperands) {
  Ps1Run r(kTwo + "float4 main(float2 uv : TEXCOORD2) : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, a.wx); }",
           1);
  ASSERT_TRUE(r.Placed()) << r.log;
  ASSERT_EQ(r.Dump(), "0:- 1:- 2:tex2D 3:texreg2ar mov");
  const PixelShader1Target& t = *r.target;
  const IrInstruction& reg = *t.Instruction(t.stageList[3]);
  ASSERT_EQ(reg.argumentCount, 4u);
  ASSERT_EQ(reg.resultCount, 4u);
  for (std::uint32_t a = 0; a < 4; ++a) {
    const std::uint32_t word = t.SemanticOf(reg.arguments[a]);
    EXPECT_EQ(Ps1KindOf(word), std::uint32_t{kPs1Texcoord});
    EXPECT_EQ(Ps1IndexOf(word), a < 2 ? 3u : 2u) << a;
    if (a >= 2) {
      EXPECT_EQ(t.Value(reg.arguments[a])->component, a - 2);
    }
  }
  // The move into the outputs reads the dependent sample's results.
  const IrInstruction& move = *t.Instruction(t.stageList[4]);
  for (std::uint32_t r4 = 0; r4 < 4; ++r4) EXPECT_EQ(move.arguments[r4], reg.results[r4]);
  EXPECT_EQ(r.SamplerStage(2), 2);
}

// w that repeats z, or copies it, drops out of the kill; an unrelated w fails.
TEST(GxlPs1Texture, ClipsOfThreeAndFourComponents) {
  struct Case {
    const char* body;
    bool placed;
  };
  const Case cases[] = {
      {"clip(v.xyzz); return 1;", true},
      {"float4 k = v.xyzz; clip(k); return 1;", true},
      {"clip(v); return 1;", true},
      {"clip(float4(v.xyz, v.x + v.y)); return 1;", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Ps1Run r(std::string("float4 main(float3 v : TEXCOORD1) : COLOR { ") + c.body + " }", 2);
    if (!c.placed) {
      EXPECT_TRUE(r.Logged("error X4544: Clip must be from a 3 vector in ps_1_2")) << r.log;
      continue;
    }
    ASSERT_TRUE(r.Placed()) << r.log;
    ASSERT_EQ(r.Dump(), "0:- 1:texkill 2:- 3:- mov nop");
    const IrInstruction& kill = *r.target->Instruction(r.target->stageList[1]);
    EXPECT_EQ(kill.Width(), 3u);
    EXPECT_EQ(kill.argumentCount, 3u);
  }
}

struct Refusal {
  const char* name;
  std::string source;
  int minor;
  const char* message;  // the whole message after the location
};

TEST(GxlPs1Texture, EveryPlacementMessage) {
  const std::string dep = kTwo + "float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = tex2D(s0, uv); ";
  const Refusal cases[] = {
      {"bias", "sampler s0; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2Dbias(s0, float4(uv, 0, 1)); }", 2,
       "error X4532: tex2Dbias is not supported on ps_1_2"},
      {"cube bias",
       "samplerCUBE s0; float4 main(float3 uv : TEXCOORD0) : COLOR { return texCUBEbias(s0, "
       "float4(uv, 1)); }",
       4, "error X4532: texCUBEbias is not supported on ps_1_4"},
      {"proj", "sampler s0; float4 main(float4 uv : TEXCOORD0) : COLOR { return tex2Dproj(s0, uv); }", 3,
       "error X4532: tex2Dproj is not supported on ps_1_3"},
      {"3D proj",
       "sampler3D s0; float4 main(float3 uv : TEXCOORD0) : COLOR { return tex3Dproj(s0, float4(uv, 1)); "
       "}",
       4, "error X4532: tex3Dproj is not supported on ps_1_4"},
      {"modified coordinate", "sampler s0; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, -uv); }", 1,
       "error X4532: dependent texture read not supported on ps_1_1"},
      {"gradient form", "sampler s0; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, uv, uv, uv); }", 2,
       "error X4532: cannot map expression to pixel shader instruction set"},
      {"w in general", "float4 main(float4 c : TEXCOORD0) : COLOR { return c.w; }", 1,
       "error X4512: cannot access texture coordinate w-component in a general way in ps_1_1"},
      {"eye w in general", "float4 main(float4 c : TEXCOORD1) : COLOR { return c.w; }", 1,
       "error X4512: cannot access w component from texcoord in general expression"},
      {"colour coordinate", "sampler s0; float4 main(float4 c : COLOR0) : COLOR { return tex2D(s0, c.xy); }", 1,
       "error X4513: texture loads or clips cannot be from inputs not marked TEXCOORD"},
      {"computed from colour",
       "sampler s0; float4 main(float4 c : COLOR0) : COLOR { return tex2D(s0, c.xy * c.zw); "
       "}",
       1, "error X4513: cannot perform dependent texture read which in any way is based on color inputs"},
      {"user stage",
       "sampler s0 : register(s2); float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, uv); "
       "}",
       1,
       "error X4515: cannot bind sampler to user specified stage. In ps_1_1, samplers must be bound to the "
       "same stage as their TEXCOORD"},
      {"array stage", "sampler s[2]; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s[1], uv); }", 3,
       "error X4515: cannot bind sampler to sampler array. In ps_1_3, samplers must be bound to the same stage as "
       "their TEXCOORD"},
      {"matrix user stage",
       "sampler s0; sampler s1 : register(s3); " + kRows +
           ") : COLOR { float4 a = tex2D(s0, "
           "uv); return tex2D(s1, float2(dot(a.xyz, t1), dot(a.xyz, t2))); }",
       1, "error X4515: cannot bind sampler to user specified stage, sampler must be bound to 2"},
      {"matrix array stage",
       "sampler s0; sampler s1[3]; " + kRows +
           ") : COLOR { float4 a = tex2D(s0, uv); "
           "return tex2D(s1[1], float2(dot(a.xyz, t1), dot(a.xyz, t2))); }",
       1, "error X4515: cannot bind sampler to sampler array, sampler must be bound to 2"},
      {"same texcoord", kTwo + "float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, uv) + tex2D(s1, uv); }",
       1, "error X4516: cannot read from same texcoord. In ps_1_1, each sampler must have a unique TEXCOORD"},
      {"user stage taken by another",
       "sampler a; sampler b : register(s0); float4 main(float2 u : TEXCOORD0, "
       "float2 v : TEXCOORD1) : COLOR { float4 t = tex2D(a, v); return tex2D(a, u) + tex2D(b, t.wx); }",
       1,
       "error X4517: conflicting user defined "
       "sampler bindings. If two samplers have the same user binding, they cannot both be used in the same shader"},
      {"array stage taken by another",
       "sampler a; sampler b[2]; float4 main(float2 uv : TEXCOORD0, float2 v : "
       "TEXCOORD1) : COLOR { float4 t = tex2D(a, uv); return tex2D(a, v) + tex2D(b[1], t.wx); }",
       1, "error X4517: conflicting sampler array bindings"},
      {"bound sampler twice",
       "sampler a; sampler b : register(s1); float4 main(float2 uv : TEXCOORD0, float2 v : "
       "TEXCOORD1) : COLOR { float4 t = tex2D(a, uv); return tex2D(b, v) + tex2D(b, t.yz); }",
       1,
       "error X4518: cannot perform texture lookup twice from a user bound or similar array access sampler in ps_1_1"},
      {"five stages",
       "sampler a; float2 k; float4 main(float2 u0 : TEXCOORD0, float2 u1 : TEXCOORD1, float2 u2 : "
       "TEXCOORD2, float2 u3 : TEXCOORD3) : COLOR { return tex2D(a, u0) + tex2D(a, u1) + tex2D(a, u2) + "
       "tex2D(a, u3) + tex2D(a, k); }",
       1, "error X4519: too many texture loads and reads from texcoords"},
      {"sampled and read", "sampler s0; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, uv) * uv.x; }", 1,
       "error X4520: can read from texcoord and use it for texlookup only in ps_1_4 and higher"},
      {"no stage after the source",
       kTwo + "float4 main(float2 uv : TEXCOORD3) : COLOR { float4 a = tex2D(s0, uv); "
              "return tex2D(s1, a.wx); }",
       1,
       "error X4523: shader cannot compile to a ps_1_1 shader because this model "
       "can't match all the dependent texture read(s) this shader requires"},
      {"unmatched read", "sampler s0; float2 k; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, k); }", 3,
       "error X4523: cannot map this dependent texture read to ps_1_3"},
      {"(x, y) is no register form", dep + "return tex2D(s1, a.xy); }", 2,
       "error X4523: cannot map this dependent texture read to ps_1_2"},
      {"row result read again",
       kTwo + kRows +
           ") : COLOR { float4 a = tex2D(s0, uv); float d = dot(a.xyz, t1); "
           "return tex2D(s1, float2(d, dot(a.xyz, t2))) + d; }",
       1, "error X4524: unable to match texm because computed texcoord is used in shader"},
      {"rows off their stages",
       kTwo +
           "float4 main(float2 uv : TEXCOORD0, float3 t2 : TEXCOORD2, float3 t3 : "
           "TEXCOORD3) : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, float2(dot(a.xyz, t2), dot(a.xyz, t3))); }",
       2,
       "error X4525: unable to match texm* because the source inputs are not in appropriate texture coordinates; "
       "see the ps_1_2 assembly reference"},
      {"negated row coordinate",
       kTwo + kRows +
           ") : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, "
           "float2(dot(a.xyz, -t1), dot(a.xyz, t2))); }",
       1, "error X4526: cannot match to texm* because texm* cannot have source modifiers on input texcoord"},
      {"negated row vector",
       kTwo + kRows +
           ") : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, "
           "float2(dot(-a.xyz, t1), dot(a.xyz, t2))); }",
       1, "error X4527: cannot match to texm* because texm* can only have bx2 modifier on input texload"},
      {"double dependent read", dep + "float4 b = tex2D(s1, a.wx); return tex2D(s0, b.wx); }", 1,
       "error X4534: cannot perform double dependent texture read in ps_1_x"},
      {"negated (w, x)", dep + "return tex2D(s1, -a.wx); }", 1,
       "error X4535: cannot match to texreg2ar or texreg2gb instruction because cannot have input modifiers"},
      {"negated xyz",
       "sampler s0; samplerCUBE s1; float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = "
       "tex2D(s0, uv); return texCUBE(s1, -a.xyz); }",
       2, "error X4535: cannot match to texreg2rgb instruction because can only have input modifier _bx2"},
      {"xyz on ps_1_1",
       "sampler s0; samplerCUBE s1; float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = "
       "tex2D(s0, uv); return texCUBE(s1, a.xyz); }",
       1, "error X4536: expression can only be map to texreg2rgb, but this instruction is not supported on 1_1"},
      {"unrelated clip w", "float4 main(float4 v : TEXCOORD0, float4 c : COLOR0) : COLOR { clip(c); return v; }", 1,
       "error X4544: Clip must be from a 3 vector in ps_1_1"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    Ps1Run r(c.source, c.minor);
    EXPECT_FALSE(SUCCEEDED(r.hr));
    EXPECT_TRUE(r.Logged(std::string(c.message) + "\n")) << r.log;
    EXPECT_EQ(r.Count("error X"), 1) << r.log;
  }
}

// A sample at a constant coordinate gets a move into the phase-one list; a
// full list is a size limit, reported as placement reports it.
TEST(GxlPs1Texture, ConstantCoordinateCopyPastTheListLimit) {
  Ps1Run r("sampler s0; float2 k; float4 main(float2 uv : TEXCOORD0) : COLOR { return tex2D(s0, k); }", 1);
  ASSERT_TRUE(r.Logged("error X4523: cannot map this dependent texture read to ps_1_1")) << r.log;
  PixelShader1Target& t = *r.target;
  ASSERT_TRUE(t.phaseOneList.Exists());
  ASSERT_EQ(t.phaseOneList.Count(), t.Stages() + 1);
  // Undo the copy: the sample reads the constant again.
  const IrInstruction& move = *t.Instruction(t.phaseOneList[t.Stages()]);
  IrInstruction* sample = nullptr;
  for (std::uint32_t k = 0; k < t.Stages(); ++k)
    if (IrInstruction* inst = t.Instruction(t.stageList[k])) sample = inst;
  ASSERT_NE(sample, nullptr);
  for (std::uint32_t j = 0; j < sample->Width(); ++j) sample->arguments[sample->Width() + j] = move.arguments[j];
  while (t.phaseOneList.Count() < Ps1List::kLimit) ASSERT_EQ(t.phaseOneList.Append(kNoIndex), S_OK);
  EXPECT_EQ(t.CopyConstantCoordinates(), E_FAIL);
  EXPECT_EQ(t.phaseOneList.Count(), Ps1List::kLimit);
  EXPECT_TRUE(shadertest::LogText(r.parse.pp.Log()).find("error X4514: program too big\n") != std::string::npos);
}

// Sources broken at random give messages, never a crash or a success that
// skipped a check; the sanitizers watch every run.
TEST(GxlPs1Texture, MutatedSourcesGiveMessagesOnly) {
  const std::string seeds[] = {
      kTwo + kRows +
          ") : COLOR { float4 a = tex2D(s0, uv); return tex2D(s1, float2(dot(a.xyz, t1), "
          "dot(a.xyz, t2))); }",
      kTwo +
          "float4 main(float2 uv : TEXCOORD0, float4 c : COLOR0) : COLOR { float4 a = tex2D(s0, uv); clip(a.xyzz); "
          "return tex2D(s1, a.wx) * c + a; }",
      "samplerCUBE s0; sampler s1; float4 main(float3 n : TEXCOORD0, float4 e : TEXCOORD1) : COLOR { float4 a = "
      "texCUBE(s0, n); return texCUBE(s0, a.xyz) * e.x; }",
  };
  const char alphabet[] = "xyzw0123.,;(){}+-*/ abcdstuvTEXCOORD";
  std::mt19937 random(22);
  int compiled = 0;
  for (int i = 0; i < 10000; ++i) {
    std::string text = seeds[i % 3];
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % text.size();
      switch (random() % 3) {
        case 0:
          text[at] = alphabet[random() % (sizeof alphabet - 1)];
          break;
        case 1:
          text.erase(at, 1 + random() % 4);
          break;
        default:
          text.insert(at, text.substr(random() % text.size(), 1 + random() % 6));
          break;
      }
      if (text.empty()) text = "x";
    }
    Ps1Run r(text, 1 + static_cast<std::uint32_t>(random() % 4));
    if (!r.entryFound) continue;  // nothing reached the target
    // Every failure says why.
    if (FAILED(r.hr)) {
      EXPECT_NE(r.log.find("error X"), std::string::npos) << text << "\n" << r.log;
    }
    compiled += r.Placed();
  }
  EXPECT_GT(compiled, 0);
}

// Failing each allocation of the target's compile in turn ends it with a
// failure; the leak checker sees everything freed.
TEST(GxlPs1Texture, EveryAllocationFailureIsReported) {
  const std::string source = kTwo +
                             "float4 main(float2 uv : TEXCOORD0) : COLOR { float4 a = tex2D(s0, uv); "
                             "return tex2D(s1, a.wx) + a; }";
  ps1test::ExpectEveryAllocationFailureFails(source, 1);
}

}  // namespace
