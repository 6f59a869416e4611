// MP3 decoding through libmpg123, to signed 16-bit frames at the file's rate.
#include <mpg123.h>

#include <cstdio>
#include <mutex>

#include "dshow/pcm_stream.h"

namespace platform::audio {
namespace {

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
}

class Mp3Stream final : public PcmStream {
 public:
  ~Mp3Stream() override {
    if (m_handle) {
      mpg123_close(m_handle);
      mpg123_delete(m_handle);
    }
  }

  bool Open(const std::string& path) {
    InitLibrary();
    int err = MPG123_OK;
    m_handle = mpg123_new(nullptr, &err);
    if (!m_handle) return false;
    // One MPEG stream per file: libmpg123 sizes its output buffer for the
    // first frame's format, and a joined file whose later frames change rate
    // or channels would write past it (after a seek especially). Such a file
    // plays up to the change, and ends there.
    mpg123_param(m_handle, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_NO_FRANKENSTEIN, 0.0);
    // Signed 16-bit at whatever rate and channel count the file has.
    mpg123_format_none(m_handle);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
      mpg123_format(m_handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(m_handle, path.c_str()) != MPG123_OK) return false;
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(m_handle, &rate, &channels, &encoding) != MPG123_OK) return false;
    if (encoding != MPG123_ENC_SIGNED_16 || channels < 1 || channels > 2 || rate <= 0) return false;
    // Fix the format from here on, so a later frame cannot change it.
    mpg123_format_none(m_handle);
    mpg123_format(m_handle, rate, channels, encoding);
    m_rate = static_cast<unsigned>(rate);
    m_channels = static_cast<unsigned>(channels);
    // Exact length: the encoder's tag or a scan of the frame headers.
    mpg123_scan(m_handle);
    off_t length = mpg123_length(m_handle);
    m_length = length > 0 ? static_cast<std::uint64_t>(length) : 0;
    return true;
  }

  std::size_t Read(std::int16_t* out, std::size_t frames) override {
    if (m_ended) return 0;
    const std::size_t frameBytes = 2u * m_channels;
    std::size_t want = frames * frameBytes;
    auto* dst = reinterpret_cast<unsigned char*>(out);
    std::size_t total = 0;
    int idle = 0;  // calls in a row that gave nothing
    while (total < want) {
      std::size_t done = 0;
      int r = mpg123_read(m_handle, dst + total, want - total, &done);
      total += done;
      idle = done ? 0 : idle + 1;
      if (r == MPG123_NEW_FORMAT && !FormatUnchanged()) r = MPG123_ERR;
      if ((r != MPG123_OK && r != MPG123_NEW_FORMAT) || idle > 8) {
        m_ended = true;  // the end of the stream, or a file that stopped decoding
        break;
      }
    }
    return total / frameBytes;
  }

  bool Seek(std::uint64_t frame) override {
    m_ended = false;
    if (m_length && frame > m_length) frame = m_length;
    // A seek lands on a frame found by the index; should that frame's format
    // differ from the one the output was set up for, the stream ends there.
    if (mpg123_seek(m_handle, static_cast<off_t>(frame), SEEK_SET) >= 0 && FormatUnchanged()) return true;
    m_ended = true;
    return false;
  }

  std::uint64_t Length() override { return m_length; }

 private:
  // The decoder still delivers the format the stream was opened with.
  bool FormatUnchanged() {
    long rate = 0;
    int channels = 0, encoding = 0;
    return mpg123_getformat(m_handle, &rate, &channels, &encoding) == MPG123_OK && rate == static_cast<long>(m_rate) &&
           channels == static_cast<int>(m_channels) && encoding == MPG123_ENC_SIGNED_16;
  }

  mpg123_handle* m_handle = nullptr;
  std::uint64_t m_length = 0;
  bool m_ended = false;
};

}  // namespace

std::unique_ptr<PcmStream> OpenMp3Stream(const std::string& path) {
  auto stream = std::make_unique<Mp3Stream>();
  if (!stream->Open(path)) return nullptr;
  return stream;
}

}  // namespace platform::audio
