// The issue's two dead loop nests (entry main): a vertex function whose
// outputs are constants around a uniform loop around a constant while around
// a constant for, refused at vs_2_a past the work bound while every loop was
// lowered; and a pixel function returning a constant around a uniform loop
// around two constant loops, refused at ps_3_0 and ps_3_sw in 0.4 to 0.5 s.
// Read by their tests and their benchmark.
#pragma once

namespace shadertest {

// Both outputs are constants, so the loop nest around them (a uniform loop
// around a constant while around a constant for) is dead.
inline constexpr char kDeadVertexNest[] = R"(
float n0;
float4 ua[4];

float3 f0(float4 p0, float4 p1, float p2, out float3 q0)
{
    q0 = cross((float3(p2, p2, p2) / 0.5), float3(-2.05, 0.5, 0.1));
    return float3(0.5, 0.5, 0.5);
}

void main(float4 itc2 : TEXCOORD2, out float4 opos : POSITION, out float4 otc : TEXCOORD0)
{
    float4 v2 = float4(3.0, -2.067712, 1.39, 0.9);
    for (int i3 = 0; i3 < n0; i3++)
    {
        float4 v11 = float4(0.5, 0.5, 0.5, 0.5);
        float w12 = 0;
        while (w12 < 4.0)
        {
            for (int i13 = 0; i13 < 3; i13++)
            {
                v2 *= float4(-2.0, -2.0, -1.01, 0.04);
                float2 v14 = float2(0.5, 0.5);
                v2 -= min(((ua[i13] * 1.0) + float4(0.5, 0.5, 0.5, 0.5)), float4(0.5, 0.5, 0.5, 0.5));
                v2 = float4(0.5, ((float3)(-itc2.x)));
            }
            if ((float)(2.0 <= v2.z) >= 0.3)
            {
                f0(((0.5 < 0.5) ? float4(0.5, 0.5, 0.5, 0.5) : (itc2 - 0.5)), pow((abs(sin(float4(float3(1.6, 0.4814967, -1.0), v2.x))) + 0.5), sin(float4(float3(-0.82, 0.53, -1.9), (float)i3))), clamp(frac(n0), (-1.44), (-0.87)), v2.xwz);
                float3 v15 = ((float3(0.5, 0.5, 0.5) / ((ua[0]).zxy * (ua[0]).zxy + 0.5)) + (float3(0.1, 0.65, 0.125) - v11.xyz));
            }
            v2 *= sin(ua[1]);
            w12 += 1;
        }
    }
    opos = float4(0.5, 0.5, 0.5, 0.5);
    otc = float4(0.5, 0.5, 0.5, 0.5);
}
)";

// A pixel function returning a constant around a dead nest of a uniform
// loop and two constant loops (one of which writes an input).
inline constexpr char kDeadPixelNest[] = R"(
float4 u1;
float n0;
float4 ua[4];

float4 main(float4 icol : COLOR0) : COLOR0
{
    for (int i1 = 0; i1 < n0; i1++)
    {
        float3 v2 = float3(float2(0.5, 0.5), (((ua[1]).w < 0.62) ? cos((i1 * 0.5)) : (abs((ua[0]).z) + 2.0)));
        float v3 = ((i1 * 0.5) + (-((i1 * 0.5) + 0.5)));
        for (int i4 = 0; i4 < 3; i4++)
        {
            icol.z -= min(0.5, float(i1));
            float2 v5 = (((ua[2 - i4]).x * 0.5) - (((ua[i4 + 1]).zwx).yy - 0.04));
            v3 = (float)(0.5 < ((i1 * 0.5) - 1.0));
            for (int i6 = 0; i6 < 4; i6++)
            {
                v5.y *= saturate(((((0.5 > v5.y) ? 0.5 : (0.5 + u1.w)) * ((float(i4) <= -0.0) ? ((0.5 < (ua[i4]).z) ? (float)i1 : (ua[i4 + 1]).y) : lerp(0.5, 0.5, saturate(v5.y)))) + saturate((v3.xx).x)));
                v2 *= float3(0.5, 0.5, 0.5);
                v2 = (-(step((ua[2 - i4]).wxz, float3(0.5, 0.5, 0.5)) - float3(0.5, 0.5, 0.5)));
            }
        }
    }
    return float4(0.5, 0.5, 0.5, 0.5);
}
)";

// A dead nest of a uniform loop around two constant loops that call
// functions, one with an inout argument: vs_2_0 can neither keep the
// uniform loop nor end its unrolling (X3511).
inline constexpr char kDeadNestWithCalls[] =
    "float4 ua[4];\n"
    "float n0;\n"
    "float f1(float3 p0, float2 p1, inout float4 q0) { return (pow(abs(ua[0]) + 0.5, float4(0.9, -2.65, 0.0, 1.01))).y; }\n"
    "float3 f0(float4 p0) { return float3(0.5, 0.5, 0.5); }\n"
    "void main(float4 itc3 : TEXCOORD3, out float4 opos : POSITION, out float4 otc : TEXCOORD0) {\n"
    "  float4 v8 = float4(0.5, 0.5, 0.5, 0.5);\n"
    "  for (int i9 = 0; i9 < n0; i9++)\n"
    "    for (int i14 = 0; i14 < 5; i14++)\n"
    "      for (int i15 = 0; i15 <= 4; i15++) {\n"
    "        f1(float3(0.5, 0.5, 0.5), float2(0.5, 0.5), v8);\n"
    "        float3 v16 = f0(sin(float4(0.5, (itc3.z >= 0.27) ? float3(0.5, 0.5, 0.5) : float3(0.5, 0.5, 0.5)) + 0.5));\n"
    "      }\n"
    "  opos = float4(0.5, 0.5, 0.5, 0.5);\n"
    "  otc = v8;\n"
    "}\n";

// A pixel function returning its input after a dead nest seven deep of
// constant, float-counter, `n0 - i`, one-pass, while and empty-range loops
// around writes of a local array.
inline constexpr char kDeepFloatCounterNest[] = R"(
float n0;

float4 main(float4 itc0 : TEXCOORD0, float4 icol1 : COLOR1) : COLOR0
{
    float v6 = icol1.y;
    for (int i7 = 0; i7 < 2; i7++)
    {
        for (int i10 = 0; i10 < n0; i10++)
        {
            for (int i13 = 0; i13 <= 1; i13++)
            {
                icol1 = float4(0.5, 0.5, 0.5, 0.5);
            }
        }
    }
    float4 a15[4] = { float4(0.0, 0.0, 0.0, 0.0), float4(0.0, 0.0, 0.0, 0.0), float4(0.0, 0.0, 0.0, 0.0), float4(0.0, 0.0, 0.0, 0.0) };
    for (int i16 = 0; i16 < 4; i16++)
    {
        a15[i16] = a15[i16];
    }
    for (int i22 = 0; i22 < 3; i22++)
    {
        for (float i23 = 0.0; i23 < 4; i23 += 0.5)
        {
            float v24 = 0.5;
            for (float i25 = 0.0; i25 < n0 - i22; i25 += 1.0)
            {
                for (int i26 = 0; i26 < 1; i26++)
                {
                    int k27 = 0;
                    while (k27 < 1)
                    {
                        for (float i28 = 0.0; i28 < k27 * k27; i28 += 1.0)
                        {
                            float3 v29 = float3(0.5, 0.5, 0.5);
                            v24 = 0.5;
                            v29.z = (a15[i26]).w;
                        }
                        k27++;
                    }
                }
                a15[i22] = float4(0.5, 0.5, 0.5, v24);
            }
        }
    }
    return itc0;
}
)";

}  // namespace shadertest
