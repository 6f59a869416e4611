#include "gxl/tex/mapped_file.h"

#include <memory>
#include <new>

#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"

namespace {

bool IsNtFamily() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Opens a file by an 8-bit or UTF-16 name. A UTF-16 name goes to the wide call
// on an NT-family system and is converted to UTF-8 for the 8-bit call elsewhere.
HRESULT OpenByName(const void* name, bool wide, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                   HANDLE* file) {
  if (!wide) {
    *file = CreateFileA(static_cast<const char*>(name), access, share, nullptr, disposition, flags, nullptr);
    return S_OK;
  }
  const auto* text = static_cast<const char16_t*>(name);
  if (IsNtFamily()) {
    *file = CreateFileW(text, access, share, nullptr, disposition, flags, nullptr);
    return S_OK;
  }
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return E_OUTOFMEMORY;
  std::unique_ptr<char[]> converted(new (std::nothrow) char[static_cast<size_t>(bytes)]);
  if (!converted || WideCharToMultiByte(CP_UTF8, 0, text, -1, converted.get(), bytes, nullptr, nullptr) <= 0)
    return E_OUTOFMEMORY;
  *file = CreateFileA(converted.get(), access, share, nullptr, disposition, flags, nullptr);
  return S_OK;
}

}  // namespace

// ---------------------------------------------------------------------------
// MappedFile

HRESULT MappedFile::Open(const void* name, bool wide) {
  if (!name) return D3DERR_INVALIDCALL;
  Destroy();
  HRESULT hr = OpenByName(name, wide, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                          &m_file);
  if (FAILED(hr)) return hr;
  if (m_file == INVALID_HANDLE_VALUE) return GXLERR_INVALIDDATA;

  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetFileSize(m_file, &high);
  // A file of 4 GB or more cannot be described by a 32-bit size.
  if ((size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) || high != 0) {
    Close();
    return GXLERR_INVALIDDATA;
  }
  if (size == 0) return S_OK;  // nothing to map: a null view of size 0

  m_mapping = CreateFileMappingA(m_file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!m_mapping) m_mapping = INVALID_HANDLE_VALUE;
  if (m_mapping != INVALID_HANDLE_VALUE) m_view = MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, 0);
  if (!m_view) {
    Close();
    return GXLERR_INVALIDDATA;
  }
  m_size = size;
  return S_OK;
}

HRESULT MappedFile::Close() {
  if (m_view) UnmapViewOfFile(m_view);
  m_view = nullptr;
  m_size = 0;
  if (m_mapping != INVALID_HANDLE_VALUE) CloseHandle(m_mapping);
  m_mapping = INVALID_HANDLE_VALUE;
  if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
  m_file = INVALID_HANDLE_VALUE;
  return S_OK;
}

void MappedFile::Destroy() {
  if (m_file != INVALID_HANDLE_VALUE) Close();
}

HRESULT CreateFileForWriting(MappedFile* holder, const void* name, bool wide) {
  if (!holder || !name) return D3DERR_INVALIDCALL;
  holder->Destroy();
  const HRESULT hr = OpenByName(name, wide, GENERIC_WRITE, 0, CREATE_ALWAYS, 0, &holder->m_file);
  if (FAILED(hr)) return hr;
  return holder->m_file == INVALID_HANDLE_VALUE ? GXLERR_INVALIDDATA : S_OK;
}

// ---------------------------------------------------------------------------
// ResourceData

HRESULT ResourceData::Find(HMODULE module, const void* name, bool tryBitmap, bool wide) {
  if (m_resource || m_data) Reset();
  auto find = [&](WORD type) -> HRSRC {
    if (wide) return FindResourceW(module, static_cast<const char16_t*>(name), MAKEINTRESOURCEW(type));
    return FindResourceA(module, static_cast<const char*>(name), MAKEINTRESOURCEA(type));
  };
  HRSRC found = nullptr;
  if (tryBitmap) found = find(2);   // a device-independent bitmap without its file header
  if (!found) found = find(10);     // raw data
  if (!found) return GXLERR_INVALIDDATA;

  const DWORD size = SizeofResource(module, found);
  if (size == 0) return GXLERR_INVALIDDATA;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return GXLERR_INVALIDDATA;
  const void* bytes = LockResource(loaded);
  if (!bytes) {
    FreeResource(loaded);
    return GXLERR_INVALIDDATA;
  }
  m_resource = loaded;
  m_data = bytes;
  m_size = size;
  return S_OK;
}

HRESULT ResourceData::Reset() {
  Destroy();
  m_resource = nullptr;
  m_data = nullptr;
  m_size = 0;
  return S_OK;
}

void ResourceData::Destroy() {
  if (m_resource) FreeResource(m_resource);
  m_resource = nullptr;
}
