// The reference-counted block of bytes that the library hands to its callers
// (encoded images, compiled code, messages), and its two variants: a buffer
// whose data is 16-byte aligned and a packed list of strings.
#pragma once

#include <cstdint>

#include "platform/com.h"

// {8BA5FB08-5195-40E2-AC58-0D989C3A0102}
inline constexpr IID IID_DataBuffer = {0x8BA5FB08, 0x5195, 0x40E2, {0xAC, 0x58, 0x0D, 0x98, 0x9C, 0x3A, 0x01, 0x02}};

// Answers IID_IUnknown and IID_DataBuffer. The count is not atomic: a buffer is
// used by one thread at a time.
class DataBuffer : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;  // the last reference destroys the buffer
  virtual void* GetPointer();
  virtual DWORD GetSize();

  // Enlarges the block to newSize, keeping its contents; a size not above the
  // current one does nothing. E_OUTOFMEMORY keeps the old block.
  HRESULT Grow(DWORD newSize);

  DataBuffer(const DataBuffer&) = delete;
  DataBuffer& operator=(const DataBuffer&) = delete;

 protected:
  DataBuffer() = default;
  virtual ~DataBuffer();
  // Allocates the data block of an empty buffer: E_OUTOFMEMORY leaves the size
  // unchanged.
  virtual HRESULT Allocate(DWORD size);
  // Replaces the block by a larger one (newSize > size) that keeps what the
  // variant needs of the old one; E_OUTOFMEMORY changes nothing.
  virtual HRESULT GrowBlock(DWORD newSize);

  ULONG m_refCount = 1;
  DWORD m_size = 0;
  std::uint8_t* m_data = nullptr;

  friend HRESULT CreateDataBuffer(DWORD size, DataBuffer** out);
};

// A buffer whose data pointer is a multiple of 16; GetSize reports the size asked for.
class AlignedDataBuffer final : public DataBuffer {
 protected:
  AlignedDataBuffer() = default;
  ~AlignedDataBuffer() override;
  HRESULT Allocate(DWORD size) override;
  HRESULT GrowBlock(DWORD newSize) override;

  friend HRESULT CreateAlignedDataBuffer(DWORD size, DataBuffer** out);
};

// One block holding, from its front, an array of pointers to strings and, packed
// downward from its end, the zero-terminated strings themselves.
class StringListBuffer final : public DataBuffer {
 public:
  // Appends a copy of text, growing the block when it lacks room for the string
  // and one more pointer. E_OUTOFMEMORY changes nothing.
  virtual HRESULT AppendString(const char* text);

  // The pointer list: one entry per appended string, in order.
  char** ListBegin() { return reinterpret_cast<char**>(m_data); }
  char** ListEnd() { return m_listEnd; }

 protected:
  StringListBuffer() = default;
  ~StringListBuffer() override = default;
  HRESULT Reserve(DWORD size);
  // Moves the string area to the end of the new size and the pointer list to
  // the front, every pointer following its string.
  HRESULT GrowBlock(DWORD newSize) override;

  char** m_listEnd = nullptr;
  char* m_stringStart = nullptr;

  friend HRESULT CreateStringListBuffer(DWORD size, StringListBuffer** out);
};

// Each creates a buffer of `size` bytes with one reference: D3DERR_INVALIDCALL
// for a null out pointer, E_OUTOFMEMORY when the object or its block cannot be
// had (nothing is handed out then).
HRESULT CreateDataBuffer(DWORD size, DataBuffer** out);
HRESULT GXLCreateDataBuffer(DWORD size, DataBuffer** out);
HRESULT CreateAlignedDataBuffer(DWORD size, DataBuffer** out);
// An empty list whose block has `size` bytes.
HRESULT CreateStringListBuffer(DWORD size, StringListBuffer** out);
