// The sets of bodies the conformance tests run: each variant fills the live
// dispatch table as the dispatcher would for one processor. A new set joins
// every conformance test by adding a row to MathVariants() (and, where its
// bodies keep rules of their own, a family to BodyFamily and its exact cases).
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "gxl/math/math_testing.h"
#include "gxl/math/processor_bodies.h"
#include "math_test_util.h"

namespace mathtest {

struct MathVariantCase {
  const char* name;  // 3DNow! sets start with "3DNow"
  bool portableOnly;      // the portable bodies alone, without the x87-tuned ones
  MathDispatchPlan plan;  // otherwise: what the dispatcher stores
  bool (*runsHere)();     // whether this machine executes the set's instructions
};

inline bool Always() { return true; }
inline void PrintTo(const MathVariantCase& v, std::ostream* os) { *os << v.name; }

inline std::vector<MathVariantCase> MathVariants() {
  return {
      {"portable", true, {}, Always},
      {"x87", false, {kMathVariantPortable}, Always},
      {"SSE", false, {kMathVariantSse}, Always},
      {"SSE2", false, {kMathVariantSse2}, Always},
      // The 3DNow! path: the base set alone, with the bodies for the extended
      // instructions, and with the SSE array bodies (emulated unless the host
      // has 3DNow!).
      {"3DNow", false, {kMathVariant3DNow, true, false, false}, Always},
      {"3DNowExt", false, {kMathVariant3DNow, true, true, false}, Always},
      {"3DNowAmdSse", false, {kMathVariant3DNow, true, false, true}, Always},
  };
}

inline bool Is3DNow(const MathVariantCase& v) { return v.plan.variant == kMathVariant3DNow; }
// The rows of one kind: the 3DNow! rows run as their own instantiation.
inline std::vector<MathVariantCase> MathVariantsWhere(bool now3d) {
  std::vector<MathVariantCase> rows;
  for (const MathVariantCase& v : MathVariants())
    if (Is3DNow(v) == now3d) rows.push_back(v);
  return rows;
}

inline std::string VariantName(const ::testing::TestParamInfo<MathVariantCase>& info) { return info.param.name; }

// Makes the variant's bodies the ones every public entry reaches.
inline void Activate(const MathVariantCase& v) {
  if (v.portableOnly) {
    UsePortableBodies();
  } else {
    gxl::math::test::ForceMathDispatch(v.plan);
  }
}

// The rules a body keeps, by the set it comes from.
enum class Family { Portable, X87, Sse, Now3D };

// Entry k of a table as an untyped code pointer.
inline const void* Entry(const MathDispatchTable& t, int k) {
  const void* p;
  std::memcpy(&p, reinterpret_cast<const char*>(&t) + k * sizeof(void*), sizeof p);
  return p;
}

// The family of the body the live table holds at a position.
inline Family BodyFamily(int position) {
  const void* body = Entry(gxl::math::test::LiveDispatchTable(), position);
  if (body == Entry(MathX87Set(), position)) return Family::X87;
  if (body == Entry(MathSseSet(), position) || body == Entry(MathSse2Set(), position)) return Family::Sse;
  for (const MathDispatchTable* set : {&Math3DNowSet(), &Math3DNowExtSet(), &MathAmdSseSet()})
    if (body == Entry(*set, position)) return Family::Now3D;
  return Family::Portable;
}

// A fixture parameterised over the variants; tests run on the variant's bodies.
class VariantTest : public ::testing::TestWithParam<MathVariantCase> {
 protected:
  void SetUp() override {
    if (!GetParam().runsHere()) GTEST_SKIP() << GetParam().name << " does not run on this processor";
    Activate(GetParam());
  }
};

}  // namespace mathtest

// The conformance checks of every variant (instantiated in conformance_test.cpp).
class MathConformance : public mathtest::VariantTest {};
