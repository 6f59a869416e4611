// The process-wide dispatch table, its set-up stubs, the public entries and the
// one-time choice of bodies.
#include "gxl/math/dispatch.h"

#include <atomic>
#include <mutex>
#include <type_traits>

#include "gxl/math/color.h"
#include "gxl/math/cpu_detect.h"
#include "gxl/math/half.h"
#include "gxl/math/math_testing.h"
#include "gxl/math/matrix.h"
#include "gxl/math/plane.h"
#include "gxl/math/portable.h"
#include "gxl/math/quaternion.h"
#include "gxl/math/services.h"
#include "gxl/math/vector.h"
#include "gxl/math/vertex_ops.h"
#include "platform/cpu.h"
#include "platform/win_registry.h"

namespace {

// Entries are read by every call and written only while the bodies are chosen;
// atomic access keeps a racing first call well defined (on x86 both are plain moves).
template <typename Fn>
Fn LoadEntry(Fn& slot) {
  return std::atomic_ref<Fn>(slot).load(std::memory_order_acquire);
}
template <typename Fn>
void StoreEntry(Fn& slot, Fn body) {
  std::atomic_ref<Fn>(slot).store(body, std::memory_order_release);
}

// Set-up stubs: choose the bodies, then call the chosen one with the caller's
// own arguments.
#define MATH_OP(pos, name, ret, params, args) ret Stub##name params;
#include "gxl/math/dispatch_ops.def"

constexpr MathDispatchTable kStubTable = {
#define MATH_OP(pos, name, ret, params, args) &Stub##name,
#include "gxl/math/dispatch_ops.def"
};

constexpr MathDispatchTable kDefaultTable = {
#define MATH_OP(pos, name, ret, params, args) &gxl::math::portable::name,
#include "gxl/math/dispatch_ops.def"
};

constinit MathDispatchTable g_mathDispatch = kStubTable;
std::atomic<std::uint32_t> g_mathVariant{kMathVariantUnset};
std::mutex g_initMutex;

#define MATH_OP(pos, name, ret, params, args)   \
  ret Stub##name params {                       \
    InitMathDispatch(1);                        \
    return LoadEntry(g_mathDispatch.name) args; \
  }
#include "gxl/math/dispatch_ops.def"

// Positions are fixed: the processor sets fill them by number.
#define MATH_OP(pos, name, ret, params, args) \
  static_assert(offsetof(MathDispatchTable, name) == (pos) * sizeof(void*), #name " is out of place");
#include "gxl/math/dispatch_ops.def"

void CopyTable(MathDispatchTable* table, const MathDispatchTable& from) {
#define MATH_OP(pos, name, ret, params, args) StoreEntry(table->name, from.name);
#include "gxl/math/dispatch_ops.def"
}

// Overwrites only the positions the set has a body for.
void ApplySet(MathDispatchTable* table, const MathDispatchTable& set) {
#define MATH_OP(pos, name, ret, params, args) \
  if (set.name) StoreEntry(table->name, set.name);
#include "gxl/math/dispatch_ops.def"
}

std::optional<DWORD> ReadSwitch(const char* name) {
  DWORD value = 0;
  if (!ReadDirect3DRegistryValue(REG_DWORD, name, &value, sizeof value)) return std::nullopt;
  return value;
}

bool Has3DNowSet(std::uint32_t amdFlags) { return (amdFlags & (kAmdMmx | kAmd3DNow)) == (kAmdMmx | kAmd3DNow); }
bool Has3DNowExtSet(std::uint32_t amdFlags) {
  return Has3DNowSet(amdFlags) && (amdFlags & (kAmd3DNowExt | kAmdMmxExt)) == (kAmd3DNowExt | kAmdMmxExt);
}

}  // namespace

