// The 3DNow! bodies for processors that also have the extended 3DNow!
// instructions and the MMX extensions: the inverse (and the viewport body that
// inverts), the matrix of a quaternion, the composition and the quaternion of a
// matrix. They give the same bits as the base bodies.
#include "gxl/math/now3d_instance.h"
#include "gxl/math/now3d_kernels.h"

namespace gxl::math::now3d {

template <class P>
bool ExtBodies<P>::InverseCore(Matrix4* out, float* determinant, const Matrix4* m) {
  return kernel::Inverse<ExtBodies>(out, determinant, m);
}

template <class P>
Matrix4* ExtBodies<P>::MatrixInverse(Matrix4* out, float* determinant, const Matrix4* m) {
  const bool ok = InverseCore(out, determinant, m);
  femms();
  return ok ? out : nullptr;
}

template <class P>
Vec3* ExtBodies<P>::Vec3FromViewport(Vec3* out, const Vec3* v, const Viewport* vp, const Matrix4* projection,
                                     const Matrix4* view, const Matrix4* world) {
  kernel::FromViewport<ExtBodies>(out, v, vp, projection, view, world);
  femms();
  return out;
}

template <class P>
Matrix4* ExtBodies<P>::MatrixFromQuaternion(Matrix4* out, const Quaternion* q) {
  PutRows(out, kernel::FromQuaternion<ExtBodies>(Lo(&q->x), Hi(&q->x)));
  femms();
  return out;
}

template <class P>
Matrix4* ExtBodies<P>::MatrixCompose(Matrix4* out, const Vec3* scalingCentre, const Quaternion* scalingRotation,
                                     const Vec3* scaling, const Vec3* rotationCentre, const Quaternion* rotation,
                                     const Vec3* translation) {
  kernel::Compose<ExtBodies>(out, scalingCentre, scalingRotation, scaling, rotationCentre, rotation, translation);
  femms();
  return out;
}

template <class P>
Quaternion* ExtBodies<P>::QuaternionFromMatrix(Quaternion* out, const Matrix4* m) {
  kernel::ToQuaternion<ExtBodies>(out, m);
  femms();
  return out;
}

template struct ExtBodies<Policy>;

}  // namespace gxl::math::now3d
