// The DXT1 to DXT5 codecs: the row interface in front of 4x4 blocks. Reading
// decodes one row of blocks at a time and keeps it for the next three rows.
// Writing collects the texels of each row of blocks until all four of its rows
// are present (rows outside the working box count as present, taken from
// memory where memory has them), then encodes it at once; rows may come in any
// order. Blocks that reach past the image's edge repeat its last texels there.
#include <new>

#include "gxl/tex/codec_families.h"
#include "gxl/tex/dxt_block.h"
#include "gxl/tex/dxt_block_internal.h"
#include "platform/d3d9_types.h"

namespace gxl::tex::detail {
namespace {

struct DxtRoutines {
  D3DFORMAT format;
  std::uint32_t blockBytes;
  DxtDecodeBlockFn decode;
  DxtEncodeBlockFn encode;
  float alphaScale;  // the steps of stored alpha
};

constexpr DxtRoutines kDxtRoutines[] = {
    {D3DFMT_DXT1, 8, DecodeDxt1Block, EncodeDxt1Block, 255.0f},
    {D3DFMT_DXT2, 16, DecodeDxt2Block, EncodeDxt2Block, 15.0f},
    {D3DFMT_DXT3, 16, DecodeDxt3Block, EncodeDxt3Block, 15.0f},
    {D3DFMT_DXT4, 16, DecodeDxt4Block, EncodeDxt4Block, 255.0f},
    {D3DFMT_DXT5, 16, DecodeDxt5Block, EncodeDxt5Block, 255.0f},
};

constexpr std::uint32_t Down4(std::uint32_t v) { return v & ~3u; }
constexpr std::uint32_t Up4(std::uint32_t v) { return (v + 3) & ~3u; }  // v <= 0xFFFFFFFC

class DxtPixelCodec final : public PixelCodec {
 public:
  DxtPixelCodec(const ImageRegion& region, const DxtRoutines& routines)
      : PixelCodec(region, 0, ChannelRange::Unorm),
        m_alphaScale(routines.alphaScale),
        m_alphaScaleInverse(1.0f / routines.alphaScale),
        m_blockBytes(routines.blockBytes),
        m_decodeBlock(routines.decode),
        m_encodeBlock(routines.encode),
        m_extent(region.extent),
        m_alignedBox{Down4(m_box.left), Down4(m_box.top), Up4(m_box.right), Up4(m_box.bottom), m_box.front,
                     m_box.back},
        m_blocksAcross((m_alignedBox.right - m_alignedBox.left) / 4),
        m_blockRows((m_alignedBox.bottom - m_alignedBox.top) / 4),
        m_ditherRequested(region.orderedDither != 0) {}

  void ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) override;
  void WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) override;
  void QuantizeColorKey() override { m_keyColour = OnBlockGrid(m_keyColour); }

 private:
  // The texels of a row of blocks being written; rowMask bit i: row i present.
  struct WriteRecord {
    std::uint32_t rowMask = 0;
    std::unique_ptr<ColorF[]> texels;
  };

  std::uint64_t BlockRowTexels() const { return std::uint64_t{m_blocksAcross} * 16; }
  // Texel (x, row r of the block row), x counted from the aligned box's left.
  static std::uint64_t Entry(std::uint32_t x, std::uint32_t r) { return 16 * std::uint64_t{x / 4} + 4 * r + (x & 3); }
  std::uint8_t* BlockAddress(std::uint32_t top, std::uint32_t slice, std::uint32_t k) const {
    return m_pixels + std::uint64_t{top / 4} * m_rowPitch + (std::uint64_t{m_alignedBox.left / 4} + k) * m_blockBytes +
           std::uint64_t{slice} * m_slicePitch;
  }
  void DecodeBlocks(ColorF* texels, std::uint32_t top, std::uint32_t slice, std::uint32_t first,
                    std::uint32_t count) const {
    for (std::uint32_t k = first; k < first + count; ++k) m_decodeBlock(texels + 16 * k, BlockAddress(top, slice, k));
  }
  void PrepareBlockRow(WriteRecord& record, std::uint32_t top, std::uint32_t slice) const;
  void EncodeBlockRow(ColorF* texels, std::uint32_t top, std::uint32_t slice) const;
  // A colour as the blocks can store it: 5-6-5 and the format's alpha steps.
  ColorF OnBlockGrid(const ColorF& c) const {
    return ColorF(static_cast<float>(Trunc(c.r * 31.0f + 0.5f)) / 31.0f,
                  static_cast<float>(Trunc(c.g * 63.0f + 0.5f)) / 63.0f,
                  static_cast<float>(Trunc(c.b * 31.0f + 0.5f)) / 31.0f,
                  static_cast<float>(Trunc(c.a * m_alphaScale + 0.5f)) * m_alphaScaleInverse);
  }

  float m_alphaScale;
  float m_alphaScaleInverse;
  std::uint32_t m_blockBytes;
  DxtDecodeBlockFn m_decodeBlock;
  DxtEncodeBlockFn m_encodeBlock;
  ImageBox m_extent;
  ImageBox m_alignedBox;
  std::uint32_t m_blocksAcross;
  std::uint32_t m_blockRows;
  std::int64_t m_readCacheTop = -1;
  std::int64_t m_readCacheSlice = -1;
  std::unique_ptr<ColorF[]> m_readBlocks;
  std::unique_ptr<WriteRecord[]> m_writeRecords;
  bool m_ditherRequested;
};

