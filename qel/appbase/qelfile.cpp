#include "qel/appbase/qelfile.h"

bool C_File::Open(const char* name, bool forReading, DWORD disposition) {
  Close();
  DWORD access = forReading ? GENERIC_READ : GENERIC_WRITE;
  DWORD share = forReading ? FILE_SHARE_READ : FILE_SHARE_WRITE;
  m_hFile = CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (m_hFile == INVALID_HANDLE_VALUE) return false;
  m_strName = name;
  return true;
}

void C_File::Close() {
  if (m_hFile != nullptr && m_hFile != INVALID_HANDLE_VALUE) {
    CloseHandle(m_hFile);
    m_strName.clear();
    m_hFile = nullptr;
  }
}

bool C_File::Read(void* buf, DWORD n, LONG offset) {
  m_nRead = 0;
  SetFilePointer(m_hFile, offset, nullptr, FILE_BEGIN);
  return ReadFile(m_hFile, buf, n, &m_nRead, nullptr) != FALSE;
}

BYTE C_File::ReadByte(LONG offset) {
  BYTE b = 0;
  if (!Read(&b, 1, offset) || m_nRead != 1) return 0;
  return b;
}

int C_File::ReadU16(LONG offset) { return ReadByte(offset + 1) * 256 + ReadByte(offset); }

bool C_File::Write(const void* buf, DWORD n, LONG offset) {
  m_nWritten = 0;
  SetFilePointer(m_hFile, offset, nullptr, FILE_BEGIN);
  return WriteFile(m_hFile, buf, n, &m_nWritten, nullptr) != FALSE;
}

DWORD C_File::GetSize(DWORD* high) { return GetFileSize(m_hFile, high); }

bool C_File::Delete() {
  std::string name = m_strName;
  Close();
  return DeleteFileA(name.c_str()) != FALSE;
}
