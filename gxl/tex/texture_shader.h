// The texture shader as the texture fills see it: compiled expression code and
// its constants. The shader tools implement it; the textures library only
// reads the two buffers.
#pragma once

#include "gxl/tex/data_buffer.h"
#include "platform/com.h"

// {3E3D67F8-AA7A-405D-A857-BA01D4758426}
inline constexpr IID IID_TextureShader = {0x3E3D67F8, 0xAA7A, 0x405D, {0xA8, 0x57, 0xBA, 0x01, 0xD4, 0x75, 0x84, 0x26}};

class TextureShader : public IUnknown {
 public:
  // The compiled code: a version token and the comment blocks that hold the
  // "FXLC" instructions and the "CLIT" literals. One reference is added for
  // the caller; D3DERR_INVALIDCALL for a null out.
  virtual HRESULT FunctionBuffer(DataBuffer** out) = 0;
  // The constant registers, four 32-bit floats per 16 bytes; as FunctionBuffer.
  virtual HRESULT ConstantBuffer(DataBuffer** out) = 0;

 protected:
  ~TextureShader() = default;
};
