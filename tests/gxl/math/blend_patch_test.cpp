// Vertex blending and triangle patches.
#include <cstring>
#include <vector>

#include "math_test_util.h"

namespace {

using mathtest::RecordNear;
using mathtest::SameBits;

struct Vertex {
  Vec3 position;
  float u;
  Vec3 normal;
  Vec3 tangent;
  float v;
};
static_assert(sizeof(Vertex) == 44);

struct Bones {
  Matrix4 position[3];
  Matrix4 normal[3];
};

Bones MakeBones(mathtest::Rng& rng) {
  Bones b;
  for (int i = 0; i < 3; ++i) {
    b.position[i] = rng.Affine();
    b.normal[i] = rng.Affine();
  }
  return b;
}

// Sum over the run of weight x transformed element.
Vec3 Expected(const Vec3& v, const Matrix4* bones, bool point, const std::vector<float>& run) {
  Vec3 sum(0, 0, 0);
  for (float f : run) {
    const int bone = static_cast<int>(f) >> 1;
    const float w = f - 2.0f * bone;
    Vec3 t;
    if (point) {
      Vec3TransformPoint(&t, &v, &bones[bone]);
    } else {
      Vec3TransformDirection(&t, &v, &bones[bone]);
    }
    sum += t * w;
  }
  return sum;
}

TEST(MathBlend, InfluenceEncodesBoneAndWeight) {
  mathtest::Rng rng(1);
  const Bones b = MakeBones(rng);
  const Vec3 src(1, 2, 3);
  Vec3 dst(0, 0, 0);
  const Vec3* se[1] = {&src};
  Vec3* de[1] = {&dst};
  const std::uint8_t usage[1] = {kBlendUsagePosition};
  const float influences[] = {3.5f, -1.0f};  // bone 1, weight 1.5
  BlendVertices(b.position, nullptr, &src, &dst, 1, sizeof(Vec3), se, de, usage, 1, influences);
  Vec3 t;
  Vec3TransformPoint(&t, &src, &b.position[1]);
  EXPECT_TRUE(RecordNear(dst, t * 1.5f, 1e-6f));
  EXPECT_EQ(se[0], &src + 1);  // the element pointers move past the vertices
  EXPECT_EQ(de[0], &dst + 1);
}

TEST(MathBlend, ElementsBlendAndTheRestIsCopied) {
  mathtest::Rng rng(2);
  const Bones b = MakeBones(rng);
  std::vector<Vertex> src(5), dst(5);
  for (Vertex& v : src) v = {rng.V3(), rng.Uniform(0, 1), rng.V3(), rng.V3(), rng.Uniform(0, 1)};
  std::memset(dst.data(), 0x5A, dst.size() * sizeof(Vertex));
  const std::vector<std::vector<float>> runs = {{0.25f, 2.75f}, {5.0f}, {}, {1.0f, 1.0f}, {4.5f, 0.5f}};
  std::vector<float> influences;
  for (const auto& r : runs) {
    influences.insert(influences.end(), r.begin(), r.end());
    influences.push_back(-1);
  }
  const Vec3* se[3] = {&src[0].position, &src[0].normal, &src[0].tangent};
  Vec3* de[3] = {&dst[0].position, &dst[0].normal, &dst[0].tangent};
  const std::uint8_t usages[3] = {kBlendUsagePosition, kBlendUsageNormal, kBlendUsageTangent};
  BlendVertices(b.position, b.normal, src.data(), dst.data(), 5, sizeof(Vertex), se, de, usages, 3,
                influences.data());
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(RecordNear(dst[i].position, Expected(src[i].position, b.position, true, runs[i]), 1e-5f));
    EXPECT_TRUE(RecordNear(dst[i].normal, Expected(src[i].normal, b.normal, false, runs[i]), 1e-5f));
    EXPECT_TRUE(RecordNear(dst[i].tangent, Expected(src[i].tangent, b.position, false, runs[i]), 1e-5f));
    EXPECT_EQ(dst[i].u, src[i].u);
    EXPECT_EQ(dst[i].v, src[i].v);
  }
  EXPECT_EQ(se[2], &src[5].tangent);
  EXPECT_EQ(de[0], &dst[5].position);
}

