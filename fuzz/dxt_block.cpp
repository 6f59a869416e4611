// The DXT block codec on its own. Every 16 bytes of the input are one block,
// decoded as each of DXT1 to DXT5 and encoded again with and without error
// diffusion; every 64 bytes are also 16 texels of four 8-bit channels to
// encode. Blocks live on the heap at exactly their size, so a routine that
// writes or reads past its block is caught.
#include "gxl/tex/dxt_block.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_input.h"

namespace {

using nura::fuzz::Require;

struct Routines {
  std::size_t bytes;
  DxtDecodeBlockFn decode;
  DxtEncodeBlockFn encode;
};
constexpr Routines kRoutines[] = {
    {8, DecodeDxt1Block, EncodeDxt1Block},  {16, DecodeDxt2Block, EncodeDxt2Block},
    {16, DecodeDxt3Block, EncodeDxt3Block}, {16, DecodeDxt4Block, EncodeDxt4Block},
    {16, DecodeDxt5Block, EncodeDxt5Block},
};
constexpr int kDxt1 = 0, kDxt3 = 2;

bool InUnitRange(float v) { return v >= 0.0f && v <= 1.0f; }

void RequireUnitTexels(const ColorF* texels, const char* what) {
  for (int i = 0; i < 16; ++i)
    Require(
        InUnitRange(texels[i].r) && InUnitRange(texels[i].g) && InUnitRange(texels[i].b) && InUnitRange(texels[i].a),
        what);
}

// Decodes a block given as bytes from a block of exactly its size.
void Decode(const Routines& r, const std::uint8_t* bytes, ColorF* texels) {
  const auto block = std::make_unique<std::uint8_t[]>(r.bytes);
  std::memcpy(block.get(), bytes, r.bytes);
  Require(r.decode(texels, block.get()) == S_OK, "a decoder succeeds");
}

// Encodes texels and decodes the block made.
void RoundTrip(const Routines& r, const ColorF* texels, bool diffuse, ColorF* decoded) {
  const auto block = std::make_unique<std::uint8_t[]>(r.bytes);
  Require(r.encode(block.get(), texels, diffuse) == S_OK, "an encoder succeeds");
  Require(r.decode(decoded, block.get()) == S_OK, "a decoder succeeds");
  RequireUnitTexels(decoded, "re-encoded texels decode within [0, 1]");
}

// What holds of every encoding of texels in [0, 1]: DXT1 without diffusion
// keeps exactly which texels are transparent (alpha below one half), and DXT3
// keeps each alpha to the nearest of its 16 steps.
void CheckAlpha(int format, const ColorF* texels, bool diffuse, const ColorF* decoded) {
  if (diffuse) return;
  for (int i = 0; i < 16; ++i) {
    if (format == kDxt1)
      Require(decoded[i].a == (texels[i].a < 0.5f ? 0.0f : 1.0f), "DXT1 keeps which texels are transparent");
    if (format == kDxt3)
      Require(std::fabs(decoded[i].a - texels[i].a) <= 0.5f / 15.0f + 1e-6f, "DXT3 alpha to the nearest step");
  }
}

// A four-colour block's texels lie on a line between two 5-6-5 colours, so a
// re-encoding without diffusion finds them again closely (the worst of
// millions of random blocks is 4/31).
void CheckColour(const ColorF* texels, const ColorF* decoded) {
  for (int i = 0; i < 16; ++i)
    Require(std::fabs(texels[i].r - decoded[i].r) <= 0.25f && std::fabs(texels[i].g - decoded[i].g) <= 0.25f &&
                std::fabs(texels[i].b - decoded[i].b) <= 0.25f,
            "a four-colour block re-encodes close to itself");
}

bool FourColour(const std::uint8_t* colourBlock) {
  return (colourBlock[0] | colourBlock[1] << 8) > (colourBlock[2] | colourBlock[3] << 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 0; at + 16 <= size; at += 16) {
    for (int f = 0; f < 5; ++f) {
      const Routines& r = kRoutines[f];
      ColorF texels[16], again[16];
      Decode(r, data + at, texels);
      RequireUnitTexels(texels, "blocks decode within [0, 1]");
      if (f == kDxt3)
        for (int i = 0; i < 16; ++i)
          Require(texels[i].a == static_cast<float>((data[at + i / 2] >> (4 * (i & 1))) & 15) * 0.06666667f,
                  "DXT3 alpha is its nibble over 15");
      for (bool diffuse : {false, true}) {
        RoundTrip(r, texels, diffuse, again);
        CheckAlpha(f, texels, diffuse, again);
        const bool premultiplied = f == 1 || f == 3;
        if (!diffuse && !premultiplied && FourColour(data + at + (f == kDxt1 ? 0 : 8))) CheckColour(texels, again);
      }
    }
  }
  for (std::size_t at = 0; at + 64 <= size; at += 64) {
    ColorF texels[16], decoded[16];
    for (int i = 0; i < 16; ++i) {
      const std::uint8_t* t = data + at + 4 * i;
      texels[i] = ColorF(t[0] / 255.0f, t[1] / 255.0f, t[2] / 255.0f, t[3] / 255.0f);
    }
    for (int f = 0; f < 5; ++f)
      for (bool diffuse : {false, true}) {
        RoundTrip(kRoutines[f], texels, diffuse, decoded);
        CheckAlpha(f, texels, diffuse, decoded);
      }
  }
  return 0;
}
