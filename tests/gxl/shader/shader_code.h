// Hand-laid shader token streams for the tests: tokens built from the public
// token format, and a constant-table comment block.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d9_types.h"

namespace shadertest {

constexpr DWORD Fcc(char a, char b, char c, char d) { return MAKEFOURCC(a, b, c, d); }
constexpr DWORD Comment(DWORD length) { return 0xFFFE | (length << 16); }
constexpr DWORD kEnd = 0x0000FFFF;

// An instruction token; length = the tokens that follow it (0 before version 2.0).
constexpr DWORD Op(DWORD opcode, DWORD length = 0) { return opcode | (length << 24); }
// Parameter tokens of a register type 0-31 and number.
constexpr DWORD Reg(DWORD type, DWORD number) {
  return 0x80000000u | (type & 7) << 28 | ((type >> 3) & 3) << 11 | number;
}
constexpr DWORD Dst(DWORD type, DWORD number, DWORD mask = 0xF) { return Reg(type, number) | mask << 16; }
constexpr DWORD Src(DWORD type, DWORD number) { return Reg(type, number) | 0x00E40000u; }
// The dcl token of a usage and index.
constexpr DWORD Usage(DWORD usage, DWORD index) { return 0x80000000u | usage | index << 16; }

// Register types.
enum : DWORD {
  kTemp = 0, kInput = 1, kConst = 2, kTexture = 3, kRastOut = 4, kAttrOut = 5, kTexcrdOut = 6,
  kColorOut = 8, kDepthOut = 9, kSampler = 10, kMisc = 17,
};

// A "CTAB" block body (the bytes after the FourCC) laid out from records.
struct ConstantRecord {
  DWORD nameOffset;
  std::uint16_t registerSet;
};
inline std::vector<std::uint8_t> ConstantTableBody(DWORD count, DWORD recordOffset,
                                                   const std::vector<ConstantRecord>& records,
                                                   const std::string& strings, DWORD stringOffset) {
  std::vector<std::uint8_t> body(std::max<std::size_t>(28, stringOffset + strings.size()));
  const DWORD header[7] = {28, 0, 0xFFFF0200, count, recordOffset, 0, 0};
  std::memcpy(body.data(), header, sizeof header);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::size_t at = recordOffset + 20 * i;
    if (body.size() < at + 20) body.resize(at + 20);
    std::memcpy(&body[at], &records[i].nameOffset, 4);
    std::memcpy(&body[at + 4], &records[i].registerSet, 2);
  }
  std::memcpy(&body[stringOffset], strings.data(), strings.size());
  while (body.size() % 4) body.push_back(0);
  return body;
}

// Code: the version, a comment block tagged fourCC over body, then the end token.
inline std::vector<DWORD> CodeWithBlock(DWORD version, DWORD fourCC, const std::vector<std::uint8_t>& body) {
  std::vector<DWORD> code = {version, Comment(DWORD(1 + body.size() / 4)), fourCC};
  const std::size_t at = code.size();
  code.resize(at + body.size() / 4);
  std::memcpy(&code[at], body.data(), body.size());
  code.push_back(kEnd);
  return code;
}

}  // namespace shadertest
