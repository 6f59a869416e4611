// Read-only views of whole files, the output file of an image stream, and the
// bytes of module resources. Names come as 8-bit (UTF-8) or UTF-16 text, chosen
// by a wide flag.
#pragma once

#include "platform/win_types.h"

// A read-only view of a whole file, valid until Close or destruction.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() { Destroy(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // name is a const char* (wide false) or a const char16_t* (wide true).
  // D3DERR_INVALIDCALL for a null name; GXLERR_INVALIDDATA when the file cannot
  // be opened, sized or mapped. An empty file opens with a null view and size 0.
  HRESULT Open(const void* name, bool wide);
  // Unmaps the view and closes the handles; returns S_OK.
  HRESULT Close();
  // Closes when a file is held.
  void Destroy();

  const void* Data() const { return m_view; }
  DWORD Size() const { return m_size; }
  // The file that CreateFileForWriting opened (INVALID_HANDLE_VALUE when none).
  HANDLE FileHandle() const { return m_file; }

 protected:
  HANDLE m_file = INVALID_HANDLE_VALUE;
  HANDLE m_mapping = INVALID_HANDLE_VALUE;
  const void* m_view = nullptr;
  DWORD m_size = 0;

  friend HRESULT CreateFileForWriting(MappedFile* holder, const void* name, bool wide);
};

// Creates (or truncates) the file for writing, no sharing, into the holder's
// file handle (closing what the holder held). D3DERR_INVALIDCALL for a null
// holder or name; GXLERR_INVALIDDATA when the file cannot be created.
HRESULT CreateFileForWriting(MappedFile* holder, const void* name, bool wide);

// The bytes of a module resource, valid until Reset or destruction.
class ResourceData {
 public:
  ResourceData() = default;
  ~ResourceData() { Destroy(); }
  ResourceData(const ResourceData&) = delete;
  ResourceData& operator=(const ResourceData&) = delete;

  // Looks the name up as a bitmap first (tryBitmap), then as raw data. name is
  // a const char* or, with wide, a const char16_t*; either may be an integer
  // id made with MAKEINTRESOURCE. GXLERR_INVALIDDATA when it is not found, is
  // empty or cannot be loaded.
  HRESULT Find(HMODULE module, const void* name, bool tryBitmap, bool wide);
  // Releases what is held; returns S_OK.
  HRESULT Reset();
  void Destroy();

  const void* Data() const { return m_data; }
  DWORD Size() const { return m_size; }

 private:
  HGLOBAL m_resource = nullptr;
  const void* m_data = nullptr;
  DWORD m_size = 0;
};
