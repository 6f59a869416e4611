// PCM RIFF WAVE files as a stream: 8-bit unsigned or 16-bit signed samples,
// mono or stereo. The chunk walk trusts no size: chunks are bounded by the
// file, odd sizes are followed by their pad byte, and the data is cut to
// whole frames that are present.
#include <cstdio>
#include <cstring>
#include <vector>

#include "dshow/pcm_stream.h"

namespace platform::audio {
namespace {

std::uint32_t U32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

class WaveStream final : public PcmStream {
 public:
  ~WaveStream() override {
    if (m_file) std::fclose(m_file);
  }

  bool Open(const std::string& path) {
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file) return false;
    if (std::fseek(m_file, 0, SEEK_END) != 0) return false;
    long size = std::ftell(m_file);
    if (size < 12) return false;
    std::fseek(m_file, 12, SEEK_SET);
    std::uint64_t fileSize = static_cast<std::uint64_t>(size);
    std::uint64_t at = 12;
    bool haveFormat = false;
    while (at + 8 <= fileSize) {
      unsigned char head[8];
      if (std::fseek(m_file, static_cast<long>(at), SEEK_SET) != 0 || std::fread(head, 1, 8, m_file) != 8)
        return false;
      std::uint32_t chunk = U32(head + 4);
      std::uint64_t body = at + 8;
      std::uint64_t present = fileSize - body < chunk ? fileSize - body : chunk;
      if (std::memcmp(head, "fmt ", 4) == 0) {
        unsigned char fmt[16];
        if (chunk < 16 || present < 16 || std::fread(fmt, 1, 16, m_file) != 16) return false;
        unsigned tag = U16(fmt), channels = U16(fmt + 2), bits = U16(fmt + 14), align = U16(fmt + 12);
        m_rate = U32(fmt + 4);
        if (tag != 1 || channels < 1 || channels > 2 || (bits != 8 && bits != 16) || m_rate == 0 ||
            align != channels * bits / 8)
          return false;
        m_channels = channels;
        m_bits = bits;
        haveFormat = true;
      } else if (std::memcmp(head, "data", 4) == 0) {
        if (!haveFormat) return false;
        m_dataStart = body;
        m_frames = present / (m_channels * m_bits / 8);
        return Seek(0);
      }
      at = body + chunk + (chunk & 1);
    }
    return false;
  }

  std::size_t Read(std::int16_t* out, std::size_t frames) override {
    std::uint64_t left = m_frames - m_next;
    if (frames > left) frames = static_cast<std::size_t>(left);
    if (frames == 0) return 0;
    const std::size_t samples = frames * m_channels;
    if (m_bits == 16) {
      std::vector<unsigned char> raw(samples * 2);
      std::size_t got = std::fread(raw.data(), 2, samples, m_file);
      for (std::size_t i = 0; i < got; ++i) out[i] = static_cast<std::int16_t>(U16(&raw[2 * i]));
      frames = got / m_channels;
    } else {
      std::vector<unsigned char> raw(samples);
      std::size_t got = std::fread(raw.data(), 1, samples, m_file);
      for (std::size_t i = 0; i < got; ++i) out[i] = static_cast<std::int16_t>((raw[i] - 128) * 256);
      frames = got / m_channels;
    }
    m_next += frames;
    return frames;
  }

  bool Seek(std::uint64_t frame) override {
    if (frame > m_frames) frame = m_frames;
    m_next = frame;
    long offset = static_cast<long>(m_dataStart + frame * m_channels * (m_bits / 8));
    return std::fseek(m_file, offset, SEEK_SET) == 0;
  }

  std::uint64_t Length() override { return m_frames; }

 private:
  std::FILE* m_file = nullptr;
  unsigned m_bits = 0;
  std::uint64_t m_dataStart = 0;
  std::uint64_t m_frames = 0;
  std::uint64_t m_next = 0;
};

}  // namespace

std::unique_ptr<PcmStream> OpenWaveStream(const std::string& path) {
  auto stream = std::make_unique<WaveStream>();
  if (!stream->Open(path)) return nullptr;
  return stream;
}

}  // namespace platform::audio
