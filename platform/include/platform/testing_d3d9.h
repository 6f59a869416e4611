// Test hooks of the software Direct3D 9 device (included by platform/testing.h).
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/d3d9_caps.h"
#include "platform/d3d9_types.h"

struct IUnknown;
struct IDirect3DDevice9;

namespace platform::test {

// --- Device profiles ----------------------------------------------------------
// Capability profiles: "game" (default), "pow2-only", "square-only", "small-max"
// (256 x 256 textures, 64 volume), "no-cube-volume", "no-mip". False when unknown.
bool SelectD3D9CapsProfile(const std::string& name);
// Edits the reported capabilities after the profile (every field may change);
// edits accumulate until the next reset.
void EditD3D9Caps(std::function<void(D3DCAPS9&)> edit);
// The capabilities of a named profile, unedited.
D3DCAPS9 D3D9ProfileCaps(const std::string& name, D3DDEVTYPE type = D3DDEVTYPE_HAL);

// Format profiles (the answers of CheckDeviceFormat, which creation obeys):
// "game" (default) and "wide" (every format the texture codecs handle except
// palettes, R8G8B8, YUV and depth; vertex textures in R32F and A32B32G32R32F).
bool SelectD3D9FormatProfile(const std::string& name);
// A scripted answer table replacing the profile; null returns to the profile.
using D3D9FormatAnswer = std::function<HRESULT(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format)>;
void SetD3D9FormatAnswer(D3D9FormatAnswer answer);
// What a named profile answers, for scripted tables that extend one.
HRESULT D3D9ProfileFormatAnswer(const std::string& profile, DWORD usage, D3DRESOURCETYPE type,
                                D3DFORMAT format);

// --- Modes ---------------------------------------------------------------------
// The adapter's display mode (X8R8G8B8; 640 x 480 by default).
void SetD3D9DisplayMode(UINT width, UINT height);
// Every pitch of resources created from now on is 16 bytes wider than needed.
void SetD3D9PitchPadding(bool on);
// Discarding locks fill what they return with 0xCD.
void SetD3D9DiscardPoison(bool on);
// Present leaves the back buffer filled with 0xFFFF00FF.
void SetD3D9BackBufferPoison(bool on);
// Present gives D3DERR_DEVICELOST and TestCooperativeLevel D3DERR_DEVICENOTRESET
// until switched off or until a Reset succeeds.
void SetD3D9DeviceLost(bool lost);

// --- Call log --------------------------------------------------------------------
struct D3D9Call {
  std::string method;  // "SetRenderState", "Surface.LockRect", "StateBlock.Apply", ...
  std::string args;    // "27, 1"; objects as "Texture#3"
  HRESULT result;
};
void StartD3D9CallLog();
void StopD3D9CallLog();
void ClearD3D9CallLog();
const std::vector<D3D9Call>& D3D9Calls();
int CountD3D9Calls(const std::string& method);
// One line per call: "Method(args)" plus " = 0x…" for non-zero results.
std::string D3D9CallLogText();

// --- Live objects -------------------------------------------------------------------
struct D3D9LiveObject {
  std::string name;  // "Texture#3"
  ULONG refs;        // public references
  ULONG binds;       // held by the device's slots or by state blocks
  std::string description;
};
// Every live Direct3D object, device and resource (level surfaces are part of
// their container), in creation order.
std::vector<D3D9LiveObject> D3D9LiveObjects();
std::string D3D9LiveObjectReport();
// "Texture#3" for an object of this platform, "null", or "foreign".
std::string D3D9ObjectName(const IUnknown* object);

// --- State snapshots -------------------------------------------------------------
// The device's whole state (render, stage and sampler states, textures,
// transforms, viewport, vertex format, streams, indices, shaders, constants,
// N-patch mode, render target and depth surface) as named entries.
struct D3D9StateSnapshot {
  std::vector<std::pair<std::string, std::string>> entries;
  bool operator==(const D3D9StateSnapshot&) const = default;
  std::string ToString() const;
};
D3D9StateSnapshot SnapshotState(IDirect3DDevice9* device);
// "name: before -> after" for every entry that differs.
std::vector<std::string> DiffStates(const D3D9StateSnapshot& before, const D3D9StateSnapshot& after);
std::ostream& operator<<(std::ostream& out, const D3D9StateSnapshot& snapshot);

// --- Rasteriser -------------------------------------------------------------------
// The instruction set of the span kernels: "scalar", "sse2" or "avx2" (false when
// unknown or not supported by this processor). Every set draws the same bytes.
// ResetAll returns to PLATFORM_RASTER_ISA, else the best the processor has.
bool SetD3D9RasterIsa(const std::string& name);
std::string D3D9RasterIsa();
// Draws the rasteriser received and pixels it shaded since the last reset;
// `skipped`: the pixels among them whose texels were all transparent and left
// the target as it was.
struct D3D9RasterStats {
  std::uint64_t draws = 0;
  std::uint64_t pixels = 0;
  std::uint64_t skipped = 0;
};
D3D9RasterStats D3D9RasterCounters();

// Presents the device has completed.
UINT D3D9PresentCount(IDirect3DDevice9* device);

}  // namespace platform::test
