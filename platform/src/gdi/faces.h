// Choosing font files for a font request: the substitution table first (the
// Windows core faces map to metric-compatible Liberation faces), then fontconfig
// among the allowed faces (the system's, or the pinned files and folders).
// Callers hold the GDI lock.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace platform::gdi {

struct FaceRequest {
  std::string name;  // UTF-8, as the caller gave it
  int weight = 0;    // lfWeight; 600 and above asks for bold
  bool italic = false;
  int pitch = 0;     // low bits of lfPitchAndFamily
  int charset = 0;
};

struct FaceChoice {
  std::string file;
  int index = 0;             // face index inside the file
  bool synthBold = false;    // bold asked for, the face is lighter
  bool synthItalic = false;  // italic asked for, the face is upright
};

// The face for a request; nothing when no face is available at all.
std::optional<FaceChoice> ChooseFace(const FaceRequest& request);
// A Japanese-capable face other than `primaryFile`, or nothing.
std::optional<FaceChoice> ChooseJapaneseFallback(const FaceRequest& request, const std::string& primaryFile);

// The process's FreeType library (made on first use, kept for the process).
FT_Library Library();

// Back to the default pins (PLATFORM_FONT_DIR or none) and the built-in table.
void ResetFaces();
void PinFaces(const std::vector<std::string>& filesOrFolders);
void SetSubstitute(const std::string& face, const std::string& family);

}  // namespace platform::gdi
