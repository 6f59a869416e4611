// The pixel codec family: a codec wraps one ImageRegion of one pixel format and
// converts whole rows of its working box between the format and float RGBA
// texels (ColorF: r, g, b, a). Writing rounds (optionally with ordered dither or
// error diffusion), adapts value ranges and encodes sRGB; reading applies the
// colour key and decodes sRGB. Every call converts a whole row, so a transfer
// costs one virtual call per row.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "gxl/math/records.h"
#include "gxl/tex/image_region.h"
#include "platform/win_types.h"

// The value-range class of a codec's texels.
enum class ChannelRange : std::uint32_t {
  None = 0,        // (as an other-range: rows already come in the codec's range)
  Unorm = 1,       // all four channels in [0, 1]
  SnormColor = 2,  // R, G, B in [-1, 1]; A in [0, 1]
  SnormAll = 3,    // all four in [-1, 1]
  Float = 4,       // unbounded; never adapted
};

// Write-side rounding offsets, 4 rows of 8: row (y mod 4), column (z mod 4) +
// (n mod 4) for the n-th texel written. The rounding table is 0.5 everywhere.
struct DitherTables {
  float rounding[32];
  float ordered[32];
};
extern const DitherTables DitherTable;

// Entry i (0-254) = (i/254)^(1/1.1) and (i/254)^1.1; entry 255 = 1.
extern const float SrgbEncodeTable[256];
extern const float SrgbDecodeTable[256];

// x^(1/2.2) and x^2.2 by table lookup with linear interpolation; inputs outside
// [0, 1] (and NaN) are clamped first.
float LinearToSrgb(float x);
float SrgbToLinear(float x);

// Small colour helpers.
ColorF ColorFromArgb(std::uint32_t argb);  // each byte / 255; R from bits 16-23
ColorF AddColor(const ColorF& a, const ColorF& b);
ColorF SubtractColor(const ColorF& a, const ColorF& b);
bool ColorsEqual(const ColorF& a, const ColorF& b);
// Float to integer by truncation toward zero (clamped to the int range; NaN gives 0).
std::int32_t TruncatingRoundMode(float x);

// Where a format whose channels are each one unsigned byte keeps R, G, B and
// A in its texel (byte offsets; -1 for a channel it does not store). Reading
// b / 255 and quantising it back gives b under every rounding offset, so such
// formats convert into each other byte for byte.
struct ByteChannels {
  std::uint32_t bytes;
  std::int8_t offset[4];
};

class PixelCodec {
 public:
  virtual ~PixelCodec();
  PixelCodec(const PixelCodec&) = delete;
  PixelCodec& operator=(const PixelCodec&) = delete;

