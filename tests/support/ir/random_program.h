// Random, well-formed IR programs for translation validation of the back-end
// passes: straight-line arithmetic of widths 1 to 4, if/else blocks and
// loops with and without breaks, over IrBuilder. Every value is typed by an
// interval, and operations are chosen so that each stays inside the domain
// in which folding and the interpreter agree by design: no NaN or infinity,
// no exact zero reaching a reciprocal, logarithm, square root, lit or the
// first argument of atan2 (folding knows no signed zeros), arc
// sine and arc cosine arguments within [-1, 1], magnitudes below 2^20.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/support/ir/ir_builder.h"
#include "tests/support/ir/ir_interpreter.h"

namespace irkit {

struct RandomShape {
  std::uint32_t steps = 24;      // top-level steps: an operation, an if/else or a loop
  std::uint32_t inputs = 3;      // input registers v0.. of four components
  std::uint32_t constants = 2;   // float constant registers c0..
  std::uint32_t outputs = 2;     // output registers o0.., each component written once
  std::uint32_t ifPercent = 12;  // chance that a step opens an if/else (below the depth limit)
  std::uint32_t loopPercent = 8;
  std::uint32_t maxDepth = 2;
  bool transcendental = true;  // exp2, log2, rsq, sin, cos, asin, acos, atan, atan2 and lit
  bool lit = true;             // lit among the transcendental operations (else atan2 in its place)
  // Chance that a step reads a constant register through a relative index:
  // a literal, a comparison, or a literal plus a comparison.
  std::uint32_t relativePercent = 0;
};

class RandomProgram {
 public:
  struct Slot {
    std::uint32_t bank, reg, component;
  };
  // A value and the interval that holds every value it takes.
  struct Typed {
    std::uint32_t value;
    double lo, hi;
  };

  // Builds into `program`, which must be set up (ShaderProgram::Init) and
  // empty of instructions. Throws as IrBuilder does.
  RandomProgram(ShaderProgram& program, std::uint32_t seed, const RandomShape& shape = {});

  // The output components the program writes.
  const std::vector<Slot>& Outputs() const { return m_outputs; }
  std::uint32_t InstructionCount() const { return m_instructions; }

  // Sets every input and constant register to input vector `index` of the
  // domain: magnitudes in [1/16, 2], either sign.
  void LoadInputs(IrInterpreter& run, std::uint32_t index) const;
  // Runs `program` (this one, or what a pass made of it) on input vector
  // `index`, its preshader first when it has one: the output components, or
  // false with the interpreter's reason.
  bool Evaluate(const ShaderProgram& program, std::uint32_t index, std::vector<double>& out,
                std::string* error = nullptr, IrInterpreter::Mode mode = IrInterpreter::Mode::kValues) const;

 private:
  using Scope = std::vector<Typed>;

  std::uint32_t Pick(std::uint32_t n) { return static_cast<std::uint32_t>(m_rng() % n); }
  bool Chance(std::uint32_t percent) { return Pick(100) < percent; }
  Typed AnyValue();
  Typed Literal(double x);
  void Add(const Typed& t) { m_scopes.back().push_back(t); }

  // One step at `depth`: an operation, or a block when the depth allows.
  void Step(std::uint32_t depth);
  void Operation();
  void RelativeRead();
  void IfElse(std::uint32_t depth);
  void Loop(std::uint32_t depth);
  // Values of `n` new steps in a scope of their own; returns `width` of the visible values.
  std::vector<Typed> Block(std::uint32_t depth, std::uint32_t steps, std::uint32_t width);

  // Emitting helpers that keep the intervals.
  std::vector<Typed> Emit(std::uint32_t group, const std::vector<std::vector<Typed>>& groups);
  Typed Positive(const Typed& t);  // t*t + c, c in [1/4, 1]
  Typed Unit(const Typed& t);      // sin(t)
  Typed Clamp(const Typed& t, double bound);

  IrBuilder m_b;
  RandomShape m_shape;
  std::uint32_t m_seed;
  std::mt19937 m_rng;
  std::vector<Scope> m_scopes;
  std::vector<Slot> m_outputs;
  std::uint32_t m_instructions = 0;
};

}  // namespace irkit
