// The byte sink of the image writers: a file written through a 64 KB buffer,
// or a growing block of memory.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/tex/decoded_image.h"
#include "gxl/tex/mapped_file.h"
#include "platform/win_types.h"

class DataBuffer;

constexpr std::uint32_t kImageStreamBufferSize = 0x10000;

class ImageOutputStream {
 public:
  ImageOutputStream() = default;
  ~ImageOutputStream() { Close(); }
  ImageOutputStream(const ImageOutputStream&) = delete;
  ImageOutputStream& operator=(const ImageOutputStream&) = delete;

  // FileA and FileW create (or truncate) the named file; Memory starts a block
  // of 1 KB that the stream owns (the sink is not used). E_OUTOFMEMORY; a file
  // that cannot be created gives GXLERR_INVALIDDATA; other kinds E_FAIL.
  HRESULT Open(const void* sink, ImageSinkKind kind);
  // Appends count bytes; written (when given) receives count on success. A
  // closed stream accepts and drops the bytes. E_FAIL when the file write
  // fails or the position would pass 32 bits; E_OUTOFMEMORY when memory
  // cannot grow.
  HRESULT Write(const void* bytes, std::uint32_t count, std::uint32_t* written);
  // Writes the buffered bytes of a file (E_FAIL on failure).
  HRESULT Flush();
  // Flushes, then releases the memory block and the buffer and closes the file.
  HRESULT Close();

  // Bytes written so far.
  std::uint32_t Position() const { return m_position; }
  // A memory stream's bytes (Position() of them); null for other streams.
  const std::uint8_t* MemoryBytes() const;

 private:
  enum class State { Closed, File, Memory };

  HRESULT WriteFileBytes(const std::uint8_t* bytes, std::uint32_t count);

  MappedFile m_file;  // holds the output file's handle
  State m_state = State::Closed;
  DataBuffer* m_memory = nullptr;
  std::unique_ptr<std::uint8_t[]> m_buffer;
  std::uint32_t m_buffered = 0;
  std::uint32_t m_position = 0;
};
