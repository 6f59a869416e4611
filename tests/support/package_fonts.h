// The font folders of the packages the project installs: tests pin the GDI
// stand-in's faces to them, so every machine resolves the same files.
#pragma once

#include "platform/testing.h"

namespace nura::test {

inline const char* kLiberationDir = "/usr/share/fonts/truetype/liberation2";
inline const char* kDejaVuDir = "/usr/share/fonts/truetype/dejavu";
inline const char* kIpaGothicDir = "/usr/share/fonts/opentype/ipafont-gothic";

inline void PinPackageFonts() { platform::test::PinFontFaces({kLiberationDir, kDejaVuDir, kIpaGothicDir}); }

}  // namespace nura::test
