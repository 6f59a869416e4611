// A long ps_3_0 block with branches (entry ps_main; a mutation of the
// corpus's ntsc filter) on which the scheduler's local search, unbounded per
// instruction, took 1.45 s against 0.04 s for the unoptimised compile. Read
// by its test and its benchmark.
#pragma once

namespace shadertest {

inline constexpr const char kSchedulerLongBlock[] = R"hlsl(
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

}  // namespace shadertest
