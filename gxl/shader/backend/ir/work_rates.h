// What the back end's passes charge the work meter (ShaderProgram::ChargeWork)
// for walking the program, so that the units a compile charges track its
// time: the unit is what the lowering charges per instruction it builds over
// kLoweringWork, and each rate below is the pass's own time per value and
// instruction of the program it walks, in those units, measured over the
// shared corpus and generated programs. Rates are in sixteenths of a unit per
// record, for a program that fits the caches; ShaderProgram::WalkWork raises
// the first phase's for larger ones (the later phases' hold at any size:
// ChargeLaterWalk). Searches whose work grows faster than the program charge
// their own steps besides.
#pragma once

#include <cstdint>

namespace gxl::shader::workrate {

// The first optimiser phase: its set-up passes, each round's passes run in
// full, and the clean-up after the rounds.
constexpr std::uint32_t kOptimizerSetup = 64;
constexpr std::uint32_t kFold = 40;
constexpr std::uint32_t kDeadCode = 17;
constexpr std::uint32_t kComponents = 12;
constexpr std::uint32_t kCommon = 44;
constexpr std::uint32_t kEquivalent = 24;
constexpr std::uint32_t kArithmetic = 32;
constexpr std::uint32_t kIndexes = 6;
constexpr std::uint32_t kPredicates = 18;
constexpr std::uint32_t kGuards = 22;
constexpr std::uint32_t kOptimizerTail = 50;
// The incremental rounds' upkeep: its set-up and each comparison of the
// whole program with its images, per record; and per reader met spreading
// what changed to the walks, in units.
constexpr std::uint32_t kUpkeepSetup = 56;
constexpr std::uint32_t kUpkeepCompare = 9;
constexpr std::uint64_t kReaderWork = 1;
// Per position an incremental walk visits, in units: the step, the
// comparison of the records it reached and what it hands on.
constexpr std::uint64_t kWalkStep = 8;
// Per 4 KB page of memory the compile's pool commits, against the cap alone
// (ShaderProgram::ChargeWork): the system's fault and zeroing of each fresh
// page, which a program unrolled into hundreds of megabytes pays as much as
// its passes.
constexpr std::uint64_t kFreshPage = 256;
constexpr std::uint64_t kPageBytes = 4096;
// The use analysis (RebuildDefUse), which the passes run after most steps.
constexpr std::uint32_t kUseAnalysis = 16;
// The preshader's extraction and the program's other steps between them.
constexpr std::uint32_t kOptimizerOther = 26;

// The second phase, step by step.
constexpr std::uint32_t kPackVectors = 58;
constexpr std::uint32_t kLegalizeOperands = 68;
constexpr std::uint32_t kRenameTemporaries = 17;
constexpr std::uint32_t kMergeCommonRun = 85;
constexpr std::uint32_t kExpandOperations = 17;
constexpr std::uint32_t kCombineInstructions = 53;
constexpr std::uint32_t kSelectInstructions = 232;
constexpr std::uint32_t kPackLiterals = 33;
constexpr std::uint32_t kSchedule = 171;
constexpr std::uint32_t kHoistTextureReads = 190;
constexpr std::uint32_t kCoalesceMoves = 64;
constexpr std::uint32_t kAllocateRegisters = 290;
constexpr std::uint32_t kFinishSelection = 75;
constexpr std::uint32_t kRemoveUnusedValues = 13;
constexpr std::uint32_t kAssignRegisters = 234;
constexpr std::uint32_t kCanonicalizeOperands = 15;
// The scheduler's improvement rounds over a program with blocks: positions
// scanned and re-measured per unit.
constexpr std::uint64_t kPositionsPerUnit = 1;
// Instruction pairing's trial assignments: the instructions of the trials
// per unit.
constexpr std::uint64_t kTrialInstructionsPerUnit = 1;
// Register assignment, per run: units per collision tested, placement
// weighed and use record filled.
constexpr std::uint64_t kAllocationProbe = 2;
// The copy of the lists kept for the second order, and the steps' own upkeep.
constexpr std::uint32_t kSecondPhaseOther = 98;

// The target: selection, emission, the validator's check of what is emitted
// where it runs, and the rest of the target's own steps.
constexpr std::uint32_t kGenerateCode = 133;
constexpr std::uint32_t kMapOperation = 283;
constexpr std::uint32_t kValidation = 290;
constexpr std::uint32_t kTargetOther = 107;

}  // namespace gxl::shader::workrate
