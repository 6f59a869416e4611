// Test hooks of GDI text (included by platform/testing.h).
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"

namespace platform::test {

// Restricts the faces fonts may use to these font files and folders (every font
// file below a folder). Fonts created afterwards resolve among them only; an
// empty list returns to the system's faces, or to PLATFORM_FONT_DIR's folder
// when that is set. Reset returns to the same default.
void PinFontFaces(const std::vector<std::string>& filesOrFolders);

// Sets the family a face name stands for (names compare case-insensitively);
// an empty family removes the entry. Reset restores the built-in table
// ("Arial" -> "Liberation Sans", ...).
void SetFontSubstitute(const std::string& face, const std::string& family);

// The files behind a font: its primary face, then its fallback for characters
// the primary lacks (resolved by this call when not yet needed). Empty for an
// unknown handle.
std::vector<std::string> FontFaceFiles(HFONT font);

// GDI objects (DCs, bitmaps, fonts) created and not yet deleted.
int LiveGdiObjects();

}  // namespace platform::test
