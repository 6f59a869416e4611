// The scalar, SSE2 and AVX2 span kernels give the same bytes: each kernel on
// random inputs (every tail length, every mode), and whole play-scene frames
// through each instruction set.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "bench/play_frame.h"
#include "d3d9/raster/raster.h"
#include "tests/platform/d3d9_raster/raster_fixture.h"

namespace {

namespace raster = platform::d3d9::raster;

std::vector<const raster::Kernels*> VectorKernels() {
  std::vector<const raster::Kernels*> sets{&raster::Sse2Kernels()};
  if (raster::IsaSupported(raster::Isa::Avx2)) sets.push_back(&raster::Avx2Kernels());
  return sets;
}

class D3D9RasterIsa : public ::testing::Test {
 protected:
  std::mt19937 rng{12345};
  std::uint32_t Next() { return rng(); }
  int Below(int n) { return int(rng() % unsigned(n)); }
  std::vector<std::uint32_t> Words(int n) {
    std::vector<std::uint32_t> v(std::size_t(n) + 8);
    for (auto& w : v) w = Next();
    return v;
  }
  // Alpha-heavy colours: 0, 255 and random, to reach every blend shortcut.
  std::uint32_t Colour() {
    const std::uint32_t c = Next();
    switch (Below(4)) {
      case 0: return c | 0xFF000000u;
      case 1: return c & 0x00FFFFFFu;
      default: return c;
    }
  }
};

TEST_F(D3D9RasterIsa, BlendAndWriteKernels) {
  const raster::Kernels& ref = raster::ScalarKernels();
  for (const raster::Kernels* k : VectorKernels()) {
    for (int trial = 0; trial < 3000; ++trial) {
      const int n = 1 + Below(64);
      raster::WriteParams p;
      p.kind = static_cast<raster::BlendKind>(Below(5));
      const std::uint32_t keeps[] = {0, 0xFF000000u, 0x00FF00FFu, 0xFFFFFFFFu, Next()};
      p.keep = keeps[Below(5)];
      p.alphaOr = Below(2) ? 0xFF000000u : 0;
      p.blend = raster::BlendState{std::uint8_t(1 + Below(15)), std::uint8_t(1 + Below(15)), std::uint8_t(1 + Below(5)),
                                   std::uint8_t(1 + Below(15)), std::uint8_t(1 + Below(15)), std::uint8_t(1 + Below(5)),
                                   Next()};
      std::vector<std::uint32_t> src(n), dst(n);
      for (int i = 0; i < n; ++i) src[i] = Colour(), dst[i] = Colour();
      std::vector<std::uint8_t> live(n);
      for (auto& l : live) l = std::uint8_t(Below(3) != 0);
      const bool masked = Below(2);
      auto a = dst, b = dst;
      ref.write(p, src.data(), a.data(), masked ? live.data() : nullptr, n);
      k->write(p, src.data(), b.data(), masked ? live.data() : nullptr, n);
      ASSERT_EQ(a, b) << "kind " << int(p.kind) << " n " << n;
      a = dst;
      b = dst;
      ref.fill(p, src[0], a.data(), masked ? live.data() : nullptr, n);
      k->fill(p, src[0], b.data(), masked ? live.data() : nullptr, n);
      ASSERT_EQ(a, b) << "fill kind " << int(p.kind) << " n " << n;
    }
  }
}

TEST_F(D3D9RasterIsa, ColourAndCombinerKernels) {
  const raster::Kernels& ref = raster::ScalarKernels();
  for (const raster::Kernels* k : VectorKernels()) {
    for (int trial = 0; trial < 2000; ++trial) {
      const int n = 1 + Below(64);
      const auto x = Words(n), y = Words(n);
      std::vector<std::uint32_t> a(n), b(n);
      const std::uint32_t masks[] = {0, 0xFF000000u, 0x00FFFFFFu, 0xFFFFFFFFu};
      const std::uint32_t mod = masks[Below(4)], am = masks[Below(4)] & ~mod, bm = ~(mod | am);
      ref.modulate(x.data(), y.data(), a.data(), n, mod, am, bm);
      k->modulate(x.data(), y.data(), b.data(), n, mod, am, bm);
      ASSERT_EQ(a, b);
      ref.modulateConst(x.data(), y[0], a.data(), n, mod, am, bm);
      k->modulateConst(x.data(), y[0], b.data(), n, mod, am, bm);
      ASSERT_EQ(a, b);
      const unsigned w = unsigned(Below(256));
      ref.lerp(x.data(), y.data(), w, a.data(), n);
      k->lerp(x.data(), y.data(), w, b.data(), n);
      ASSERT_EQ(a, b);
      // Interpolated colours, including steps that overflow 32 bits on the way.
      std::int32_t start[4], step[4];
      for (int c = 0; c < 4; ++c) {
        start[c] = std::int32_t(Next() % (300u << 16)) - (20 << 16);
        step[c] = Below(8) ? std::int32_t(Next() % (16u << 16)) - (8 << 16) : std::int32_t(Next());
      }
      ref.gouraud(start, step, a.data(), n);
      k->gouraud(start, step, b.data(), n);
      ASSERT_EQ(a, b);
    }
  }
}

TEST_F(D3D9RasterIsa, AlphaAndDepthTests) {
  const raster::Kernels& ref = raster::ScalarKernels();
  for (const raster::Kernels* k : VectorKernels()) {
    for (int trial = 0; trial < 3000; ++trial) {
      const int n = 1 + Below(64);
      const unsigned func = 1 + unsigned(Below(8));
      std::vector<std::uint32_t> c(n);
      for (auto& v : c) v = Colour();
      std::vector<std::uint8_t> live(n);
      for (auto& l : live) l = std::uint8_t(Below(4) != 0);
      auto la = live, lb = live;
      const unsigned alphaRef = Below(3) ? unsigned(Below(256)) : 255;
      ASSERT_EQ(ref.alphaTest(c.data(), la.data(), n, func, alphaRef), k->alphaTest(c.data(), lb.data(), n, func, alphaRef));
      ASSERT_EQ(la, lb);

      raster::DepthParams p;
      p.format = Below(4) ? raster::DepthFormat::D16 : raster::DepthFormat::D24;
      p.func = std::uint8_t(func);
      p.write = Below(4) != 0;
      const float specials[] = {0.0f, 1.0f, -0.5f, 2.0f, std::numeric_limits<float>::quiet_NaN()};
      p.zRow = Below(6) ? float(Next() % 100000) / 99999.0f : specials[Below(5)];
      p.dzdx = Below(3) ? 0.0f : (float(Below(2001)) - 1000.0f) / 64000.0f;
      p.firstX = Below(1000) - 500;
      std::vector<std::uint32_t> depth32(n);
      for (auto& d : depth32) d = Next();
      std::vector<std::uint16_t> depth16(n);
      for (int i = 0; i < n; ++i) depth16[i] = std::uint16_t(depth32[i]);
      auto da16 = depth16, db16 = depth16;
      auto da32 = depth32, db32 = depth32;
      void* ra = p.format == raster::DepthFormat::D16 ? static_cast<void*>(da16.data()) : da32.data();
      void* rb = p.format == raster::DepthFormat::D16 ? static_cast<void*>(db16.data()) : db32.data();
      la = live;
      lb = live;
      ASSERT_EQ(ref.depth(p, ra, la.data(), n), k->depth(p, rb, lb.data(), n));
      ASSERT_EQ(la, lb);
      ASSERT_EQ(da16, db16);
      ASSERT_EQ(da32, db32);
    }
  }
}

TEST_F(D3D9RasterIsa, Samplers) {
  const raster::Kernels& ref = raster::ScalarKernels();
  for (const raster::Kernels* k : VectorKernels()) {
    for (int trial = 0; trial < 3000; ++trial) {
      const int sizes[] = {1, 2, 3, 8, 13, 32, 64};
      const int w = sizes[Below(7)], h = sizes[Below(7)];
      const int pitch = w + Below(3);
      std::vector<std::uint32_t> texels(std::size_t(pitch) * h);
      for (auto& t : texels) t = Colour();
      raster::SampleParams p;
      p.level.texels = texels.data();
      p.level.width = w;
      p.level.height = h;
      p.level.pitch = pitch;
      p.level.alphaOr = Below(4) ? 0 : 0xFF000000u;
      p.addrU = std::uint8_t(1 + Below(5));
      p.addrV = std::uint8_t(1 + Below(5));
      p.linear = Below(2);
      p.border = Colour();
      const int n = 1 + Below(64);
      // Coordinates as the shader hands them over: within +-2^30.
      const std::int32_t span = Below(2) ? (w + 4) << 16 : 1 << 30;
      std::vector<std::int32_t> s(n), t(n);
      for (int i = 0; i < n; ++i) {
        s[i] = std::int32_t(std::int64_t(Next()) % span) - (Below(2) ? span / 2 : 0);
        t[i] = std::int32_t(std::int64_t(Next()) % span) - (Below(2) ? span / 2 : 0);
      }
      std::vector<std::uint32_t> a(n), b(n);
      ref.sample(p, s.data(), t.data(), a.data(), n);
      k->sample(p, s.data(), t.data(), b.data(), n);
      ASSERT_EQ(a, b) << "size " << w << "x" << h << " modes " << int(p.addrU) << "," << int(p.addrV);
      // Along a row: unit steps (quads drawn 1:1), rows with t constant
      // (axis-aligned scaling, both ways), and any direction; starts inside
      // and outside the texture.
      const std::int32_t s0 = (Below(3 * w + 8) - w - 4) * 65536 + (Below(3) ? Below(65536) : 0);
      const std::int32_t t0 = (Below(3 * h + 8) - h - 4) * 65536 + (Below(3) ? Below(65536) : 0);
      std::int32_t ds, dt;
      switch (Below(4)) {
        case 0: ds = 65536, dt = 0; break;
        case 1: ds = Below(2 * 65536), dt = 0; break;
        case 2: ds = -Below(3 * 65536), dt = 0; break;
        default: ds = Below(4 * 65536) - 2 * 65536, dt = Below(4 * 65536) - 2 * 65536; break;
      }
      ref.sampleLine(p, s0, ds, t0, dt, a.data(), n);
      k->sampleLine(p, s0, ds, t0, dt, b.data(), n);
      ASSERT_EQ(a, b) << "line " << s0 << "+" << ds << "," << t0 << "+" << dt << " size " << w << "x" << h << " modes "
                      << int(p.addrU) << "," << int(p.addrV) << " linear " << p.linear;
    }
  }
}

// Levels at the edge of the vector samplers' 16-bit index arithmetic: widths
// and pitches just below and at 2^15, clamped and wrapped, sampled anywhere
// within +-2^30 and along rows and diagonals, over both rows.
TEST_F(D3D9RasterIsa, SamplersOfWideLevels) {
  struct Case {
    int width, pitch;
    std::uint8_t addrU;
  };
  const Case cases[] = {{32767, 32767, raster::kClamp}, {32767, 32768, raster::kClamp},
                        {32768, 32768, raster::kClamp}, {16384, 32767, raster::kWrap},
                        {16384, 32768, raster::kWrap},  {32768, 32768, raster::kWrap}};
  const raster::Kernels& ref = raster::ScalarKernels();
  for (const raster::Kernels* k : VectorKernels()) {
    for (const Case& c : cases) {
      std::vector<std::uint32_t> texels(std::size_t(c.pitch) * 2);
      for (auto& t : texels) t = Colour();
      raster::SampleParams p;
      p.level.texels = texels.data();
      p.level.width = c.width;
      p.level.height = 2;
      p.level.pitch = c.pitch;
      p.addrU = c.addrU;
      p.addrV = raster::kClamp;
      for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(testing::Message() << c.width << " pitch " << c.pitch << " mode " << int(c.addrU) << " trial "
                                        << trial);
        p.linear = Below(2);
        const int n = 1 + Below(40);
        // Near either end of the row (or of the coordinates' range), or
        // anywhere the shader may hand over.
        auto coordinate = [&](int size) {
          switch (Below(3)) {
            case 0: return std::int32_t(Below(6 << 16)) - (3 << 16);
            case 1: return std::min((size - 3) << 16, (1 << 30) - (6 << 16)) + Below(6 << 16);
            default: return std::int32_t(std::int64_t(Next() % (2u << 30)) - (1 << 30));
          }
        };
        std::vector<std::int32_t> s(n), t(n);
        for (int i = 0; i < n; ++i) s[i] = coordinate(c.width), t[i] = coordinate(2);
        std::vector<std::uint32_t> a(n), b(n);
        ref.sample(p, s.data(), t.data(), a.data(), n);
        k->sample(p, s.data(), t.data(), b.data(), n);
        ASSERT_EQ(a, b);
        const std::int32_t ds = Below(4 << 16) - (2 << 16), dt = Below(2) ? 0 : Below(1 << 15);
        const std::int32_t s0 = std::clamp(s[0], -(1 << 30) + (80 << 16), (1 << 30) - (80 << 16));
        const std::int32_t t0 = Below(2 << 16);
        ref.sampleLine(p, s0, ds, t0, dt, a.data(), n);
        k->sampleLine(p, s0, ds, t0, dt, b.data(), n);
        ASSERT_EQ(a, b) << "line " << s0 << "+" << ds;
      }
    }
  }
}

