// The 3DNow! set of this file's instruction policy as dispatch tables: the
// bodies of the base set (59 positions), those for processors with the
// extended 3DNow! instructions and MMX extensions (5), and the SSE array bodies
// of the 3DNow! path (8 positions, one body serving 66 and 69).
#include "gxl/math/now3d_instance.h"
#include "gxl/math/processor_bodies.h"

namespace gxl::math::now3d {

namespace {

constexpr MathDispatchTable MakeBase() {
  using Vb = VectorBodies<Policy>;
  using Mb = MatrixBodies<Policy>;
  using Qb = QuaternionBodies<Policy>;
  MathDispatchTable t{};
#define GXL_FROM(group, name) t.name = &group::name;
  GXL_FROM(Vb, Vec2Transform)
  GXL_FROM(Vb, Vec3Transform)
  GXL_FROM(Vb, Vec4Transform)
  GXL_FROM(Mb, MatrixMultiply)
  GXL_FROM(Mb, MatrixMultiplyTranspose)
  GXL_FROM(Vb, Vec2TransformDirection)
  GXL_FROM(Vb, Vec3TransformDirection)
  GXL_FROM(Vb, Vec3Normalize)
  GXL_FROM(Vb, Vec4Normalize)
  GXL_FROM(Vb, Vec2TransformPoint)
  GXL_FROM(Vb, Vec3TransformPoint)
  GXL_FROM(Mb, MatrixDeterminant)
  GXL_FROM(Vb, PlaneFromPointNormal)
  GXL_FROM(Vb, PlaneFromPoints)
  GXL_FROM(Mb, Vec3ToViewport)
  GXL_FROM(Mb, Vec3FromViewport)
  GXL_FROM(Vb, Vec4Cross)
  GXL_FROM(Vb, Vec2Hermite)
  GXL_FROM(Mb, MatrixInverse)
  GXL_FROM(Qb, QuaternionMultiply)
  GXL_FROM(Qb, QuaternionNormalize)
  GXL_FROM(Vb, PlaneNormalize)
  GXL_FROM(Vb, PlaneIntersectLine)
  GXL_FROM(Qb, QuaternionToAxisAngle)
  GXL_FROM(Qb, QuaternionFromMatrix)
  GXL_FROM(Qb, QuaternionFromYawPitchRoll)
  GXL_FROM(Mb, MatrixTranslation)
  GXL_FROM(Mb, MatrixPlanarShadow)
  GXL_FROM(Mb, MatrixPlaneReflection)
  GXL_FROM(Qb, QuaternionFromAxisAngle)
  GXL_FROM(Mb, MatrixRotationX)
  GXL_FROM(Mb, MatrixRotationY)
  GXL_FROM(Mb, MatrixRotationZ)
  GXL_FROM(Mb, MatrixScaling)
  GXL_FROM(Vb, PlaneTransform)
  GXL_FROM(Qb, QuaternionSlerp)
  GXL_FROM(Qb, QuaternionBarycentric)
  GXL_FROM(Mb, MatrixTranspose)
  GXL_FROM(Mb, MatrixFromQuaternion)
  GXL_FROM(Mb, MatrixCompose)
  GXL_FROM(Mb, MatrixFromYawPitchRoll)
  GXL_FROM(Mb, MatrixComposeAffine)
  GXL_FROM(Mb, MatrixRotationAxis)
  GXL_FROM(Qb, QuaternionSpline)
  GXL_FROM(Qb, QuaternionInverse)
  GXL_FROM(Qb, QuaternionSplineSetup)
  GXL_FROM(Vb, Vec2Normalize)
  GXL_FROM(Vb, Vec2CatmullRom)
  GXL_FROM(Vb, Vec2Barycentric)
  GXL_FROM(Vb, Vec3Hermite)
  GXL_FROM(Vb, Vec3CatmullRom)
  GXL_FROM(Vb, Vec3Barycentric)
  GXL_FROM(Vb, Vec4Hermite)
  GXL_FROM(Vb, Vec4CatmullRom)
  GXL_FROM(Vb, Vec4Barycentric)
  GXL_FROM(Qb, QuaternionLn)
  GXL_FROM(Qb, QuaternionExp)
  GXL_FROM(Vb, FloatToHalfArray)
  GXL_FROM(Vb, HalfToFloatArray)
  return t;
}

constexpr MathDispatchTable MakeExtended() {
  using Eb = ExtBodies<Policy>;
  MathDispatchTable t{};
  GXL_FROM(Eb, Vec3FromViewport)
  GXL_FROM(Eb, MatrixInverse)
  GXL_FROM(Eb, QuaternionFromMatrix)
  GXL_FROM(Eb, MatrixFromQuaternion)
  GXL_FROM(Eb, MatrixCompose)
  return t;
}

constexpr MathDispatchTable MakeAmdSse() {
  using Ab = AmdSseBodies<Policy>;
  MathDispatchTable t{};
  GXL_FROM(Ab, Vec2TransformArray)
  GXL_FROM(Ab, Vec2TransformPointArray)
  GXL_FROM(Ab, Vec2TransformDirectionArray)
  GXL_FROM(Ab, Vec3TransformArray)
  GXL_FROM(Ab, Vec3TransformPointArray)
  GXL_FROM(Ab, Vec3TransformDirectionArray)
  GXL_FROM(Ab, Vec4TransformArray)
  GXL_FROM(Ab, PlaneTransformArray)
  return t;
}
#undef GXL_FROM

constexpr SetTables kSets{MakeBase(), MakeExtended(), MakeAmdSse()};

}  // namespace

#if GXL_3DNOW_HW
const SetTables& HardwareSets() { return kSets; }
#else
const SetTables& EmulatedSets() { return kSets; }
#endif

}  // namespace gxl::math::now3d
