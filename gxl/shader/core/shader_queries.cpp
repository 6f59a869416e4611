// The semantics and sampler queries over compiled vertex and pixel code.
#include <cstdint>
#include <cstring>

#include "gxl/shader/core/bytecode.h"
#include "gxl/shader/core/token_walker.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"

using gxl::shader::ShaderTokenWalker;
using Item = ShaderTokenWalker::Item;

namespace {

constexpr DWORD kDclOpcode = 31;
constexpr DWORD kVertexKind = 0xFFFE;
constexpr DWORD kPixelKind = 0xFFFF;
constexpr DWORD kExpressionKind = 0x4658;

// Register type of a parameter token: bits 28-30, with bits 11-12 above them.
DWORD RegisterType(DWORD token) { return ((token >> 28) & 7) | (((token >> 11) & 3) << 3); }
DWORD RegisterNumber(DWORD token) { return token & 0x7FF; }
// The type bits of a parameter token, with bit 31.
DWORD TypeBits(DWORD token) { return token & 0xF0001800u; }
DWORD Major(DWORD version) { return (version >> 8) & 0xFF; }

// Registers noted by a pass over the parameter tokens; numbers beyond a table are ignored.
template <std::size_t N>
struct RegisterFlags {
  bool used[N] = {};
  void Note(DWORD number) {
    if (number < N) used[number] = true;
  }
};

// Writes records (when an array is given) and counts them.
class SemanticWriter {
 public:
  explicit SemanticWriter(ShaderSemantic* out) : m_out(out) {}
  void Add(DWORD usage, DWORD index) {
    if (m_out) m_out[m_count] = {usage, index};
    ++m_count;
  }
  template <std::size_t N>
  void AddEach(const RegisterFlags<N>& flags, DWORD usage) {
    for (DWORD n = 0; n < N; ++n)
      if (flags.used[n]) Add(usage, n);
  }
  UINT Count() const { return m_count; }

 private:
  ShaderSemantic* m_out;
  UINT m_count = 0;
};

// fn(usage token, register token) for every dcl, until it gives false.
template <class Fn>
bool EachDeclaration(const DWORD* code, Fn fn) {
  ShaderTokenWalker walker(code);
  for (Item item; (item = walker.Next()) != Item::End;)
    if (item == Item::Instruction && walker.Opcode() == kDclOpcode && !fn(walker.Token()[1], walker.Token()[2]))
      return false;
  return true;
}

// fn(token, walker) for every parameter token, definitions and the usage
// tokens of dcl stepped over.
template <class Fn>
void EachParameter(const DWORD* code, Fn fn) {
  ShaderTokenWalker walker(code, ShaderTokenWalker::kUnbounded, ShaderTokenWalker::Mode::Parameters);
  for (Item item; (item = walker.Next()) != Item::End;)
    if (item == Item::Parameter) fn(*walker.Token(), walker);
}

// Every dcl whose register has the given type: its usage and usage index.
void CollectDeclared(const DWORD* code, DWORD registerType, SemanticWriter& out) {
  EachDeclaration(code, [&](DWORD usage, DWORD reg) {
    if (RegisterType(reg) == registerType) out.Add(usage & 0xFFFF, (usage >> 16) & 0x7FFF);
    return true;
  });
}

// Pixel code 2.x: texture and colour inputs by their dcl. Counting alone
// counts every declaration but the samplers'.
HRESULT CollectPixel2Inputs(const DWORD* code, SemanticWriter& out, bool counting) {
  const bool known = EachDeclaration(code, [&](DWORD, DWORD reg) {
    const DWORD number = RegisterNumber(reg);
    switch (TypeBits(reg)) {
      case 0xA0000800u:  // sampler
        return true;
      case 0xB0000000u:  // texture register tN
        out.Add(D3DDECLUSAGE_TEXCOORD, number);
        return true;
      case 0x90000000u:  // colour input vN
        out.Add(D3DDECLUSAGE_COLOR, number);
        return number < 2 || counting;
      default:
        out.Add(0, 0);
        return counting;
    }
  });
  return known ? S_OK : E_FAIL;
}

// Texture-register reads that count as uses in pixel code 1.0-1.3: the
// destination of a texture-addressing instruction.
bool IsTextureAddressing(DWORD opcode) {
  return (opcode >= 64 && opcode <= 74) || opcode == 76 || opcode == 77 || (opcode >= 82 && opcode <= 87);
}

void CollectPixel1Inputs(const DWORD* code, SemanticWriter& out) {
  const bool anyUse = (code[0] & 0xFF) >= 4;  // ps_1_4 reads texture registers like any other
  RegisterFlags<6> textures;
  RegisterFlags<2> colours;
  EachParameter(code, [&](DWORD token, const ShaderTokenWalker& walker) {
    const DWORD type = RegisterType(token);
    if (type == 1) colours.Note(RegisterNumber(token));
    const bool counts = anyUse || (walker.ParameterIndex() == 0 && IsTextureAddressing(walker.Opcode()));
    if (type == 3 && counts) textures.Note(RegisterNumber(token));
  });
  out.AddEach(textures, D3DDECLUSAGE_TEXCOORD);
  out.AddEach(colours, D3DDECLUSAGE_COLOR);
}

// Outputs found by the registers the code writes: texture-coordinate, colour
// and rasteriser outputs of vertex code below 3.0, colour and depth outputs of
// pixel code from 2.0.
void CollectWrittenOutputs(const DWORD* code, bool vertex, SemanticWriter& out) {
  RegisterFlags<8> texcoords;
  RegisterFlags<2> vertexColours;
  RegisterFlags<3> rasteriser;  // position, fog, point size
  RegisterFlags<16> pixelColours;
  RegisterFlags<16> depths;
  EachParameter(code, [&](DWORD token, const ShaderTokenWalker&) {
    const DWORD number = RegisterNumber(token);
    switch (TypeBits(token)) {
      case 0xE0000000u: if (vertex) texcoords.Note(number); break;
      case 0xD0000000u: if (vertex) vertexColours.Note(number); break;
      case 0xC0000000u: if (vertex) rasteriser.Note(number); break;
      case 0x80000800u: if (!vertex) pixelColours.Note(number); break;
      case 0x90000800u: if (!vertex) depths.Note(number); break;
      default: break;
    }
  });
  if (vertex) {
    out.AddEach(texcoords, D3DDECLUSAGE_TEXCOORD);
    out.AddEach(vertexColours, D3DDECLUSAGE_COLOR);
    const DWORD rasteriserUsage[3] = {D3DDECLUSAGE_POSITION, D3DDECLUSAGE_FOG, D3DDECLUSAGE_PSIZE};
    for (DWORD n = 0; n < 3; ++n)
      if (rasteriser.used[n]) out.Add(rasteriserUsage[n], 0);
  } else {
    out.AddEach(pixelColours, D3DDECLUSAGE_COLOR);
    out.AddEach(depths, D3DDECLUSAGE_DEPTH);
  }
}

// The opening checks and the count shared by both queries;
// collect(kind, major version, out) writes the records.
template <class Collect>
HRESULT QuerySemantics(const DWORD* code, ShaderSemantic* semantics, UINT* count, Collect collect) {
  if (!code) return D3DERR_INVALIDCALL;
  if (count) *count = 0;
  const DWORD kind = code[0] >> 16;
  if (kind == kExpressionKind) return S_OK;
  if (kind != kVertexKind && kind != kPixelKind) return GXLERR_INVALIDDATA;
  SemanticWriter out(semantics);
  const HRESULT hr = collect(kind, Major(code[0]), out);
  if (SUCCEEDED(hr) && count) *count = out.Count();
  return hr;
}

}  // namespace

