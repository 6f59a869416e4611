#include "qel/appbase/qelpicture.h"

#include <vector>

#include "gxl/tex/texture_build.h"
#include "qel/appbase/qelfile.h"

namespace {

// The logo is shipped scrambled only; a plain copy beside it is ignored.
constexpr const char* kScrambledOnly = "cg/Logo.png";

bool FileExists(const std::string& name) {
  C_File file;
  return file.Open(name.c_str(), true, OPEN_EXISTING);
}

// The whole file, or false when it cannot be read completely.
bool ReadWholeFile(const std::string& name, std::vector<unsigned char>* bytes) {
  C_File file;
  if (!file.Open(name.c_str(), true, OPEN_EXISTING)) return false;
  DWORD high = 0;
  const DWORD size = file.GetSize(&high);
  if (size == INVALID_FILE_SIZE || high != 0 || size > 0x7FFFFFFFu) return false;
  bytes->resize(size);
  if (size == 0) return true;
  return file.Read(bytes->data(), size, 0) && file.GetReadCount() == size;
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
  if (name != kScrambledOnly && FileExists(name)) {
    if (FAILED(GXLBuildTextureFromFileA(device, name.c_str(), kGxlDefault, kGxlDefault, kGxlDefault, 0,
                                        D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kGxlDefault, kGxlDefault, 0, nullptr,
                                        nullptr, texture)))
      *texture = nullptr;
    return PictureRoad::kFile;
  }
  const std::string twin = ScrambledTwinName(name);
  std::vector<unsigned char> bytes;
  if (twin.empty() || !ReadWholeFile(twin, &bytes) || bytes.empty()) return PictureRoad::kTwin;
  ScramblePictureBytes(bytes.data(), bytes.size());
  constexpr DWORD kLinear = 3;
  if (FAILED(GXLBuildTextureFromFileData(device, bytes.data(), static_cast<UINT>(bytes.size()), kGxlDefault,
                                         kGxlDefault, kGxlDefault, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, kLinear,
                                         kLinear, 0, nullptr, nullptr, texture)))
    *texture = nullptr;
  return PictureRoad::kTwin;
}
