// Interface identifiers of the drawing objects. Each object's QueryInterface
// answers its own identifier and IID_IUnknown.
#pragma once

#include "platform/com.h"

// {BA0B762D-7D28-43EC-B9DC-2F84443B0614}: the sprite batcher (the line drawer answers it too).
inline constexpr IID IidSpriteBatcher = {0xBA0B762D, 0x7D28, 0x43EC, {0xB9, 0xDC, 0x2F, 0x84, 0x44, 0x3B, 0x06, 0x14}};
// {D79DBB70-5F21-4D36-BBC2-FF525C213CDC}
inline constexpr IID IidGlyphTextureFont = {
    0xD79DBB70, 0x5F21, 0x4D36, {0xBB, 0xC2, 0xFF, 0x52, 0x5C, 0x21, 0x3C, 0xDC}};
// {6985F346-2C3D-43B3-BE8B-DAAE8A03D894}
inline constexpr IID IidSurfaceSceneRenderer = {
    0x6985F346, 0x2C3D, 0x43B3, {0xBE, 0x8B, 0xDA, 0xAE, 0x8A, 0x03, 0xD8, 0x94}};
// {313F1B4B-C7B0-4FA2-9D9D-8D380B64385E}
inline constexpr IID IidEnvMapSceneRenderer = {
    0x313F1B4B, 0xC7B0, 0x4FA2, {0x9D, 0x9D, 0x8D, 0x38, 0x0B, 0x64, 0x38, 0x5E}};
