// Expression code laid out by hand for the evaluator and fill tests: a version
// token, an "FXLC" comment of instructions, a "CLIT" comment of literal doubles
// and the end token.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace exprtest {

using Words = std::vector<std::uint32_t>;

constexpr std::uint32_t Fcc(char a, char b, char c, char d) {
  return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 | std::uint32_t(std::uint8_t(c)) << 16 |
         std::uint32_t(std::uint8_t(d)) << 24;
}
constexpr std::uint32_t kFxlc = Fcc('F', 'X', 'L', 'C');
constexpr std::uint32_t kClit = Fcc('C', 'L', 'I', 'T');
constexpr std::uint32_t kTx = 0x54580100;
constexpr std::uint32_t kScalar = 0x80000000u;

// Operation codes, written out from the format rather than taken from the code under test.
constexpr std::uint32_t kMov = 0x10000000, kNeg = 0x10100000, kRcp = 0x10300000, kFrac = 0x10400000, kExp = 0x10500000,
                        kLog = 0x10600000, kRsq = 0x10700000, kSin = 0x10800000, kCos = 0x10900000, kAsin = 0x10A00000,
                        kAcos = 0x10B00000, kAtan = 0x10C00000, kMin = 0x20000000, kMax = 0x20100000, kLt = 0x20200000,
                        kGe = 0x20300000, kAdd = 0x20400000, kMul = 0x20500000, kAtan2 = 0x20600000, kCmp = 0x30000000,
                        kDot = 0x50000000, kNoise = 0x50200000, kDotInputs = 0x70E00000;

// Kinds: 1 literal, 2 constant, 3 input, 4-6 outputs, 7 temporary, 9 cells.
struct Arg {
  std::uint32_t kind;
  std::uint32_t index;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> terms = {};  // (kind, index), applied in order
};

struct Instr {
  std::uint32_t op;  // operation, optionally with kScalar
  std::uint32_t count;
  std::vector<Arg> inputs;
  Arg output;
};

inline void Append(Words& w, const Arg& a) {
  w.push_back(static_cast<std::uint32_t>(a.terms.size()));
  for (const auto& [kind, index] : a.terms) w.insert(w.end(), {kind, index});
  w.insert(w.end(), {a.kind, a.index});
}

// The words of an "FXLC" block's data (after the tag).
inline Words FxlcData(const std::vector<Instr>& program) {
  Words w = {static_cast<std::uint32_t>(program.size())};
  for (const Instr& in : program) {
    w.push_back(in.op | in.count);
    w.push_back(static_cast<std::uint32_t>(in.inputs.size()));
    for (const Arg& a : in.inputs) Append(w, a);
    Append(w, in.output);
  }
  return w;
}

inline Words ClitData(const std::vector<double>& literals) {
  Words w = {static_cast<std::uint32_t>(literals.size())};
  for (double d : literals) {
    std::uint32_t halves[2];
    std::memcpy(halves, &d, 8);
    w.insert(w.end(), {halves[0], halves[1]});
  }
  return w;
}

inline void AppendComment(Words& w, std::uint32_t tag, const Words& data) {
  w.push_back(0xFFFEu | static_cast<std::uint32_t>(data.size() + 1) << 16);
  w.push_back(tag);
  w.insert(w.end(), data.begin(), data.end());
}

// Code from blocks given as data words; a block of null data is left out.
inline Words CodeOf(std::uint32_t version, const Words* fxlc, const Words* clit) {
  Words w = {version};
  if (fxlc) AppendComment(w, kFxlc, *fxlc);
  if (clit) AppendComment(w, kClit, *clit);
  w.push_back(0x0000FFFF);
  return w;
}

inline Words Code(const std::vector<Instr>& program, const std::vector<double>& literals = {},
                  std::uint32_t version = kTx) {
  const Words fxlc = FxlcData(program);
  const Words clit = ClitData(literals);
  return CodeOf(version, &fxlc, &clit);
}

}  // namespace exprtest
