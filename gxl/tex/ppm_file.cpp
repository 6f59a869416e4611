// PPM files, P3 (decimal samples) and P6 (one byte per sample), read into
// X8R8G8B8. The image is decoded even when only the header is asked for.
#include <cstring>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/file_bytes.h"

namespace {

using gxl::tex::detail::kMax32;

constexpr std::uint32_t kMaxSample = 65535;
constexpr std::uint32_t kMaxByteSample = 255;

bool IsSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// The decimal tokens of the header and of P3 samples, with white space and
// "#" comments (to the end of the line) between them.
class PpmTokens {
 public:
  PpmTokens(const std::uint8_t* data, std::uint32_t size) : m_data(data), m_size(size) {}

  // The next token's value; a run of digits too long for 32 bits saturates.
  // False when the data ends first or something other than a digit stands
  // where the token should be.
  bool Next(std::uint32_t* value) {
    for (;;) {
      if (m_at >= m_size) return false;
      if (IsSpace(m_data[m_at])) {
        ++m_at;
      } else if (m_data[m_at] == '#') {
        const void* end = std::memchr(m_data + m_at, '\n', m_size - m_at);
        if (!end) return false;
        m_at = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(end) - m_data);
      } else {
        break;
      }
    }
    if (!IsDigit(m_data[m_at])) return false;
    std::uint64_t v = 0;
    for (; m_at < m_size && IsDigit(m_data[m_at]); ++m_at) {
      v = v * 10 + (m_data[m_at] - '0');
      if (v > kMax32) v = kMax32;
    }
    *value = static_cast<std::uint32_t>(v);
    return true;
  }

  std::uint32_t At() const { return m_at; }
  void Skip(std::uint32_t n) { m_at += n; }

 private:
  const std::uint8_t* m_data;
  std::uint32_t m_size;
  std::uint32_t m_at = 2;  // after the magic
};

void StoreTexel(std::uint8_t* out, const std::uint32_t* samples, std::uint32_t maximum) {
  out[0] = static_cast<std::uint8_t>(samples[2] * 255 / maximum);
  out[1] = static_cast<std::uint8_t>(samples[1] * 255 / maximum);
  out[2] = static_cast<std::uint8_t>(samples[0] * 255 / maximum);
  out[3] = 255;
}

}  // namespace

HRESULT DecodedImage::ReadPpm(const std::uint8_t* data, std::uint32_t size) {
  if (size < 3 || data[0] != 'P' || (data[1] != '3' && data[1] != '6')) return E_FAIL;
  const bool text = data[1] == '3';
  PpmTokens tokens(data, size);
  std::uint32_t w = 0, h = 0, maximum = 0;
  if (!tokens.Next(&w) || !tokens.Next(&h) || !tokens.Next(&maximum)) return E_FAIL;
  if (!w || !h || !maximum || maximum > (text ? kMaxSample : kMaxByteSample)) return E_FAIL;

  const std::uint64_t count = std::uint64_t{w} * h;
  if (!text) {
    // One white-space byte ends the header; a CR LF pair counts as one.
    const std::uint32_t at = tokens.At();
    if (at >= size || !IsSpace(data[at])) return E_FAIL;
    tokens.Skip(data[at] == '\r' && at + 1 < size && data[at + 1] == '\n' ? 2 : 1);
  }
  // The fewest bytes the samples can take (P3: a digit and a separator each,
  // but for the last one): a file too short is refused before its storage is
  // allocated.
  const std::uint64_t left = size - tokens.At();
  if (count > (text ? (left + 1) / 6 : left / 3)) return E_FAIL;
  std::uint8_t* out = AllocateImage(D3DFMT_X8R8G8B8, w, h, 4);
  if (!out) return E_OUTOFMEMORY;
  const std::uint8_t* in = data + tokens.At();
  if (!text) {
    // Byte samples as they stand, or through a table of their scaled values.
    auto* texels = reinterpret_cast<std::uint32_t*>(out);
    if (maximum == kMaxByteSample) {
      // Four bytes read at once (red, green, blue and the next texel's red),
      // turned round; the last texel alone, as nothing may follow it.
      for (std::uint64_t i = 0; i + 1 < count; ++i, in += 3) {
        std::uint32_t word;
        std::memcpy(&word, in, 4);
        texels[i] = 0xFF000000u | __builtin_bswap32(word) >> 8;
      }
      texels[count - 1] = 0xFF000000u | std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
      return S_OK;
    }
    std::uint32_t scaled[256];
    for (std::uint32_t v = 0; v < 256; ++v) scaled[v] = (v < maximum ? v : maximum) * 255 / maximum;
    for (std::uint64_t i = 0; i < count; ++i, in += 3)
      texels[i] = 0xFF000000u | scaled[in[0]] << 16 | scaled[in[1]] << 8 | scaled[in[2]];
    return S_OK;
  }
  for (std::uint64_t i = 0; i < count; ++i, out += 4) {
    std::uint32_t samples[3];
    for (std::uint32_t& s : samples) {
      if (!tokens.Next(&s)) return E_FAIL;
      // Samples above the maximum are outside the format: they read as the maximum.
      if (s > maximum) s = maximum;
    }
    StoreTexel(out, samples, maximum);
  }
  return S_OK;
}
