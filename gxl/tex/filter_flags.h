// The filter word of the texture operations: a filter in the low 16 bits and
// flags above it.
#pragma once

#include <cstdint>

struct FilterFlags {
  // Low 16 bits.
  static constexpr std::uint32_t None = 1;  // copy the overlapping part, no resampling
  static constexpr std::uint32_t Point = 2;
  static constexpr std::uint32_t Linear = 3;
  static constexpr std::uint32_t Triangle = 4;
  static constexpr std::uint32_t Box = 5;
  static constexpr std::uint32_t FilterMask = 0xFFFF;

  // Set: the linear and triangle footprints reflect at that axis's edges;
  // clear: they wrap around to the other edge.
  static constexpr std::uint32_t MirrorU = 0x10000;
  static constexpr std::uint32_t MirrorV = 0x20000;
  static constexpr std::uint32_t MirrorW = 0x40000;
  static constexpr std::uint32_t Mirror = MirrorU | MirrorV | MirrorW;

  static constexpr std::uint32_t OrderedDither = 0x80000;
  static constexpr std::uint32_t ErrorDiffusion = 0x100000;
  static constexpr std::uint32_t SourceSrgb = 0x200000;
  static constexpr std::uint32_t DestSrgb = 0x400000;

  // Bits no valid filter word carries.
  static constexpr std::uint32_t InvalidBits = 0xFF800000;

  static constexpr bool IsValid(std::uint32_t filter) {
    const std::uint32_t low = filter & FilterMask;
    return low >= None && low <= Box && !(filter & InvalidBits);
  }
};
