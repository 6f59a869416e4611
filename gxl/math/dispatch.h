// The dispatch table of the math operations and the one-time choice of bodies.
//
// Every dispatched operation has one public entry that calls through its
// position in the process-wide MathDispatchTable. The table starts out holding
// set-up stubs; the first call of any operation chooses the bodies of all of
// them at once (InitMathDispatch), from the processor's features and two
// registry switches, and then runs the chosen body.
#pragma once

#include <cstdint>
#include <optional>

#include "gxl/math/records.h"
#include "platform/win_types.h"

// One code pointer per dispatched operation, in position order.
struct MathDispatchTable {
#define MATH_OP(pos, name, ret, params, args) ret(*name) params;
#include "gxl/math/dispatch_ops.def"
};

constexpr int kMathDispatchPositions = 74;
static_assert(sizeof(MathDispatchTable) == kMathDispatchPositions * sizeof(void*));

// Values of the MathVariant word.
constexpr std::uint32_t kMathVariantUnset = 0xFFFF;
constexpr std::uint32_t kMathVariantPortable = 0;  // portable with the x87-tuned bodies
constexpr std::uint32_t kMathVariant3DNow = 1;
constexpr std::uint32_t kMathVariantSse2 = 2;
constexpr std::uint32_t kMathVariantSse = 3;

// Flags of QueryCpuidSseFlags.
constexpr std::uint32_t kCpuidSse = 4;
constexpr std::uint32_t kCpuidSse2 = 8;

// Flags of QueryAmdFeatureFlags.
constexpr std::uint32_t kAmdAlways = 0x1;
constexpr std::uint32_t kAmdStandardLeaves = 0x2;
constexpr std::uint32_t kAmdExtendedLeaves = 0x4;
constexpr std::uint32_t kAmdMmx = 0x20;
constexpr std::uint32_t kAmdSse = 0x40;
constexpr std::uint32_t kAmd3DNow = 0x80;
constexpr std::uint32_t kAmd3DNowExt = 0x100;
constexpr std::uint32_t kAmdMmxExt = 0x200;

// mode 0 resets the table to the portable bodies and the variant to unset; any
// other mode chooses the bodies once. Returns the MathVariant word. Safe to call
// from several threads at once.
std::uint32_t InitMathDispatch(int mode);

// The current MathVariant word.
std::uint32_t CurrentMathVariant();

// What the choice depends on, so that it can be made without the processor.
struct MathDispatchInputs {
  std::optional<DWORD> disablePsgp;     // "DisablePSGP", when readable as REG_DWORD
  std::optional<DWORD> disableGxlPsgp;  // "DisableGXLPSGP", likewise
  bool has3DNow = false;                // processor feature 7
  std::uint32_t cpuidSseFlags = 0;      // QueryCpuidSseFlags()
  bool hasSse = false;                  // processor feature 6
  std::uint32_t amdFlags = 0;           // QueryAmdFeatureFlags()
};

// Which sets the choice stores over the portable and x87-tuned bodies.
struct MathDispatchPlan {
  std::uint32_t variant = kMathVariantPortable;
  bool amd3DNow = false;     // the 3DNow!/MMX bodies
  bool amd3DNowExt = false;  // the bodies for extended 3DNow! and MMX extensions
  bool amdSse = false;       // the SSE array bodies of the 3DNow! path
};

MathDispatchPlan PlanMathDispatch(const MathDispatchInputs& inputs);
// Reads the registry switches and the processor.
MathDispatchInputs GatherMathDispatchInputs();

// Stores the portable bodies, the x87-tuned ones over them, then the sets of the
// plan. Each set overwrites only the positions it has a body for.
void FillMathDispatch(MathDispatchTable* table, const MathDispatchPlan& plan);

// The portable bodies, by position; read-only.
const MathDispatchTable& MathDefaultTable();

// The processor-specific sets, by position; null where a set has no body.
const MathDispatchTable& MathX87Set();
const MathDispatchTable& Math3DNowSet();
const MathDispatchTable& Math3DNowExtSet();
const MathDispatchTable& MathAmdSseSet();
const MathDispatchTable& MathSse2Set();
const MathDispatchTable& MathSseSet();

void FillDispatchX87(MathDispatchTable* table);
void FillDispatch3DNow(MathDispatchTable* table, std::uint32_t amdFlags);
void FillDispatchSse2(MathDispatchTable* table);
void FillDispatchSse(MathDispatchTable* table);

// Stores the SSE2 set when the probes find SSE2, else the SSE set when they find
// SSE; leaves the variant alone.
void InitMathDispatchByProbe(MathDispatchTable* table);
