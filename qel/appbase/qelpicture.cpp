#include "qel/appbase/qelpicture.h"

#include <vector>

#include "gxl/tex/texture_build.h"
#include "qel/appbase/qelerrorlog.h"
#include "qel/appbase/qelfile.h"

namespace {

// The logo is shipped scrambled only; a plain copy beside it is ignored.
constexpr const char* kScrambledOnly = "cg/Logo.png";

// False with the system's error when the file cannot be opened for reading.
bool FileExists(const std::string& name, DWORD* error) {
  C_File file;
  if (file.Open(name.c_str(), true, OPEN_EXISTING)) return true;
  *error = GetLastError();
  return false;
}

// The whole file, or false when it cannot be read completely: *problem then
// says why, and *openError is the system's error when it could not be opened.
bool ReadWholeFile(const std::string& name, std::vector<unsigned char>* bytes, std::string* problem,
                   DWORD* openError) {
  C_File file;
  if (!file.Open(name.c_str(), true, OPEN_EXISTING)) {
    *openError = GetLastError();
    *problem = " could not be opened: " + SystemErrorText(*openError);
    return false;
  }
  DWORD high = 0;
  const DWORD size = file.GetSize(&high);
  if (size == INVALID_FILE_SIZE || high != 0 || size > 0x7FFFFFFFu) {
    *problem = " is too large to be a picture";
    return false;
  }
  bytes->resize(size);
  if (size == 0) {
    *problem = " is empty";
    return false;
  }
  if (!file.Read(bytes->data(), size, 0) || file.GetReadCount() != size) {
    *problem = " could not be read whole: " + SystemErrorText(GetLastError());
    return false;
  }
  return true;
}

void ReportUnreadablePicture(IDirect3DDevice9* device, const std::string& name, HRESULT hr) {
  // Without a device nothing could load; that is no fault of the file.
  if (device) g_ErrorLog.ReportOnce(name + " could not be read as a picture: " + ResultText(hr));
}

}  // namespace

std::string ScrambledTwinName(const std::string& name) {
  if (name.size() < 3) return std::string();
  return name.substr(0, name.size() - 3) + "grp";
}

void ScramblePictureBytes(unsigned char* data, std::size_t size) {
  for (std::size_t i = 0; i < size && i < 256; ++i) data[i] ^= static_cast<unsigned char>(i);
}

PictureRoad LoadPictureTexture(IDirect3DDevice9* device, const std::string& name, IDirect3DTexture9** texture) {
  *texture = nullptr;
  DWORD plainError = ERROR_FILE_NOT_FOUND;
  if (name != kScrambledOnly && FileExists(name, &plainError)) {
    const HRESULT hr = GXLBuildTextureFromFileA(device, name.c_str(), kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                                D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0,
                                                nullptr, nullptr, texture);
    if (FAILED(hr)) {
      *texture = nullptr;
      ReportUnreadablePicture(device, name, hr);
    }
    return PictureRoad::kFile;
  }
  const std::string twin = ScrambledTwinName(name);
  std::vector<unsigned char> bytes;
  std::string problem;
  DWORD twinError = ERROR_SUCCESS;
  if (twin.empty() || !ReadWholeFile(twin, &bytes, &problem, &twinError)) {
    if (twin.empty() || plainError != ERROR_FILE_NOT_FOUND)
      g_ErrorLog.ReportOnce(name + " could not be opened: " + SystemErrorText(plainError));
    else if (name != kScrambledOnly && twinError == ERROR_FILE_NOT_FOUND)
      g_ErrorLog.ReportOnce(name + " could not be opened (nor its scrambled form " + twin +
                            "): " + SystemErrorText(twinError));
    else
      g_ErrorLog.ReportOnce(twin + problem);
    return PictureRoad::kTwin;
  }
  ScramblePictureBytes(bytes.data(), bytes.size());
  constexpr DWORD kLinear = 3;
  const HRESULT hr = GXLBuildTextureFromFileData(device, bytes.data(), static_cast<UINT>(bytes.size()), kGxlDefault,
                                                 kGxlDefault, kGxlDefault, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                                 kLinear, kLinear, 0, nullptr, nullptr, texture);
  if (FAILED(hr)) {
    *texture = nullptr;
    ReportUnreadablePicture(device, twin, hr);
  }
  return PictureRoad::kTwin;
}