// Public entries: one jump through the table each.
#define MATH_OP(pos, name, ret, params, args)                                            \
  static_assert(std::is_same_v<decltype(&::name), ret(*) params>, #name " signature"); \
  ret name params { return LoadEntry(g_mathDispatch.name) args; }
#include "gxl/math/dispatch_ops.def"

const MathDispatchTable& MathDefaultTable() { return kDefaultTable; }

std::uint32_t CurrentMathVariant() { return g_mathVariant.load(std::memory_order_acquire); }

MathDispatchInputs GatherMathDispatchInputs() {
  MathDispatchInputs in;
  in.disablePsgp = ReadSwitch("DisablePSGP");
  in.disableGxlPsgp = ReadSwitch("DisableGXLPSGP");
  in.has3DNow = IsProcessorFeaturePresent(PF_3DNOW_INSTRUCTIONS_AVAILABLE) != 0;
  in.cpuidSseFlags = QueryCpuidSseFlags();
  in.hasSse = IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != 0;
  in.amdFlags = QueryAmdFeatureFlags();
  return in;
}

MathDispatchPlan PlanMathDispatch(const MathDispatchInputs& in) {
  // "DisableGXLPSGP", when readable, overrides "DisablePSGP", also with 0.
  DWORD v = in.disablePsgp.value_or(0);
  if (in.disableGxlPsgp) v = *in.disableGxlPsgp;

  MathDispatchPlan plan;
  if (v == 1) return plan;  // portable set only
  if (v != 2 && in.has3DNow) {
    plan.variant = kMathVariant3DNow;  // even when the set's own flags store nothing
    plan.amd3DNow = Has3DNowSet(in.amdFlags);
    plan.amd3DNowExt = Has3DNowExtSet(in.amdFlags);
    plan.amdSse = (in.amdFlags & kAmdSse) != 0;
  } else if (in.cpuidSseFlags & kCpuidSse2) {
    plan.variant = kMathVariantSse2;
  } else if (in.hasSse) {
    plan.variant = kMathVariantSse;
  }
  return plan;
}

void FillDispatchX87(MathDispatchTable* table) { ApplySet(table, MathX87Set()); }

void FillDispatch3DNow(MathDispatchTable* table, std::uint32_t amdFlags) {
  if (Has3DNowSet(amdFlags)) {
    ApplySet(table, Math3DNowSet());
    if (Has3DNowExtSet(amdFlags)) ApplySet(table, Math3DNowExtSet());
  }
  if (amdFlags & kAmdSse) ApplySet(table, MathAmdSseSet());
}

void FillDispatchSse2(MathDispatchTable* table) { ApplySet(table, MathSse2Set()); }
void FillDispatchSse(MathDispatchTable* table) { ApplySet(table, MathSseSet()); }

void FillMathDispatch(MathDispatchTable* table, const MathDispatchPlan& plan) {
  CopyTable(table, kDefaultTable);
  FillDispatchX87(table);
  switch (plan.variant) {
    case kMathVariant3DNow:
      if (plan.amd3DNow) ApplySet(table, Math3DNowSet());
      if (plan.amd3DNow && plan.amd3DNowExt) ApplySet(table, Math3DNowExtSet());
      if (plan.amdSse) ApplySet(table, MathAmdSseSet());
      break;
    case kMathVariantSse2:
      FillDispatchSse2(table);
      break;
    case kMathVariantSse:
      FillDispatchSse(table);
      break;
    default:
      break;
  }
}

std::uint32_t InitMathDispatch(int mode) {
  CheckNewDeleteConformance();
  if (mode == 0) {
    std::lock_guard<std::mutex> lock(g_initMutex);
    g_mathVariant.store(kMathVariantUnset, std::memory_order_release);
    CopyTable(&g_mathDispatch, kDefaultTable);
    return kMathVariantUnset;
  }
  std::uint32_t variant = g_mathVariant.load(std::memory_order_acquire);
  if (variant != kMathVariantUnset) return variant;

  // A racing first call waits here and then finds the choice made.
  std::lock_guard<std::mutex> lock(g_initMutex);
  variant = g_mathVariant.load(std::memory_order_acquire);
  if (variant != kMathVariantUnset) return variant;
  const MathDispatchPlan plan = PlanMathDispatch(GatherMathDispatchInputs());
  FillMathDispatch(&g_mathDispatch, plan);
  g_mathVariant.store(plan.variant, std::memory_order_release);
  return plan.variant;
}

void InitMathDispatchByProbe(MathDispatchTable* table) {
  if (!ProbeCpuid()) return;
  if (ProbeSse2()) {
    FillDispatchSse2(table);
  } else if (ProbeSse()) {
    FillDispatchSse(table);
  }
}

namespace gxl::math::test {

void ResetDispatchState() {
  std::lock_guard<std::mutex> lock(g_initMutex);
  CopyTable(&g_mathDispatch, kStubTable);
  g_mathVariant.store(kMathVariantUnset, std::memory_order_release);
}

void ResetMathState() {
  ResetDispatchState();
  ResetMmxState();
  ResetServiceState();
}

MathDispatchTable& LiveDispatchTable() { return g_mathDispatch; }
const MathDispatchTable& StubTable() { return kStubTable; }

std::uint32_t ForceMathDispatch(const MathDispatchPlan& plan) {
  std::lock_guard<std::mutex> lock(g_initMutex);
  FillMathDispatch(&g_mathDispatch, plan);
  g_mathVariant.store(plan.variant, std::memory_order_release);
  return plan.variant;
}

}  // namespace gxl::math::test
