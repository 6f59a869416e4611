// The file types this library does not read or write yet: DDS, HDR and PFM.
// Their readers answer "not this type", so detection moves on exactly as it
// will once they exist; their writers are not implemented. Each moves to its
// own file when its format arrives.
#include "gxl/tex/decoded_image.h"

HRESULT DecodedImage::ReadDds(const std::uint8_t*, std::uint32_t) { return E_FAIL; }
HRESULT DecodedImage::ReadHdr(const std::uint8_t*, std::uint32_t) { return E_FAIL; }
HRESULT DecodedImage::ReadPfm(const std::uint8_t*, std::uint32_t) { return E_FAIL; }

HRESULT DecodedImage::WriteDds(ImageOutputStream&) { return E_NOTIMPL; }
HRESULT DecodedImage::WriteHdr(ImageOutputStream&) { return E_NOTIMPL; }
HRESULT DecodedImage::WritePfm(ImageOutputStream&) { return E_NOTIMPL; }
