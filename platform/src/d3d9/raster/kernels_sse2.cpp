#include "d3d9/raster/raster.h"
namespace platform::d3d9::raster {
const Kernels& Sse2Kernels() { return ScalarKernels(); }
const Kernels& Avx2Kernels() { return ScalarKernels(); }
}
