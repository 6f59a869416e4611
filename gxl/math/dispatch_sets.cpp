// The processor-specific sets of bodies, by position. A set stores only the
// positions it has a body for; every other position keeps what it had. This
// build has no processor-specific bodies yet: the sets are empty, so every
// variant runs the portable bodies, while the choice of variant, the registry
// switches and the table order stay as they will be.
#include "gxl/math/dispatch.h"

namespace {
constexpr MathDispatchTable kEmptySet{};
}  // namespace

const MathDispatchTable& MathX87Set() { return kEmptySet; }
const MathDispatchTable& Math3DNowSet() { return kEmptySet; }
const MathDispatchTable& Math3DNowExtSet() { return kEmptySet; }
const MathDispatchTable& MathAmdSseSet() { return kEmptySet; }
const MathDispatchTable& MathSse2Set() { return kEmptySet; }
const MathDispatchTable& MathSseSet() { return kEmptySet; }
