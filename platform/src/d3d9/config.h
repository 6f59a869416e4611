// Process-wide settings of the software device: the capability and format
// profiles it reports, the display mode, and the test modes. Tests change them
// through platform/testing_d3d9.h; ResetAll restores the defaults.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/d3d9_caps.h"

namespace platform::d3d9 {

using FormatAnswer = std::function<HRESULT(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)>;

struct Config {
  std::string capsProfile = "game";
  std::vector<std::function<void(D3DCAPS9&)>> capsEdits;
  std::string formatProfile = "game";
  FormatAnswer scriptedFormats;  // replaces the format profile when set
  UINT displayWidth = 640;
  UINT displayHeight = 480;
  bool pitchPadding = false;      // every pitch 16 bytes wider
  bool discardPoison = false;     // discarding locks fill with 0xCD
  bool backBufferPoison = false;  // Present leaves 0xFFFF00FF behind
  bool deviceLost = false;        // Present: DEVICELOST; TestCooperativeLevel: DEVICENOTRESET
};

Config& GetConfig();
// Called after the caps profile or its edits change (CurrentCaps caches).
void CapsChanged();

// The capabilities the device reports now (profile, then the tests' edits).
D3DCAPS9 CurrentCaps(D3DDEVTYPE type);
// The caps of a named profile; false when the name is unknown.
bool ProfileCaps(const std::string& name, D3DDEVTYPE type, D3DCAPS9* caps);

// CheckDeviceFormat's answer for the display format: D3D_OK, D3DOK_NOAUTOGEN,
// D3DERR_NOTAVAILABLE or D3DERR_INVALIDCALL.
HRESULT CheckFormat(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format);
// The answer of a named format profile ("game", "wide").
HRESULT ProfileFormatAnswer(const std::string& profile, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format);
bool IsFormatProfile(const std::string& name);

// The display mode of adapter 0.
D3DDISPLAYMODE DisplayMode();

}  // namespace platform::d3d9
