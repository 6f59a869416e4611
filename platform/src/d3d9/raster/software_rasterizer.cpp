// The device's pipeline: each validated draw is reduced to its configuration,
// then its primitives are assembled and rasterised at once (draws are
// synchronous, so Present owes the back buffer nothing).
#include "d3d9/raster/pipeline.h"
#include "d3d9/rasterizer.h"

namespace platform::d3d9 {
namespace {

class SoftwareRasterizer final : public Rasterizer {
 public:
  void Draw(const DrawRequest& request) override {
    ++raster::Stats().draws;
    raster::DrawConfig config;
    if (!raster::BuildConfig(request, raster::KernelsFor(raster::ActiveIsa()), &config)) return;
    m_geometry.Begin(request, config.attrs);
    raster::DrawPrimitives(request, config, m_geometry);
  }
  void Present(Surface&) override {}

 private:
  raster::Geometry m_geometry;
};

}  // namespace

std::unique_ptr<Rasterizer> CreateRasterizer(Device&) { return std::make_unique<SoftwareRasterizer>(); }

}  // namespace platform::d3d9
