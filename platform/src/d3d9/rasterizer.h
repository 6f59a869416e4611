// The seam between the device and its pipeline. The device validates every draw
// (scene, buffers, bounds, locks, targets) and hands a self-contained request to
// its Rasterizer; Present lets it finish the frame. The pipeline lives in
// src/d3d9/raster and is made by CreateRasterizer.
#pragma once

#include <cstdint>
#include <memory>

#include "d3d9/state.h"
#include "platform/d3d9_types.h"

namespace platform::d3d9 {

class Device;
class Surface;
struct VertexLayout;

struct StreamData {
  const std::uint8_t* data = nullptr;  // vertex 0 of the stream (offset applied)
  std::size_t size = 0;                // bytes readable from `data`
  UINT stride = 0;
};

struct DrawRequest {
  D3DPRIMITIVETYPE type;
  UINT primitiveCount;  // > 0
  UINT vertexCount;     // vertices (or indices) the primitives read
  // Non-indexed draws read vertices firstVertex .. firstVertex + vertexCount - 1.
  UINT firstVertex = 0;
  // Indexed draws read `vertexCount` indices from `indices` (2 or 4 bytes each);
  // vertex = index + baseVertex, all of them inside the streams (checked).
  const void* indices = nullptr;
  UINT indexSize = 0;
  INT baseVertex = 0;
  UINT minIndex = 0;  // smallest and largest index read
  UINT maxIndex = 0;
  const VertexLayout* layout = nullptr;
  StreamData streams[kStreamCount];
  const DeviceState* state = nullptr;
  Surface* target = nullptr;  // render target 0
  Surface* depth = nullptr;   // null: no depth buffer
};

class Rasterizer {
 public:
  virtual ~Rasterizer() = default;
  // Draws a validated request into request.target.
  virtual void Draw(const DrawRequest& request) = 0;
  // Finishes whatever the frame still owes the back buffer; the device then
  // hands it to the backend.
  virtual void Present(Surface& backBuffer) = 0;
};

std::unique_ptr<Rasterizer> CreateRasterizer(Device& device);

}  // namespace platform::d3d9