TEST(MathBlend, PositionAndNormalInPlaceAndInEitherOrder) {
  mathtest::Rng rng(3);
  const Bones b = MakeBones(rng);
  std::vector<Vertex> src(4);
  for (Vertex& v : src) v = {rng.V3(), 0.5f, rng.V3(), rng.V3(), 0.25f};
  const float influences[] = {0.5f, 3.25f, -1, 2.0f, -1, 1.5f, 5.5f, -1, 4.75f, -1};
  for (bool normalFirst : {false, true}) {
    SCOPED_TRACE(normalFirst);
    std::vector<Vertex> separate(4), inPlace = src;
    const std::uint8_t usages[2] = {normalFirst ? kBlendUsageNormal : kBlendUsagePosition,
                                    normalFirst ? kBlendUsagePosition : kBlendUsageNormal};
    auto elements = [&](std::vector<Vertex>& v, Vec3** e) {
      e[normalFirst ? 1 : 0] = &v[0].position;
      e[normalFirst ? 0 : 1] = &v[0].normal;
    };
    Vec3* de[2];
    elements(separate, de);
    Vec3* srcElements[2];
    std::vector<Vertex> srcCopy = src;
    elements(srcCopy, srcElements);
    const Vec3* se[2] = {srcElements[0], srcElements[1]};
    BlendVertices(b.position, nullptr, srcCopy.data(), separate.data(), 4, sizeof(Vertex), se, de, usages, 2,
                  influences);
    EXPECT_EQ(se[0], srcElements[0]);  // this path leaves the pointer arrays alone
    Vec3* ie[2];
    elements(inPlace, ie);
    const Vec3* ise[2] = {ie[0], ie[1]};
    BlendVertices(b.position, nullptr, inPlace.data(), inPlace.data(), 4, sizeof(Vertex), ise, ie, usages, 2,
                  influences);
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(SameBits(separate[i], inPlace[i])) << i;
      EXPECT_EQ(separate[i].tangent.x, src[i].tangent.x);  // copied with the vertex
    }
    const std::vector<float> run0 = {0.5f, 3.25f};
    EXPECT_TRUE(RecordNear(separate[0].normal, Expected(src[0].normal, b.position, false, run0), 1e-5f));
  }
}

TEST(MathBlend, UnknownUsageIsRejectedBeforeAnyWrite) {
  mathtest::Rng rng(4);
  const Bones b = MakeBones(rng);
  std::vector<Vertex> src(3), dst(3);
  for (Vertex& v : src) v = {rng.V3(), 1, rng.V3(), rng.V3(), 2};
  std::memset(dst.data(), 0x77, dst.size() * sizeof(Vertex));
  const std::vector<Vertex> before = dst;
  const Vec3* se[2] = {&src[0].position, &src[0].normal};
  Vec3* de[2] = {&dst[0].position, &dst[0].normal};
  const std::uint8_t usages[2] = {kBlendUsagePosition, 5};  // 5: not a blended usage
  const float influences[] = {0.5f, -1, 0.5f, -1, 0.5f, -1};
  BlendVertices(b.position, nullptr, src.data(), dst.data(), 3, sizeof(Vertex), se, de, usages, 2, influences);
  EXPECT_EQ(std::memcmp(dst.data(), before.data(), dst.size() * sizeof(Vertex)), 0);
  EXPECT_EQ(se[0], &src[0].position);
  // No vertices: nothing happens.
  const std::uint8_t good[2] = {kBlendUsagePosition, kBlendUsageNormal};
  BlendVertices(b.position, nullptr, src.data(), dst.data(), 0, sizeof(Vertex), se, de, good, 2, influences);
  EXPECT_EQ(std::memcmp(dst.data(), before.data(), dst.size() * sizeof(Vertex)), 0);
}

