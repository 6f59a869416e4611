// A long block with branches whose scheduling search used to grow with the
// square of its length (ps_3_0, a mutation of the corpus's ntsc filter):
// it compiles and validates at ps_3_0, and the optimised code, whose
// search stops at the per-instruction bound, computes what the unoptimised
// code computes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "flow_lane.h"

namespace {

using nura::shtok::Float4;

const char* const kLongBlock = R"hlsl(
// ps_main
sampler vg;
struct PS_INPUT
{
float2 TexCoord:TEXCOORD0;
};
uniform float2 vbk;
uniform float2 vbl;
uniform float va=0.5f;
uniform float vc=0.5f;
uniform float ve=3.5795454f;
uniform float van=0.0f;
uniform float var=1.0f;
uniform float vaz=52.6f;
uniform float val=1.0f;
uniform float vby=6.0f;
uniform float vag=1.2f;
uniform float vav=0.6f;
uniform float vba=0.0f;
static const float PI=3.1415927f;
static const float vap=PI*2.0f;
static const float4 vbx=float4(0.299f,0.587f,0.114f,0.0f);
static const float4 vaf=float4(0.595716f,-0.274453f,-0.321263f,0.0f);
static const float4 vau=float4(0.211456f,-0.522591f,0.311135f,0.0f);
static const float3 vaw=float3(1.0f,0.956f,0.621f);
static const float3 vz=float3(1.0f,-0.272f,-0.647f);
static const float3 vb=float3(1.0f,-1.106f,1.703f);
static const float4 vao=float4(0.0f,0.25f,0.50f,0.75f);
static const float4 vam=float4(0.0f,1.0f,2.0f,3.0f);
static const int vay=96;
static const int vad=vay/2;
float4 vaa(float2 TexCoord)
{
float2 vbn=1.0f/vbk;
float2 vbm=vbk*vbl;
float2 vas=float2(var,0.0f)*vbn;
float2 C0=TexCoord+vas*vao.x;
float2 C1=TexCoord+vas*vao.y;
float2 C2=TexCoord+vas*vao.z;
float2 C3=TexCoord+vas*vao.w;
float4 Cx=float4(C0.x,C1.x,C2.x,C3.x);
float4 Cy=float4(C0.y,C1.y,C2.y,C3.y);
float4 vbo=tex2D(vg,C0);
float4 vbp=tex2D(vg,C1);
float4 vbq=tex2D(vg,C2);
float4 vbr=tex2D(vg,C3);
float4 vac=Cx/vbl.x;
float4 vbt=Cy/vbl.y;
float4 Y=float4(dot(vbo,vbx),dot(vbp,vbx),dot(vbq,vbx),dot(vbr,vbx));
float4 I=float4(dot(vbo,vaf),dot(vbp,vaf),dot(vbq,vaf),dot(vbr,vaf));
float4 Q=float4(dot(vbo,vau),dot(vbp,vau),dot(vbq,vau),dot(vbr,vau));
float W=vap*ve*vaz;
float vbv=W/PI;
float vab=(vc+vba)/vbv;
float vbu=(va*vbm.y)/vbv;
float4 T=vac+vab+vbt*vbu;
float4 TW=T*W;
float4 vf=Y+I*cos(TW)+Q*sin(TW);
return vf;
}
#define STEP(i){float n=i-vad;float4 n4=n+vam;float4 Cx=vak.TexCoord.x+vbn.x*(n4*0.25f);float4 vac=Cx/vbl.x;float4 C=vaa(float2(Cx.r,Cy.r));float4 T=vac+vab+vbt*vbu;float4 WT=W*T+van;float4 vbc=0.54f+0.46f*cos(vaq*n4);float4 vbh=vp*n4;float4 vbi=vs*n4;float4 vbj=vv*n4;float4 vbb=vj*n4;float4 vbd=vm*n4;float4 vbe=vbh!=0.0f?sin(vbh)/vbh:1.0f;float4 vbf=vbi!=0.0f?sin(vbi)/vbi:1.0f;float4 vbg=vbj!=0.0f?sin(vbj)/vbj:1.0f;float4 vaj=(vo*vbe-vr*vbf)+vu*vbg;float4 vah=vi*(vbb!=0.0f?sin(vbb)/vbb:1.0f);float4 vai=vl*(vbd!=0.0f?sin(vbd)/vbd:1.0f);float4 vy=vbc*vaj;float4 vw=vbc*vah;float4 vx=vbc*vai;vbw=vbw+C*vy;vae=vae+C*cos(WT)*vw;vat=vat+C*sin(WT)*vx;}
float4 ps_main(PS_INPUT vak):COLOR
{
float4 vd=tex2D(vg,vak.TexCoord);
float2 vbn=1.0f/vbk;
float2 vbm=vbk*vbl;
float vbs=vaz/(vbm.x*4.0f);
float vn=(ve-val)*vbs;
float vq=(ve+val)*vbs;
float vt=vby*vbs;
float vh=vag*vbs;
float vk=vav*vbs;
float vi=vh*2.0f;
float vl=vk*2.0f;
float vo=vn*2.0f;
float vr=vq*2.0f;
float vu=vt*2.0f;
float vj=vh*vap;
float vm=vk*vap;
float vp=vn*vap;
float vs=vq*vap;
float vv=vt*vap;
float vaq=vap/vay;
float W=vap*ve*vaz;
float vbv=W/PI;
float vab=(vc+vba)/vbv;
float vbu=(va*vbm.y)/vbv;
float4 vbw=0.0f;
float4 vae=0.0f;
float4 vat=0.0f;
float4 Cy=vak.TexCoord.y;
float4 vbt=Cy/vbl.y;
for(float i=0;i<vay;i+=24.0f){STEP(i+0.0f)STEP(i+4.0f)STEP(i+8.0f)STEP(i+12.0f)STEP(i+16.0f)STEP(i+20.0f)}
float3 vbz=float3(
(vbw.r+vbw.g+vbw.b+vbw.a),
(vae.r+vae.g+vae.b+vae.a)*2.0f,
(vat.r+vat.g+vat.b+vat.a)*2.0f);
float3 vax=float3(
dot(vbz,vaw),
dot(vbz,vz),
dot(vbz,vb));
return float4(vax,vd.a);
}
)hlsl";

