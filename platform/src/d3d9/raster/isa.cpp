// Choice of the span kernels' instruction set: PLATFORM_RASTER_ISA (scalar,
// sse2, avx2) or the best the processor has; tests switch it through
// platform/testing_d3d9.h. The platform never assumes more than SSE2.
#include <cstdlib>
#include <cstring>
#include <string>

#include "d3d9/raster/raster.h"
#include "platform/testing.h"

namespace platform::d3d9::raster {
namespace {

bool ParseIsa(const char* name, Isa* isa) {
  if (!name) return false;
  if (std::strcmp(name, "scalar") == 0) *isa = Isa::Scalar;
  else if (std::strcmp(name, "sse2") == 0) *isa = Isa::Sse2;
  else if (std::strcmp(name, "avx2") == 0) *isa = Isa::Avx2;
  else return false;
  return true;
}

Isa DefaultIsa() {
  Isa isa;
  if (ParseIsa(std::getenv("PLATFORM_RASTER_ISA"), &isa) && IsaSupported(isa)) return isa;
  return IsaSupported(Isa::Avx2) ? Isa::Avx2 : Isa::Sse2;
}

Isa& Current() {
  static Isa isa = DefaultIsa();
  return isa;
}

void ResetIsa() {
  Current() = DefaultIsa();
  Stats() = Counters{};
}
[[maybe_unused]] const bool kRegistered = (platform::test::RegisterReset(&ResetIsa), true);

}  // namespace

Isa ActiveIsa() { return Current(); }

Counters& Stats() {
  static Counters counters;
  return counters;
}

const char* IsaName(Isa isa) {
  switch (isa) {
    case Isa::Scalar: return "scalar";
    case Isa::Sse2: return "sse2";
    default: return "avx2";
  }
}

bool IsaSupported(Isa isa) {
  if (isa != Isa::Avx2) return true;  // SSE2 is part of x86-64
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

void FillTexels(std::uint32_t* dst, std::uint32_t value, int n) {
  const WriteParams replace;  // no blend, no mask
  KernelsFor(ActiveIsa()).fill(replace, value, dst, nullptr, n);
}

// The scalar kernels with the AVX2 bodies where the processor has them.
const Kernels& Avx2Kernels() {
  static const Kernels k = [] {
    Kernels table = ScalarKernels();
    if (IsaSupported(Isa::Avx2)) FillAvx2Kernels(&table);
    return table;
  }();
  return k;
}

const Kernels& KernelsFor(Isa isa) {
  switch (isa) {
    case Isa::Scalar: return ScalarKernels();
    case Isa::Sse2: return Sse2Kernels();
    default: return Avx2Kernels();
  }
}

}  // namespace platform::d3d9::raster

namespace platform::test {

bool SetD3D9RasterIsa(const std::string& name) {
  d3d9::raster::Isa isa;
  if (!d3d9::raster::ParseIsa(name.c_str(), &isa) || !d3d9::raster::IsaSupported(isa)) return false;
  d3d9::raster::Current() = isa;
  return true;
}

std::string D3D9RasterIsa() { return d3d9::raster::IsaName(d3d9::raster::ActiveIsa()); }

D3D9RasterStats D3D9RasterCounters() {
  const d3d9::raster::Counters& c = d3d9::raster::Stats();
  return D3D9RasterStats{c.draws, c.pixels, c.skipped};
}

}  // namespace platform::test
