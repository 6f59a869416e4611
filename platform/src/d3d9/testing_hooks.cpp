// The d3d9 test hooks: profile selection, modes and the live-object report.
#include "d3d9/config.h"
#include "d3d9/device.h"
#include "platform/testing.h"

namespace platform::test {

bool SelectD3D9CapsProfile(const std::string& name) {
  D3DCAPS9 caps;
  if (!d3d9::ProfileCaps(name, D3DDEVTYPE_HAL, &caps)) return false;
  d3d9::GetConfig().capsProfile = name;
  d3d9::CapsChanged();
  return true;
}

void EditD3D9Caps(std::function<void(D3DCAPS9&)> edit) {
  d3d9::GetConfig().capsEdits.push_back(std::move(edit));
  d3d9::CapsChanged();
}

D3DCAPS9 D3D9ProfileCaps(const std::string& name, D3DDEVTYPE type) {
  D3DCAPS9 caps{};
  d3d9::ProfileCaps(name, type, &caps);
  return caps;
}

bool SelectD3D9FormatProfile(const std::string& name) {
  if (!d3d9::IsFormatProfile(name)) return false;
  d3d9::GetConfig().formatProfile = name;
  return true;
}

void SetD3D9FormatAnswer(D3D9FormatAnswer answer) { d3d9::GetConfig().scriptedFormats = std::move(answer); }

HRESULT D3D9ProfileFormatAnswer(const std::string& profile, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
  return d3d9::ProfileFormatAnswer(profile, usage, type, format);
}

void SetD3D9DisplayMode(UINT width, UINT height) {
  d3d9::GetConfig().displayWidth = width;
  d3d9::GetConfig().displayHeight = height;
}

void SetD3D9PitchPadding(bool on) { d3d9::GetConfig().pitchPadding = on; }
void SetD3D9DiscardPoison(bool on) { d3d9::GetConfig().discardPoison = on; }
void SetD3D9BackBufferPoison(bool on) { d3d9::GetConfig().backBufferPoison = on; }
void SetD3D9DeviceLost(bool lost) { d3d9::GetConfig().deviceLost = lost; }

std::vector<D3D9LiveObject> D3D9LiveObjects() {
  std::vector<D3D9LiveObject> list;
  d3d9::Object::ForEach([&](d3d9::Object& o) {
    if (o.Listed()) list.push_back(D3D9LiveObject{o.Name(), o.PublicRefs(), o.Binds(), o.Describe()});
  });
  return list;
}

std::string D3D9LiveObjectReport() {
  std::string text;
  for (const D3D9LiveObject& o : D3D9LiveObjects())
    text += o.name + " refs=" + std::to_string(o.refs) + " binds=" + std::to_string(o.binds) + " " + o.description +
            "\n";
  return text;
}

std::string D3D9ObjectName(const IUnknown* object) { return d3d9::ObjectName(object); }

UINT D3D9PresentCount(IDirect3DDevice9* device) {
  auto* d = device ? dynamic_cast<d3d9::Device*>(device) : nullptr;
  return d ? d->PresentCount() : 0;
}

}  // namespace platform::test
