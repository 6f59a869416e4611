// The processor-specific sets of bodies, by position. A set stores only the
// positions it has a body for; every other position keeps what it had. The
// 3DNow! sets run on the real instructions where the host has them (and the
// build made them), else on their exact emulation.
#include "gxl/math/dispatch.h"
#include "gxl/math/math_testing.h"
#include "gxl/math/processor_bodies.h"
#include "platform/cpu.h"

namespace {

namespace x87 = gxl::math::x87;
namespace sse = gxl::math::sse;
namespace sse2 = gxl::math::sse2;

// Positions 0 to 7 and 35; one body serves Vec4Transform and PlaneTransform.
constexpr MathDispatchTable MakeX87Set() {
  MathDispatchTable t{};
  t.Vec2Transform = &x87::Vec2Transform;
  t.Vec3Transform = &x87::Vec3Transform;
  t.Vec4Transform = &x87::Vec4Transform;
  t.MatrixMultiply = &x87::MatrixMultiply;
  t.MatrixMultiplyTranspose = &x87::MatrixMultiplyTranspose;
  t.Vec2TransformDirection = &x87::Vec2TransformDirection;
  t.Vec3TransformDirection = &x87::Vec3TransformDirection;
  t.Vec3Normalize = &x87::Vec3Normalize;
  t.PlaneTransform = &x87::PlaneTransform;
  return t;
}
constexpr MathDispatchTable kX87Set = MakeX87Set();

// 44 positions.
constexpr MathDispatchTable MakeSseSet() {
  MathDispatchTable t{};
  t.Vec2Transform = &sse::Vec2Transform;
  t.Vec3Transform = &sse::Vec3Transform;
  t.Vec4Transform = &sse::Vec4Transform;
  t.MatrixMultiply = &sse::MatrixMultiply;
  t.MatrixMultiplyTranspose = &sse::MatrixMultiplyTranspose;
  t.Vec2TransformDirection = &sse::Vec2TransformDirection;
  t.Vec3TransformDirection = &sse::Vec3TransformDirection;
  t.Vec3Normalize = &sse::Vec3Normalize;
  t.Vec4Normalize = &sse::Vec4Normalize;
  t.Vec2TransformPoint = &sse::Vec2TransformPoint;
  t.Vec3TransformPoint = &sse::Vec3TransformPoint;
  t.MatrixDeterminant = &sse::MatrixDeterminant;
  t.PlaneFromPoints = &sse::PlaneFromPoints;
  t.Vec4Cross = &sse::Vec4Cross;
  t.Vec2Hermite = &sse::Vec2Hermite;
  t.MatrixInverse = &sse::MatrixInverse;
  t.QuaternionMultiply = &sse::QuaternionMultiply;
  t.QuaternionNormalize = &sse::QuaternionNormalize;
  t.PlaneNormalize = &sse::PlaneNormalize;
  t.PlaneIntersectLine = &sse::PlaneIntersectLine;
  t.QuaternionFromMatrix = &sse::QuaternionFromMatrix;
  t.QuaternionFromYawPitchRoll = &sse::QuaternionFromYawPitchRoll;
  t.MatrixPlanarShadow = &sse::MatrixPlanarShadow;
  t.MatrixPlaneReflection = &sse::MatrixPlaneReflection;
  t.PlaneTransform = &sse::PlaneTransform;
  t.QuaternionInverse = &sse::QuaternionInverse;
  t.Vec2CatmullRom = &sse::Vec2CatmullRom;
  t.Vec2Barycentric = &sse::Vec2Barycentric;
  t.Vec3Hermite = &sse::Vec3Hermite;
  t.Vec3CatmullRom = &sse::Vec3CatmullRom;
  t.Vec3Barycentric = &sse::Vec3Barycentric;
  t.Vec4Hermite = &sse::Vec4Hermite;
  t.Vec4CatmullRom = &sse::Vec4CatmullRom;
  t.Vec4Barycentric = &sse::Vec4Barycentric;
  t.HalfToFloatArray = &sse::HalfToFloatArray;
  t.Vec2TransformArray = &sse::Vec2TransformArray;
  t.Vec2TransformPointArray = &sse::Vec2TransformPointArray;
  t.Vec2TransformDirectionArray = &sse::Vec2TransformDirectionArray;
  t.Vec3TransformArray = &sse::Vec3TransformArray;
  t.Vec3TransformPointArray = &sse::Vec3TransformPointArray;
  t.Vec3TransformDirectionArray = &sse::Vec3TransformDirectionArray;
  t.Vec4TransformArray = &sse::Vec4TransformArray;
  t.PlaneTransformArray = &sse::PlaneTransformArray;
  t.EvaluateTrianglePatch = &sse::EvaluateTrianglePatch;
  return t;
}
constexpr MathDispatchTable kSseSet = MakeSseSet();

// 43 positions: the SSE set less QuaternionInverse (the portable zero rule
// stays). Where the SSE body itself serves, the SSE entry stays; the others are
// the SSE2 copies and the SSE2 forms.
constexpr MathDispatchTable MakeSse2Set() {
  MathDispatchTable t = MakeSseSet();
  t.QuaternionInverse = nullptr;
  t.Vec3Transform = &sse2::Vec3Transform;
  t.Vec4Transform = &sse2::Vec4Transform;
  t.MatrixMultiply = &sse2::MatrixMultiply;
  t.MatrixMultiplyTranspose = &sse2::MatrixMultiplyTranspose;
  t.Vec3TransformDirection = &sse2::Vec3TransformDirection;
  t.Vec3Normalize = &sse2::Vec3Normalize;
  t.Vec3TransformPoint = &sse2::Vec3TransformPoint;
  t.MatrixDeterminant = &sse2::MatrixDeterminant;
  t.PlaneFromPoints = &sse2::PlaneFromPoints;
  t.Vec4Cross = &sse2::Vec4Cross;
  t.MatrixInverse = &sse2::MatrixInverse;
  t.PlaneNormalize = &sse2::PlaneNormalize;
  t.QuaternionFromMatrix = &sse2::QuaternionFromMatrix;
  t.QuaternionFromYawPitchRoll = &sse2::QuaternionFromYawPitchRoll;
  t.MatrixPlanarShadow = &sse2::MatrixPlanarShadow;
  t.MatrixPlaneReflection = &sse2::MatrixPlaneReflection;
  t.PlaneTransform = &sse2::PlaneTransform;
  t.HalfToFloatArray = &sse2::HalfToFloatArray;
  t.Vec2TransformArray = &sse2::Vec2TransformArray;
  t.Vec2TransformPointArray = &sse2::Vec2TransformPointArray;
  t.Vec2TransformDirectionArray = &sse2::Vec2TransformDirectionArray;
  t.Vec3TransformArray = &sse2::Vec3TransformArray;
  t.Vec3TransformPointArray = &sse2::Vec3TransformPointArray;
  t.Vec3TransformDirectionArray = &sse2::Vec3TransformDirectionArray;
  t.Vec4TransformArray = &sse2::Vec4TransformArray;
  t.PlaneTransformArray = &sse2::PlaneTransformArray;
  return t;
}
constexpr MathDispatchTable kSse2Set = MakeSse2Set();

const gxl::math::now3d::SetTables& Now3DSets() {
#if GXL_HAS_HW_3DNOW
  if (platform::cpu::Use3DNowHardware()) return gxl::math::now3d::HardwareSets();
#endif
  return gxl::math::now3d::EmulatedSets();
}

}  // namespace

namespace gxl::math::test {
bool Uses3DNowHardware() { return &Now3DSets() != &gxl::math::now3d::EmulatedSets(); }
}  // namespace gxl::math::test

const MathDispatchTable& MathX87Set() { return kX87Set; }
const MathDispatchTable& Math3DNowSet() { return Now3DSets().base; }
const MathDispatchTable& Math3DNowExtSet() { return Now3DSets().extended; }
const MathDispatchTable& MathAmdSseSet() { return Now3DSets().amdSse; }
const MathDispatchTable& MathSse2Set() { return kSse2Set; }
const MathDispatchTable& MathSseSet() { return kSseSet; }
