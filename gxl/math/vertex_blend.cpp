// Portable body of the software vertex blend.
#include <cstring>
#include <vector>

#include "gxl/math/detail.h"
#include "gxl/math/portable.h"
#include "gxl/math/vector.h"
#include "gxl/math/vertex_ops.h"

namespace gxl::math::portable {

namespace {

bool KnownUsage(std::uint8_t usage) {
  return usage == kBlendUsagePosition || usage == kBlendUsageNormal || usage == kBlendUsageTangent ||
         usage == kBlendUsageBinormal;
}

// Reads the next influence of the run; false at its end (a negative value, or
// anything that is no bone number: NaN or 2^31 and more).
bool NextInfluence(const float*& influences, std::uint32_t* bone, float* weight) {
  const float v = *influences++;
  if (!(v >= 0.0f && v < 2147483648.0f)) return false;
  *bone = static_cast<std::uint32_t>(v) >> 1;
  *weight = v - 2.0f * static_cast<float>(*bone);
  return true;
}

struct Sum {
  double x = 0, y = 0, z = 0;
  void Add(const Vec3& v, float w) {
    x += static_cast<double>(v.x) * w;
    y += static_cast<double>(v.y) * w;
    z += static_cast<double>(v.z) * w;
  }
  Vec3 Rounded() const { return Vec3(detail::F(x), detail::F(y), detail::F(z)); }
};

Vec3 ReadVec3(const void* p) {
  Vec3 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void WriteVec3(void* p, const Vec3& v) { std::memcpy(p, &v, sizeof v); }

// One element of one vertex transformed by one bone.
Vec3 BlendTerm(std::uint8_t usage, const Vec3& v, const Matrix4* positionBones, const Matrix4* normalBones,
               std::uint32_t bone) {
  Vec3 r;
  if (usage == kBlendUsagePosition) {
    ::Vec3TransformPoint(&r, &v, &positionBones[bone]);
  } else if (usage == kBlendUsageNormal) {
    ::Vec3TransformDirection(&r, &v, &normalBones[bone]);
  } else {
    ::Vec3TransformDirection(&r, &v, &positionBones[bone]);
  }
  return r;
}

}  // namespace

void BlendVertices(const Matrix4* positionBones, const Matrix4* normalBones, const void* source, void* destination,
                   std::uint32_t vertexCount, std::uint32_t stride, const Vec3** sourceElements,
                   Vec3** destinationElements, const std::uint8_t* usages, std::uint32_t elementCount,
                   const float* influences) {
  if (vertexCount == 0) return;
  // An unknown element is refused before anything is written.
  for (std::uint32_t e = 0; e < elementCount; ++e)
    if (!KnownUsage(usages[e])) return;
  if (!normalBones) normalBones = positionBones;
  const bool copyVertex = static_cast<std::uint64_t>(elementCount) * sizeof(Vec3) != stride;
  const auto* src = static_cast<const unsigned char*>(source);
  auto* dst = static_cast<unsigned char*>(destination);

  // Every vertex: sums of the transformed elements first (reading the source),
  // then the copy of the whole vertex, then the sums; so a destination that is
  // the source blends correctly, and overlapping vertices are copied safely.
  const bool positionAndNormal =
      elementCount == 2 && ((usages[0] == kBlendUsagePosition && usages[1] == kBlendUsageNormal) ||
                            (usages[0] == kBlendUsageNormal && usages[1] == kBlendUsagePosition));
  if (positionAndNormal && sourceElements[usages[0] == kBlendUsagePosition ? 0 : 1]) {
    // Two elements: the caller's pointer arrays stay as they are.
    const auto* s0 = reinterpret_cast<const unsigned char*>(sourceElements[0]);
    const auto* s1 = reinterpret_cast<const unsigned char*>(sourceElements[1]);
    auto* d0 = reinterpret_cast<unsigned char*>(destinationElements[0]);
    auto* d1 = reinterpret_cast<unsigned char*>(destinationElements[1]);
    for (std::uint32_t i = 0; i < vertexCount; ++i) {
      const Vec3 v0 = ReadVec3(s0), v1 = ReadVec3(s1);
      Sum sum0, sum1;
      std::uint32_t bone;
      float weight;
      while (NextInfluence(influences, &bone, &weight)) {
        sum0.Add(BlendTerm(usages[0], v0, positionBones, normalBones, bone), weight);
        sum1.Add(BlendTerm(usages[1], v1, positionBones, normalBones, bone), weight);
      }
      if (copyVertex) std::memmove(dst, src, stride);
      WriteVec3(d0, sum0.Rounded());
      WriteVec3(d1, sum1.Rounded());
      s0 += stride, s1 += stride, d0 += stride, d1 += stride;
      src += stride, dst += stride;
    }
    return;
  }

  std::vector<Vec3> in(elementCount);
  std::vector<Sum> sums(elementCount);
  for (std::uint32_t i = 0; i < vertexCount; ++i) {
    for (std::uint32_t e = 0; e < elementCount; ++e) {
      in[e] = ReadVec3(sourceElements[e]);
      sums[e] = Sum();
    }
    std::uint32_t bone;
    float weight;
    while (NextInfluence(influences, &bone, &weight)) {
      for (std::uint32_t e = 0; e < elementCount; ++e)
        sums[e].Add(BlendTerm(usages[e], in[e], positionBones, normalBones, bone), weight);
    }
    if (copyVertex) std::memmove(dst, src, stride);
    for (std::uint32_t e = 0; e < elementCount; ++e) {
      WriteVec3(destinationElements[e], sums[e].Rounded());
      sourceElements[e] = reinterpret_cast<const Vec3*>(reinterpret_cast<const unsigned char*>(sourceElements[e]) +
                                                        stride);
      destinationElements[e] =
          reinterpret_cast<Vec3*>(reinterpret_cast<unsigned char*>(destinationElements[e]) + stride);
    }
    src += stride, dst += stride;
  }
}

}  // namespace gxl::math::portable
