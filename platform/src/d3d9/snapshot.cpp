// SnapshotState: the device's whole state as named entries ("RS 27" = "1"),
// so tests compare states with == and print the differences.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "d3d9/buffers.h"
#include "d3d9/device.h"
#include "d3d9/surface.h"
#include "d3d9/texture.h"
#include "platform/testing.h"

namespace platform::test {
namespace {

std::string Hex(DWORD v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
  return buf;
}

std::string Float(float f) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", f);
  return buf;
}

std::string Matrix(const D3DMATRIX& m) {
  std::string s;
  for (int i = 0; i < 16; ++i) {
    if (i) s += ' ';
    s += Float(m.m[i / 4][i % 4]);
  }
  return s;
}

}  // namespace

D3D9StateSnapshot SnapshotState(IDirect3DDevice9* device) {
  D3D9StateSnapshot snap;
  auto* d = device ? dynamic_cast<d3d9::Device*>(device) : nullptr;
  if (!d) return snap;
  auto add = [&](std::string key, std::string value) { snap.entries.emplace_back(std::move(key), std::move(value)); };
  const d3d9::DeviceState& s = d->State();
  using namespace d3d9;
  for (UINT i = 0; i < kRenderStateCount; ++i)
    if (IsRenderState(i)) add("RS " + std::to_string(i), Hex(s.renderStates[i]));
  for (UINT stage = 0; stage < kStageCount; ++stage)
    for (UINT t = 0; t < kStageStateCount; ++t)
      if (IsStageState(t)) add("TSS " + std::to_string(stage) + " " + std::to_string(t), Hex(s.stageStates[stage][t]));
  for (UINT slot = 0; slot < kSamplerSlotCount; ++slot) {
    const std::string n = std::to_string(SamplerNumber(slot));
    for (UINT t = 0; t < kSamplerStateCount; ++t)
      if (IsSamplerState(t)) add("SS " + n + " " + std::to_string(t), Hex(s.samplerStates[slot][t]));
    add("Texture " + n, ObjectName(s.textures[slot]));
  }
  for (UINT slot = 0; slot < kTransformSlotCount; ++slot)
    add("Transform " + std::to_string(TransformNumber(slot)), Matrix(s.transforms[slot]));
  const D3DVIEWPORT9& v = s.viewport;
  add("Viewport", std::to_string(v.X) + " " + std::to_string(v.Y) + " " + std::to_string(v.Width) + " " +
                      std::to_string(v.Height) + " " + Float(v.MinZ) + " " + Float(v.MaxZ));
  add("FVF", Hex(s.fvf));
  add("Declaration", ObjectName(s.declaration));
  for (UINT i = 0; i < kStreamCount; ++i)
    add("Stream " + std::to_string(i), ObjectName(s.streams[i].buffer) + " " + std::to_string(s.streams[i].offset) +
                                           " " + std::to_string(s.streams[i].stride));
  add("Indices", ObjectName(s.indices));
  add("VertexShader", "null");
  add("PixelShader", "null");
  add("NPatchMode", Float(s.nPatchMode));
  static const char* const kKinds[kConstantKinds] = {"VSF", "VSI", "VSB", "PSF", "PSI", "PSB"};
  const ShaderConstants& c = d->Constants();
  for (int k = 0; k < kConstantKinds; ++k)
    for (UINT reg = 0; reg < c.files[k].Size(); ++reg) {
      const auto& r = c.files[k].Get(reg);
      if (r == std::array<DWORD, 4>{}) continue;  // unset registers read zero
      add(std::string(kKinds[k]) + " " + std::to_string(reg),
          Hex(r[0]) + " " + Hex(r[1]) + " " + Hex(r[2]) + " " + Hex(r[3]));
    }
  add("RenderTarget", ObjectName(d->RenderTarget()));
  add("DepthStencil", ObjectName(d->DepthStencil()));
  return snap;
}

std::string D3D9StateSnapshot::ToString() const {
  std::string text;
  for (const auto& [key, value] : entries) text += key + " = " + value + "\n";
  return text;
}

std::vector<std::string> DiffStates(const D3D9StateSnapshot& before, const D3D9StateSnapshot& after) {
  std::vector<std::string> diff;
  std::size_t i = 0, j = 0;
  // Entries come in a fixed order; constants may appear on one side only.
  while (i < before.entries.size() || j < after.entries.size()) {
    if (j == after.entries.size() ||
        (i < before.entries.size() && before.entries[i].first != after.entries[j].first &&
         std::find_if(after.entries.begin() + j, after.entries.end(),
                      [&](const auto& e) { return e.first == before.entries[i].first; }) == after.entries.end())) {
      diff.push_back(before.entries[i].first + ": " + before.entries[i].second + " -> (none)");
      ++i;
    } else if (i == before.entries.size() || before.entries[i].first != after.entries[j].first) {
      diff.push_back(after.entries[j].first + ": (none) -> " + after.entries[j].second);
      ++j;
    } else {
      if (before.entries[i].second != after.entries[j].second)
        diff.push_back(before.entries[i].first + ": " + before.entries[i].second + " -> " + after.entries[j].second);
      ++i;
      ++j;
    }
  }
  return diff;
}

std::ostream& operator<<(std::ostream& out, const D3D9StateSnapshot& snapshot) {
  return out << "D3D9StateSnapshot(" << snapshot.entries.size() << " entries)";
}

}  // namespace platform::test
