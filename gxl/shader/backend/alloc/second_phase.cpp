// The compile of a program's instructions: the first phase, then the fixed
// order of the second phase's passes, from vector packing through
// scheduling to registers within the profile limits.
#include "gxl/shader/backend/alloc/alloc_util.h"
#include "gxl/shader/backend/ir/work_rates.h"

namespace gxl::shader {

namespace {

// The merging of step 4 repeats while it finds work, this many runs at most.
constexpr std::uint32_t kMaxMergeRuns = 256;

}  // namespace

HRESULT ShaderProgram::AllocateRegisters() { return S_FALSE; }
HRESULT ShaderProgram::FinishSelection() { return S_FALSE; }
HRESULT ShaderProgram::FitConstantRegisters() { return S_OK; }
std::uint32_t ShaderProgram::NeedsSwizzleFix(const IrInstruction&) { return 0; }

HRESULT ShaderProgram::Compile(std::uint32_t* result) {
  optimisedFlag = registerTableFlag = 0;
  if (result) *result = 0;
  HRESULT hr = Optimize();
  if (SUCCEEDED(hr)) hr = ScheduleAndAllocate();
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ShaderProgram::ScheduleAndAllocate() {
  using namespace workrate;
  // Runs one step; true when the phase goes on.
  std::uint32_t step = 0;
  HRESULT failure = S_OK;
  auto run = [&](HRESULT status) {
    ++step;
    if (secondPhaseStepHook) {
      const HRESULT hooked = secondPhaseStepHook(*this, step, status);
      if (SUCCEEDED(status) && FAILED(hooked)) status = hooked;
    }
    if (FAILED(status)) failure = status;
    return SUCCEEDED(status);
  };
  // A step walks the program at its rate before it runs.
  auto metered = [this](std::uint32_t rate, auto step) {
    const HRESULT hr = ChargeLaterWalk(rate);
    return FAILED(hr) ? hr : step();
  };
  auto mergeCommon = [this] {
    secondPhaseMergeRuns = 0;
    HRESULT hr = S_FALSE;
    while (secondPhaseMergeRuns < kMaxMergeRuns) {
      ++secondPhaseMergeRuns;
      if (FAILED(hr = ChargeLaterWalk(kMergeCommonRun))) break;
      hr = MergeCommonInstructions(1);
      if (secondPhaseMergeHook && SUCCEEDED(hr)) hr = secondPhaseMergeHook(*this, hr);
      if (FAILED(hr) || hr == S_FALSE) break;
    }
    return FAILED(hr) ? hr : S_OK;
  };
  auto setRegisterTable = [this] {
    registerTableFlag = 1;
    return S_OK;
  };
  if (!(run(metered(kPackVectors, [&] { return PackVectors(); })) &&
        run(metered(kLegalizeOperands, [&] { return LegalizeOperands(); })) &&
        run(metered(kRenameTemporaries, [&] { return RenameTemporaries(1); })) && run(mergeCommon()) &&
        run(metered(kExpandOperations, [&] { return ExpandOperations(); })) &&
        run(metered(kCombineInstructions, [&] { return CombineInstructions(); })) &&
        run(metered(kSelectInstructions, [&] { return SelectInstructions(); })) &&
        run(metered(kRenameTemporaries, [&] { return RenameTemporaries(0); })) &&
        run(metered(kPackLiterals, [&] { return PackLiterals(); })) && run(setRegisterTable())))
    return failure;
  // A refusal certain once the literals have their registers comes before
  // the costly steps.
  if (FAILED(failure = FitConstantRegisters())) return failure;

  // Steps 11 on, in the scheduler's order or in the lowered one.
  auto schedule = [this](bool scheduled) {
    const std::uint32_t kept = options;
    // Only the scheduler's reading of the option.
    options = scheduled ? options & ~kOptionNoOptimisation : options | kOptionNoOptimisation;
    const HRESULT hr = ScheduleInstructions();
    options = kept;
    return hr;
  };
  auto place = [&](bool scheduled) {
    step = 10;
    return run(metered(kSchedule, [&] { return schedule(scheduled); })) &&
           run(metered(kHoistTextureReads, [&] { return HoistTextureReads(); })) &&
           run(metered(kCoalesceMoves, [&] { return CoalesceMoves(); })) &&
           run(metered(kAllocateRegisters, [&] { return AllocateRegisters(); })) &&
           run(metered(kFinishSelection, [&] { return FinishSelection(); })) && run(CompactInstructions()) &&
           run(metered(kRemoveUnusedValues, [&] { return RemoveUnusedValues(); })) &&
           run(metered(kAssignRegisters, [&] { return AssignRegisters(); })) &&
           run(metered(kCanonicalizeOperands, [&] { return CanonicalizeOperands(); }));
  };
  // Optimised code takes the scheduler's order, unoptimised code keeps its
  // lowered order. Where that order needs more registers than there are,
  // the other is tried before the program is refused, and the refusal names
  // what the first order met: the merging of step 4 can keep a value from an
  // unrolled loop's first pass live to its last, and the depth-first
  // scheduler can finish one long chain before another that shares a value
  // per pass with it (two accumulators of an unrolled loop), holding every
  // pass's value.
  const bool scheduled = !(options & kOptionNoOptimisation);
  if (FAILED(failure = ChargeLaterWalk(kSecondPhaseOther))) return failure;
  ProgramLists before;
  if (FAILED(failure = before.CopyFrom(*this))) return failure;
  holdFitReport = true;
  fitFailed = false;
  if (!place(scheduled) && fitFailed) {
    const ParseNode* at = fitFailurePosition;
    fitFailed = false;
    failure = ProgramLists::CopyFrom(before);
    if (FAILED(failure) || (!place(!scheduled) && fitFailed)) {
      holdFitReport = false;
      ReportUnfitRegisters(at);
      failure = E_FAIL;
    }
  }
  holdFitReport = false;
  return FAILED(failure) ? failure : S_OK;
}

}  // namespace gxl::shader
