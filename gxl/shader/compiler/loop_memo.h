// What the simulation of a flow-control loop learns, and what of it an inner
// loop's reuse keeps (lower_loop.cpp, loop_memo.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "gxl/shader/compiler/loop_facts.h"
#include "gxl/shader/compiler/shader_compiler.h"

namespace gxl::shader {

// What the simulation of a flow-control loop learns for its emission.
struct ShaderCompiler::LoopState {
  PodArray<ValueRange> head, exit;  // per symbol: ranges at the loop's head and after it
  PodArray<std::uint32_t> headFlags, exitFlags;
  std::uint32_t iterations = 0;
  bool counter = true;
  std::uint32_t counterSlot = kNoIndex, counterFinal = kNoIndex;
};

// The rest of what one simulation found: what decides whether the loop is
// emitted, and what the simulation did besides building IR that is rolled
// back (its reuse does none of it, so only a simulation without any is kept).
struct ShaderCompiler::LoopFindings {
  std::uint32_t iterations = 0;
  bool certain = true, outOfBounds = false, abandon = false;
  bool running = false;      // the accumulated condition was still a known non-zero constant
  bool unknownGuard = false;  // at some pass it was no known constant (where a probe ends)
  bool derivatives = false;  // an instruction that takes implicit derivatives
  bool notCheap = false;     // an instruction a fixed loop does not unroll as cheaply
  std::vector<std::uint32_t> carried;  // slots with a value at the start that the loop changed
  std::uint32_t statements = 0;        // statements lowered (each takes a sequence number)
  std::uint32_t messages = 0;          // messages reported
  // The values and instructions it made (all rolled back before the loop
  // is emitted): how much IR the simulation builds, for checks.
  std::uint32_t valuesMade = 0, instructionsMade = 0;
  // Banks of literal tables it added: a rollback leaves them (empty), and a
  // reuse adds them again, so that the program's banks are those it would have.
  std::vector<RegisterBank> banks;
  bool errors = false, guardChanged = false, blockChanged = false;
  bool identityMade = false;       // the identity table was made (once per run: not again at a reuse)
  bool counterAfterStart = false;  // the counter's final value is no older than the outermost simulation

  bool LeavesNothing() const { return !messages && !errors && !guardChanged && !blockChanged && !identityMade; }
};

// An inner loop's findings under its entry facts. Head and exit facts are
// kept for the slots where they differ from those the loop started with.
struct ShaderCompiler::LoopMemo {
  std::vector<double> key;
  std::uint32_t reuses = 0;
  LoopFindings found;
  bool counter = false;
  std::uint32_t counterSlot = kNoIndex, counterFinal = kNoIndex;
  std::vector<std::uint32_t> slots;
  std::vector<ValueRange> head, exit;
  std::vector<std::uint32_t> headFlags, exitFlags;
};

// An inner loop's entries under one run of an outer simulation: how each
// symbol it touches stood at the last one, the hull of the facts met, and
// which symbols are entered widened.
struct ShaderCompiler::LoopHistory {
  const ParseNode* node = nullptr;
  std::vector<double> context;
  std::uint32_t entries = 0;
  bool stopped = false;
  std::vector<std::uint32_t> slots;            // touched, ascending
  std::vector<std::vector<double>> described;  // per touched slot, at the last entry
  std::vector<ValueRange> hull, wide;
  std::vector<std::uint32_t> hullFacts, wideFacts;
  std::vector<std::uint8_t> widened;
};

// A loop being lowered (LowerLoop).
struct ShaderCompiler::LoopFrame {
  const ParseNode *condition = nullptr, *body = nullptr, *plainBody = nullptr, *step = nullptr;
  enum class Trip : std::uint8_t { kUnknown, kKnown, kAny } trip = Trip::kUnknown;
  std::vector<std::uint8_t> tripSlots;  // with kKnown: the slots that may decide its trip count
  bool decided = false;                 // its condition and step alone decide its trip count
  bool simulating = false;              // its simulation runs: the histories are of the loops inside it
  bool open = false;                    // in the pass its simulation is at, its condition is no longer known
  std::vector<LoopHistory> histories;
};

// The entry of a loop simulated from widened facts.
struct ShaderCompiler::WideEntry {
  std::size_t frame = 0, history = 0;  // where its history lies
  bool tracked = false;                // it has one
  std::vector<std::uint32_t> slots;
  std::vector<ValueRange> ranges;
  std::vector<std::uint32_t> facts;
};

}  // namespace gxl::shader
