// Token streams laid by hand from the format's documentation, with the text
// each decodes to. All are valid shaders: the validator accepts every one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/shader/token_file.h"

namespace nura::shtok {

struct Golden {
  const char* name;
  const char* tokens;  // hex text
  const char* text;
};

inline const std::vector<Golden>& Goldens() {
  static const std::vector<Golden> goldens = {
      {"vs11_mov_opos", "FFFE0101 0000001F 80000000 900F0000 00000001 C00F0000 90E40000 0000FFFF",
       "vs_1_1\ndcl_position v0\nmov oPos, v0\n"},
      {"vs11_rcp_replicate", "FFFE0101 00000006 800F0000 A0FF0000 0000FFFF", "vs_1_1\nrcp r0, c0.w\n"},
      {"vs11_const_bank", "FFFE0101 00000001 800F0000 B0E40834 0000FFFF", "vs_1_1\nmov r0, c2100\n"},
      {"vs11_dcl_def",
       "FFFE0101 0000001F 80030005 900F0000 00000051 A00F0000 3F800000 3F000000 00000000 C0000000 0000FFFF",
       "vs_1_1\ndcl_texcoord3 v0\ndef c0, 1, 0.5, 0, -2\n"},
      {"ps20_dcl_t", "FFFF0200 0200001F 80000000 B0030000 0000FFFF", "ps_2_0\ndcl t0.xy\n"},
      {"vs11_matrix",
       "FFFE0101 0000001F 80000000 900F0000 00000014 C00F0000 90E40000 A0E40000 00000001 D00F0000 A0E40004 0000FFFF",
       "vs_1_1\ndcl_position v0\nm4x4 oPos, v0, c0\nmov oD0, c4\n"},
      {"vs11_relative",
       "FFFE0101 0000001F 80000000 900F0000 00000001 B0010000 90000000 00000001 C00F0000 A0E42002 0000FFFF",
       "vs_1_1\ndcl_position v0\nmov a0.x, v0.x\nmov oPos, c[a0.x + 2]\n"},
      {"vs20_mova_relative",
       "FFFE0200 0200001F 80000000 900F0000 0200002E B0010000 90000000 03000001 800F0000 A0E42002 B0000000 "
       "03000002 800F0001 80E40000 91E40000 02000001 C00F0000 80E40001 0000FFFF",
       "vs_2_0\ndcl_position v0\nmova a0.x, v0.x\nmov r0, c[a0.x + 2]\nadd r1, r0, -v0\nmov oPos, r1\n"},
      {"vs20_lit_dst_sincos",
       "FFFE0200 0200001F 80000000 900F0000 0200001F 80000003 900F0001 0200001F 80000005 900F0002 "
       "0200001F 80010005 900F0003 02000010 800F0000 90E40000 02000001 800F0003 90E40001 "
       "03000011 800F0001 80E40003 90E40002 "
       "04000025 80030002 90000003 A0E4000A A0E4000B 02000001 C00F0000 80E40000 02000001 E00F0000 80E40001 "
       "02000001 E00F0001 80E40002 0000FFFF",
       "vs_2_0\ndcl_position v0\ndcl_normal v1\ndcl_texcoord v2\ndcl_texcoord1 v3\nlit r0, v0\nmov r3, v1\n"
       "dst r1, r3, v2\n"
       "sincos r2.xy, v3.x, c10, c11\nmov oPos, r0\nmov oT0, r1\nmov oT1, r2\n"},
      {"ps11_coissue",
       "FFFF0101 00000042 B00F0000 00000005 80070000 B0E40000 94E40000 40000002 81080000 B0E40000 90E40000 "
       "0000FFFF",
       "ps_1_1\ntex t0\nmul r0.xyz, t0, v0_bx2\n+add_x2 r0.w, t0, v0\n"},
      {"ps14_phase",
       "FFFF0104 00000042 800F0000 B0E40000 00000040 80070001 B0E40001 0000FFFD 00000042 800F0002 89E40001 "
       "00000005 800F0000 80E40000 80E40002 0000FFFF",
       "ps_1_4\ntexld r0, t0\ntexcrd r1.xyz, t1\nphase\ntexld r2, r1_dz\nmul r0, r0, r2\n"},
      {"ps13_texture_rows",
       "FFFF0103 00000051 A00F0000 3F800000 3F000000 00000000 3E800000 00000042 B00F0000 00000049 B00F0001 "
       "B4E40000 00000049 B00F0002 B4E40000 0000004C B00F0003 B4E40000 A0E40000 00000001 800F0000 B0E40003 "
       "00000050 800F0001 80FF0000 B0E40000 A0E40000 00000005 80070000 80E40001 B0E40003 40000001 80080000 "
       "80FF0001 0000FFFF",
       "ps_1_3\ndef c0, 1, 0.5, 0, 0.25\ntex t0\ntexm3x3pad t1, t0_bx2\ntexm3x3pad t2, t0_bx2\n"
       "texm3x3spec t3, t0_bx2, c0\nmov r0, t3\ncnd r1, r0.w, t0, c0\nmul r0.xyz, r1, t3\n+mov r0.w, r1.w\n"},
      {"ps14_bem_phase",
       "FFFF0104 00000040 80030000 B0E40000 00000040 80070001 BAE40001 00000001 800F0005 A0E40000 00000059 "
       "80030002 80E40000 80E40001 0000FFFD 00000042 800F0003 89E40002 00000041 800F0003 00000057 800F0005 "
       "00000058 800F0000 82E40003 A0E40000 88E40003 0000FFFF",
       "ps_1_4\ntexcrd r0.xy, t0\ntexcrd r1.xyz, t1_dw\nmov r5, c0\nbem r2.xy, r0, r1\nphase\ntexld r3, r2_dz\n"
       "texkill r3\ntexdepth r5\ncmp r0, r3_bias, c0, -r3_x2\n"},
      {"ps20_texld",
       "FFFF0200 05000051 A00F0000 3F800000 00000000 3F000000 BF800000 0200001F 80000000 B0030000 "
       "0200001F 90000000 A00F0800 03000042 800F0000 B0E40000 A0E40800 03000005 801F0000 80E40000 A0E40000 "
       "02000001 800F0800 80E40000 0000FFFF",
       "ps_2_0\ndef c0, 1, 0, 0.5, -1\ndcl t0.xy\ndcl_2d s0\ntexld r0, t0, s0\nmul_sat r0, r0, c0\nmov oC0, r0\n"},
      {"vs30_loop_predicate",
       "FFFE0300 05000030 F00F0000 00000004 00000000 00000001 00000000 0200001F 80000000 900F0000 "
       "0200001F 80000000 E00F0000 02000001 800F0000 A0E40000 0200001B F0E40800 F0E40000 "
       "04000002 800F0000 80E40000 A0E42001 F0E40800 0000001D 0301005E B0011000 80000000 A0000000 "
       "13000001 800F0000 B0001000 A0E40000 02000001 E00F0000 80E40000 0000FFFF",
       "vs_3_0\ndefi i0, 4, 0, 1, 0\ndcl_position v0\ndcl_position o0\nmov r0, c0\nloop aL, i0\n"
       "add r0, r0, c[aL + 1]\nendloop\nsetp_gt p0.x, r0.x, c0.x\n(p0.x) mov r0, c0\nmov o0, r0\n"},
      {"ps30_texture_loads",
       "FFFF0300 0200001F 80000005 900F0000 0200001F 80010005 900F0001 0200001F A0000000 A00F0802 "
       "03010042 800F0000 90E40000 A0E40802 03020042 800F0001 90E40000 A0E40802 "
       "0300005F 800F0002 90E40000 A0E10802 0500005D 800F0003 90E40000 A0E40802 90E40001 91E40001 "
       "02000001 800F0800 80E40000 02000001 800F0801 80E40001 02000001 800F0802 80E40002 "
       "02000001 800F0803 80E40003 0000FFFF",
       "ps_3_0\ndcl_texcoord v0\ndcl_texcoord1 v1\ndcl_volume s2\ntexldp r0, v0, s2\ntexldb r1, v0, s2\n"
       "texldl r2, v0, s2.yxzw\ntexldd r3, v0, s2, v1, -v1\nmov oC0, r0\nmov oC1, r1\nmov oC2, r2\nmov oC3, r3\n"},
      {"ps30_flow",
       "FFFF0300 05000030 F00F0001 00000003 00000000 00000000 00000000 0200002F E00F0802 00000001 "
       "0200001F 80000005 90030000 0001FFFE 12345678 01000026 F0E40001 02040029 80000000 A0550000 "
       "0203002D 80000001 A0000003 0000002A 0000002B 01000060 BD551000 00000027 01000019 A0E41000 "
       "0200001A A0E41001 EDE40802 02000001 800F0800 80E40000 0000001C 0100001E A0E41000 0000001C "
       "0100001E A0E41001 0000001C 0000FFFF",
       "ps_3_0\ndefi i1, 3, 0, 0, 0\ndefb b2, true\ndcl_texcoord v0.xy\n// comment of 1 DWORD\nrep i1\n"
       "if_lt r0.x, c0.y\nbreak_ge r1.x, c3.x\nelse\nendif\nbreakp !p0.y\nendrep\ncall l0\ncallnz l1, !b2\n"
       "mov oC0, r0\nret\nlabel l0\nret\nlabel l1\nret\n"},
  };
  return goldens;
}

// The hex text of the golden with this name; empty when there is none.
inline const char* GoldenByName(const std::string& name) {
  for (const Golden& g : Goldens())
    if (name == g.name) return g.tokens;
  return "";
}

inline std::vector<std::uint32_t> Tokens(const char* hex) {
  std::vector<std::uint32_t> words;
  std::string error;
  ParseTokenText(hex, &words, &error);
  return words;
}

}  // namespace nura::shtok