// Whole frames: the back buffer and both render targets, byte for byte.
TEST_F(D3D9RasterIsa, PlayFramesAreIdenticalOnEveryInstructionSet) {
  std::vector<const char*> isas{"scalar", "sse2"};
  if (raster::IsaSupported(raster::Isa::Avx2)) isas.push_back("avx2");
  for (int mode = 1; mode <= 5; ++mode) {
    std::vector<std::uint32_t> first;
    for (const char* isa : isas) {
      ASSERT_TRUE(platform::test::SetD3D9RasterIsa(isa)) << isa;
      IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
      IDirect3DDevice9* dev = playframe::CreateDevice(d3d);
      ASSERT_NE(dev, nullptr);
      playframe::Scene scene;
      ASSERT_TRUE(scene.Build(dev));
      for (int f = 0; f < 2; ++f) scene.Draw(mode, 17 + 29 * f);
      const std::vector<std::uint32_t> frame = scene.Snapshot();
      scene.Release();
      EXPECT_EQ(dev->Release(), 0u);
      d3d->Release();
      ASSERT_EQ(frame.size(), std::size_t(640 * 480 + 2 * 512 * 512));
      if (first.empty()) {
        first = frame;
        continue;
      }
      std::size_t differ = 0;
      for (std::size_t i = 0; i < frame.size(); ++i) differ += frame[i] != first[i];
      EXPECT_EQ(differ, 0u) << "mode " << mode << " " << isa;
    }
  }
}

}  // namespace
