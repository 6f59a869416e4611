// Software vertex blending and cubic triangle patches (dispatched).
#pragma once

#include <cstdint>

#include "gxl/math/records.h"

// Element usage codes that BlendVertices blends.
constexpr std::uint8_t kBlendUsagePosition = 0;
constexpr std::uint8_t kBlendUsageNormal = 3;
constexpr std::uint8_t kBlendUsageTangent = 6;
constexpr std::uint8_t kBlendUsageBinormal = 7;

// Blends vertexCount vertices of `stride` bytes from source into destination.
// Each element is a Vec3 named by a pointer into the first vertex (source and
// destination arrays, elementCount each) and a usage code. Influences are one run
// per vertex of floats 2 x bone + weight, ended by a negative value. Positions use
// positionBones with the divide by w; normals use normalBones (null: the position
// bones); tangents and binormals the position bones, all without translation.
// When the elements do not fill the stride, each destination vertex first gets a
// copy of its source vertex. An unknown usage code rejects the call before
// anything is written. Except on the two-element position-and-normal path, the
// element pointer arrays are advanced past the last vertex.
void BlendVertices(const Matrix4* positionBones, const Matrix4* normalBones, const void* source, void* destination,
                   std::uint32_t vertexCount, std::uint32_t stride, const Vec3** sourceElements,
                   Vec3** destinationElements, const std::uint8_t* usages, std::uint32_t elementCount,
                   const float* influences);

// Evaluates the cubic triangle patch of three corner vertices (position in the
// first three floats, normals given separately) at each (u, v) sample; the other
// floats of a vertex are interpolated linearly. Each sample writes
// floatsPerVertex floats; with fewer than three, only that many position
// coordinates are read and written.
void EvaluateTrianglePatch(const Vec3* normals, const Vec2* samples, std::uint32_t sampleCount, float* out,
                           const float* vertex0, const float* vertex1, const float* vertex2,
                           std::uint32_t floatsPerVertex);
