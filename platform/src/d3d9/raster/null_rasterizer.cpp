// Until the pipeline exists, draws and presents change no pixel.
#include "d3d9/rasterizer.h"

namespace platform::d3d9 {
namespace {

class NullRasterizer final : public Rasterizer {
 public:
  void Draw(const DrawRequest&) override {}
  void Present(Surface&) override {}
};

}  // namespace

std::unique_ptr<Rasterizer> CreateRasterizer(Device&) { return std::make_unique<NullRasterizer>(); }

}  // namespace platform::d3d9
