// RIFF WAVE files through both readers: the sound effects' loader and the
// music player's PCM stream (read, seek to the middle and the end, read on).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dshow/pcm_stream.h"
#include "fuzz/fuzz_input.h"
#include "qel/appbase/qelsound.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nura::fuzz::MemoryFile file(data, size);

  std::uint8_t* samples = nullptr;
  WAVEFORMATEX format{};
  const std::uint32_t bytes = C_SoundBuffer::ReadWave(file.Path().c_str(), &samples, &format);
  nura::fuzz::Require((bytes != 0) == (samples != nullptr), "samples exactly when the file was read");
  nura::fuzz::Require(bytes <= size, "no more sample bytes than the file holds");
  if (bytes != 0) {
    // The samples are the file's own bytes, in one piece.
    const std::boyer_moore_horspool_searcher samplesIn(samples, samples + bytes);
    nura::fuzz::Require(std::search(data, data + size, samplesIn) != data + size, "samples as the file holds them");
  }
  delete[] samples;

  std::unique_ptr<platform::audio::PcmStream> stream = platform::audio::OpenWaveStream(file.Path());
  if (!stream) return 0;
  const std::uint64_t length = stream->Length();
  std::vector<std::int16_t> buffer(std::size_t{4096} * (stream->Channels() ? stream->Channels() : 1));
  std::uint64_t read = 0;
  for (std::size_t n; (n = stream->Read(buffer.data(), 4096)) != 0;) read += n;
  nura::fuzz::Require(read == length, "the stream yields Length() frames");
  for (const std::uint64_t at : {length / 2, length, length + 1}) {
    if (stream->Seek(at)) stream->Read(buffer.data(), 4096);
  }
  return 0;
}
