// The bit-field layouts of the packed formats (internal): where each channel
// of a texel lives and how the codec treats the channels it does not store.
// The packed codecs are made from these, and the blitter's exact integer
// conversions read them.
#pragma once

#include <cstdint>

#include "gxl/tex/codec_quantize.h"
#include "gxl/tex/pixel_codec.h"

namespace gxl::tex::detail {

struct PackedLayout {
  std::uint32_t bytes;
  ChannelRange range;
  Field r, g, b, a;
  bool luminance = false;    // r holds L: read into R, G and B; written from the colour's luminance
  bool blackRgb = false;     // R, G and B read 0 (A8)
  bool derivedBlue = false;  // CxV8U8: B is the z of a unit normal; written normalised
};

constexpr Field U(std::uint8_t shift, std::uint8_t bits) { return Field{shift, bits, false}; }
constexpr Field S(std::uint8_t shift, std::uint8_t bits) { return Field{shift, bits, true}; }
constexpr Field None{};
constexpr ChannelRange kUnorm = ChannelRange::Unorm;
constexpr ChannelRange kSnormColor = ChannelRange::SnormColor;
constexpr ChannelRange kSnormAll = ChannelRange::SnormAll;

// clang-format off
//                                   bytes  range       R          G          B          A
constexpr PackedLayout kR8G8B8       {3, kUnorm,      U(16, 8),  U(8, 8),   U(0, 8),   None};
constexpr PackedLayout kA8R8G8B8     {4, kUnorm,      U(16, 8),  U(8, 8),   U(0, 8),   U(24, 8)};
constexpr PackedLayout kX8R8G8B8     {4, kUnorm,      U(16, 8),  U(8, 8),   U(0, 8),   None};
constexpr PackedLayout kR5G6B5       {2, kUnorm,      U(11, 5),  U(5, 6),   U(0, 5),   None};
constexpr PackedLayout kX1R5G5B5     {2, kUnorm,      U(10, 5),  U(5, 5),   U(0, 5),   None};
constexpr PackedLayout kA1R5G5B5     {2, kUnorm,      U(10, 5),  U(5, 5),   U(0, 5),   U(15, 1)};
constexpr PackedLayout kA4R4G4B4     {2, kUnorm,      U(8, 4),   U(4, 4),   U(0, 4),   U(12, 4)};
constexpr PackedLayout kR3G3B2       {1, kUnorm,      U(5, 3),   U(2, 3),   U(0, 2),   None};
constexpr PackedLayout kA8           {1, kUnorm,      None,      None,      None,      U(0, 8), false, true};
constexpr PackedLayout kA8R3G3B2     {2, kUnorm,      U(5, 3),   U(2, 3),   U(0, 2),   U(8, 8)};
constexpr PackedLayout kX4R4G4B4     {2, kUnorm,      U(8, 4),   U(4, 4),   U(0, 4),   None};
constexpr PackedLayout kA2B10G10R10  {4, kUnorm,      U(0, 10),  U(10, 10), U(20, 10), U(30, 2)};
constexpr PackedLayout kA8B8G8R8     {4, kUnorm,      U(0, 8),   U(8, 8),   U(16, 8),  U(24, 8)};
constexpr PackedLayout kX8B8G8R8     {4, kUnorm,      U(0, 8),   U(8, 8),   U(16, 8),  None};
constexpr PackedLayout kG16R16       {4, kUnorm,      U(0, 16),  U(16, 16), None,      None};
constexpr PackedLayout kA2R10G10B10  {4, kUnorm,      U(20, 10), U(10, 10), U(0, 10),  U(30, 2)};
constexpr PackedLayout kA16B16G16R16 {8, kUnorm,      U(0, 16),  U(16, 16), U(32, 16), U(48, 16)};
constexpr PackedLayout kR16G16B16    {6, kUnorm,      U(32, 16), U(16, 16), U(0, 16),  None};
constexpr PackedLayout kL8           {1, kUnorm,      U(0, 8),   None,      None,      None,     true};
constexpr PackedLayout kA8L8         {2, kUnorm,      U(0, 8),   None,      None,      U(8, 8),  true};
constexpr PackedLayout kA4L4         {1, kUnorm,      U(0, 4),   None,      None,      U(4, 4),  true};
constexpr PackedLayout kL16          {2, kUnorm,      U(0, 16),  None,      None,      None,     true};
constexpr PackedLayout kA16L16       {4, kUnorm,      U(0, 16),  None,      None,      U(16, 16), true};
constexpr PackedLayout kD16Lockable  {2, kUnorm,      U(0, 16),  None,      None,      None,     true};
constexpr PackedLayout kV8U8         {2, kSnormColor, S(0, 8),   S(8, 8),   None,      None};
constexpr PackedLayout kL6V5U5       {2, kSnormColor, S(0, 5),   S(5, 5),   None,      U(10, 6)};
constexpr PackedLayout kX8L8V8U8     {4, kSnormColor, S(0, 8),   S(8, 8),   None,      U(16, 8)};
constexpr PackedLayout kQ8W8V8U8     {4, kSnormAll,   S(0, 8),   S(8, 8),   S(16, 8),  S(24, 8)};
constexpr PackedLayout kV16U16       {4, kSnormColor, S(0, 16),  S(16, 16), None,      None};
constexpr PackedLayout kA2W10V10U10  {4, kSnormColor, S(0, 10),  S(10, 10), S(20, 10), U(30, 2)};
constexpr PackedLayout kQ16W16V16U16 {8, kSnormAll,   S(0, 16),  S(16, 16), S(32, 16), S(48, 16)};
constexpr PackedLayout kCxV8U8       {2, kSnormColor, S(0, 8),   S(8, 8),   None,      None,     false, false, true};
// clang-format on

// The luminance the luminance formats store: 0.2125 R + 0.7154 G + 0.0721 B,
// summed so that a grey keeps its exact value (error diffusion would otherwise
// spread the weights' rounding).
inline float Luminance(const ColorF& c) { return c.g + (0.2125f * (c.r - c.g) + 0.0721f * (c.b - c.g)); }

// The layout of a packed format; null for every other format.
const PackedLayout* FindPackedLayout(std::uint32_t format);

}  // namespace gxl::tex::detail
