// Runs an IR program one component at a time, in double, as a yardstick for
// the passes and the lowering: arithmetic against libm, select, if blocks and
// their merges, loops with breaks, relative addressing of register files and
// a procedural texture for the samples.
//
// Semantics of the structured operations:
// - An instruction runs when the guard of its first result holds: no
//   predicate and sense 1, or a predicate value written in this pass whose
//   truth (non-zero) equals the result's predicate sense. No predicate with
//   sense 0 is a value never written. Results of a skipped instruction count
//   as unwritten.
// - If merges and break merges take, per component, the first group's value
//   when it was written in this pass, else the second group's.
// - A relative read of a literal bank reads the literal placed at that
//   register and component.
// - A value with an alias reads the contents of the value at the end of its
//   alias chain; its own source modifier applies. A result with the
//   saturate bit (binding 0x200) is clamped to [0, 1] when written.
// - The selected operations of class 7 (abs, lrp, nrm, mad, dp2add, min,
//   max, pow, setp and breakc) compute what the instruction sets specify;
//   a breakc's value, like that of 0x114, is zero where it leaves the loop.
// - Structured code (if/ifc/else/endif, rep/endrep, loop/endloop; 0x730-
//   0x74B) runs by jumps: an if that fails goes to its else or endif, an
//   else reached goes to its endif, which merges the side taken; rep and
//   loop repeat their count (loop steps aL, the "al" bank's register, from
//   its start); a breakc taken leaves the loop. Values then read their
//   register when it was written (one register serves every value of a
//   variable), predicates outside predicate banks guard nothing, and loop
//   entry and end (0x112, 0x115) are moves.
// - Source modifiers: negate, bias, times two, signed scale, complement and
//   absolute value (binding bits 16-20), as the instruction sets define them.
// - A loop begin pushes a frame with its count; loop entry takes its
//   arguments on the first iteration, the loop end's arguments after; a zero
//   break value ends the loop at its end; the loop end jumps back while
//   iterations remain.
//
// In the physical-register mode, for programs whose registers are assigned,
// a read of a value of a writable bank takes what its register and
// component hold, not the value last written: two values that share a
// register while both are live give a different result. Which side of a
// block ran, and whether a value was written at all, is still told per value.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "gxl/shader/backend/ir/shader_program.h"

namespace irkit {

// The procedural texture of every sampler: colour from the coordinates, the
// sampler's register and the texture kind (1-3 dimensions, 4 cube); alpha
// from the level of detail.
struct Texel {
  double r, g, b, a;
};
Texel ProceduralTexel(std::uint32_t sampler, std::uint32_t kind, const double p[3], double lod);

class IrInterpreter {
 public:
  static constexpr std::uint64_t kMaxSteps = 10'000'000;

  enum class Mode { kValues, kPhysicalRegisters };

  explicit IrInterpreter(const gxl::shader::ShaderProgram& program, Mode mode = Mode::kValues);

  // Register contents that initialised banks (inputs, constants) read.
  void SetRegister(std::uint32_t bank, std::uint32_t reg, std::uint32_t component, double x);
  void SetRegister(gxl::shader::StandardBank bank, std::uint32_t reg, std::initializer_list<double> components);

  // False on a malformed program or a runaway loop; Error() tells why.
  bool Run();
  const std::string& Error() const { return m_error; }

  // The last value written (NaN when never written); literals give their value.
  double Value(std::uint32_t value) const;
  std::vector<double> Values(const std::vector<std::uint32_t>& values) const;
  // NaN when the register was never written nor set.
  double Register(std::uint32_t bank, std::uint32_t reg, std::uint32_t component) const;
  bool Discarded() const { return m_discarded; }
  std::uint64_t Steps() const { return m_steps; }

 private:
  struct LoopFrame {
    std::uint32_t begin;  // position of the loop begin
    std::int32_t count;
    std::int32_t iteration = 0;
    bool broken = false;
    std::vector<double> carried;
    std::size_t ifDepth = 0;  // structured: the ifs open when the loop began
    bool counted = false;     // a loop over aL
    double step = 0.0, counterValue = 0.0;
  };
  using RegisterKey = std::tuple<std::uint32_t, std::int64_t, std::uint32_t>;
  struct KeyHash {
    std::size_t operator()(const RegisterKey& k) const {
      const std::uint64_t h = (std::uint64_t{std::get<0>(k)} * 0x9E3779B97F4A7C15ull) ^
                              (static_cast<std::uint64_t>(std::get<1>(k)) * 0xC2B2AE3D27D4EB4Full) ^ std::get<2>(k);
      return static_cast<std::size_t>(h ^ (h >> 29));
    }
  };

  bool Fail(const std::string& message);
  // A value as an instruction reads it: through its alias and source modifier.
  bool Read(std::uint32_t value, double& out);
  // The contents of the value's own register, or its literal.
  bool ReadStored(std::uint32_t value, double& out);
  bool Write(std::uint32_t value, double x);
  // The literal a literal bank holds at that register and component.
  bool ReadLiteralRegister(const RegisterKey& key, double& out);
  bool GuardHolds(std::uint32_t value) const;
  // The number a written value holds: its register's content in the
  // physical mode when it has a register of a writable bank.
  bool Content(std::uint32_t value, double& out) const;
  // One instruction at `pc`; may move `pc` (loops). False on failure.
  bool Execute(std::uint32_t& pc);
  bool ExecuteSample(const gxl::shader::IrInstruction& inst, const std::vector<double>& a, std::vector<double>& r);
  bool ExecuteLoopControl(const gxl::shader::IrInstruction& inst, std::uint32_t& pc, const std::vector<double>& a,
                          std::vector<double>& r);
  // Structured code (if/else/endif, rep, loop, breakc): jumps instead of guards.
  static bool IsStructured(std::uint32_t group);
  bool ExecuteStructured(const gxl::shader::IrInstruction& inst, std::uint32_t& pc);
  // The endif (or, with stopAtElse, the else) of the if at `from`, or the end
  // of the loop at `from`; kNoIndex when there is none.
  std::uint32_t MatchingEnd(std::uint32_t from, bool loop, bool stopAtElse) const;
  // aL of a counted loop: start, each step, and the outer loop's back at the end.
  bool StartCounter(LoopFrame& frame, const std::vector<double>& a);
  void StepCounter(LoopFrame& frame);
  void EndLoop();
  // The register a value occupies (its own plus its relative offset), or false.
  bool Location(const gxl::shader::IrValue& v, RegisterKey& key);

  const gxl::shader::ShaderProgram& m_p;
  Mode m_mode;
  std::vector<double> m_values;
  std::vector<bool> m_written;
  std::unordered_map<RegisterKey, double, KeyHash> m_registers;
  std::vector<double> m_arguments, m_results;  // of the instruction running, kept to spare allocations
  std::vector<LoopFrame> m_loops;
  std::vector<bool> m_ifs;  // structured: whether each open if took its then side
  bool m_structured = false;
  std::uint32_t m_counterBank = gxl::shader::kNoIndex;  // the "al" bank
  bool m_discarded = false;
  std::uint64_t m_steps = 0;
  std::string m_error;
};

}  // namespace irkit
