// One corpus entry through the shader tools and the token kit: compile (or
// assemble) for a profile, classify the result, check and run the code on
// lanes fed from the entry's ranges, and compare with its reference.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/tex/com_ref.h"
#include "tests/support/shader/corpus_refs/corpus_refs.h"

namespace corpuse2e {

using Words = std::vector<std::uint32_t>;

struct Built {
  HRESULT hr = E_FAIL;
  Words code;
  std::string log;
  gxl::ComRef<ConstantTable> table;
  bool codeMade = false;      // a code buffer came back
  bool tableMade = false;     // a constant table came back
  bool logTerminated = true;  // the messages end in NUL (or there are none)
};

// Every compiler profile of a stage.
const std::vector<const char*>& Profiles(corpusref::Stage stage);
constexpr std::uint32_t kNoOptimisation = 0x4;

// The entry's source text: the file, after its partner for Allegro's pixel
// halves (joined as Allegro joins them, with its technique).
std::string SourceOf(const corpusref::Entry& e, const std::string& root, std::string* error);
// From the file at `path` when given (its includes found beside it), else
// from `source`.
Built Compile(const std::string& source, const std::string& path, const corpusref::Entry& e, const char* profile,
              std::uint32_t options);
Built Assemble(const std::string& source, std::uint32_t flags);

// "compiled", or the first error's code ("X3500"), or "none" when a failure
// names no code.
std::string Outcome(const Built& b);
enum class Kind { kHlsl, kAssembly, kForeign };
// How good an outcome is: 3 compiled, 2 a limit of the profile (45xx, 4004,
// the validator's slot and nesting limits), 1 a construct the compiler does
// not lower yet (3500) or an assembly the validator refuses, 0 anything else:
// an internal error or other message, and the faults the test names
// ("wrong": a result off its reference or its other profiles; "invalid":
// code the decoder or the validator refuses; "unsound": an internal error,
// E_OUTOFMEMORY, or a failure that hands out code or says nothing). For a source in a foreign dialect, 3 is its
// syntax error (3000).
int Rank(const std::string& outcome, Kind kind);

// Faults of a result whatever its outcome: code and table with a failure,
// code the decoder or the validator refuses, a size that disagrees with the
// code's own, an internal error or E_OUTOFMEMORY. Empty when sound.
std::string Soundness(const Built& b, bool validate);

// The outputs of every lane of a run, in lane order.
using LaneOutputs = std::vector<corpusref::Outputs>;

struct RunSpec {
  const corpusref::Entry* entry;
  bool unitRange;  // ps_1_x: inputs and constants within [0, 1] and [-1, 1]
  int rounds;      // vertex: four vertices a round; pixel: one 2x2 quad
  std::uint32_t seed;
};

// Runs the code on the entry's lanes; false with the reason when it cannot.
// `want` receives the reference's outputs (empty without a reference).
bool RunLanes(const Built& b, const RunSpec& spec, LaneOutputs* got, LaneOutputs* want, std::string* error);

// The first difference between two runs' outputs beyond the relative
// tolerance (components only one side has are skipped); empty when none.
std::string Compare(const LaneOutputs& got, const LaneOutputs& want, double tolerance);

}  // namespace corpuse2e
