// ImageOutputStream: buffered file output and growing memory output.
#include "gxl/tex/image_output_stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "gxl/tex/data_buffer.h"
#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"

HRESULT ImageOutputStream::Open(const void* sink, ImageSinkKind kind) {
  Close();
  m_position = 0;
  switch (kind) {
    case ImageSinkKind::FileA:
    case ImageSinkKind::FileW: {
      m_buffer.reset(new (std::nothrow) std::uint8_t[kImageStreamBufferSize]);
      if (!m_buffer) return E_OUTOFMEMORY;
      const HRESULT hr = CreateFileForWriting(&m_file, sink, kind == ImageSinkKind::FileW);
      if (FAILED(hr)) {
        m_buffer.reset();
        return hr;
      }
      m_state = State::File;
      return S_OK;
    }
    case ImageSinkKind::Memory: {
      const HRESULT hr = CreateDataBuffer(1024, &m_memory);
      if (FAILED(hr)) return hr;
      m_state = State::Memory;
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT ImageOutputStream::WriteFileBytes(const std::uint8_t* bytes, std::uint32_t count) {
  DWORD done = 0;
  if (!WriteFile(m_file.FileHandle(), bytes, count, &done, nullptr) || done != count) return E_FAIL;
  return S_OK;
}

HRESULT ImageOutputStream::Write(const void* bytes, std::uint32_t count, std::uint32_t* written) {
  if (written) *written = 0;
  const auto* in = static_cast<const std::uint8_t*>(bytes);
  if (m_state == State::Closed || !count) {
    if (written) *written = count;
    return S_OK;
  }
  if (std::uint64_t{m_position} + count > 0xFFFFFFFFu) return m_state == State::Memory ? E_OUTOFMEMORY : E_FAIL;

  if (m_state == State::File) {
    if (m_buffered + count <= kImageStreamBufferSize) {
      std::memcpy(m_buffer.get() + m_buffered, in, count);
      m_buffered += count;
    } else {
      std::uint32_t left = count;
      if (m_buffered) {
        // Complete the buffer and write it as one block.
        const std::uint32_t fill = kImageStreamBufferSize - m_buffered;
        std::memcpy(m_buffer.get() + m_buffered, in, fill);
        m_buffered = 0;
        if (FAILED(WriteFileBytes(m_buffer.get(), kImageStreamBufferSize))) return E_FAIL;
        in += fill;
        left -= fill;
      }
      const std::uint32_t direct = left / kImageStreamBufferSize * kImageStreamBufferSize;
      if (direct && FAILED(WriteFileBytes(in, direct))) return E_FAIL;
      std::memcpy(m_buffer.get(), in + direct, left - direct);
      m_buffered = left - direct;
    }
  } else {
    const std::uint64_t end = std::uint64_t{m_position} + count;
    if (end > m_memory->GetSize()) {
      const std::uint64_t twice = std::uint64_t{m_memory->GetSize()} * 2;
      const std::uint64_t grown = std::min<std::uint64_t>(std::max(end, twice), 0xFFFFFFFFu);
      if (FAILED(m_memory->Grow(static_cast<DWORD>(grown)))) return E_OUTOFMEMORY;
    }
    std::memcpy(static_cast<std::uint8_t*>(m_memory->GetPointer()) + m_position, in, count);
  }
  m_position += count;
  if (written) *written = count;
  return S_OK;
}

HRESULT ImageOutputStream::Flush() {
  if (m_state != State::File || !m_buffered) return S_OK;
  const HRESULT hr = WriteFileBytes(m_buffer.get(), m_buffered);
  m_buffered = 0;
  return hr;
}

HRESULT ImageOutputStream::Close() {
  const HRESULT hr = Flush();
  if (m_memory) m_memory->Release();
  m_memory = nullptr;
  m_buffer.reset();
  m_buffered = 0;
  m_file.Destroy();
  m_state = State::Closed;
  return hr;
}

const std::uint8_t* ImageOutputStream::MemoryBytes() const {
  return m_state == State::Memory ? static_cast<const std::uint8_t*>(m_memory->GetPointer()) : nullptr;
}