// A texture that varies in every channel across the coordinates.
Float4 Texel(const nura::shtok::SampleRequest& r) {
  const float u = r.coord[0], v = r.coord[1];
  return Float4(0.5f + 0.5f * std::sin(7 * u + 3 * v), 0.5f + 0.25f * std::cos(5 * u - 2 * v), u * v, 0.75f);
}

TEST(GxlCompilerMend, SchedulerLongBlockCompilesAndKeepsItsValue) {
  const shadertest::CompiledHlsl optimised = shadertest::CompileHlsl(kLongBlock, "ps_main", "ps_3_0");
  ASSERT_EQ(optimised.hr, S_OK) << optimised.log;
  EXPECT_EQ(optimised.log.find("error"), std::string::npos) << optimised.log;
  const shadertest::CompiledHlsl plain = shadertest::CompileHlsl(kLongBlock, "ps_main", "ps_3_0", 0x4);
  ASSERT_EQ(plain.hr, S_OK) << plain.log;
  // Small carrier constants keep the sines' arguments within a few turns,
  // where a different order of the same arithmetic changes little.
  const shadertest::Uniforms uniforms = {{"vbk", {256, 240}}, {"vbl", {1, 1}}, {"vaz", {0.25}}, {"ve", {1.5}}};
  for (const Float4& at : {Float4(0.25f, 0.5f, 0, 0), Float4(0.625f, 0.125f, 0, 0), Float4(0.9f, 0.8f, 0, 0)}) {
    const shadertest::LaneInputs inputs = {{shadertest::In(shadertest::kTexCoord), at}};
    Float4 got, want;
    std::string error;
    ASSERT_TRUE(shadertest::RunLane(optimised, uniforms, inputs, {}, &got, &error, Texel)) << error;
    ASSERT_TRUE(shadertest::RunLane(plain, uniforms, inputs, {}, &want, &error, Texel)) << error;
    // The colour sums 96 small terms: a few units in the last place of each.
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(got[k], want[k], 1e-5 + 1e-4 * std::fabs(want[k])) << "component " << k << " at " << at[0] << ", "
                                                                       << at[1];
  }
}

}  // namespace