// Corners of three floats of position and `extra` more, each in its own heap
// block so that reading past a corner is caught.
struct Corners {
  std::vector<float> v[3];
  Vec3 normals[3];
};

Corners MakeCorners(std::uint32_t floatsPerVertex, mathtest::Rng& rng, bool flat) {
  Corners c;
  for (auto& v : c.v) {
    v.resize(floatsPerVertex);
    for (float& f : v) f = rng.Uniform(-3, 3);
    if (flat && floatsPerVertex >= 3) v[2] = 1.0f;  // in the plane z = 1
  }
  for (Vec3& n : c.normals) {
    n = flat ? Vec3(0, 0, 1) : rng.V3();
    Vec3Normalize(&n, &n);
  }
  return c;
}

TEST(MathPatch, CornersAreReproducedAndFlatPatchesStayFlat) {
  mathtest::Rng rng(5);
  for (std::uint32_t fpv : {3u, 5u, 8u, 68u, 100u}) {
    SCOPED_TRACE(fpv);
    const Corners c = MakeCorners(fpv, rng, false);
    const Vec2 samples[3] = {{0, 1}, {0, 0}, {1, 0}};  // v weights corner 0, w corner 1, u corner 2
    std::vector<float> out(3 * fpv);
    EvaluateTrianglePatch(c.normals, samples, 3, out.data(), c.v[0].data(), c.v[1].data(), c.v[2].data(), fpv);
    for (int s = 0; s < 3; ++s)
      for (std::uint32_t k = 0; k < fpv; ++k) EXPECT_NEAR(out[s * fpv + k], c.v[s][k], 1e-5f) << s << " " << k;
  }
  // With the normals of a flat triangle the patch is the flat triangle itself.
  const Corners flat = MakeCorners(4, rng, true);
  std::vector<Vec2> samples;
  for (int i = 0; i <= 8; ++i)
    for (int j = 0; i + j <= 8; ++j) samples.push_back(Vec2(i / 8.0f, j / 8.0f));
  std::vector<float> out(samples.size() * 4);
  EvaluateTrianglePatch(flat.normals, samples.data(), static_cast<std::uint32_t>(samples.size()), out.data(),
                        flat.v[0].data(), flat.v[1].data(), flat.v[2].data(), 4);
  for (std::size_t s = 0; s < samples.size(); ++s) {
    const float u = samples[s].x, v = samples[s].y, w = 1 - u - v;
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(out[s * 4 + k], w * flat.v[1][k] + v * flat.v[0][k] + u * flat.v[2][k], 2e-5f) << s;
  }
}

TEST(MathPatch, ShortVerticesAreNeitherOverreadNorOverwritten) {
  mathtest::Rng rng(6);
  for (std::uint32_t fpv : {1u, 2u}) {
    const Corners c = MakeCorners(fpv, rng, false);
    const Vec2 samples[2] = {{0, 1}, {0.25f, 0.25f}};
    std::vector<float> out(2 * fpv);
    EvaluateTrianglePatch(c.normals, samples, 2, out.data(), c.v[0].data(), c.v[1].data(), c.v[2].data(), fpv);
    for (std::uint32_t k = 0; k < fpv; ++k) EXPECT_NEAR(out[k], c.v[0][k], 1e-6f);
  }
  const Corners c = MakeCorners(3, rng, false);
  const Vec2 sample(0.3f, 0.3f);
  mathtest::Guarded<Vec3> out;
  EvaluateTrianglePatch(c.normals, &sample, 0, &out.ptr()->x, c.v[0].data(), c.v[1].data(), c.v[2].data(), 3);
  EXPECT_TRUE(out.Untouched());
  EvaluateTrianglePatch(c.normals, &sample, 1, &out.ptr()->x, c.v[0].data(), c.v[1].data(), c.v[2].data(), 3);
  EXPECT_TRUE(out.Intact());
}

}  // namespace
