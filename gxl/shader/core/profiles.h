// The table of shader profile names and their version tokens, the one place
// where names and tokens meet, and the choice of the best profile of a device.
#pragma once

#include <cstddef>

#include "platform/win_types.h"

struct IDirect3DDevice9;

// Row flags: the name is an assembler version statement, a compiler target.
constexpr DWORD kProfileAssembler = 1;
constexpr DWORD kProfileCompilerTarget = 2;
constexpr DWORD kProfileTextureShader = 4;  // stands on "tx_1_0" only; no lookup asks for it

struct ShaderProfileRow {
  const char* name;
  DWORD version;
  DWORD flags;
};

constexpr std::size_t kShaderProfileCount = 44;
// Sorted by name in byte order.
extern const ShaderProfileRow ShaderProfileTable[kShaderProfileCount];

// S_OK and the row; E_FAIL when the name is absent or its row lacks a required
// flag; D3DERR_INVALIDCALL for a null name. row is optional.
HRESULT ProfileNameToToken(const char* name, DWORD requiredFlags, ShaderProfileRow* row);
// The last row with the token and every required flag (for tokens with two
// names, the underscore form); E_FAIL when none. row is optional.
HRESULT ProfileTokenToName(DWORD version, DWORD requiredFlags, ShaderProfileRow* row);

// The best profile the device's capabilities allow; null for a null device,
// failing caps or a version without a profile.
const char* GetBestPixelShaderProfile(IDirect3DDevice9* device);
const char* GetBestVertexShaderProfile(IDirect3DDevice9* device);
