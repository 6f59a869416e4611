// MP3 files through the music player's decoder: read from the start, then
// seek to the middle and the end and read on, as looping music does.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dshow/pcm_stream.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nura::fuzz::MemoryFile file(data, size);
  std::unique_ptr<platform::audio::PcmStream> stream = platform::audio::OpenMp3Stream(file.Path());
  if (!stream) return 0;
  nura::fuzz::Require(stream->Channels() >= 1 && stream->Channels() <= 2, "one or two channels");
  constexpr std::size_t kFrames = 1152;
  std::vector<std::int16_t> buffer(kFrames * 2);
  // A small file decodes to a bounded number of frames; the reads stop there.
  for (int i = 0; i < 64 && stream->Read(buffer.data(), kFrames) != 0; ++i) {
  }
  const std::uint64_t length = stream->Length();
  for (const std::uint64_t at : {length / 2, length > 0 ? length - 1 : 0, length, std::uint64_t{0}}) {
    if (!stream->Seek(at)) continue;
    for (int i = 0; i < 8 && stream->Read(buffer.data(), kFrames) != 0; ++i) {
    }
  }
  return 0;
}
