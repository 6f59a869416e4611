// A thin wrapper over a file handle that reads and writes at absolute offsets.
#pragma once

#include <string>

#include "platform/win_kernel.h"

class C_File {
 public:
  C_File() = default;
  ~C_File() { Close(); }
  C_File(const C_File&) = delete;
  C_File& operator=(const C_File&) = delete;

  // Reading: read access and read sharing; writing: write access and write
  // sharing. Closes the file held first.
  bool Open(const char* name, bool forReading, DWORD disposition);
  void Close();
  bool Read(void* buf, DWORD n, LONG offset);
  // One byte at offset, 0 when it cannot be read.
  BYTE ReadByte(LONG offset);
  // Little-endian unsigned 16-bit value at offset.
  int ReadU16(LONG offset);
  bool Write(const void* buf, DWORD n, LONG offset);
  DWORD GetSize(DWORD* high);
  HANDLE GetHandle() const { return m_hFile; }
  bool Delete();

  const std::string& GetName() const { return m_strName; }
  DWORD GetReadCount() const { return m_nRead; }
  DWORD GetWrittenCount() const { return m_nWritten; }

 private:
  HANDLE m_hFile = nullptr;  // null: closed; INVALID_HANDLE_VALUE after a failed Open
  std::string m_strName;
  DWORD m_nRead = 0;
  DWORD m_nWritten = 0;
};