HRESULT GetShaderInputSemantics(const DWORD* code, ShaderSemantic* semantics, UINT* count) {
  return QuerySemantics(code, semantics, count, [&](DWORD kind, DWORD major, SemanticWriter& out) {
    if (kind == kVertexKind || major == 3) {
      CollectDeclared(code, 1, out);  // input registers
      return S_OK;
    }
    if (major == 2) return CollectPixel2Inputs(code, out, semantics == nullptr);
    if (major != 1) return E_FAIL;
    CollectPixel1Inputs(code, out);
    return S_OK;
  });
}

HRESULT GetShaderOutputSemantics(const DWORD* code, ShaderSemantic* semantics, UINT* count) {
  return QuerySemantics(code, semantics, count, [&](DWORD kind, DWORD major, SemanticWriter& out) {
    if (kind == kVertexKind && major == 3)
      CollectDeclared(code, 6, out);  // output registers
    else if (kind == kPixelKind && major < 2)
      out.Add(D3DDECLUSAGE_COLOR, 0);
    else
      CollectWrittenOutputs(code, kind == kVertexKind, out);
    return S_OK;
  });
}

HRESULT GetShaderSamplers(const DWORD* code, const char** samplers, UINT* count) {
  if (count) *count = 0;
  if (!code || !samplers) return D3DERR_INVALIDCALL;
  const DWORD kind = code[0] >> 16;
  if (kind == kVertexKind || kind == kExpressionKind) return S_OK;
  if (kind != kPixelKind) return GXLERR_INVALIDDATA;
  const void* data = nullptr;
  UINT size = 0;
  const HRESULT found = FindShaderComment(code, MAKEFOURCC('C', 'T', 'A', 'B'), &data, &size);
  if (found != S_OK) return SUCCEEDED(found) ? S_OK : found;
  // The table: a 28-byte header whose fourth word counts the 20-byte constant
  // records and whose fifth word places them; names are offsets from the block start.
  const auto* block = static_cast<const std::uint8_t*>(data);
  auto word = [block](std::uint64_t offset) {
    std::uint32_t w;
    std::memcpy(&w, block + offset, 4);
    return w;
  };
  constexpr std::uint64_t kHeader = 28, kRecord = 20;
  if (size < kHeader) return GXLERR_INVALIDDATA;
  const std::uint64_t records = word(12);
  const std::uint64_t first = word(16);
  if (kHeader + kRecord * records > size || first + kRecord * records > size) return GXLERR_INVALIDDATA;
  UINT names = 0;
  for (std::uint64_t i = 0; i < records; ++i) {
    const std::uint64_t record = first + kRecord * i;
    std::uint16_t registerSet;
    std::memcpy(&registerSet, block + record + 4, 2);
    if (registerSet != 3) continue;  // samplers only
    const std::uint64_t name = word(record);
    if (name >= size || !std::memchr(block + name, 0, size - name) || names == 16) return GXLERR_INVALIDDATA;
    samplers[names++] = reinterpret_cast<const char*>(block + name);
  }
  if (count) *count = names;
  return S_OK;
}