  // Fills out with the width texels of row y of slice z of the working box.
  virtual void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out);
  // Fills out with `count` texels of row y of slice z from column x on, as
  // ReadRow gives them. Addressable codecs only (IsAddressable()).
  void ReadSpan(std::uint32_t y, std::uint32_t z, std::uint32_t x, std::uint32_t count, ColorF* out);
  // Stores width texels into row y of slice z. The row may be changed by the
  // call; callers do not reuse its contents. With error diffusion, rows must
  // come in increasing y within a slice.
  virtual void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) = 0;
  // Replaces the key colour by what a texel of that colour reads back as.
  virtual void QuantizeColorKey();
  // The byte places of the channels, for formats of whole-byte unsigned
  // channels only; null otherwise.
  virtual const ByteChannels* ByteChannelLayout() const { return nullptr; }

  // Readies a codec to be written with rows of unbounded floats (texture fills).
  HRESULT PrepareForFloatRows();

  std::uint32_t Format() const { return m_format; }
  ChannelRange Range() const { return m_range; }
  ChannelRange OtherRange() const { return m_otherRange; }
  bool IsAddressable() const { return m_addressable; }
  bool IsPalettized() const { return m_palettized; }
  bool Srgb() const { return m_srgb; }
  void SetSrgb(bool srgb) { m_srgb = srgb; }
  bool SrgbBoth() const { return m_srgbBoth; }
  std::uint32_t ColourKey() const { return m_colourKey; }
  const ColorF& KeyColour() const { return m_keyColour; }
  // Addressable codecs: the first texel of the working box; others: the region's memory.
  std::uint8_t* Pixels() const { return m_pixels; }
  const PaletteEntry* Palette() const { return m_palette; }
  const ImageBox& Box() const { return m_box; }
  std::uint32_t RowPitch() const { return m_rowPitch; }
  std::uint32_t SlicePitch() const { return m_slicePitch; }
  std::uint32_t Width() const { return m_width; }
  std::uint32_t Height() const { return m_height; }
  std::uint32_t Depth() const { return m_depth; }
  std::uint32_t RowBytes() const { return m_rowBytes; }
  std::uint32_t BytesPerTexel() const { return m_bytesPerTexel; }
  bool HasErrorDiffusion() const { return m_diffusionRow != nullptr; }
  // The write-side offsets (DitherTable.rounding or DitherTable.ordered).
  const float* RoundingTable() const { return m_roundingTable; }

 protected:
  // bits: storage bits per texel (0 for codecs that address their memory
  // themselves); range: the class's value range.
  PixelCodec(const ImageRegion& region, std::uint32_t bits, ChannelRange range);

  // Address of texel 0 of row y, slice z (addressable codecs).
  std::uint8_t* RowAddress(std::uint32_t y, std::uint32_t z) const {
    return m_pixels + std::uint64_t{y} * m_rowPitch + std::uint64_t{z} * m_slicePitch;
  }

  // The common pipeline pieces. Each converts width texels.
  // Range adaptation from otherRange into adaptRow; returns adaptRow.
  ColorF* AdaptRowRange(const ColorF* row);
  // sRGB encode into adaptRow; returns adaptRow.
  ColorF* LinearToSrgbRow(const ColorF* row);
  void SrgbToLinearRow(ColorF* row);
  void ApplyColorKey(ColorF* row);
  void AddDiffusedError(ColorF* row);
  // Write step 1: range adaptation when otherRange is set, then the sRGB encode
  // when srgb is set. Returns the row to quantise (adaptRow, or row itself).
  ColorF* PrepareRowForWrite(ColorF* row);
  // The common read tail: colour key, then sRGB decode.
  void FinishRead(ColorF* row) {
    if (m_colourKey) ApplyColorKey(row);
    if (m_srgb) SrgbToLinearRow(row);
  }

  // What the quantising loops need for row y of slice z.
  struct RowTarget {
    std::uint8_t* texels;  // texel 0 of the row
    std::uint32_t width;
    bool rightToLeft;      // odd rows run right to left (serpentine order)
    const float* dither;   // offsets for n mod 4 = 0..3
    ColorF* diffusion;     // width + 2 entries, column x at x + 1; null without diffusion
  };
  RowTarget TargetRow(std::uint32_t y, std::uint32_t z) const;
  // The quantising step of a write: the diffused error added when the codec
  // diffuses, then `encode(diffuse, target, row)` with diffuse a
  // std::bool_constant, so that the codec's loop is made for either case.
  template <class Encode>
  void QuantizeRow(std::uint32_t y, std::uint32_t z, ColorF* row, Encode encode) {
    const RowTarget t = TargetRow(y, z);
    if (t.diffusion) {
      AddDiffusedError(row);
      encode(std::true_type{}, t, row);
    } else {
      encode(std::false_type{}, t, row);
    }
  }

  std::uint32_t m_format;
  ChannelRange m_range;
  bool m_addressable;
  bool m_srgb;
  bool m_srgbBoth = false;
  std::uint32_t m_colourKey;
  bool m_palettized;
  std::uint8_t* m_pixels;
  ColorF m_keyColour{0, 0, 0, 0};
  const float* m_roundingTable;
  const PaletteEntry* m_palette;
  std::unique_ptr<ColorF[]> m_paletteColours;
  ImageBox m_box;
  ChannelRange m_otherRange = ChannelRange::None;
  std::unique_ptr<ColorF[]> m_adaptRowStorage;
  ColorF* m_adaptRow = nullptr;
  std::unique_ptr<ColorF[]> m_diffusionRow;
  std::uint32_t m_rowPitch;
  std::uint32_t m_slicePitch;
  std::uint32_t m_width;
  std::uint32_t m_height;
  std::uint32_t m_depth;
  std::uint32_t m_rowBytes;
  std::uint32_t m_bytesPerTexel;

 private:
  HRESULT AllocateAdaptRow();
  HRESULT BuildPaletteColors();

  friend std::unique_ptr<PixelCodec> CreatePixelCodec(const ImageRegion& region);
  friend HRESULT PreparePixelCodecPair(PixelCodec* destination, PixelCodec* source);
};

// A codec for the region's format, or null when the format has none, the
// working box is inverted or too large, or memory runs out.
std::unique_ptr<PixelCodec> CreatePixelCodec(const ImageRegion& region);

// Called once after a transfer's two codecs are made: the destination learns
// the source's range (unless it is a float codec) and both learn whether the
// other is sRGB. E_OUTOFMEMORY when the destination's adapt row cannot be had.
HRESULT PreparePixelCodecPair(PixelCodec* destination, PixelCodec* source);