void DxtPixelCodec::ReadRow(std::uint32_t y, std::uint32_t z, ColorF* out) {
  const std::uint32_t Y = m_box.top + y;
  const std::uint32_t Z = m_box.front + z;
  if (!m_readBlocks) {
    m_readBlocks.reset(new (std::nothrow) ColorF[BlockRowTexels()]);
    if (!m_readBlocks) return;
  }
  const std::uint32_t top = Down4(Y);
  if (top != m_readCacheTop || Z != m_readCacheSlice) {
    m_readCacheTop = top;
    m_readCacheSlice = Z;
    DecodeBlocks(m_readBlocks.get(), top, Z, 0, m_blocksAcross);
  }
  const std::uint32_t x0 = m_box.left - m_alignedBox.left;
  for (std::uint32_t i = 0; i < m_width; ++i) out[i] = m_readBlocks[Entry(x0 + i, Y & 3)];
  if (m_colourKey) {
    // Compared on the block grid, so that interpolation rounding still keys.
    for (std::uint32_t i = 0; i < m_width; ++i)
      if (ColorsEqual(OnBlockGrid(out[i]), m_keyColour)) out[i] = ColorF(0, 0, 0, 0);
  }
  if (m_srgb) SrgbToLinearRow(out);
}

void DxtPixelCodec::PrepareBlockRow(WriteRecord& record, std::uint32_t top, std::uint32_t slice) const {
  const std::uint64_t bottom = std::uint64_t{top} + 4;
  if ((top < m_box.top && m_box.top > m_extent.top) || (bottom > m_box.bottom && m_box.bottom < m_extent.bottom)) {
    DecodeBlocks(record.texels.get(), top, slice, 0, m_blocksAcross);
  } else {
    if (m_alignedBox.left < m_box.left && m_box.left > m_extent.left)
      DecodeBlocks(record.texels.get(), top, slice, 0, 1);
    if (m_alignedBox.right > m_box.right && m_box.right < m_extent.right)
      DecodeBlocks(record.texels.get(), top, slice, m_blocksAcross - 1, 1);
  }
  for (std::uint32_t i = 0; i < 4; ++i)
    if (top + i < m_box.top || top + i >= m_box.bottom) record.rowMask |= 1u << i;
}

void DxtPixelCodec::EncodeBlockRow(ColorF* texels, std::uint32_t top, std::uint32_t slice) const {
  // Past the edge, columns (and rows) 1, 2, 3 repeat 0, 0, 1: 0000, 0101, 0121.
  static const int kFrom[4] = {0, 0, 0, 1};
  const bool dither = m_ditherRequested || HasErrorDiffusion();
  const std::int64_t h = std::int64_t{m_extent.bottom} - top;
  for (std::uint32_t k = 0; k < m_blocksAcross; ++k) {
    ColorF* block = texels + 16 * std::uint64_t{k};
    const std::int64_t w = std::int64_t{m_extent.right} - (std::int64_t{m_alignedBox.left} + 4 * std::int64_t{k});
    if (w > 0 && w < 4) {
      for (std::int64_t r = 0; r < h && r < 4; ++r)
        for (std::int64_t c = w; c < 4; ++c) block[4 * r + c] = block[4 * r + kFrom[c]];
    }
    if (h > 0 && h < 4) {
      for (std::int64_t r = h; r < 4; ++r)
        for (int c = 0; c < 4; ++c) block[4 * r + c] = block[4 * kFrom[r] + c];
    }
    m_encodeBlock(BlockAddress(top, slice, k), block, dither);
  }
}

void DxtPixelCodec::WriteRow(std::uint32_t y, std::uint32_t z, ColorF* row) {
  const std::uint32_t Y = m_box.top + y;
  const std::uint32_t Z = m_box.front + z;
  const std::uint64_t records = std::uint64_t{m_blockRows} * m_depth;
  if (!m_writeRecords) {
    m_writeRecords.reset(new (std::nothrow) WriteRecord[records]);
    if (!m_writeRecords) return;
  }
  const std::uint64_t index = std::uint64_t{Z - m_alignedBox.front} * m_blockRows + (Y - m_alignedBox.top) / 4;
  WriteRecord& record = m_writeRecords[index];
  if (!record.texels) {
    // () zeroes the texels: parts of a block outside both the box and memory
    // are then at least defined.
    record.texels.reset(new (std::nothrow) ColorF[BlockRowTexels()]());
    if (!record.texels) return;
    record.rowMask = 0;
  }
  const std::uint32_t top = Down4(Y);
  if (record.rowMask == 0) PrepareBlockRow(record, top, Z);

  row = PrepareRowForWrite(row);
  const std::uint32_t x0 = m_box.left - m_alignedBox.left;
  for (std::uint32_t i = 0; i < m_width; ++i) record.texels[Entry(x0 + i, Y & 3)] = row[i];
  record.rowMask |= 1u << (Y & 3);
  if (record.rowMask != 15) return;

  EncodeBlockRow(record.texels.get(), top, Z);
  // A transfer from top to bottom keeps one buffer alive.
  if (index + 1 < records && !m_writeRecords[index + 1].texels && m_writeRecords[index + 1].rowMask == 0)
    m_writeRecords[index + 1].texels = std::move(record.texels);
  else
    record.texels.reset();
}

}  // namespace

PixelCodec* NewDxtCodec(const ImageRegion& region) {
  for (const DxtRoutines& routines : kDxtRoutines) {
    if (region.format != static_cast<std::uint32_t>(routines.format)) continue;
    // The box rounded out to whole blocks must stay countable.
    if (region.box.right > 0xFFFFFFFCu || region.box.bottom > 0xFFFFFFFCu) return nullptr;
    return new (std::nothrow) DxtPixelCodec(region, routines);
  }
  return nullptr;
}

}  // namespace gxl::tex::detail
