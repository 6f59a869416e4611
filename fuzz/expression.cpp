// Expression code ("FXLC" instructions, "CLIT" literals): the first byte picks
// what runs the rest of the input as code. 0: validate and run it over every
// register file, each on the heap at exactly its masked size, twice, which
// must give the same outputs; 1 to 3: fill a small 2-D, cube or volume texture
// from it as a texture shader's code, in one of eight texel formats, with as
// many constant registers as the first byte's top bits say.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_input.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/expression_program.h"
#include "gxl/tex/texture_fill.h"
#include "gxl/tex/texture_shader.h"

namespace {

using nura::fuzz::Require;

struct Files {
  std::vector<double> inputs = std::vector<double>(8);
  std::vector<double> constants = std::vector<double>(16);
  std::vector<float> cells = std::vector<float>(4);
  std::vector<double> outputs[3] = {std::vector<double>(4), std::vector<double>(4), std::vector<double>(4)};

  Files() {
    for (std::size_t i = 0; i < inputs.size(); ++i) inputs[i] = 0.125 * static_cast<double>(i) - 0.25;
    for (std::size_t i = 0; i < constants.size(); ++i) constants[i] = 1.5 - 0.375 * static_cast<double>(i);
    for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<float>(i) * 2.0f - 3.0f;
  }
  ExpressionFiles Get() {
    ExpressionFiles f;
    f.inputs = inputs.data();
    f.inputMask = 7;
    f.constants = constants.data();
    f.constantMask = 15;
    f.cells = cells.data();
    f.cellMask = 3;
    for (int k = 0; k < 3; ++k) {
      f.outputs[k] = outputs[k].data();
      f.outputMasks[k] = 3;
    }
    return f;
  }
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void RunDirectly(const std::uint8_t* code, std::size_t size) {
  ExpressionProgram program;
  if (FAILED(program.Validate(code, size))) return;
  Files first, second;
  Require(program.CanRunWith(first.Get()), "every file a valid program names is there");
  Require(program.Run(first.Get()) == S_OK, "a valid program runs with every file");
  Require(program.Run(second.Get()) == S_OK, "a valid program runs again");
  for (int k = 0; k < 3; ++k)
    Require(SameBits(first.outputs[k], second.outputs[k]), "nothing persists from one run to the next");
}

// Hands out the code and constants it was made with.
class Shader final : public TextureShader {
 public:
  Shader(const std::uint8_t* code, std::size_t size, std::uint32_t constantRegisters) {
    Require(CreateDataBuffer(static_cast<DWORD>(size), m_function.Put()) == S_OK, "code buffer");
    std::memcpy(m_function->GetPointer(), code, size);
    Require(CreateDataBuffer(constantRegisters * 16, m_constants.Put()) == S_OK, "constant buffer");
    auto* constants = static_cast<float*>(m_constants->GetPointer());
    for (std::uint32_t i = 0; i < constantRegisters * 4; ++i) constants[i] = 0.25f * static_cast<float>(i) - 1.0f;
  }
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override { return --m_refs; }
  HRESULT FunctionBuffer(DataBuffer** out) override { return Hand(m_function.Get(), out); }
  HRESULT ConstantBuffer(DataBuffer** out) override { return Hand(m_constants.Get(), out); }

 private:
  static HRESULT Hand(DataBuffer* buffer, DataBuffer** out) {
    buffer->AddRef();
    *out = buffer;
    return S_OK;
  }
  ULONG m_refs = 1;
  gxl::ComRef<DataBuffer> m_function, m_constants;
};

constexpr D3DFORMAT kFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_A32B32G32R32F, D3DFMT_DXT1,
                                  D3DFMT_R5G6B5,   D3DFMT_A16B16G16R16F, D3DFMT_L8,
                                  D3DFMT_Q8W8V8U8, D3DFMT_DXT5};

// The device may lack a format for a kind of texture: nothing to fill then.
void Fill(int kind, D3DFORMAT format, Shader* shader) {
  IDirect3DDevice9* device = nura::fuzz::HeadlessDevice();
  HRESULT hr = D3D_OK;
  if (kind == 1) {
    gxl::ComRef<IDirect3DTexture9> texture;
    if (device->CreateTexture(4, 2, 0, 0, format, D3DPOOL_MANAGED, texture.Put(), nullptr) == D3D_OK)
      hr = GXLFillTextureFromShader(texture.Get(), shader);
  } else if (kind == 2) {
    gxl::ComRef<IDirect3DCubeTexture9> texture;
    if (device->CreateCubeTexture(2, 0, 0, format, D3DPOOL_MANAGED, texture.Put(), nullptr) == D3D_OK)
      hr = GXLFillCubeTextureFromShader(texture.Get(), shader);
  } else {
    gxl::ComRef<IDirect3DVolumeTexture9> texture;
    if (device->CreateVolumeTexture(2, 2, 2, 0, 0, format, D3DPOOL_MANAGED, texture.Put(), nullptr) == D3D_OK)
      hr = GXLFillVolumeTextureFromShader(texture.Get(), shader);
  }
  Require(hr == D3D_OK || hr == D3DERR_INVALIDCALL, "a fill succeeds or refuses the code");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nura::fuzz::HeadlessDevice();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int kind = data[0] & 3;
  // The code follows one byte, so it is not 4-byte aligned: Validate copies it.
  if (kind == 0) {
    RunDirectly(data + 1, size - 1);
    return 0;
  }
  Shader shader(data + 1, size - 1, data[0] >> 5);
  Fill(kind, kFormats[(data[0] >> 2) & 7], &shader);
  return 0;
}
