#include "dshow/pcm_stream.h"

#include <cstdio>
#include <cstring>

#include "platform/dshow_api.h"

namespace platform::audio {

HRESULT OpenPcmStream(const std::string& path, std::unique_ptr<PcmStream>* out) {
  out->reset();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return VFW_E_NOT_FOUND;
  unsigned char head[12] = {};
  std::size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);

  if (got >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) {
    *out = OpenWaveStream(path);
  } else if ((got >= 3 && std::memcmp(head, "ID3", 3) == 0) ||
             (got >= 2 && head[0] == 0xFF && (head[1] & 0xE0) == 0xE0)) {
    // An ID3 tag or an MPEG audio frame header at the start.
    *out = OpenMp3Stream(path);
  }
  return *out ? S_OK : VFW_E_UNSUPPORTED_STREAM;
}

}  // namespace platform::audio
