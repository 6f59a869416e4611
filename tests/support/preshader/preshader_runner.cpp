#include "tests/support/preshader/preshader_runner.h"

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/expression_program.h"

namespace presrun {

namespace {

constexpr std::uint32_t Tag(const char (&t)[5]) {
  return static_cast<std::uint32_t>(t[0]) | static_cast<std::uint32_t>(t[1]) << 8 |
         static_cast<std::uint32_t>(t[2]) << 16 | static_cast<std::uint32_t>(t[3]) << 24;
}

HRESULT Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return E_FAIL;
}

// The float constants of the preshader's own table, from the uniforms.
bool FillConstants(const std::vector<std::uint32_t>& code, const Uniforms& uniforms, std::vector<double>& file) {
  gxl::ComRef<ConstantTable> table(new ConstantTable);
  if (FAILED(table->InitFromCode(reinterpret_cast<const DWORD*>(code.data()), nullptr))) return false;
  ConstantTableDesc desc{};
  if (FAILED(table->Describe(&desc))) return false;
  for (UINT i = 0; i < desc.constants; ++i) {
    ConstantDesc c{};
    UINT count = 1;
    if (FAILED(table->DescribeConstants(table->ConstantByIndex(nullptr, i), &c, &count)) || !c.name ||
        c.registerSet != 2)
      continue;
    const auto given = uniforms.find(c.name);
    if (given == uniforms.end()) continue;
    for (UINT r = 0; r < c.registerCount; ++r)
      for (UINT k = 0; k < 4; ++k) {
        // Matrices stored by columns hold a column per register.
        const bool columns = c.typeClass == 3;
        const std::size_t at = columns ? std::size_t{k} * c.columns + r : std::size_t{r} * c.columns + k;
        const bool inside = columns ? (k < c.rows && r < c.columns) : (r < c.rows && k < c.columns);
        const std::size_t slot = (std::size_t{c.registerIndex} + r) * 4 + k;
        if (inside && at < given->second.size() && slot < file.size()) file[slot] = given->second[at];
      }
  }
  return true;
}

}  // namespace

std::vector<std::uint32_t> FindBlock(const std::uint32_t* code, std::size_t words, std::uint32_t tag) {
  for (std::size_t i = 1; i < words && (code[i] & 0xFFFF) == 0xFFFE;) {
    const std::size_t length = (code[i] >> 16) & 0x7FFF;
    if (i + 1 + length > words) break;
    if (length && code[i + 1] == tag) return {code + i + 2, code + i + 1 + length};
    i += 1 + length;
  }
  return {};
}

HRESULT RunPreshader(const std::uint32_t* code, std::size_t words, const Uniforms& uniforms, Registers& written,
                     std::string* error) {
  const std::vector<std::uint32_t> pre = FindBlock(code, words, Tag("PRES"));
  if (pre.empty()) return S_FALSE;
  if (pre[0] != kExpressionVersion1) return Fail(error, "the preshader is no expression program of version 0x46580201");
  const std::vector<std::uint32_t> map = FindBlock(pre.data(), pre.size(), Tag("PRSI"));
  if (map.size() < 7) return Fail(error, "no register map");
  if (map[4] || map[5]) return Fail(error, "bool and integer results are not run here");
  const std::size_t first = map[0], span = map[3];
  // Every float constant register a program can name, in files of 4 x 2^n doubles.
  std::size_t size = 8192 * 4;
  if ((first + span) * 4 > size) return Fail(error, "results past the last constant register");
  std::vector<double> constants(size, 0.0), outputs(size, 0.0);
  if (!FillConstants(pre, uniforms, constants)) return Fail(error, "the preshader's constant table does not read");
  ExpressionFiles files;
  files.constants = constants.data();
  files.constantMask = static_cast<std::uint32_t>(size - 1);
  for (int k = 0; k < 3; ++k) {
    files.outputs[k] = outputs.data();
    files.outputMasks[k] = static_cast<std::uint32_t>(size - 1);
  }
  if (FAILED(ExpressionProgram::Evaluate(pre.data(), pre.size() * 4, files)))
    return Fail(error, "the evaluator refuses the preshader");
  // The runs of written registers.
  const std::uint32_t runs = map[6];
  if (map.size() < 7 + 2 * std::size_t{runs}) return Fail(error, "a truncated register map");
  for (std::uint32_t r = 0; r < runs; ++r)
    for (std::uint32_t reg = map[7 + 2 * r]; reg < map[7 + 2 * r] + map[8 + 2 * r] && reg < size / 4; ++reg)
      for (std::uint32_t k = 0; k < 4; ++k) written[reg][k] = static_cast<float>(outputs[std::size_t{reg} * 4 + k]);
  return S_OK;
}

}  // namespace presrun
