// The memory shape of every operation: nothing written outside the output
// record, 4-byte alignment is enough, the output may be an input, and strided
// arrays leave the gaps between their elements alone.
#include <cstring>
#include <vector>

#include "math_variants.h"

namespace {

using mathtest::Guarded;
using mathtest::SameBits;

// The byte offsets from a 16-byte boundary that records are placed at.
constexpr std::size_t kMisalignments[] = {0, 4, 8, 12};

// Runs call(out, in) into a guarded record, then with out and in at one address,
// and expects the same bytes both times.
template <typename Out, typename In, typename Call>
void Shape(std::size_t align, const char* what, const In& input, Call call) {
  SCOPED_TRACE(what);
  Guarded<Out> g(align);
  EXPECT_EQ(static_cast<void*>(call(g.ptr(), &input)), static_cast<void*>(g.ptr()));
  EXPECT_TRUE(g.Intact());
  constexpr std::size_t size = sizeof(Out) > sizeof(In) ? sizeof(Out) : sizeof(In);
  struct Raw {
    unsigned char bytes[size];
  };
  Guarded<Raw> shared(align);
  std::memcpy(shared.ptr(), &input, sizeof(In));
  call(reinterpret_cast<Out*>(shared.ptr()), reinterpret_cast<const In*>(shared.ptr()));
  EXPECT_TRUE(shared.Intact());
  Out same;
  std::memcpy(&same, shared.ptr(), sizeof(Out));
  EXPECT_TRUE(SameBits(same, g.value()));
}

TEST_P(MathConformance, SingleRecordShapes) {
  for (std::size_t align : kMisalignments) {
    SCOPED_TRACE(align);
    mathtest::Rng rng(1);
    const Matrix4 m = rng.M(), a = rng.Affine();
    Guarded<Matrix4> gm(m, align), ga(a, align);
    const Matrix4* pm = gm.ptr();
    const Matrix4* pa = ga.ptr();
    const Vec2 v2 = rng.V2(), w2 = rng.V2(), x2 = rng.V2(), y2 = rng.V2();
    const Vec3 v3 = rng.V3(), w3 = rng.V3(), x3 = rng.V3(), y3 = rng.V3();
    const Vec4 v4 = rng.V4(), w4 = rng.V4(), x4 = rng.V4(), y4 = rng.V4();
    const Quaternion q = rng.Q(), r = rng.Q(), s = rng.Q(), t = rng.Q();
    const Plane p = rng.P();
    const ColorF c(0.1f, 0.5f, 0.9f, 0.3f);
    const Viewport vp{2, 3, 300, 200, 0.1f, 0.9f};

    Shape<Vec4>(align, "Vec2Transform", v2, [&](Vec4* o, const Vec2* i) { return Vec2Transform(o, i, pm); });
    Shape<Vec4>(align, "Vec3Transform", v3, [&](Vec4* o, const Vec3* i) { return Vec3Transform(o, i, pm); });
    Shape<Vec4>(align, "Vec4Transform", v4, [&](Vec4* o, const Vec4* i) { return Vec4Transform(o, i, pm); });
    Shape<Vec2>(align, "Vec2TransformDirection", v2,
                [&](Vec2* o, const Vec2* i) { return Vec2TransformDirection(o, i, pm); });
    Shape<Vec3>(align, "Vec3TransformDirection", v3,
                [&](Vec3* o, const Vec3* i) { return Vec3TransformDirection(o, i, pm); });
    Shape<Vec2>(align, "Vec2TransformPoint", v2, [&](Vec2* o, const Vec2* i) { return Vec2TransformPoint(o, i, pm); });
    Shape<Vec3>(align, "Vec3TransformPoint", v3, [&](Vec3* o, const Vec3* i) { return Vec3TransformPoint(o, i, pm); });
    Shape<Vec2>(align, "Vec2Normalize", v2, [](Vec2* o, const Vec2* i) { return Vec2Normalize(o, i); });
    Shape<Vec3>(align, "Vec3Normalize", v3, [](Vec3* o, const Vec3* i) { return Vec3Normalize(o, i); });
    Shape<Vec4>(align, "Vec4Normalize", v4, [](Vec4* o, const Vec4* i) { return Vec4Normalize(o, i); });
    Shape<Vec4>(align, "Vec4Cross u", v4, [&](Vec4* o, const Vec4* i) { return Vec4Cross(o, i, &w4, &x4); });
    Shape<Vec4>(align, "Vec4Cross w", v4, [&](Vec4* o, const Vec4* i) { return Vec4Cross(o, &w4, &x4, i); });
    Shape<Vec2>(align, "Vec2Hermite", v2,
                [&](Vec2* o, const Vec2* i) { return Vec2Hermite(o, &w2, &x2, i, &y2, 0.3f); });
    Shape<Vec3>(align, "Vec3Hermite", v3,
                [&](Vec3* o, const Vec3* i) { return Vec3Hermite(o, i, &w3, &x3, &y3, 0.3f); });
    Shape<Vec4>(align, "Vec4Hermite", v4,
                [&](Vec4* o, const Vec4* i) { return Vec4Hermite(o, &w4, &x4, &y4, i, 0.3f); });
    Shape<Vec2>(align, "Vec2CatmullRom", v2,
                [&](Vec2* o, const Vec2* i) { return Vec2CatmullRom(o, i, &w2, &x2, &y2, 0.6f); });
    Shape<Vec3>(align, "Vec3CatmullRom", v3,
                [&](Vec3* o, const Vec3* i) { return Vec3CatmullRom(o, &w3, i, &x3, &y3, 0.6f); });
    Shape<Vec4>(align, "Vec4CatmullRom", v4,
                [&](Vec4* o, const Vec4* i) { return Vec4CatmullRom(o, &w4, &x4, &y4, i, 0.6f); });
    Shape<Vec2>(align, "Vec2Barycentric", v2,
                [&](Vec2* o, const Vec2* i) { return Vec2Barycentric(o, i, &w2, &x2, 0.2f, 0.3f); });
    Shape<Vec3>(align, "Vec3Barycentric", v3,
                [&](Vec3* o, const Vec3* i) { return Vec3Barycentric(o, &w3, i, &x3, 0.2f, 0.3f); });
    Shape<Vec4>(align, "Vec4Barycentric", v4,
                [&](Vec4* o, const Vec4* i) { return Vec4Barycentric(o, &w4, &x4, i, 0.2f, 0.3f); });
    Shape<Vec3>(align, "Vec3ToViewport", v3,
                [&](Vec3* o, const Vec3* i) { return Vec3ToViewport(o, i, &vp, pm, pa, nullptr); });
    Shape<Vec3>(align, "Vec3FromViewport", v3,
                [&](Vec3* o, const Vec3* i) { return Vec3FromViewport(o, i, &vp, pa, nullptr, pm); });

    Shape<Matrix4>(align, "MatrixMultiply a", m,
                   [&](Matrix4* o, const Matrix4* i) { return MatrixMultiply(o, i, pa); });
    Shape<Matrix4>(align, "MatrixMultiply b", m,
                   [&](Matrix4* o, const Matrix4* i) { return MatrixMultiply(o, pa, i); });
    Shape<Matrix4>(align, "MatrixMultiplyTranspose", m,
                   [&](Matrix4* o, const Matrix4* i) { return MatrixMultiplyTranspose(o, pa, i); });
    Shape<Matrix4>(align, "MatrixTranspose", m, [](Matrix4* o, const Matrix4* i) { return MatrixTranspose(o, i); });
    Shape<Matrix4>(align, "MatrixInverse", m,
                   [](Matrix4* o, const Matrix4* i) { return MatrixInverse(o, nullptr, i); });
    Shape<Matrix4>(align, "MatrixFromQuaternion", q,
                   [](Matrix4* o, const Quaternion* i) { return MatrixFromQuaternion(o, i); });
    Shape<Matrix4>(align, "MatrixRotationAxis", v3,
                   [](Matrix4* o, const Vec3* i) { return MatrixRotationAxis(o, i, 0.7f); });
    Shape<Matrix4>(align, "MatrixPlanarShadow", p,
                   [&](Matrix4* o, const Plane* i) { return MatrixPlanarShadow(o, &v4, i); });
    Shape<Matrix4>(align, "MatrixPlanarShadow light", v4,
                   [&](Matrix4* o, const Vec4* i) { return MatrixPlanarShadow(o, i, &p); });
    Shape<Matrix4>(align, "MatrixPlaneReflection", p,
                   [](Matrix4* o, const Plane* i) { return MatrixPlaneReflection(o, i); });
    Shape<Matrix4>(align, "MatrixCompose", q,
                   [&](Matrix4* o, const Quaternion* i) { return MatrixCompose(o, &v3, i, &w3, &x3, &r, &y3); });
    Shape<Matrix4>(align, "MatrixComposeAffine", v3,
                   [&](Matrix4* o, const Vec3* i) { return MatrixComposeAffine(o, 2.0f, i, &q, &w3); });
    Shape<Matrix4>(align, "MatrixCompose2D", v2,
                   [&](Matrix4* o, const Vec2* i) { return MatrixCompose2D(o, i, 0.4f, &w2, &x2, 0.9f, &y2); });
    Shape<Matrix4>(align, "MatrixComposeAffine2D", v2,
                   [&](Matrix4* o, const Vec2* i) { return MatrixComposeAffine2D(o, 0.5f, &w2, 0.9f, i); });
    Shape<Matrix4>(align, "MatrixLookAtRH", v3,
                   [&](Matrix4* o, const Vec3* i) { return MatrixLookAtRH(o, i, &w3, &x3); });

    Shape<Quaternion>(align, "QuaternionMultiply 1", q,
                      [&](Quaternion* o, const Quaternion* i) { return QuaternionMultiply(o, i, &r); });
    Shape<Quaternion>(align, "QuaternionMultiply 2", q,
                      [&](Quaternion* o, const Quaternion* i) { return QuaternionMultiply(o, &r, i); });
    Shape<Quaternion>(align, "QuaternionNormalize", q * 3.0f,
                      [](Quaternion* o, const Quaternion* i) { return QuaternionNormalize(o, i); });
    Shape<Quaternion>(align, "QuaternionInverse", q,
                      [](Quaternion* o, const Quaternion* i) { return QuaternionInverse(o, i); });
    Shape<Quaternion>(align, "QuaternionLn", q, [](Quaternion* o, const Quaternion* i) { return QuaternionLn(o, i); });
    Shape<Quaternion>(align, "QuaternionExp", q,
                      [](Quaternion* o, const Quaternion* i) { return QuaternionExp(o, i); });
    Shape<Quaternion>(align, "QuaternionSlerp 1", q,
                      [&](Quaternion* o, const Quaternion* i) { return QuaternionSlerp(o, i, &r, 0.3f); });
    Shape<Quaternion>(align, "QuaternionSlerp 2", q,
                      [&](Quaternion* o, const Quaternion* i) { return QuaternionSlerp(o, &r, i, 0.3f); });
    Shape<Quaternion>(align, "QuaternionSpline", q,
                      [&](Quaternion* o, const Quaternion* i) { return QuaternionSpline(o, &r, &s, i, &t, 0.3f); });
    Shape<Quaternion>(align, "QuaternionBarycentric", q, [&](Quaternion* o, const Quaternion* i) {
      return QuaternionBarycentric(o, i, &r, &s, 0.3f, 0.4f);
    });
    Shape<Quaternion>(align, "QuaternionFromAxisAngle", v3,
                      [](Quaternion* o, const Vec3* i) { return QuaternionFromAxisAngle(o, i, 1.3f); });
    Shape<Quaternion>(align, "QuaternionFromMatrix", a,
                      [](Quaternion* o, const Matrix4* i) { return QuaternionFromMatrix(o, i); });
    Shape<Plane>(align, "PlaneFromPointNormal", v3,
                 [&](Plane* o, const Vec3* i) { return PlaneFromPointNormal(o, i, &w3); });
    Shape<Plane>(align, "PlaneFromPoints", v3,
                 [&](Plane* o, const Vec3* i) { return PlaneFromPoints(o, &w3, i, &x3); });
    Shape<Plane>(align, "PlaneNormalize", p, [](Plane* o, const Plane* i) { return PlaneNormalize(o, i); });
    Shape<Plane>(align, "PlaneTransform", p, [&](Plane* o, const Plane* i) { return PlaneTransform(o, i, pm); });
    Shape<Vec3>(align, "PlaneIntersectLine", v3,
                [&](Vec3* o, const Vec3* i) { return PlaneIntersectLine(o, &p, i, &w3); });
    Shape<ColorF>(align, "ColorAdjustSaturation", c,
                  [](ColorF* o, const ColorF* i) { return ColorAdjustSaturation(o, i, 0.4f); });
    Shape<ColorF>(align, "ColorAdjustContrast", c,
                  [](ColorF* o, const ColorF* i) { return ColorAdjustContrast(o, i, 1.4f); });
  }
}

TEST_P(MathConformance, OperationsWithoutAnOutputFirst) {
  mathtest::Rng rng(2);
  const Quaternion q0 = rng.Q(), q1 = rng.Q(), q2 = rng.Q(), q3 = rng.Q();
  Guarded<Quaternion> a, b, c;
  QuaternionSplineSetup(a.ptr(), b.ptr(), c.ptr(), &q0, &q1, &q2, &q3);
  EXPECT_TRUE(a.Intact() && b.Intact() && c.Intact());
  // Outputs over the inputs give the same control points.
  Quaternion x0 = q0, x1 = q1, x2 = q2, x3 = q3;
  QuaternionSplineSetup(&x1, &x2, &x3, &x0, &x1, &x2, &x3);
  EXPECT_TRUE(SameBits(x1, a.value()) && SameBits(x2, b.value()) && SameBits(x3, c.value()));

  Guarded<Vec3> axis;
  Guarded<float> angle;
  QuaternionToAxisAngle(&q0, axis.ptr(), angle.ptr());
  EXPECT_TRUE(axis.Intact() && angle.Intact());

  Guarded<Vec3> scale, translation;
  Guarded<Quaternion> rotation;
  Matrix4 m;
  const Vec3 s(1, 2, 3), t(4, 5, 6);
  MatrixCompose(&m, nullptr, nullptr, &s, nullptr, &q1, &t);
  EXPECT_EQ(MatrixDecompose(scale.ptr(), rotation.ptr(), translation.ptr(), &m), S_OK);
  EXPECT_TRUE(scale.Intact() && rotation.Intact() && translation.Intact());

  Guarded<Matrix4> elementary[9];
  MatrixTranslation(elementary[0].ptr(), 1, 2, 3);
  MatrixScaling(elementary[1].ptr(), 1, 2, 3);
  MatrixRotationX(elementary[2].ptr(), 1);
  MatrixRotationY(elementary[3].ptr(), 1);
  MatrixRotationZ(elementary[4].ptr(), 1);
  MatrixFromYawPitchRoll(elementary[5].ptr(), 1, 2, 3);
  MatrixIdentity(elementary[6].ptr());
  MatrixPerspectiveFovRH(elementary[7].ptr(), 1, 1.5f, 1, 10);
  MatrixOrthoOffCenterLH(elementary[8].ptr(), 0, 640, 480, 0, 0, 1);
  for (auto& e : elementary) EXPECT_TRUE(e.Intact());
  Guarded<Quaternion> ypr;
  QuaternionFromYawPitchRoll(ypr.ptr(), 1, 2, 3);
  EXPECT_TRUE(ypr.Intact());
}

// A strided array of records `lead` bytes past a 16-byte boundary, with a gap of
// guard bytes after each element and 16 more after the last.
template <typename T>
struct Strided {
  std::vector<unsigned char> bytes;
  std::uint32_t stride;
  std::size_t lead;
  Strided(std::uint32_t count, std::uint32_t stride_, std::size_t lead_)
      : bytes(count * stride_ + lead_ + 16, 0xC3), stride(stride_), lead(lead_) {}
  unsigned char* base(std::uint32_t i) { return bytes.data() + lead + i * stride; }
  T* at(std::uint32_t i) { return reinterpret_cast<T*>(base(i)); }
  T get(std::uint32_t i) const {
    T v;
    std::memcpy(&v, bytes.data() + lead + i * stride, sizeof v);
    return v;
  }
  void set(std::uint32_t i, const T& v) { std::memcpy(base(i), &v, sizeof v); }
  // The gaps, the lead-in and the tail still hold the fill.
  bool GapsIntact(std::uint32_t count, std::size_t written) const {
    for (std::size_t k = 0; k < bytes.size(); ++k) {
      const bool element = k >= lead && (k - lead) / stride < count && (k - lead) % stride < written;
      if (!element && bytes[k] != 0xC3) return false;
    }
    return true;
  }
};

// For every count 0-40 and every stride pair: each element as the single
// operation gives it, the gaps untouched, and in-place use with equal strides.
template <typename Out, typename In, typename Array, typename Single>
void CheckArray(const char* what, Array array, Single single, float tolerance = 1e-5f) {
  SCOPED_TRACE(what);
  mathtest::Rng rng(3);
  const std::uint32_t strides[] = {12, 16, 20, 24};
  for (std::uint32_t count = 0; count <= 40; ++count) {
    for (std::size_t lead : kMisalignments) {
      for (std::uint32_t inStride : strides) {
        if (inStride < sizeof(In)) continue;
        for (std::uint32_t outStride : strides) {
          if (outStride < sizeof(Out)) continue;
          Strided<In> in(count, inStride, lead);
          Strided<Out> out(count, outStride, lead);
          for (std::uint32_t i = 0; i < count; ++i) {
            In v;
            float* f = reinterpret_cast<float*>(&v);
            for (std::size_t k = 0; k < sizeof(In) / 4; ++k) f[k] = rng.Uniform(-2, 2);
            in.set(i, v);
          }
          ASSERT_EQ(array(out.at(0), outStride, in.at(0), inStride, count), out.at(0));
          for (std::uint32_t i = 0; i < count; ++i) {
            Out expect;
            const In v = in.get(i);
            single(&expect, &v);
            ASSERT_TRUE(mathtest::RecordNear(out.get(i), expect, tolerance)) << count << " " << i;
          }
          ASSERT_TRUE(out.GapsIntact(count, sizeof(Out))) << count << " " << inStride << " " << outStride;
        }
        if (inStride < sizeof(Out)) continue;
        // In place: the input array overwritten by its results.
        Strided<In> both(count, inStride, lead);
        std::vector<Out> expect(count);
        for (std::uint32_t i = 0; i < count; ++i) {
          In v;
          float* f = reinterpret_cast<float*>(&v);
          for (std::size_t k = 0; k < sizeof(In) / 4; ++k) f[k] = rng.Uniform(-2, 2);
          both.set(i, v);
          single(&expect[i], &v);
        }
        array(reinterpret_cast<Out*>(both.at(0)), inStride, both.at(0), inStride, count);
        for (std::uint32_t i = 0; i < count; ++i) {
          Out got;
          std::memcpy(&got, both.at(i), sizeof got);
          ASSERT_TRUE(mathtest::RecordNear(got, expect[i], tolerance)) << "in place " << count << " " << i;
        }
      }
    }
  }
}

TEST_P(MathConformance, StridedArrays) {
  mathtest::Rng rng(4);
  Matrix4 m = rng.M();
  m.m[0][3] = 0.1f, m.m[1][3] = -0.2f, m.m[2][3] = 0.05f;  // a projective w
  const Viewport vp{5, 7, 320, 240, 0.0f, 1.0f};
  Matrix4 view = rng.Affine();

  CheckArray<Vec4, Vec2>(
      "Vec2TransformArray",
      [&](Vec4* o, std::uint32_t os, const Vec2* i, std::uint32_t is, std::uint32_t n) {
        return Vec2TransformArray(o, os, i, is, &m, n);
      },
      [&](Vec4* o, const Vec2* i) { Vec2Transform(o, i, &m); });
  CheckArray<Vec2, Vec2>(
      "Vec2TransformPointArray",
      [&](Vec2* o, std::uint32_t os, const Vec2* i, std::uint32_t is, std::uint32_t n) {
        return Vec2TransformPointArray(o, os, i, is, &m, n);
      },
      [&](Vec2* o, const Vec2* i) { Vec2TransformPoint(o, i, &m); });
  CheckArray<Vec2, Vec2>(
      "Vec2TransformDirectionArray",
      [&](Vec2* o, std::uint32_t os, const Vec2* i, std::uint32_t is, std::uint32_t n) {
        return Vec2TransformDirectionArray(o, os, i, is, &m, n);
      },
      [&](Vec2* o, const Vec2* i) { Vec2TransformDirection(o, i, &m); });
  CheckArray<Vec4, Vec3>(
      "Vec3TransformArray",
      [&](Vec4* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) {
        return Vec3TransformArray(o, os, i, is, &m, n);
      },
      [&](Vec4* o, const Vec3* i) { Vec3Transform(o, i, &m); });
  CheckArray<Vec3, Vec3>(
      "Vec3TransformPointArray",
      [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) {
        return Vec3TransformPointArray(o, os, i, is, &m, n);
      },
      [&](Vec3* o, const Vec3* i) { Vec3TransformPoint(o, i, &m); });
  CheckArray<Vec3, Vec3>(
      "Vec3TransformDirectionArray",
      [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) {
        return Vec3TransformDirectionArray(o, os, i, is, &m, n);
      },
      [&](Vec3* o, const Vec3* i) { Vec3TransformDirection(o, i, &m); });
  CheckArray<Vec4, Vec4>(
      "Vec4TransformArray",
      [&](Vec4* o, std::uint32_t os, const Vec4* i, std::uint32_t is, std::uint32_t n) {
        return Vec4TransformArray(o, os, i, is, &m, n);
      },
      [&](Vec4* o, const Vec4* i) { Vec4Transform(o, i, &m); });
  CheckArray<Plane, Plane>(
      "PlaneTransformArray",
      [&](Plane* o, std::uint32_t os, const Plane* i, std::uint32_t is, std::uint32_t n) {
        return PlaneTransformArray(o, os, i, is, &m, n);
      },
      [&](Plane* o, const Plane* i) { PlaneTransform(o, i, &m); });
  CheckArray<Vec3, Vec3>(
      "Vec3ToViewportArray",
      [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) {
        return Vec3ToViewportArray(o, os, i, is, &vp, nullptr, &view, nullptr, n);
      },
      [&](Vec3* o, const Vec3* i) { Vec3ToViewport(o, i, &vp, nullptr, &view, nullptr); },
      1e-4f);  // the viewport folded into the matrix rounds differently
  CheckArray<Vec3, Vec3>(
      "Vec3FromViewportArray",
      [&](Vec3* o, std::uint32_t os, const Vec3* i, std::uint32_t is, std::uint32_t n) {
        return Vec3FromViewportArray(o, os, i, is, &vp, nullptr, &view, nullptr, n);
      },
      [&](Vec3* o, const Vec3* i) { Vec3FromViewport(o, i, &vp, nullptr, &view, nullptr); }, 1e-4f);
}

}  // namespace
