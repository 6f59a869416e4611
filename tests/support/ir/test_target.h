// A code-generating target for tests of the target base: vs_2_0, vs_3_0 and
// ps_2_0 flavours with plain profile limits, the emission walk over the
// shared rules, version token, declarations, instruction length and the
// input and output register mapping. Programs come in with their registers
// already assigned (the optimiser phases are skipped), built with the
// helpers below.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "gxl/shader/backend/targets/shader_target.h"

namespace irkit {

using Values = std::vector<std::uint32_t>;

// Programs with assigned registers, for any target: values of register
// `reg` of a bank, one per component letter ("xyzw", "yx"); a semantic on
// values (a token of the current page pool); an instruction of `group` and
// `width` over the values given, appended. Failures throw.
Values Registers(gxl::shader::ShaderProgram& p, std::uint32_t bank, std::uint32_t reg, const char* components);
void SetSemantic(gxl::shader::ShaderProgram& p, const Values& values, const char* semantic);
std::uint32_t PutInstruction(gxl::shader::ShaderProgram& p, std::uint32_t group, std::uint32_t width,
                             const Values& arguments, const Values& results);

class TestTarget : public gxl::shader::ShaderTarget {
 public:
  enum Flavour : DWORD { kVs20 = 0xFFFE0200, kVs30 = 0xFFFE0300, kPs20 = 0xFFFF0200 };

  explicit TestTarget(Flavour flavour, bool fragment = false);

  using ShaderTarget::Compile;
  // The registers are the test's: nothing to optimise or assign.
  HRESULT Compile(std::uint32_t* result) override;
  HRESULT SetupProfileLimits() override;
  HRESULT MapOperation() override;
  HRESULT WriteVersionToken() override;
  HRESULT DeclareInputsOutputs(std::uint32_t value, DWORD* key) override;
  HRESULT DeclareSampler(std::uint32_t value) override;
  HRESULT WriteInstructionLength() override;
  HRESULT MapOutputRegister(std::uint32_t value, std::uint32_t* type, std::uint32_t* index,
                            std::uint32_t* fullMask) override;
  HRESULT EncodeInputRegister(std::uint32_t value, std::uint32_t* index, std::uint32_t* type) override;

  // Limits a test may change after Init, before Compile.
  bool Vertex() const { return (versionToken >> 16) == 0xFFFE; }

  // --- Building programs with assigned registers
  // Values of register `reg` of a bank, one per component letter ("xyzw", "yx").
  Values Reg(std::uint32_t bank, std::uint32_t reg, const char* components = "xyzw");
  Values Reg(gxl::shader::StandardBank bank, std::uint32_t reg, const char* components = "xyzw") {
    return Reg(StandardBankIndex(bank), reg, components);
  }
  // A literal value of the literal bank in register `reg`, component c.
  std::uint32_t Literal(double x, std::uint32_t reg, std::uint32_t component);
  // Gives the values a semantic (a token of the current page pool).
  void SetSemantic(const Values& values, const char* semantic);
  // Appends an instruction of `group` and `width` over the values given.
  std::uint32_t Put(std::uint32_t group, std::uint32_t width, const Values& arguments, const Values& results);
};

}  // namespace irkit
