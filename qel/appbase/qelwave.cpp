// The RIFF WAVE reader of the sound buffers. The file is not trusted: the
// format chunk must hold a whole PCM header with channels and a block size,
// chunk sizes are bounded by the file, odd-sized chunks are followed by their
// pad byte, and the samples are cut to the whole blocks that are present.
#include <sys/types.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "qel/appbase/qelsound.h"

namespace {

constexpr std::uint32_t kMinFormatBytes = 16;  // the PCM header without its extra-size field

class StdFile {
 public:
  explicit StdFile(const char* name) : m_f(std::fopen(name, "rb")) {}
  ~StdFile() {
    if (m_f) std::fclose(m_f);
  }
  StdFile(const StdFile&) = delete;
  StdFile& operator=(const StdFile&) = delete;

  bool IsOpen() const { return m_f != nullptr; }
  bool Read(void* p, std::size_t n) { return std::fread(p, 1, n, m_f) == n; }
  bool Seek(std::uint64_t pos) { return fseeko(m_f, static_cast<off_t>(pos), SEEK_SET) == 0; }
  std::uint64_t Tell() { return static_cast<std::uint64_t>(ftello(m_f)); }
  std::uint64_t Size() {
    std::uint64_t here = Tell();
    fseeko(m_f, 0, SEEK_END);
    std::uint64_t size = Tell();
    Seek(here);
    return size;
  }

 private:
  std::FILE* m_f;
};

std::uint32_t U32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::uint32_t C_SoundBuffer::ReadWave(const char* name, std::uint8_t** data, WAVEFORMATEX* format) {
  *data = nullptr;
  StdFile file(name);
  if (!file.IsOpen()) return 0;
  const std::uint64_t fileSize = file.Size();

  unsigned char head[20];
  if (!file.Read(head, sizeof head)) return 0;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0 ||
      std::memcmp(head + 12, "fmt ", 4) != 0)
    return 0;
  const std::uint32_t formatBytes = U32(head + 16);
  if (formatBytes < kMinFormatBytes || formatBytes > fileSize - 20) return 0;

  WAVEFORMATEX f{};
  if (!file.Read(&f, formatBytes < sizeof f ? formatBytes : sizeof f)) return 0;
  if (f.nChannels == 0 || f.nBlockAlign == 0) return 0;
  if (f.wFormatTag == WAVE_FORMAT_PCM || formatBytes < sizeof f) f.cbSize = 0;

  std::uint64_t at = 20ull + formatBytes + (formatBytes & 1);
  for (;;) {
    unsigned char chunk[8];
    if (!file.Seek(at) || !file.Read(chunk, sizeof chunk)) return 0;
    const std::uint32_t size = U32(chunk + 4);
    at += sizeof chunk;
    if (std::memcmp(chunk, "data", 4) == 0) {
      std::uint64_t present = fileSize > at ? fileSize - at : 0;
      std::uint64_t bytes = size < present ? size : present;
      bytes -= bytes % f.nBlockAlign;
      if (bytes == 0) return 0;
      std::unique_ptr<std::uint8_t[]> samples(new (std::nothrow) std::uint8_t[bytes]);
      if (!samples || !file.Read(samples.get(), bytes)) return 0;
      *format = f;
      *data = samples.release();
      return static_cast<std::uint32_t>(bytes);
    }
    at += size + (size & 1ull);
  }
}
