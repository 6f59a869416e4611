// Decoded sources of a filter graph: a stream of interleaved signed 16-bit
// frames from an MP3 file (libmpg123) or a PCM RIFF WAVE file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/win_types.h"

namespace platform::audio {

class PcmStream {
 public:
  virtual ~PcmStream() = default;
  unsigned Rate() const { return m_rate; }
  unsigned Channels() const { return m_channels; }
  // Reads up to frames frames (Channels() samples each); 0 at the end.
  virtual std::size_t Read(std::int16_t* out, std::size_t frames) = 0;
  // Moves to frame (clamped to the end); false on failure.
  virtual bool Seek(std::uint64_t frame) = 0;
  // Frames in the whole stream.
  virtual std::uint64_t Length() = 0;

 protected:
  unsigned m_rate = 0;
  unsigned m_channels = 0;
};

// VFW_E_NOT_FOUND when the file cannot be opened, VFW_E_UNSUPPORTED_STREAM when
// it is neither MP3 nor PCM WAVE.
HRESULT OpenPcmStream(const std::string& path, std::unique_ptr<PcmStream>* out);

std::unique_ptr<PcmStream> OpenMp3Stream(const std::string& path);
std::unique_ptr<PcmStream> OpenWaveStream(const std::string& path);

}  // namespace platform::audio
